// The real executable with the full delegate under the desktop session: launch line, tray icon,
// Quit from the tray menu, and usage events only while online features are on.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "support/async.h"
#include "support/local_http_server.h"
#include "support/tavrolin_process_home.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(5000);
    return QString::fromLatin1(process.readAllStandardOutput()).trimmed();
}

class TavrolinDelegateProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        executable_ = test::TavrolinProcessHome::executable();
        ASSERT_TRUE(QFile::exists(executable_)) << executable_.toStdString();
        server_.server().Post("/api/events", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(mutex_);
            events_ << QString::fromStdString(request.body);
            response.status = 204;
        });
        server_.start();
    }

    void writeSettings(bool onlineFeatures) {
        JsonFileDefaultsStore defaults(home_.filePath("config/tavrolin/defaults.json"));
        AppSettingsStore store(defaults);
        AppSettings settings = store.settings();
        settings.onlineFeaturesEnabled = onlineFeatures;
        settings.telemetryEnabled = true;
        settings.selectionPopupEnabled = false;
        settings.launchAtLoginEnabled = false;
        ASSERT_FALSE(store.persist(settings).has_value());
        // The onboarding counts as done so that no window but the tray icon appears.
        defaults.setInteger(QStringLiteral("onboardingCompletedVersion"), 1);
    }

    void start() {
        // No request but the usage events may leave the machine.
        QProcessEnvironment environment = home_.environment(server_.url(QStringLiteral("/unused")));
        environment.insert("TAVROLIN_TELEMETRY_ENDPOINT", server_.url(QStringLiteral("/api/events")).toString());
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(executable_, {});
        ASSERT_TRUE(process_.waitForStarted(5000));
        pid_ = process_.processId();
    }

    void TearDown() override {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    QStringList logLines() const {
        QFile file(home_.filePath("state/tavrolin/tavrolin.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                              : QStringList();
    }
    bool logged(const QString& message) const {
        const QString tail = QStringLiteral(" [%1] ").arg(pid_) + message;
        for (const QString& line : logLines()) {
            if (line.endsWith(tail)) {
                return true;
            }
        }
        return false;
    }
    QStringList visibleWindows() const {
        return run(QStringLiteral("xdotool"),
                   {"search", "--all", "--onlyvisible", "--pid", QString::number(pid_), "--class", "Tavrolin"})
            .split('\n', Qt::SkipEmptyParts);
    }
    QStringList events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    qint64 residentKilobytes() const {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid_));
        if (!status.open(QIODevice::ReadOnly)) {
            return -1;
        }
        const QRegularExpression rss(QStringLiteral("^VmRSS:\\s+(\\d+) kB"), QRegularExpression::MultilineOption);
        const auto match = rss.match(QString::fromLatin1(status.readAll()));
        return match.hasMatch() ? match.captured(1).toLongLong() : -1;
    }

    // Opens the tray icon's menu with a right click and picks its last item ("Quit").
    void quitFromTrayMenu() {
        const QStringList icons = visibleWindows();
        ASSERT_EQ(icons.size(), 1) << icons.join(',').toStdString();
        run(QStringLiteral("xdotool"), {"mousemove", "--window", icons.first(), "5", "5"});
        run(QStringLiteral("xdotool"), {"click", "3"});
        test::waitUntil([&] { return visibleWindows().size() > 1; }, 3s);  // the menu opens
        run(QStringLiteral("xdotool"), {"key", "Up"});
        run(QStringLiteral("xdotool"), {"key", "Return"});
    }

    test::TavrolinProcessHome home_;
    QString executable_;
    QProcess process_;
    qint64 pid_ = 0;
    test::LocalHttpServer server_;
    mutable std::mutex mutex_;
    QStringList events_;
};

TEST_F(TavrolinDelegateProcessTest, LaunchesWithTrayIconAndQuitsFromTheMenuSendingNothingWhileOffline) {
    writeSettings(false);
    start();
    ASSERT_TRUE(test::waitUntil([&] { return logged(QStringLiteral("launch version=0.1.0")); }, 15s))
        << logLines().join('\n').toStdString();
    ASSERT_TRUE(test::waitUntil([&] { return visibleWindows().size() == 1; }, 10s)) << "no tray icon was shown";
    test::waitUntil([] { return false; }, 1s);  // settle, then measure the idle size
    std::cout << "[ MEMORY   ] idle resident size: " << residentKilobytes() << " kB\n";

    quitFromTrayMenu();
    ASSERT_TRUE(process_.waitForFinished(10000)) << "Quit did not end the program";
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 0);
    EXPECT_TRUE(logged(QStringLiteral("event action=app_launch trigger=app_lifecycle hotkey=none source=none "
                                      "target=none success=true error=none durationMs=none targetApp=none")));
    EXPECT_TRUE(logged(QStringLiteral("event action=quit trigger=menu")) || [&] {
        for (const QString& line : logLines()) {
            if (line.contains(QStringLiteral("event action=quit trigger=menu"))) {
                return true;
            }
        }
        return false;
    }());
    EXPECT_EQ(server_.requestCount(), 0) << events().join('\n').toStdString();
}

TEST_F(TavrolinDelegateProcessTest, OnlineTheInstallAndLaunchEventsReachTheServer) {
    writeSettings(true);
    start();
    ASSERT_TRUE(test::waitUntil([&] { return events().size() >= 2; }, 15s)) << logLines().join('\n').toStdString();
    const QStringList received = events();
    EXPECT_TRUE(received[0].contains(QStringLiteral("\"action\":\"app_install\"")) ||
                received[1].contains(QStringLiteral("\"action\":\"app_install\"")));
    process_.terminate();
    EXPECT_TRUE(process_.waitForFinished(10000));
}

}  // namespace
}  // namespace tavrolin
