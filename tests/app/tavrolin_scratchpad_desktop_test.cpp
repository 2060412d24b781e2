// The scratchpad in the real executable: opened from the tray menu and from its shortcut while
// another application is in front, it comes up as the active window and records from the
// session's sound server; closing it releases the microphone.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/dbus_accessibility_bus_status.h"
#include "support/apps/text_fields_app.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/session/tavrolin_process_home.h"
#include "support/speech_test_audio.h"
#include "tavrolin_program_test.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

const QString kPhrase = QStringLiteral("close the door");

QString run(const QString& program, const QStringList& arguments, int timeoutMs = 5000) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(timeoutMs);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

class TavrolinScratchpadProcessTest : public test::TavrolinProgramTest {
protected:
    void SetUp() override {
        TavrolinProgramTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        QString error;
        const auto clip = test::makeSpeechClip(home_.path(), QStringLiteral("door"), {kPhrase}, error);
        ASSERT_TRUE(clip.has_value()) << error.toStdString();
        clip_ = *clip;
        ASSERT_TRUE(test::makeGrammarSpeechModel(home_.filePath("data"), QStringLiteral("en-US"),
                                                 {kPhrase, QStringLiteral("open the window")}));
        writeProgramSettings([](AppSettings& settings) {
            settings.onlineFeaturesEnabled = true;  // every command of the tray menu enabled
            settings.telemetryEnabled = false;
            settings.selectionPopupEnabled = false;
            settings.targetLanguage = AppLanguage::english;
            settings.dictationLanguage.reset();
        });
    }

    void start() {
        QProcessEnvironment environment = programEnvironment();
        // The sound server of the session lives in the session's runtime folder.
        environment.insert("PULSE_SERVER", "unix:" + qEnvironmentVariable("XDG_RUNTIME_DIR") + "/pulse/native");
        startProgram(environment);
        if (HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(test::waitUntil([&] { return !trayIcons().isEmpty(); }, 15s)) << "no tray icon";
    }

    static QString activeWindowName() { return run("xdotool", {"getactivewindow", "getwindowname"}); }
    // The recording streams of the sound server that Tavrolin opened.
    static int tavrolinStreams() {
        const QString listing = run("pactl", {"list", "source-outputs"});
        return static_cast<int>(listing.count(QStringLiteral("application.name = \"Tavrolin\"")));
    }
    // What the focused editor of the scratchpad holds, read as a screen reader would.
    std::optional<QString> editorText() {
        const AccessibleElementHandle element = accessibility_.focusedElementOfApplication(process_.processId());
        return element ? accessibility_.value(element) : std::nullopt;
    }

    void expectRecordingScratchpadThenSpeechThenRelease() {
        ASSERT_TRUE(test::waitUntil([] { return activeWindowName() == "Dictation Scratchpad"; }, 10s))
            << "active: " << activeWindowName().toStdString();
        ASSERT_TRUE(test::waitUntil([] { return tavrolinStreams() == 1; }, 20s)) << "not recording";

        QProcess player;
        player.start("paplay", {"-d", "vsink", clip_});
        EXPECT_TRUE(test::waitUntil([&] { return editorText() == kPhrase; }, 15s))
            << editorText().value_or("(none)").toStdString();
        player.waitForFinished(10000);

        run("xdotool", {"key", "alt+F4"});  // the window manager closes the active window
        EXPECT_TRUE(test::waitUntil([] { return activeWindowName() != "Dictation Scratchpad"; }, 5s));
        EXPECT_TRUE(test::waitUntil([] { return tavrolinStreams() == 0; }, 5s)) << "the microphone stayed open";
        EXPECT_EQ(process_.state(), QProcess::Running);
    }

    QString clip_;
    DBusAccessibilityBusStatus busStatus_;
    AtspiAccessibility accessibility_{busStatus_};
};

TEST_F(TavrolinScratchpadProcessTest, TheTrayCommandOpensTheScratchpadRecording) {
    start();
    const QStringList icons = trayIcons();
    ASSERT_EQ(icons.size(), 1);
    run("xdotool", {"mousemove", "--window", icons.first(), "5", "5"});
    run("xdotool", {"click", "3"});
    ASSERT_TRUE(test::waitUntil([&] { return trayIcons().size() > 1; }, 3s)) << "the tray menu did not open";
    // The sixth command of the menu.
    for (int i = 0; i < 6; ++i) {
        run("xdotool", {"key", "Down"});
    }
    run("xdotool", {"key", "Return"});
    expectRecordingScratchpadThenSpeechThenRelease();
}

TEST_F(TavrolinScratchpadProcessTest, TheShortcutOpensTheScratchpadOverAnotherApplication) {
    test::TextFieldsApp app;
    ASSERT_TRUE(app.isReady());
    start();
    ASSERT_TRUE(app.focus("text"));
    const QString appWindow =
        run("xdotool", {"search", "--sync", "--onlyvisible", "--pid", QString::number(app.pid())}).split('\n').value(0);
    run("xdotool", {"windowactivate", "--sync", appWindow});
    ASSERT_TRUE(test::waitUntil([&] { return run("xdotool", {"getactivewindow"}) == appWindow; }, 5s));

    // The shortcuts are registered a moment after the tray icon shows: press until it answers.
    bool opened = false;
    for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
        run("xdotool", {"key", "ctrl+shift+d"});
        opened = test::waitUntil([] { return activeWindowName() == "Dictation Scratchpad"; }, 3s);
    }
    ASSERT_TRUE(opened) << "active: " << activeWindowName().toStdString() << "; scratchpad windows: "
                        << run("xdotool", {"search", "--onlyvisible", "--name", "Dictation Scratchpad"}).toStdString();
    expectRecordingScratchpadThenSpeechThenRelease();
}

}  // namespace
}  // namespace tavrolin
