// What /proc tells of a process: whether it holds a pseudo-terminal master, and whether it runs
// processes of its own program below it.
#include "platform/desktop_backend.h"
#include "support/async.h"
#include "support/many_open_files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace tavrolin;

// A terminal emulator holds the master of its terminal; a program started beside it (the
// master closed on exec) holds none; a process that is not there is not known.
TEST(ProcProcessTable, APseudoTerminalMasterIsSeenInItsHolderOnly) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    QProcess other;
    other.start("sleep", {"30"});
    ASSERT_TRUE(other.waitForStarted(5000));

    const std::shared_ptr<ProcessTable> processes = makeSystemProcessTable();
    EXPECT_EQ(test::await(processes->holdsPseudoTerminalMaster(getpid())), true);
    EXPECT_EQ(test::await(processes->holdsPseudoTerminalMaster(other.processId())), false);
    EXPECT_EQ(test::await(processes->holdsPseudoTerminalMaster(qint64(1) << 30)), std::nullopt)
        << "beyond any process id";
    EXPECT_EQ(test::await(processes->holdsPseudoTerminalMaster(0)), std::nullopt);

    other.kill();
    other.waitForFinished(3000);
    close(master);
}

// A browser holds thousands of open files, and the look for a terminal among them reads a link per
// file: the reads run off the calling thread, whose event loop goes on meanwhile.
TEST(ProcProcessTable, ReadingAProcessOfVeryManyFilesLeavesTheEventLoopFree) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const test::ManyOpenFiles browser(int(std::min<rlim_t>(limit.rlim_max, 60000) - 32));
    ASSERT_GT(browser.pid(), 0);
    const std::shared_ptr<ProcessTable> processes = makeSystemProcessTable();
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 latest = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        latest = std::max(latest, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    ticks.start(10);
    // Read again and again for a while, as the chords of several commands would.
    const auto readFor = [&](qint64 span) -> QCoro::Task<int> {
        int reads = 0;
        while (clock.elapsed() < span) {
            // A read past its bound (a loaded machine) answers nothing; none may find a terminal.
            const std::optional<bool> holds = co_await processes->holdsPseudoTerminalMaster(browser.pid());
            EXPECT_NE(holds, std::optional<bool>(true));
            ++reads;
        }
        co_return reads;
    };
    const int reads = test::await(readFor(2500));
    latest = std::max(latest, clock.elapsed() - lastTick);
    EXPECT_GT(reads, 0);
    EXPECT_LT(latest, 1000) << "the 10 ms timer waited this long (ms) while " << reads << " reads ran";
}

namespace {

// A process group of its own, so that the test ends every process it started at once.
class ProcessGroup {
public:
    ProcessGroup(const QString& program, const QStringList& arguments) {
        process_.setChildProcessModifier([] { setpgid(0, 0); });
        process_.start(program, arguments);
        process_.waitForStarted(5000);
    }
    ~ProcessGroup() {
        if (process_.processId() > 0) {
            ::kill(-pid_t(process_.processId()), SIGKILL);
        }
        process_.waitForFinished(3000);
    }
    ProcessGroup(const ProcessGroup&) = delete;
    ProcessGroup& operator=(const ProcessGroup&) = delete;
    qint64 pid() const { return process_.processId(); }
    void write(const QByteArray& input) {
        process_.write(input);
        process_.waitForBytesWritten(5000);
    }

private:
    QProcess process_;
};

// The processes `parent` started, as pgrep sees them.
QStringList childrenOf(qint64 parent) {
    QProcess pgrep;
    pgrep.start("pgrep", {"-P", QString::number(parent)});
    pgrep.waitForFinished(5000);
    return QString::fromLatin1(pgrep.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

bool waitFor(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 20000) {
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

}  // namespace

// A program upgraded while it runs: its own executable is the old file, gone from the folder
// ("... (deleted)"), while the process it starts afterwards runs the new file at the same path.
// Both are the one program; a process running another program (sleep) is not.
TEST(ProcProcessTable, AProgramReplacedWhileItRunsIsTheSameProgramAsWhatItStartsFromTheNewFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath("program");
    ASSERT_TRUE(QFile::copy("/bin/sh", program));
    ASSERT_TRUE(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
    // Another program below it first (sleep), then, once told on its input, its own file again.
    ProcessGroup parent(program, {"-c", QStringLiteral("sleep 30 & read go; '%1' -c 'sleep 30' & wait").arg(program)});
    ASSERT_GT(parent.pid(), 0);
    // Asked only once the child runs sleep: between its fork and its exec it is still the shell.
    ASSERT_TRUE(waitFor([&] {
        const QStringList children = childrenOf(parent.pid());
        return children.size() == 1 &&
               QFileInfo("/proc/" + children.first() + "/exe").symLinkTarget().endsWith(QLatin1String("/sleep"));
    })) << "sleep never ran";
    EXPECT_FALSE(makeSystemProcessTable()->runsProcessesOfItsOwnProgram(parent.pid())) << "only sleep runs below it";

    ASSERT_TRUE(QFile::remove(program));
    ASSERT_TRUE(QFile::copy("/bin/sh", program));
    ASSERT_TRUE(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
    parent.write("go\n");
    ASSERT_TRUE(waitFor([&] {
        for (const QString& child : childrenOf(parent.pid())) {
            // Its exec done: the new file, not the old one its fork began as.
            if (QFileInfo("/proc/" + child + "/exe").symLinkTarget() == program) {
                return true;
            }
        }
        return false;
    })) << "the new file never ran";
    EXPECT_TRUE(QFileInfo("/proc/" + QString::number(parent.pid()) + "/exe").symLinkTarget().endsWith(" (deleted)"));
    EXPECT_TRUE(makeSystemProcessTable()->runsProcessesOfItsOwnProgram(parent.pid()));
}

// The question costs one process's children, whatever else runs on the machine: asked with a
// thousand more processes about, it takes a small part of one read through the table (each
// figure the best of several, so that a busy machine's pauses do not count).
TEST(ProcProcessTable, ChildrenAreFoundWithoutReadingTheWholeTable) {
    const ProcessGroup crowd("sh", {"-c", "for i in $(seq 1000); do sleep 60 & done; wait"});
    ASSERT_TRUE(waitFor([&] { return childrenOf(crowd.pid()).size() >= 1000; }));
    const ProcessGroup asked("sh", {"-c", "sh -c 'sleep 60' & wait"});
    ASSERT_TRUE(waitFor([&] { return !childrenOf(asked.pid()).isEmpty(); }));

    const auto best = [](const std::function<void()>& work) {
        qint64 fastest = std::numeric_limits<qint64>::max();
        for (int run = 0; run < 7; ++run) {
            QElapsedTimer timer;
            timer.start();
            work();
            fastest = std::min(fastest, timer.nsecsElapsed());
        }
        return fastest;
    };
    const qint64 walk = best([] {
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile stat("/proc/" + entry + "/stat");
            if (stat.open(QIODevice::ReadOnly)) {
                stat.read(1024);
            }
        }
    });
    bool answer = false;
    const qint64 question = best([&] { answer = makeSystemProcessTable()->runsProcessesOfItsOwnProgram(asked.pid()); });
    EXPECT_TRUE(answer) << "a shell below the shell";
    EXPECT_LT(question * 5, walk) << "asked in " << question / 1000 << " us, a walk takes " << walk / 1000 << " us";
}

// A program's toolkit is the one its process maps. One that maps Tk beside GTK (a Python program
// that loaded both) shows Tk windows, whose keys mean other things: Tk wins, whatever the order
// of the map. Its process's parent and children are the process's neighbours.
TEST(ProcProcessTable, TkWinsOverGtkAndTheRelativesAreTheParentAndTheChildren) {
    const auto python = [](const QString& loads) {
        return std::make_unique<ProcessGroup>(
            "/usr/bin/python3",
            QStringList{"-c", "import ctypes, subprocess, sys\n" + loads +
                                  "\nchild = subprocess.Popen(['sleep', '60'])\nsys.stdin.read()\n"});
    };
    const std::unique_ptr<ProcessGroup> both = python("ctypes.CDLL('libgtk-3.so.0')\nimport tkinter");
    const std::unique_ptr<ProcessGroup> gtkOnly = python("ctypes.CDLL('libgtk-3.so.0')");
    const auto maps = [](qint64 pid) {
        QFile file("/proc/" + QString::number(pid) + "/maps");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    ASSERT_TRUE(waitFor([&] {
        return maps(both->pid()).contains("libtk8.") && maps(both->pid()).contains("libgtk-3") &&
               maps(gtkOnly->pid()).contains("libgtk-3") && childrenOf(both->pid()).size() == 1;
    })) << "python3-tk and GTK 3 are installed by make test";
    const std::shared_ptr<ProcessTable> processes = makeSystemProcessTable();
    EXPECT_EQ(test::await(processes->toolkitOf(both->pid())), ProgramToolkit::tk);
    EXPECT_EQ(test::await(processes->toolkitOf(gtkOnly->pid())), ProgramToolkit::gtk);

    const std::vector<qint64> relatives = test::await(processes->parentAndChildren(both->pid()));
    EXPECT_EQ(relatives, (std::vector<qint64>{getpid(), childrenOf(both->pid()).front().toLongLong()}));
}
