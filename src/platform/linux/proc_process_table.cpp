// The process table as /proc shows it.
#include "platform/desktop_backend.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>
#include <QtConcurrent>

#include <chrono>
#include <dirent.h>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tavrolin {

namespace {

// One field of /proc/<pid>/stat ("pid (comm) state ppid ..."), counted from the state as 1; the
// command name may hold spaces and parentheses, so the fields are counted from its last ')'.
std::optional<qint64> statField(const QString& pid, int field) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray line = stat.read(1024);
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0) {
        return std::nullopt;
    }
    const QList<QByteArray> fields = line.mid(close + 1).trimmed().split(' ');
    if (fields.size() < field) {
        return std::nullopt;
    }
    bool ok = false;
    const qint64 value = fields.at(field - 1).toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

// When the process started (clock ticks after boot): a process id used again is another process.
std::optional<qint64> startOf(qint64 pid) {
    return statField(QString::number(pid), 20);
}

// The program a process runs, as the file it is: its executable's device and inode, and its
// path. A program upgraded while it runs still runs the old file, which /proc shows as
// "<path> (deleted)", while the processes it starts afterwards run the new file at the plain
// path: the same program by its path. Where the executable cannot be read (sandboxed page
// processes hide it from other processes, not their command line), the first word of the
// command line stands for the path.
struct ProgramFile {
    std::optional<std::pair<dev_t, ino_t>> file;
    QString path;

    bool isSameProgram(const ProgramFile& other) const {
        return (file && file == other.file) || (!path.isEmpty() && path == other.path);
    }
};

ProgramFile programOf(qint64 pid) {
    ProgramFile program;
    const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
    struct stat status {};
    if (stat(exe.c_str(), &status) == 0) {
        program.file = std::make_pair(status.st_dev, status.st_ino);
    }
    program.path = QFileInfo(QString::fromStdString(exe)).symLinkTarget();
    static const QString deleted = QStringLiteral(" (deleted)");
    if (program.path.endsWith(deleted)) {
        program.path.chop(deleted.size());
    }
    if (program.path.isEmpty()) {
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (commandLine.open(QIODevice::ReadOnly)) {
            const QByteArray arguments = commandLine.read(4096);
            program.path = QString::fromLocal8Bit(arguments.left(arguments.indexOf('\0')));
        }
    }
    return program;
}

// The children of a process, from the "children" files of its threads (each lists the
// processes that thread started): no walk through the whole table. Absent when the process's
// threads cannot be listed, or the kernel keeps no such files.
std::optional<std::vector<qint64>> childrenOf(qint64 pid) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    QStringList threads = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (threads.isEmpty()) {
        return std::nullopt;
    }
    // The main thread first: most programs start their processes from it.
    const QString main = QString::number(pid);
    if (threads.removeOne(main)) {
        threads.prepend(main);
    }
    std::vector<qint64> children;
    bool anyRead = false;
    for (const QString& thread : threads) {
        QFile file(tasks + QLatin1Char('/') + thread + QStringLiteral("/children"));
        if (!file.open(QIODevice::ReadOnly)) {
            continue;  // a thread that ended meanwhile, or no such file
        }
        anyRead = true;
        for (const QByteArray& word : file.readAll().split(' ')) {
            bool numeric = false;
            const qint64 child = word.trimmed().toLongLong(&numeric);
            if (numeric && child > 0) {
                children.push_back(child);
            }
        }
    }
    if (!anyRead) {
        return std::nullopt;
    }
    return children;
}

// The toolkit a process's memory map shows: the shared libraries it has loaded, and Chromium's
// data files (Chromium and every Electron program map their V8 snapshot and ICU data, whatever
// the executable is called). Tk wins over everything: a program that shows a Tk window gives
// its keys Tk's meaning there. Absent when the map cannot be read.
std::optional<ProgramToolkit> readToolkit(qint64 pid) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray contents = maps.readAll();
    if (contents.isEmpty()) {
        return std::nullopt;  // a process that ended, or a kernel thread
    }
    struct Marker {
        const char* prefix;
        ProgramToolkit toolkit;
    };
    // In the order of precedence: a program that maps several (LibreOffice and Firefox map
    // GTK's library as well) is known by the first.
    static constexpr Marker markers[] = {
        {"libtk8.", ProgramToolkit::tk},
        {"libmergedlo.so", ProgramToolkit::libreOffice},
        {"libvcllo.so", ProgramToolkit::libreOffice},
        {"libxul.so", ProgramToolkit::gecko},
        {"v8_context_snapshot.bin", ProgramToolkit::chromium},
        {"snapshot_blob.bin", ProgramToolkit::chromium},
        {"libawt_xawt.so", ProgramToolkit::javaAwt},
        {"libQt6Gui.so", ProgramToolkit::qt},
        {"libQt5Gui.so", ProgramToolkit::qt},
        {"libgtk-4.so", ProgramToolkit::gtk},
        {"libgtk-3.so", ProgramToolkit::gtk},
        {"libgtk-x11-2.0.so", ProgramToolkit::gtk},
    };
    std::size_t best = std::size(markers);
    for (const QByteArray& line : contents.split('\n')) {
        const qsizetype slash = line.lastIndexOf('/');
        if (slash < 0) {
            continue;  // anonymous memory, the heap, the stack
        }
        const QByteArray name = line.mid(slash + 1);
        for (std::size_t i = 0; i < best; ++i) {
            if (name.startsWith(markers[i].prefix)) {
                best = i;
                break;
            }
        }
        if (best == 0) {
            break;
        }
    }
    if (best < std::size(markers)) {
        return markers[best].toolkit;
    }
    // Editors checked one by one, drawn with no toolkit of their own: Zed.
    const QString executable = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    const QString base = QFileInfo(executable).fileName();
    if (base == QLatin1String("zed-editor") || base == QLatin1String("zed")) {
        return ProgramToolkit::zed;
    }
    return ProgramToolkit::none;
}

// Whether the process holds a pseudo-terminal master: one shows among /proc/<pid>/fd as a link to
// the multiplexer, /dev/ptmx (or /dev/pts/ptmx where that is opened directly, as in
// containers). Absent when its open files cannot be read, or not within the bound.
std::optional<bool> readHoldsPseudoTerminalMaster(qint64 processId) {
    const std::string folder = "/proc/" + std::to_string(processId) + "/fd";
    DIR* const files = opendir(folder.c_str());
    if (!files) {
        return std::nullopt;  // gone, or another user's
    }
    const auto deadline = std::chrono::steady_clock::now() + ProcessTable::openFilesReadBound;
    std::optional<bool> holds = false;
    char target[32];
    for (unsigned looked = 1; const dirent* entry = readdir(files); ++looked) {
        if (looked % 256 == 0 && std::chrono::steady_clock::now() > deadline) {
            holds = std::nullopt;
            break;
        }
        if (entry->d_name[0] == '.') {
            continue;
        }
        // A file closed meanwhile has no link any more; a longer target is no multiplexer.
        const ssize_t length = readlinkat(dirfd(files), entry->d_name, target, sizeof target);
        if (length <= 0 || length >= ssize_t(sizeof target)) {
            continue;
        }
        const std::string_view link(target, std::size_t(length));
        if (link == "/dev/ptmx" || link == "/dev/pts/ptmx") {
            holds = true;
            break;
        }
    }
    closedir(files);
    return holds;
}

std::vector<qint64> readParentAndChildren(qint64 processId) {
    std::vector<qint64> relatives;
    const std::optional<qint64> parent = statField(QString::number(processId), 2);
    if (parent && *parent > 1) {
        relatives.push_back(*parent);
    }
    if (const std::optional<std::vector<qint64>> children = childrenOf(processId)) {
        relatives.insert(relatives.end(), children->begin(), children->end());
    }
    return relatives;
}

class ProcProcessTable final : public ProcessTable {
public:
    bool runsProcessesOfItsOwnProgram(qint64 processId) override {
        if (processId <= 0) {
            return false;
        }
        // A program's way of running does not change while it runs: the table is read once per
        // process (a paste asks each time, on the GUI thread).
        const std::optional<qint64> start = startOf(processId);
        const auto known = answers_.find(processId);
        if (known != answers_.end() && start && known->second.first == *start) {
            return known->second.second;
        }
        const bool answer = readRunsProcessesOfItsOwnProgram(processId);
        if (start) {
            answers_[processId] = {*start, answer};
        }
        return answer;
    }

private:
    bool readRunsProcessesOfItsOwnProgram(qint64 processId) {
        const ProgramFile program = programOf(processId);
        if (!program.file && program.path.isEmpty()) {
            return false;
        }
        // Page processes may sit a level or two below (a zygote between the browser and its
        // renderers).
        std::vector<qint64> level{processId};
        for (int depth = 0; depth < 4 && !level.empty(); ++depth) {
            std::vector<qint64> next;
            for (const qint64 pid : level) {
                const std::optional<std::vector<qint64>> children = childrenOf(pid);
                if (!children) {
                    if (pid == processId && QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid))) {
                        // Its children cannot be listed: nothing says its answers are its own.
                        return true;
                    }
                    continue;
                }
                for (const qint64 child : *children) {
                    if (programOf(child).isSameProgram(program)) {
                        return true;
                    }
                    next.push_back(child);
                }
            }
            level = std::move(next);
        }
        return false;
    }

public:
    QCoro::Task<std::optional<bool>> holdsPseudoTerminalMaster(qint64 processId) override {
        if (processId <= 0) {
            co_return std::nullopt;
        }
        // Named, not a temporary inside the co_await expression: g++ 12 destroys such temporaries twice.
        QFuture<std::optional<bool>> reading =
            QtConcurrent::run(&readers_, [processId] { return readHoldsPseudoTerminalMaster(processId); });
        co_return co_await reading;
    }

    QCoro::Task<std::vector<qint64>> parentAndChildren(qint64 processId) override {
        if (processId <= 0) {
            co_return std::vector<qint64>{};
        }
        QFuture<std::vector<qint64>> reading =
            QtConcurrent::run(&readers_, [processId] { return readParentAndChildren(processId); });
        co_return co_await reading;
    }

    QCoro::Task<std::optional<ProgramToolkit>> toolkitOf(qint64 processId) override {
        if (processId <= 0) {
            co_return std::nullopt;
        }
        const std::optional<qint64> start = startOf(processId);
        if (!start) {
            co_return std::nullopt;
        }
        {
            std::lock_guard lock(toolkitsMutex_);
            const auto known = toolkits_.find(processId);
            if (known != toolkits_.end() && known->second.first == *start) {
                co_return known->second.second;
            }
        }
        // A large program's map runs to thousands of lines, and reading it waits on the
        // program's memory lock: never on the calling (GUI) thread.
        // Named, not a temporary inside the co_await expression: g++ 12 destroys such temporaries twice.
        QFuture<std::optional<ProgramToolkit>> reading =
            QtConcurrent::run(&readers_, [processId] { return readToolkit(processId); });
        const std::optional<ProgramToolkit> toolkit = co_await reading;
        // Read after the map: a process that ended and whose number was taken meanwhile is
        // not remembered under the new one.
        if (toolkit && startOf(processId) == start) {
            std::lock_guard lock(toolkitsMutex_);
            toolkits_[processId] = {*start, *toolkit};
        }
        co_return toolkit;
    }

private:
    // Process id -> (its start, the answer).
    std::map<qint64, std::pair<qint64, bool>> answers_;
    // Process id -> (its start, its toolkit); asked from the GUI thread, filled after a read
    // off it.
    std::mutex toolkitsMutex_;
    std::map<qint64, std::pair<qint64, ProgramToolkit>> toolkits_;
    // The reads made off the calling thread run on threads of their own, never queued behind
    // text recognition on the shared pool; last, so that it is gone (its reads ended) first.
    QThreadPool readers_;
};

}  // namespace

std::shared_ptr<ProcessTable> makeSystemProcessTable() {
    return std::make_shared<ProcProcessTable>();
}

}  // namespace tavrolin
