#pragma once

// The fixture of the end-to-end tests: the built program started in a private home, its server
// endpoints pointing at a local HTTP server the test answers from, and stopped as a logout
// stops it, so that its shortcuts are given back before the next test grabs them. A suite whose
// tests share one program holds a TavrolinProgram of its own for the suite.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/file_permission_checks.h"
#include "support/session/tavrolin_process_home.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace tavrolin::test {

// How a start differs from the usual one, for a test of what an ordinary user meets.
struct ProgramStartOptions {
    // The program obeys file permission bits even when the tests run as root.
    bool obeyFilePermissions = false;
    // Its standard error is kept for the test to read rather than passed to the test's own.
    bool keepStandardError = false;
};

class TavrolinProgram {
public:
    TavrolinProgram() {
        reportFailures();
        programs().insert(this);
    }
    ~TavrolinProgram() {
        programs().erase(this);
        endProgram();
    }
    TavrolinProgram(const TavrolinProgram&) = delete;
    TavrolinProgram& operator=(const TavrolinProgram&) = delete;

    // What a failed test prints of the field it judged (a test application's, a browser's).
    void describeFieldsWith(std::function<QString()> describe) { describeFields_ = std::move(describe); }

protected:
    // Ends what still runs.
    void endProgram() {
        if (killAtEnd_ && process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
            // The X server frees a client's windows and its grabs in the same step.
            waitUntil([&] { return programWindows().isEmpty(); }, std::chrono::seconds(5));
        }
        stopProgram();
        for (const auto& process : otherInstances_) {
            stop(*process);
        }
    }

    // The home's environment, every endpoint at a path of the local server that answers nothing;
    // `endpoints` names the variables whose path the test serves.
    QProcessEnvironment programEnvironment(const QList<std::pair<const char*, QString>>& endpoints = {}) const {
        QProcessEnvironment environment = home_.environment(server_.url(QStringLiteral("/unused")));
        for (const auto& [name, path] : endpoints) {
            environment.insert(QString::fromLatin1(name), server_.url(path).toString());
        }
        return environment;
    }

    void startProgram(const QProcessEnvironment& environment, ProgramStartOptions options = {}) {
        start(process_, environment, options);
        pid_ = process_.processId();
    }
    // Another launch in the same home while the program may still run, as a second click on
    // its icon makes; it ends with the test.
    QProcess& startAnotherInstance(const QProcessEnvironment& environment) {
        QProcess& process = *otherInstances_.emplace_back(std::make_unique<QProcess>());
        start(process, environment, {});
        return process;
    }

    // Quits as a logout does; kills what does not end.
    void stopProgram() { stop(process_); }

    // The settings of the next start, with launch at login off and the onboarding done, so
    // that no window but the tray icon appears.
    void writeProgramSettings(const std::function<void(AppSettings&)>& change) {
        JsonFileDefaultsStore defaults(home_.defaultsFile());
        AppSettingsStore store(defaults);
        AppSettings settings = store.settings();
        change(settings);
        settings.launchAtLoginEnabled = false;
        ASSERT_FALSE(store.persist(settings).has_value());
        defaults.setInteger(QStringLiteral("onboardingCompletedVersion"), 1);
    }

    // The settings of a program that works offline: native English, messages in Spanish (both
    // translated on this machine), no telemetry, no selection buttons.
    void writeOfflineSettings() {
        writeProgramSettings([](AppSettings& settings) {
            settings.onlineFeaturesEnabled = false;
            settings.targetLanguage = AppLanguage::english;
            settings.messageTargetLanguage = AppLanguage::spanish;
            settings.telemetryEnabled = false;
            settings.selectionPopupEnabled = false;
        });
    }

    // Control+Shift and the key, held a moment as a person holds them; then the first usage
    // event of `action` logged after the press, empty when none came within 30 s.
    QString nextCommand(const char* key, const QString& action) const {
        const int before = logLines().size();
        const QString chord = QStringLiteral("ctrl+shift+%1").arg(QLatin1String(key));
        toolOutput(QStringLiteral("xdotool"), {"keydown", "--clearmodifiers", chord, "sleep", "0.1", "keyup", chord});
        QString found;
        waitUntil(
            [&] {
                for (const QString& line : logLines().mid(before)) {
                    if (line.contains(QStringLiteral("event action=") + action + ' ')) {
                        found = line;
                        return true;
                    }
                }
                return false;
            },
            std::chrono::seconds(30));
        return found;
    }

    // Write Message pressed in the field in front: the run says it succeeded and `field` comes to
    // show `word` of the result within 5 s; after a run that failed, the keyboard is given back to
    // `window` from our copy window. `what` names the case in a failure.
    void expectWriteLands(const std::string& what, const std::function<QString()>& field, const char* word,
                          const QString& window) {
        const QString write = nextCommand("w", QStringLiteral("translate_message"));
        ASSERT_FALSE(write.isEmpty()) << what << ": no run\n" << log().toStdString();
        EXPECT_TRUE(write.contains("success=true")) << what << ": " << write.toStdString();
        EXPECT_TRUE(waitUntil([&] { return field().contains(QLatin1String(word)); }, std::chrono::seconds(5)))
            << what << ": " << field().toStdString();
        if (!write.contains("success=true")) {
            toolOutput(QStringLiteral("xdotool"), {"windowactivate", "--sync", window});
        }
    }

    QString log() const {
        QFile file(home_.filePath("state/tavrolin/tavrolin.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QStringList logLines() const { return log().split('\n', Qt::SkipEmptyParts); }

    // The program's visible windows, narrowed by xdotool search options.
    QStringList programWindows(const QStringList& filter = {}) const {
        return toolOutput(QStringLiteral("xdotool"),
                          QStringList{"search", "--all", "--onlyvisible", "--pid", QString::number(pid_)} + filter)
            .split('\n', Qt::SkipEmptyParts);
    }
    QStringList trayIcons() const { return programWindows({"--class", "Tavrolin"}); }

    TavrolinProcessHome home_;
    LocalHttpServer server_;
    QProcess process_;
    qint64 pid_ = 0;
    // At the end the program still running quits as a logout does, so that its
    // shortcuts are given back before the next test grabs them. A fixture whose tests never look
    // at the quit may have it killed instead (a sanitizer build takes a second or more to quit);
    // the end then waits until the X server has let go of it.
    bool killAtEnd_ = false;

private:
    static void start(QProcess& process, const QProcessEnvironment& environment, ProgramStartOptions options) {
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(options.keepStandardError ? QProcess::SeparateChannels
                                                                : QProcess::ForwardedErrorChannel);
        TavrolinProcessHome::endWithTest(process);
        if (options.obeyFilePermissions) {
            process.setChildProcessModifier([endWithTest = process.childProcessModifier()] {
                endWithTest();
                obeyFilePermissionsAfterExec();
            });
        }
        process.start(TavrolinProcessHome::executable(), {});
        ASSERT_TRUE(process.waitForStarted(5000));
    }
    static void stop(QProcess& process) {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(10000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }

    // Every test that fails prints, once, at its first failure, what it judged on: for each
    // program still there, its usage-event lines, the end of its log, and the fields its test
    // described.
    class FailureReport final : public ::testing::EmptyTestEventListener {
        void OnTestStart(const ::testing::TestInfo&) override { reported_ = false; }
        void OnTestPartResult(const ::testing::TestPartResult& result) override {
            if (!result.failed() || std::exchange(reported_, true)) {
                return;
            }
            for (TavrolinProgram* program : programs()) {
                const QStringList lines = program->logLines();
                QStringList events;
                for (const QString& line : lines) {
                    if (line.contains(QStringLiteral("event action="))) {
                        events << line;
                    }
                }
                std::fprintf(stderr, "---- the program's usage events:\n%s\n---- the end of its log:\n%s\n",
                             qPrintable(events.mid(std::max<qsizetype>(0, events.size() - 10)).join('\n')),
                             qPrintable(lines.mid(std::max<qsizetype>(0, lines.size() - 60)).join('\n')));
                if (program->describeFields_) {
                    std::fprintf(stderr, "---- the fields:\n%s\n", qPrintable(program->describeFields_()));
                }
            }
        }
        bool reported_ = false;
    };
    static std::set<TavrolinProgram*>& programs() {
        static std::set<TavrolinProgram*> live;
        return live;
    }
    static void reportFailures() {
        static bool installed = false;
        if (!std::exchange(installed, true)) {
            ::testing::UnitTest::GetInstance()->listeners().Append(new FailureReport);
        }
    }

    std::vector<std::unique_ptr<QProcess>> otherInstances_;
    std::function<QString()> describeFields_;
};

class TavrolinProgramTest : public ::testing::Test, protected TavrolinProgram {
protected:
    // A derived SetUp answers its server's routes first, then calls this.
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        ASSERT_TRUE(QFile::exists(TavrolinProcessHome::executable()))
            << TavrolinProcessHome::executable().toStdString();
        server_.start();
    }
    void TearDown() override { endProgram(); }
};

}  // namespace tavrolin::test
