// The process table as /proc shows it.
#include "platform/desktop_backend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <map>
#include <string>
#include <string_view>
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

std::optional<qint64> parentOf(const QString& pid) {
    return statField(pid, 2);
}

// When the process started (clock ticks after boot): a process id used again is another process.
std::optional<qint64> startOf(qint64 pid) {
    return statField(QString::number(pid), 20);
}

// The program a process runs: its executable where we may read it, else the first word of its
// command line (sandboxed page processes hide their executable from other processes, not their
// command line).
QString programOf(qint64 pid) {
    const QString executable = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    if (!executable.isEmpty()) {
        return executable;
    }
    QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!commandLine.open(QIODevice::ReadOnly)) {
        return QString();
    }
    const QByteArray arguments = commandLine.read(4096);
    return QString::fromLocal8Bit(arguments.left(arguments.indexOf('\0')));
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
        const QString program = programOf(processId);
        if (program.isEmpty()) {
            return false;
        }
        std::multimap<qint64, qint64> children;
        const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString& entry : entries) {
            bool numeric = false;
            const qint64 pid = entry.toLongLong(&numeric);
            if (!numeric) {
                continue;
            }
            if (const std::optional<qint64> parent = parentOf(entry)) {
                children.emplace(*parent, pid);
            }
        }
        // Page processes may sit a level or two below (a zygote between the browser and its
        // renderers).
        std::vector<qint64> level{processId};
        for (int depth = 0; depth < 4 && !level.empty(); ++depth) {
            std::vector<qint64> next;
            for (const qint64 pid : level) {
                const auto [begin, end] = children.equal_range(pid);
                for (auto it = begin; it != end; ++it) {
                    if (programOf(it->second) == program) {
                        return true;
                    }
                    next.push_back(it->second);
                }
            }
            level = std::move(next);
        }
        return false;
    }

    // A pseudo-terminal master shows among /proc/<pid>/fd as a link to the multiplexer,
    // /dev/ptmx (or /dev/pts/ptmx where that is opened directly, as in containers).
public:
    std::optional<bool> holdsPseudoTerminalMaster(qint64 processId) override {
        if (processId <= 0) {
            return std::nullopt;
        }
        const std::string folder = "/proc/" + std::to_string(processId) + "/fd";
        DIR* const files = opendir(folder.c_str());
        if (!files) {
            return std::nullopt;  // gone, or another user's
        }
        bool holds = false;
        char target[32];
        while (const dirent* entry = readdir(files)) {
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

private:
    // Process id -> (its start, the answer).
    std::map<qint64, std::pair<qint64, bool>> answers_;
};

}  // namespace

std::shared_ptr<ProcessTable> makeSystemProcessTable() {
    return std::make_shared<ProcProcessTable>();
}

}  // namespace tavrolin
