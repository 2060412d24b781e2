#include "diagnostics/diagnostics_command_runner.h"

#include "diagnostics/diagnostics_export_error.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace tavrolin {

namespace {

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// Closes a descriptor once.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    // Answers the error of close(), 0 when it succeeded or nothing was open.
    int reset() {
        int result = 0;
        if (fd_ >= 0 && ::close(fd_) != 0) {
            result = errno;
        }
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Writes the whole buffer, retrying after interruptions.
bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

struct ExitStatus {
    int status = -1;       // the exit status when the tool exited
    int signalNumber = 0;  // the signal that ended it, else 0
};

ExitStatus decode(int raw) {
    if (WIFEXITED(raw)) {
        return {WEXITSTATUS(raw), 0};
    }
    if (WIFSIGNALED(raw)) {
        return {-1, WTERMSIG(raw)};
    }
    return {};
}

// Waits for the tool to end, calling `expire` once the deadline has passed (it stops the tool,
// so the wait then ends too). A tool can close its output and keep running: the time limit
// covers this wait as well.
template <typename Expire>
ExitStatus waitForExit(pid_t pid, std::chrono::steady_clock::time_point deadline, Expire&& expire) {
    int raw = 0;
    bool expired = false;
    for (;;) {
        const pid_t done = ::waitpid(pid, &raw, expired ? 0 : WNOHANG);
        if (done == pid) {
            return decode(raw);
        }
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            expired = true;
            expire();
            continue;
        }
        ::usleep(5000);
    }
}

}  // namespace

DiagnosticsCommandResult ProcessDiagnosticsCommandRunner::run(const QString& executable, const QStringList& arguments,
                                                              const std::optional<QString>& standardOutputPath,
                                                              const DiagnosticsCommandLimits& limits) {
    // The output file first: an error here is reported before anything runs.
    Descriptor output;
    if (standardOutputPath) {
        const QByteArray path = QFile::encodeName(*standardOutputPath);
        output = Descriptor(::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (output.get() < 0) {
            throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not create the file"),
                                                              *standardOutputPath, systemError(errno));
        }
    }

    int outFds[2] = {-1, -1};
    int errFds[2] = {-1, -1};
    if ((standardOutputPath && ::pipe2(outFds, O_CLOEXEC) != 0) || ::pipe2(errFds, O_CLOEXEC) != 0) {
        const int code = errno;
        for (int fd : {outFds[0], outFds[1]}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        throw DiagnosticsExportError::commandNotStarted(executable, systemError(code));
    }
    Descriptor outRead(outFds[0]), outWrite(outFds[1]), errRead(errFds[0]), errWrite(errFds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (standardOutputPath) {
        posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own, so a time-out stops the tool and anything it started.
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t noneBlocked;
    sigemptyset(&noneBlocked);
    posix_spawnattr_setsigmask(&attributes, &noneBlocked);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    const QByteArray program = QFile::encodeName(executable);
    std::vector<QByteArray> storage;
    storage.reserve(static_cast<std::size_t>(arguments.size()) + 1);
    storage.push_back(program);
    for (const QString& argument : arguments) {
        storage.push_back(argument.toLocal8Bit());
    }
    std::vector<char*> argv;
    for (QByteArray& item : storage) {
        argv.push_back(item.data());
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int spawnError = ::posix_spawn(&pid, program.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawnError != 0) {
        throw DiagnosticsExportError::commandNotStarted(executable, systemError(spawnError));
    }
    outWrite.reset();
    errWrite.reset();

    DiagnosticsCommandResult result;
    QByteArray standardError;
    bool timedOut = false;
    bool stopped = false;  // we ended the tool ourselves
    int writeError = 0;
    const auto stop = [&] {
        if (!stopped) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            stopped = true;
        }
    };

    const auto deadline = std::chrono::steady_clock::now() + limits.timeout;
    std::vector<char> buffer(64 * 1024);
    while (outRead.get() >= 0 || errRead.get() >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 && !stopped) {
            timedOut = true;
            stop();
        }
        pollfd fds[2];
        nfds_t count = 0;
        for (int fd : {outRead.get(), errRead.get()}) {
            if (fd >= 0) {
                fds[count++] = pollfd{fd, POLLIN, 0};
            }
        }
        // After a stop the pipes close as soon as the group is gone; wait briefly for that.
        const int wait = stopped ? 1000 : static_cast<int>(std::clamp<qint64>(left.count(), 1, 1000));
        const int ready = ::poll(fds, count, wait);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            stop();
            break;
        }
        if (ready == 0) {
            if (stopped) {
                break;  // a grandchild holds the pipe open: do not wait for it
            }
            continue;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            const ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            const bool isOutput = fds[i].fd == outRead.get();
            if (n <= 0) {
                (isOutput ? outRead : errRead).reset();
                continue;
            }
            if (isOutput) {
                const qint64 room = limits.maximumOutputBytes - result.outputBytes;
                const qint64 take = std::min<qint64>(room, n);
                if (take > 0 && writeError == 0 &&
                    !writeAll(output.get(), buffer.data(), static_cast<std::size_t>(take))) {
                    writeError = errno;
                    stop();
                }
                result.outputBytes += std::max<qint64>(take, 0);
                if (take < n && !result.outputTruncated) {
                    result.outputTruncated = true;
                    stop();
                }
            } else {
                const qint64 room = limits.maximumErrorBytes - standardError.size();
                if (room > 0) {
                    standardError.append(buffer.data(), static_cast<qsizetype>(std::min<qint64>(room, n)));
                }
            }
        }
    }
    outRead.reset();
    errRead.reset();
    const ExitStatus exit = waitForExit(pid, deadline, [&] {
        if (!stopped) {
            timedOut = true;
            stop();
        }
    });

    if (writeError != 0) {
        throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not write the file"),
                                                          standardOutputPath.value_or(QString()),
                                                          systemError(writeError));
    }
    if (const int closeError = output.reset(); closeError != 0) {
        throw DiagnosticsExportError::fileOperationFailed(QStringLiteral("Could not write the file"),
                                                          standardOutputPath.value_or(QString()),
                                                          systemError(closeError));
    }
    if (timedOut) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limits.timeout).count();
        throw DiagnosticsExportError::commandTimedOut(executable, static_cast<int>(std::max<qint64>(seconds, 1)));
    }
    if (result.outputTruncated) {
        return result;  // stopped on purpose once the cap was reached: its status says nothing
    }
    if (exit.status != 0) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        QString text = utf8.decode(standardError);
        if (utf8.hasError()) {
            text.clear();  // undecodable bytes count as no text at all
        }
        if (exit.signalNumber != 0) {
            throw DiagnosticsExportError::commandKilled(executable, exit.signalNumber, text);
        }
        throw DiagnosticsExportError::commandFailed(executable, exit.status, text);
    }
    return result;
}

}  // namespace tavrolin
