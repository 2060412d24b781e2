#pragma once

// A terminal in front running a job, for the tests that check that nothing reaches the job:
// terminals read Control+C, and xterm even Control+Shift+C, as an interrupt.
#include "app/x11_window_tools.h"
#include "platform/linux/x11_clipboard_reader.h"
#include "support/async.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <signal.h>

namespace tavrolin::test {

class TerminalJob {
public:
    // xterm, known by its name; mlterm, whose WM_CLASS ("xterm", "mlterm") says nothing of xterm;
    // pterm, known by nothing but the pseudo-terminal its process holds.
    enum class Kind { xterm, mlterm, pterm };
    static constexpr Kind kinds[] = {Kind::xterm, Kind::mlterm, Kind::pterm};
    // Whether the terminal's PRIMARY selection tells when it was made (its TIMESTAMP target):
    // mlterm's does not, so nothing tells its selection from one cleared since, and Translate
    // does not take it.
    static bool datesItsSelection(Kind kind) { return kind != Kind::mlterm; }
    static const char* name(Kind kind) {
        switch (kind) {
        case Kind::mlterm:
            return "mlterm";
        case Kind::pterm:
            return "pterm";
        case Kind::xterm:
            break;
        }
        return "xterm";
    }

    // How the terminal's processes are numbered: as every other program's, or in a process
    // namespace of their own (`unshare --pid --fork`, as Flatpak, bubblewrap and firejail start
    // programs), where its window claims the namespace's number (2), which on the desktop names
    // another process or none.
    enum class Numbering { desktop, ownNamespace };

    // The terminal at the top left, 60 columns by 10 rows without a scroll bar, showing "the
    // house is big", running `sleep 60`, in front.
    explicit TerminalJob(Kind kind = Kind::xterm, Numbering numbering = Numbering::desktop) : kind_(kind) {
        using namespace std::chrono_literals;
        const QString pidFile = dir_.filePath("sleep.pid");
        // The job's number as the desktop sees it, whatever the numbering it runs in: /proc is
        // the desktop's, and the shell itself opens its own stat file there.
        const QStringList job = {
            "-e", "sh", "-c",
            "echo the house is big; read pid rest < /proc/self/stat; echo $pid > '" + pidFile + "'; exec sleep 60"};
        QString program;
        QStringList arguments;
        switch (kind) {
        case Kind::xterm:
            // A long double-click time: on a busy machine the two clicks of a double click can
            // reach xterm further apart than its default quarter second.
            program = "xterm";
            arguments = QStringList{"-geometry", "60x10+40+40", "-xrm", "*multiClickTime: 1000"} + job;
            break;
        case Kind::mlterm:
            program = "mlterm";
            arguments = QStringList{"-g", "60x10+40+40", "--sb=false"} + job;
            break;
        case Kind::pterm:
            program = "pterm";
            arguments = QStringList{"-geometry", "60x10+40+40", "-sb-"} + job;
            break;
        }
        const QString terminalProgram = program;
        if (numbering == Numbering::ownNamespace) {
            // The terminal is the namespace's second process, below a shell that waits for it;
            // everything in the namespace ends with unshare.
            arguments =
                QStringList{"--pid", "--fork", "--kill-child", "sh", "-c", "\"$@\" & wait", "sh", program} + arguments;
            program = "unshare";
        }
        terminal_.start(program, arguments);
        if (!terminal_.waitForStarted(5000) || !waitUntil([&] { return QFileInfo(pidFile).size() > 0; })) {
            return;
        }
        QFile file(pidFile);
        if (file.open(QIODevice::ReadOnly)) {
            jobPid_ = QString::fromLatin1(file.readAll()).trimmed().toInt();
        }
        // One read of the active window, then its process: two reads could straddle the
        // terminal's activation and pair the previous window with the terminal's process. In a
        // namespace of its own its window claims another number: the terminal's class tells.
        waitUntil([&] {
            const QString active = runTool("xdotool", {"getactivewindow"});
            if (active.isEmpty()) {
                return false;
            }
            const bool terminal =
                numbering == Numbering::ownNamespace
                    ? runTool("xdotool", {"search", "--class", QStringLiteral("^%1$").arg(terminalProgram)})
                          .split('\n')
                          .contains(active)
                    : runTool("xdotool", {"getwindowpid", active}) == QString::number(terminal_.processId());
            if (!terminal) {
                return false;
            }
            window_ = active;
            return true;
        });
        pause(300ms);
    }
    ~TerminalJob() {
        if (terminal_.state() != QProcess::NotRunning) {
            terminal_.terminate();
            terminal_.waitForFinished(3000);
        }
    }
    TerminalJob(const TerminalJob&) = delete;
    TerminalJob& operator=(const TerminalJob&) = delete;

    bool isReady() const { return jobPid_ > 0 && !window_.isEmpty(); }
    QString window() const { return window_; }
    Kind kind() const { return kind_; }
    bool jobAlive() const { return jobPid_ > 0 && ::kill(jobPid_, 0) == 0 && terminal_.state() == QProcess::Running; }

    // True once the terminal holds "house" as its selection. A terminal that has just started
    // may let its first clicks go before it has painted its text: the double click is repeated
    // until the word is selected (what is tested comes after).
    bool doubleClickHouse() {
        using namespace std::chrono_literals;
        X11ClipboardReader primary("PRIMARY");
        std::optional<QString> held;
        bool selected = false;
        // "house" takes columns 4 to 8 of the first line: the middle of column 6, whatever the
        // font (the window is 60 columns by 10 rows, give or take a border of a few pixels).
        const QRect frame = windowGeometry(window_);
        const QString x = QString::number(frame.width() * 13 / 120);
        const QString y = QString::number(frame.height() / 20);
        for (int attempt = 0; attempt < 3 && !selected; ++attempt) {
            runTool("xdotool",
                    {"mousemove", "--window", window_, x, y, "click", "--repeat", "2", "--delay", "80", "1"});
            selected = waitUntil(
                [&] {
                    held = primary.readText(std::chrono::steady_clock::now() + 500ms);
                    return held == "house";
                },
                2s);
        }
        if (!selected) {
            ADD_FAILURE() << "PRIMARY holds '" << held.value_or("(nothing)").toStdString() << "'; " << name(kind_)
                          << "'s window " << window_.toStdString() << ", active "
                          << runTool("xdotool", {"getactivewindow"}).toStdString() << ", pointer "
                          << runTool("xdotool", {"getmouselocation"}).toStdString();
        }
        // Past the double-click time, so that the next click starts a new series.
        pause(1100ms);
        return selected;
    }

    static void pause(std::chrono::milliseconds duration) {
        QElapsedTimer timer;
        timer.start();
        waitUntil([&] { return timer.elapsed() >= duration.count(); }, duration + std::chrono::seconds(1));
    }

private:
    Kind kind_;
    QTemporaryDir dir_;
    QProcess terminal_;
    pid_t jobPid_ = 0;
    QString window_;
};

}  // namespace tavrolin::test
