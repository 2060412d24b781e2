#include "platform/linux/x11_front_application_provider.h"
#include "support/async.h"

#include <QApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QWidget>

#include <functional>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

namespace tavrolin {
namespace {

TEST(X11FrontApplicationProviderTest, NamesTheActiveWindowsClassAndProcess) {
    auto provider = makeX11FrontApplicationProvider();
    QWidget window;
    window.setWindowTitle(QStringLiteral("front application probe"));
    window.resize(200, 120);
    window.show();
    window.activateWindow();
    window.raise();

    std::optional<FrontApplication> front;
    const bool found = test::waitUntil([&] {
        front = provider->frontApplication();
        return front && front->processId == ::getpid() && front->applicationIdentifier;
    });
    ASSERT_TRUE(found) << "the test window never became the front window";
    // Qt names the window class after the application name.
    EXPECT_EQ(front->applicationIdentifier, QCoreApplication::applicationName());
    window.close();
}

// The window's process is the one the X server knows for its client, whatever the window
// claims: a claim the server contradicts (a sandbox's own numbering) or a client machine that is
// not this host makes the program unknown.
TEST(X11FrontApplicationProviderTest, TheServerNamesTheProcessAndAClaimItContradictsOrARemoteMachineIsUnknown) {
    auto provider = makeX11FrontApplicationProvider();
    QWidget window;
    window.setWindowTitle(QStringLiteral("front application identity probe"));
    window.resize(200, 120);
    window.show();
    window.activateWindow();
    window.raise();
    ASSERT_TRUE(test::waitUntil([&] {
        const std::optional<FrontApplication> front = provider->frontApplication();
        return front && front->windowId == window.winId();
    })) << "the test window never became the front window";
    const QString id = QString::number(window.winId());
    const auto setProperty = [&](const char* name, const char* format, const QString& value) {
        QProcess::execute("xprop", {"-id", id, "-f", name, format, "-set", name, value});
    };
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    const struct {
        const char* name;
        QString claimedProcess;
        QString machine;
        qint64 processId;
        bool unknown;
    } cases[] = {
        {"its own claim and this host", QString::number(::getpid()), QString::fromLocal8Bit(host), ::getpid(), false},
        {"a sandbox's number", QStringLiteral("2"), QString::fromLocal8Bit(host), ::getpid(), true},
        {"another machine", QString::number(::getpid()), QStringLiteral("elsewhere.example"), ::getpid(), true},
    };
    for (const auto& c : cases) {
        setProperty("_NET_WM_PID", "32c", c.claimedProcess);
        setProperty("WM_CLIENT_MACHINE", "8s", c.machine);
        std::optional<FrontApplication> front;
        EXPECT_TRUE(test::waitUntil([&] {
            front = provider->frontApplication();
            return front && front->processUnknown == c.unknown;
        })) << c.name;
        ASSERT_TRUE(front) << c.name;
        EXPECT_EQ(front->processId, c.processId) << c.name;
        EXPECT_EQ(front->windowId, window.winId()) << c.name;
    }
    window.close();
}

TEST(X11FrontApplicationProviderTest, WithoutADisplayThereIsNoFrontApplication) {
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    auto provider = makeX11FrontApplicationProvider();
    EXPECT_EQ(provider->frontApplication(), std::nullopt);
    qputenv("DISPLAY", display);
}

// `tabbed -d` connects, forks and ends: the number the X server keeps for its client names a
// process that is gone (or whichever takes the number next), so the program is unknown. An xterm
// inside its window (XEmbed) takes the keys typed there: it is one of the window's key receivers,
// known by its own client's process and class.
// The front application once `window` has been brought to the front and is reported so (and
// `ready` holds); absent when it never is.
std::optional<FrontApplication> activated(
    const FrontApplicationProviding& provider, const QString& window,
    const std::function<bool(const FrontApplication&)>& ready = [](const FrontApplication&) { return true; }) {
    std::optional<FrontApplication> front;
    const bool shown = test::waitUntil(
        [&] {
            QProcess::execute("xdotool", {"windowactivate", "--sync", window});
            front = provider.frontApplication();
            return front && QString::number(front->windowId) == window && ready(*front);
        },
        std::chrono::seconds(15));
    return shown ? front : std::nullopt;
}

TEST(X11FrontApplicationProviderTest, AConnectionsEndedProcessIsUnknownAndAClientInsideTheWindowReceivesItsKeys) {
    if (QStandardPaths::findExecutable("tabbed").isEmpty() || QStandardPaths::findExecutable("xterm").isEmpty()) {
        GTEST_SKIP() << "tabbed and xterm are installed by make test";
    }
    QProcess host;
    QProcess terminal;
    // A process group of their own: the detached tabbed ends with it.
    host.setChildProcessModifier([] { setpgid(0, 0); });
    host.start("tabbed", {"-d", "-g", "500x300+40+40"});
    ASSERT_TRUE(host.waitForStarted(5000));
    const pid_t group = pid_t(host.processId());
    ASSERT_GT(group, 0);
    const auto end = qScopeGuard([&] {
        terminal.kill();
        terminal.waitForFinished(3000);
        ::kill(-group, SIGKILL);
    });
    ASSERT_TRUE(host.waitForFinished(10000)) << "tabbed -d did not detach";
    const QString window =
        QString::number(QString::fromLatin1(host.readAllStandardOutput()).trimmed().toULongLong(nullptr, 0));
    terminal.start("xterm", {"-into", window, "-e", "sleep", "60"});
    ASSERT_TRUE(terminal.waitForStarted(5000));

    auto provider = makeX11FrontApplicationProvider();
    const std::optional<FrontApplication> front =
        activated(*provider, window, [](const FrontApplication& window) { return !window.keyReceivers.empty(); });
    ASSERT_TRUE(front) << "tabbed never came to the front with the xterm inside among its key receivers";
    EXPECT_TRUE(front->processUnknown) << "the process " << front->processId << " made no connection";
    ASSERT_EQ(front->keyReceivers.size(), 1u);
    EXPECT_EQ(front->keyReceivers[0].applicationIdentifier, QStringLiteral("XTerm"));
    EXPECT_EQ(front->keyReceivers[0].processId, terminal.processId());
    EXPECT_FALSE(front->keyReceivers[0].processUnknown);
}

// A process that connected and handed its connection on (its child keeps it; it closed its own)
// and stays alive no longer speaks for its windows: found by its open files, which are read with
// no lock held, here and off the calling thread alike.
TEST(X11FrontApplicationProviderTest, AProcessThatHandedItsConnectionOnIsUnknown) {
    QProcess maker;
    maker.setChildProcessModifier([] { setpgid(0, 0); });
    maker.start("python3", {"-c", R"(
import os, time, tkinter
root = tkinter.Tk()
root.title('handed-on')
root.geometry('200x100+60+60')
root.update()
if os.fork() == 0:
    time.sleep(60)
    os._exit(0)
for fd in os.listdir('/proc/self/fd'):
    try:
        if os.readlink('/proc/self/fd/' + fd).startswith('socket:'):
            os.close(int(fd))
    except OSError:
        pass
print('closed', flush=True)
time.sleep(60)
)"});
    ASSERT_TRUE(maker.waitForStarted(5000));
    const auto end = qScopeGuard([&] { ::kill(-pid_t(maker.processId()), SIGKILL); });
    ASSERT_TRUE(maker.waitForReadyRead(10000)) << "python3-tk is installed by make test";
    QProcess search;
    search.start("xdotool", {"search", "--sync", "--name", "^handed-on$"});
    ASSERT_TRUE(search.waitForFinished(10000));
    const QString window = QString::fromLatin1(search.readAllStandardOutput()).section('\n', 0, 0).trimmed();

    auto provider = makeX11FrontApplicationProvider();
    const std::optional<FrontApplication> front = activated(*provider, window);
    ASSERT_TRUE(front);
    EXPECT_EQ(front->processId, maker.processId());
    EXPECT_TRUE(front->processUnknown);
    const std::optional<FrontApplication> offThread = test::await(provider->frontApplicationOffThread());
    ASSERT_TRUE(offThread);
    EXPECT_TRUE(offThread->processUnknown);
}

}  // namespace
}  // namespace tavrolin
