#pragma once

// xterm in front running a job, for the tests that check that nothing reaches the job: xterm
// reads Control+C, and even Control+Shift+C, as an interrupt.
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
    // xterm at the top left showing "the house is big", running `sleep 60`, in front.
    TerminalJob() {
        using namespace std::chrono_literals;
        const QString pidFile = dir_.filePath("sleep.pid");
        // A long double-click time: on a busy machine the two clicks of a double click can
        // reach xterm further apart than its default quarter second.
        xterm_.start("xterm", {"-geometry", "60x10+40+40", "-xrm", "*multiClickTime: 1000", "-e", "sh", "-c",
                               "echo the house is big; echo $$ > '" + pidFile + "'; exec sleep 60"});
        if (!xterm_.waitForStarted(5000) || !waitUntil([&] { return QFileInfo(pidFile).size() > 0; })) {
            return;
        }
        QFile file(pidFile);
        if (file.open(QIODevice::ReadOnly)) {
            jobPid_ = QString::fromLatin1(file.readAll()).trimmed().toInt();
        }
        // One read of the active window, then its process: two reads could straddle xterm's
        // activation and pair the previous window with xterm's process.
        waitUntil([&] {
            const QString active = runTool("xdotool", {"getactivewindow"});
            if (active.isEmpty() ||
                runTool("xdotool", {"getwindowpid", active}) != QString::number(xterm_.processId())) {
                return false;
            }
            window_ = active;
            return true;
        });
        pause(300ms);
    }
    ~TerminalJob() {
        if (xterm_.state() != QProcess::NotRunning) {
            xterm_.terminate();
            xterm_.waitForFinished(3000);
        }
    }
    TerminalJob(const TerminalJob&) = delete;
    TerminalJob& operator=(const TerminalJob&) = delete;

    bool isReady() const { return jobPid_ > 0 && !window_.isEmpty(); }
    QString window() const { return window_; }
    bool jobAlive() const { return jobPid_ > 0 && ::kill(jobPid_, 0) == 0 && xterm_.state() == QProcess::Running; }

    // True once xterm holds "house" as its selection. A terminal that has just started may let
    // its first clicks go before it has painted its text: the double click is repeated until
    // the word is selected (what is tested comes after).
    bool doubleClickHouse() {
        using namespace std::chrono_literals;
        X11ClipboardReader primary("PRIMARY");
        std::optional<QString> held;
        bool selected = false;
        for (int attempt = 0; attempt < 3 && !selected; ++attempt) {
            // The fixed font is 6 pixels wide: "house" takes columns 4 to 8 of the first line.
            runTool("xdotool",
                    {"mousemove", "--window", window_, "38", "7", "click", "--repeat", "2", "--delay", "80", "1"});
            selected = waitUntil(
                [&] {
                    held = primary.readText(std::chrono::steady_clock::now() + 500ms);
                    return held == "house";
                },
                2s);
        }
        if (!selected) {
            ADD_FAILURE() << "PRIMARY holds '" << held.value_or("(nothing)").toStdString() << "'; xterm's window "
                          << window_.toStdString() << ", active "
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
    QTemporaryDir dir_;
    QProcess xterm_;
    pid_t jobPid_ = 0;
    QString window_;
};

}  // namespace tavrolin::test
