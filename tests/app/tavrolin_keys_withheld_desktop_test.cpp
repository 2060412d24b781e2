// Programs that must get no key of ours, with the real executable under the desktop session:
// a terminal that nothing vouches for (in a process namespace of its own, its window claims a
// number that names another process here), and gvim, where Control+A adds one to the number
// under the cursor. The shortcuts are pressed through XTest; the program works offline.
#include "app/terminal_job.h"
#include "support/async.h"
#include "support/session/accessible_texts.h"
#include "tavrolin_program_test.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <utility>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

QString run(const QString& program, const QStringList& arguments) {
    return test::toolOutput(program, arguments);
}

class TavrolinKeysWithheldDesktopTest : public test::TavrolinProgramTest {
protected:
    TavrolinKeysWithheldDesktopTest() { killAtEnd_ = true; }

    void startProgram() {
        writeProgramSettings([](AppSettings& settings) {
            settings.onlineFeaturesEnabled = false;
            settings.targetLanguage = AppLanguage::english;
            settings.messageTargetLanguage = AppLanguage::spanish;
            settings.telemetryEnabled = false;
            settings.selectionPopupEnabled = false;
        });
        TavrolinProgramTest::startProgram(programEnvironment());
        ASSERT_TRUE(test::waitUntil([&] { return log().contains("launch version="); }, 15s)) << log().toStdString();
        ASSERT_TRUE(test::waitUntil([&] { return !programWindows().isEmpty(); }, 10s)) << "no tray icon";
        trayIcons_ = programWindows();
        test::TerminalJob::pause(300ms);
    }

    int events(const QString& action) const {
        return static_cast<int>(log().count(QStringLiteral("event action=") + action + ' '));
    }
    QString lastEvent(const QString& action) const {
        const QStringList lines = logLines().filter(QStringLiteral("event action=") + action + ' ');
        return lines.isEmpty() ? QString() : lines.constLast();
    }

    // Presses Control+Shift and `key` over `window` and waits until the command has ended;
    // closes the alert it may show, and brings `window` back to the front.
    void runCommand(const QString& window, const char* key, const QString& action) {
        const int before = events(action);
        run("xdotool", {"key", "--clearmodifiers", QStringLiteral("ctrl+shift+%1").arg(QLatin1String(key))});
        EXPECT_TRUE(test::waitUntil([&] { return events(action) > before; }, 20s)) << action.toStdString() << "\n"
                                                                                   << log().toStdString();
        if (test::waitUntil([&] { return test::accessibleTexts(pid_).contains("OK"); }, 1s)) {
            test::pressAccessible(pid_, "OK");
            test::waitUntil([&] { return !test::accessibleTexts(pid_).contains("OK"); }, 3s);
        }
        run("xdotool", {"windowactivate", "--sync", window});
        test::TerminalJob::pause(300ms);
    }

    QStringList trayIcons_;
};

// A terminal in a process namespace of its own (pterm, on no list of terminals): its window
// claims the namespace's number, which names another process on the desktop. Write Message,
// Edit, Flip and Translate each leave its job running.
TEST_F(TavrolinKeysWithheldDesktopTest, ATerminalWithItsOwnProcessNumbersKeepsItsJob) {
    startProgram();
    test::TerminalJob terminal(test::TerminalJob::Kind::pterm, test::TerminalJob::Numbering::ownNamespace);
    ASSERT_TRUE(terminal.isReady()) << "pterm is not in front with its job";
    ASSERT_EQ(run("xdotool", {"getwindowpid", terminal.window()}), "2") << "the window claims the namespace's number";
    for (const auto& [key, action] :
         {std::pair{"w", "translate_message"}, std::pair{"e", "edit_text"}, std::pair{"f", "flip_language"}}) {
        runCommand(terminal.window(), key, action);
        EXPECT_TRUE(terminal.jobAlive()) << "the job in the terminal was interrupted by " << action;
        EXPECT_FALSE(lastEvent(action).contains("success=true")) << lastEvent(action).toStdString();
    }
    const int before = events("capture_and_translate_active_window") + events("translate_selection");
    run("xdotool", {"key", "--clearmodifiers", "ctrl+shift+t"});
    EXPECT_TRUE(test::waitUntil(
        [&] { return events("capture_and_translate_active_window") + events("translate_selection") > before; }, 20s))
        << log().toStdString();
    EXPECT_TRUE(terminal.jobAlive()) << "the job in the terminal was interrupted by Translate";
}

// gvim publishes no accessible text, so its buffer could be read only by keystrokes; but in Vim
// Control+A adds one to the number under the cursor. Write Message, Edit and Flip each say they
// cannot read the field, and the buffer stays as it was, unmodified.
TEST_F(TavrolinKeysWithheldDesktopTest, GvimKeepsItsTextUnmodifiedThroughWriteEditAndFlip) {
    if (QStandardPaths::findExecutable("gvim").isEmpty()) {
        GTEST_SKIP() << "gvim is not installed (make test installs vim-gtk3)";
    }
    startProgram();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("cars.txt");
    {
        QFile text(file);
        ASSERT_TRUE(text.open(QIODevice::WriteOnly));
        text.write("I have 3 red cars\n");
    }
    const QString server = QStringLiteral("TAVROLINTEST%1").arg(QCoreApplication::applicationPid());
    QProcess gvim;
    gvim.start("gvim", {"-f", "-u", "NONE", "-U", "NONE", "-i", "NONE", "-N", "--servername", server, file});
    ASSERT_TRUE(gvim.waitForStarted(5000));
    const auto ask = [&](const QString& expression) {
        return run("gvim", {"--servername", server, "--remote-expr", expression});
    };
    ASSERT_TRUE(test::waitUntil([&] { return ask("getline(1)") == "I have 3 red cars"; }, 15s)) << "gvim not up";
    // gvim's own top-level window; asked to the front until the window manager puts it there (a
    // window still settling after its mapping may miss one request).
    const QString window =
        run("xdotool", {"search", "--onlyvisible", "--pid", QString::number(gvim.processId()), "--class", "^Gvim$"})
            .section('\n', 0, 0);
    ASSERT_FALSE(window.isEmpty());
    ASSERT_TRUE(test::waitUntil(
        [&] {
            run("xdotool", {"windowactivate", window});
            return test::waitUntil([&] { return run("xdotool", {"getactivewindow"}) == window; }, 1s);
        },
        15s));
    test::TerminalJob::pause(300ms);

    for (const auto& [key, action] :
         {std::pair{"w", "translate_message"}, std::pair{"e", "edit_text"}, std::pair{"f", "flip_language"}}) {
        runCommand(window, key, action);
        EXPECT_EQ(ask("getline(1)"), "I have 3 red cars") << "after " << action;
        EXPECT_FALSE(lastEvent(action).contains("success=true")) << lastEvent(action).toStdString();
    }
    EXPECT_EQ(ask("&modified"), "0") << "gvim marks its buffer changed";
    EXPECT_TRUE(log().contains("focused field keys withheld reason=keys_mean_other_things application=Gvim"))
        << log().toStdString();

    ask("execute('qall!')");
    if (!gvim.waitForFinished(5000)) {
        gvim.kill();
        gvim.waitForFinished(3000);
    }
}

}  // namespace
}  // namespace tavrolin
