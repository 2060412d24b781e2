// Programs that must get no key of ours, with the real executable under the desktop session:
// a terminal that nothing vouches for (in a process namespace of its own, its window claims a
// number that names another process here), a terminal inside another program's window, gvim,
// where Control+A adds one to the number under the cursor, and Tk programs, where Control+A goes
// to the line's start, a paste lands beside the selection and Control+C interrupts IDLE's
// running program. The shortcuts are pressed through XTest; the program works offline.
#include "app/terminal_job.h"
#include "support/async.h"
#include "support/session/accessible_texts.h"
#include "tavrolin_program_test.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <signal.h>
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
        writeOfflineSettings();
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

// xterm running `sleep 60` inside `tabbed`'s window (XEmbed): tabbed is plain Xlib, holds no
// terminal and publishes no accessible text, while xterm listens to the keys typed into it.
class EmbeddedTerminal {
public:
    EmbeddedTerminal() {
        using namespace std::chrono_literals;
        host_.start("tabbed", {"-g", "600x300+40+40"});
        QByteArray printed;  // tabbed prints its window
        if (!host_.waitForStarted(5000) || !test::waitUntil(
                                               [&] {
                                                   printed += host_.readAllStandardOutput();
                                                   return printed.contains('\n');
                                               },
                                               10s)) {
            return;
        }
        bool ok = false;
        const qulonglong container = QString::fromLatin1(printed).trimmed().toULongLong(&ok, 0);
        if (!ok || container == 0) {
            return;
        }
        window_ = QString::number(container);
        const QString pidFile = dir_.filePath("sleep.pid");
        terminal_.start("xterm", {"-into", window_, "-e", "sh", "-c",
                                  "read pid rest < /proc/self/stat; echo $pid > '" + pidFile + "'; exec sleep 60"});
        if (!terminal_.waitForStarted(5000) || !test::waitUntil([&] { return QFileInfo(pidFile).size() > 0; })) {
            return;
        }
        QFile file(pidFile);
        if (file.open(QIODevice::ReadOnly)) {
            jobPid_ = QString::fromLatin1(file.readAll()).trimmed().toInt();
        }
        bringToFront();
    }
    ~EmbeddedTerminal() {
        for (QProcess* process : {&terminal_, &host_}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(3000)) {
                    process->kill();
                    process->waitForFinished(3000);
                }
            }
        }
    }
    EmbeddedTerminal(const EmbeddedTerminal&) = delete;
    EmbeddedTerminal& operator=(const EmbeddedTerminal&) = delete;

    bool isReady() const { return jobPid_ > 0 && run("xdotool", {"getactivewindow"}) == window_; }
    QString window() const { return window_; }
    bool jobAlive() const { return jobPid_ > 0 && ::kill(jobPid_, 0) == 0 && terminal_.state() == QProcess::Running; }
    // tabbed's window in front, the pointer over the terminal in it.
    void bringToFront() {
        using namespace std::chrono_literals;
        test::waitUntil(
            [&] {
                run("xdotool", {"windowactivate", "--sync", window_});
                return test::waitUntil([&] { return run("xdotool", {"getactivewindow"}) == window_; }, 1s);
            },
            10s);
        run("xdotool", {"mousemove", "--window", window_, "300", "150"});
        test::TerminalJob::pause(300ms);
    }

private:
    QTemporaryDir dir_;
    QProcess host_;
    QProcess terminal_;
    pid_t jobPid_ = 0;
    QString window_;
};

// A terminal inside another program's window takes the keys typed there: Write, Edit, Flip and
// Translate each leave the job in it running.
TEST_F(TavrolinKeysWithheldDesktopTest, ATerminalInsideAnotherProgramsWindowKeepsItsJob) {
    if (QStandardPaths::findExecutable("tabbed").isEmpty()) {
        GTEST_SKIP() << "tabbed is not installed (make test installs it)";
    }
    startProgram();
    EmbeddedTerminal terminal;
    ASSERT_TRUE(terminal.isReady()) << "xterm in tabbed is not in front with its job";
    for (const auto& [key, action] :
         {std::pair{"w", "translate_message"}, std::pair{"e", "edit_text"}, std::pair{"f", "flip_language"}}) {
        runCommand(terminal.window(), key, action);
        terminal.bringToFront();
        EXPECT_TRUE(terminal.jobAlive()) << "the job in the terminal was interrupted by " << action;
        EXPECT_FALSE(lastEvent(action).contains("success=true")) << lastEvent(action).toStdString();
    }
    const int before = events("capture_and_translate_active_window") + events("translate_selection");
    run("xdotool", {"key", "--clearmodifiers", "ctrl+shift+t"});
    EXPECT_TRUE(test::waitUntil(
        [&] { return events("capture_and_translate_active_window") + events("translate_selection") > before; }, 20s))
        << log().toStdString();
    test::TerminalJob::pause(1s);
    EXPECT_TRUE(terminal.jobAlive()) << "the job in the terminal was interrupted by Translate";
}

// A tkinter entry holding "I have a red car.", "red car" selected or not: Tk publishes no
// accessible text, and its keys are not the usual ones (Control+A goes to the line's start, a
// paste lands beside the selection). Write, Edit and Flip leave the field as it was, or put the
// result in place of the selection, never both texts, and never log success over an unchanged
// field.
TEST_F(TavrolinKeysWithheldDesktopTest, ATkEntryNeverEndsWithBothTexts) {
    if (QStandardPaths::findExecutable("python3", {"/usr/bin"}).isEmpty() ||
        QProcess::execute("/usr/bin/python3", {"-c", "import tkinter"}) != 0) {
        GTEST_SKIP() << "python3-tk is not installed (make test installs it)";
    }
    startProgram();
    const QString original = "I have a red car.";
    for (const bool selection : {true, false}) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString contents = dir.filePath("field.txt");
        // The entry writes what it holds to a file ten times a second.
        QProcess tk;
        tk.start("/usr/bin/python3", {"-c",
                                      "import os, sys, tkinter as tk\n"
                                      "root = tk.Tk()\n"
                                      "root.title('tk field')\n"
                                      "root.geometry('500x80+40+40')\n"
                                      "e = tk.Entry(root, width=50)\n"
                                      "e.pack()\n"
                                      "e.insert(0, sys.argv[3])\n"
                                      "if sys.argv[2] == 'selection':\n"
                                      "    e.selection_range(9, 16)\n"
                                      "    e.icursor(16)\n"
                                      "else:\n"
                                      "    e.icursor('end')\n"
                                      "e.focus_force()\n"
                                      "def dump():\n"
                                      "    with open(sys.argv[1] + '.new', 'w') as f:\n"
                                      "        f.write(e.get())\n"
                                      "    os.replace(sys.argv[1] + '.new', sys.argv[1])\n"
                                      "    root.after(100, dump)\n"
                                      "dump()\n"
                                      "root.mainloop()\n",
                                      contents, selection ? "selection" : "whole", original});
        ASSERT_TRUE(tk.waitForStarted(5000));
        const auto field = [&] {
            QFile file(contents);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };
        ASSERT_TRUE(test::waitUntil([&] { return field() == original; }, 10s)) << "the Tk entry is not up";
        QString window;
        ASSERT_TRUE(test::waitUntil(
            [&] {
                window = run("xdotool", {"search", "--onlyvisible", "--name", "^tk field$"}).section('\n', 0, 0);
                return !window.isEmpty();
            },
            10s));
        ASSERT_TRUE(test::waitUntil(
            [&] {
                run("xdotool", {"windowactivate", window});
                return test::waitUntil([&] { return run("xdotool", {"getactivewindow"}) == window; }, 1s);
            },
            15s));
        test::TerminalJob::pause(300ms);
        for (const auto& [key, action] :
             {std::pair{"w", "translate_message"}, std::pair{"e", "edit_text"}, std::pair{"f", "flip_language"}}) {
            const QString before = field();
            runCommand(window, key, action);
            test::TerminalJob::pause(500ms);  // one more write of the field's file
            const QString after = field();
            const std::string where = std::string(selection ? "with a selection" : "without one") + ", after " +
                                      action + ": '" + after.toStdString() + "'";
            if (after == before) {
                EXPECT_FALSE(lastEvent(action).contains("success=true")) << where << "\n"
                                                                         << lastEvent(action).toStdString();
            } else {
                // Only a result in place of the selection (or of the whole text) would do.
                EXPECT_FALSE(after.contains(before)) << where;
                if (selection) {
                    EXPECT_TRUE(after.startsWith("I have a ") && !after.contains("red car")) << where;
                }
            }
        }
        tk.kill();
        tk.waitForFinished(3000);
    }
    EXPECT_TRUE(log().contains("focused field keys withheld reason=keys_meaning_unknown application=Tk"))
        << log().toStdString();
}

// IDLE's shell running a program of the user's: Control+C there interrupts it. Write, Edit and
// Flip leave it running.
TEST_F(TavrolinKeysWithheldDesktopTest, IdlesShellKeepsItsRunningProgram) {
    const QString idle = QStandardPaths::findExecutable("idle-python3.11");
    if (idle.isEmpty()) {
        GTEST_SKIP() << "idle-python3.11 is not installed (make test installs it)";
    }
    startProgram();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString state = dir.filePath("state.txt");
    const QString script = dir.filePath("loop.py");
    {
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            "import sys, time\n"
            "open(sys.argv[1], 'w').write('running')\n"
            "try:\n"
            "    while True:\n"
            "        time.sleep(0.1)\n"
            "except KeyboardInterrupt:\n"
            "    open(sys.argv[1], 'w').write('interrupted')\n"
            "    raise\n");
    }
    const auto programState = [&] {
        QFile file(state);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    QProcess shell;
    // A home of its own: IDLE keeps its settings there.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", dir.path());
    shell.setProcessEnvironment(environment);
    shell.start(idle, {"-r", script, state});
    ASSERT_TRUE(shell.waitForStarted(5000));
    ASSERT_TRUE(test::waitUntil([&] { return programState() == "running"; }, 20s)) << "IDLE runs nothing";
    QString window;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            window = run("xdotool", {"search", "--onlyvisible", "--name", "^IDLE Shell"}).section('\n', 0, 0);
            return !window.isEmpty();
        },
        10s));
    ASSERT_TRUE(test::waitUntil(
        [&] {
            run("xdotool", {"windowactivate", window});
            return test::waitUntil([&] { return run("xdotool", {"getactivewindow"}) == window; }, 1s);
        },
        15s));
    run("xdotool", {"mousemove", "--window", window, "100", "100"});
    test::TerminalJob::pause(300ms);
    for (const auto& [key, action] :
         {std::pair{"w", "translate_message"}, std::pair{"e", "edit_text"}, std::pair{"f", "flip_language"}}) {
        runCommand(window, key, action);
        test::TerminalJob::pause(300ms);
        EXPECT_EQ(programState(), "running") << "after " << action;
        EXPECT_FALSE(lastEvent(action).contains("success=true")) << lastEvent(action).toStdString();
    }
    shell.kill();
    shell.waitForFinished(3000);
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
