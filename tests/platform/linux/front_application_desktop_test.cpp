#include "platform/linux/x11_front_application_provider.h"
#include "support/async.h"

#include <QApplication>
#include <QProcess>
#include <QWidget>

#include <gtest/gtest.h>
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

}  // namespace
}  // namespace tavrolin
