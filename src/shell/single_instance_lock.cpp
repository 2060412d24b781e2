#include "shell/single_instance_lock.h"

#include "core/private_storage.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrolin {

namespace {

const QString kLockFileName = QStringLiteral("single-instance.lock");

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString quoted(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    escaped.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

}  // namespace

// ---- error

SingleInstanceLockError::SingleInstanceLockError(Case errorCase, QString path, QString underlyingError, int error)
    : case_(errorCase), path_(std::move(path)), underlyingError_(std::move(underlyingError)), errno_(error) {
    what_ = description().toStdString();
}

SingleInstanceLockError SingleInstanceLockError::failedToCreateDirectory(QString directory, QString underlyingError) {
    return SingleInstanceLockError(Case::failedToCreateDirectory, std::move(directory), std::move(underlyingError), 0);
}
SingleInstanceLockError SingleInstanceLockError::invalidPath(QString lockFile) {
    return SingleInstanceLockError(Case::invalidPath, std::move(lockFile), {}, 0);
}
SingleInstanceLockError SingleInstanceLockError::failedToOpenFile(QString lockFile, int error) {
    return SingleInstanceLockError(Case::failedToOpenFile, std::move(lockFile), systemText(error), error);
}
SingleInstanceLockError SingleInstanceLockError::failedToLockFile(QString lockFile, int error) {
    return SingleInstanceLockError(Case::failedToLockFile, std::move(lockFile), systemText(error), error);
}
SingleInstanceLockError SingleInstanceLockError::alreadyRunning() {
    return SingleInstanceLockError(Case::alreadyRunning, {}, {}, 0);
}

QString SingleInstanceLockError::description() const {
    switch (case_) {
    case Case::failedToCreateDirectory:
        return QStringLiteral("Could not create the lock directory at ") + path_ + QStringLiteral(": ") +
               underlyingError_;
    case Case::invalidPath:
        return QStringLiteral("The lock file path is invalid: ") + path_;
    case Case::failedToOpenFile:
        return QStringLiteral("Could not open the lock file at ") + path_ + QStringLiteral(": ") + underlyingError_;
    case Case::failedToLockFile:
        return QStringLiteral("Could not lock the file at ") + path_ + QStringLiteral(": ") + underlyingError_;
    case Case::alreadyRunning:
        return QStringLiteral("Tavrolin is already running.");
    }
    return {};
}

QString SingleInstanceLockError::logDescription() const {
    switch (case_) {
    case Case::failedToCreateDirectory:
        return QStringLiteral("failedToCreateDirectory(directoryURL: %1, underlyingError: %2)")
            .arg(quoted(path_), quoted(underlyingError_));
    case Case::invalidPath:
        return QStringLiteral("invalidPath(lockFileURL: %1)").arg(quoted(path_));
    case Case::failedToOpenFile:
        return QStringLiteral("failedToOpenFile(lockFileURL: %1, errno: %2)").arg(quoted(path_)).arg(errno_);
    case Case::failedToLockFile:
        return QStringLiteral("failedToLockFile(lockFileURL: %1, errno: %2)").arg(quoted(path_)).arg(errno_);
    case Case::alreadyRunning:
        return QStringLiteral("alreadyRunning");
    }
    return {};
}

// ---- location

SingleInstanceLockLocation SingleInstanceLockLocation::resolve(const QString& xdgDataHome, const QString& home,
                                                               const QString& temporaryDirectory, unsigned uid) {
    // Relative values are ignored, as the XDG base directory rules ask.
    if (!xdgDataHome.isEmpty() && QDir::isAbsolutePath(xdgDataHome)) {
        return {QDir::cleanPath(xdgDataHome + QStringLiteral("/Tavrolin/")) + QLatin1Char('/') + kLockFileName, false};
    }
    if (!home.isEmpty() && QDir::isAbsolutePath(home)) {
        return {QDir::cleanPath(home + QStringLiteral("/.local/share/Tavrolin")) + QLatin1Char('/') + kLockFileName,
                false};
    }
    const QString temporary = temporaryDirectory.isEmpty() ? QStringLiteral("/tmp") : temporaryDirectory;
    return {QDir::cleanPath(temporary + QStringLiteral("/Tavrolin-%1").arg(uid)) + QLatin1Char('/') + kLockFileName,
            true};
}

SingleInstanceLockLocation SingleInstanceLockLocation::current() {
    return resolve(qEnvironmentVariable("XDG_DATA_HOME"), qEnvironmentVariable("HOME"), QDir::tempPath(), ::getuid());
}

// ---- lock

SingleInstanceLock::SingleInstanceLock(int fileDescriptor, QString lockFile)
    : fileDescriptor_(fileDescriptor), lockFile_(std::move(lockFile)) {}

SingleInstanceLock::~SingleInstanceLock() {
    ::flock(fileDescriptor_, LOCK_UN);
    ::close(fileDescriptor_);
}

void SingleInstanceLock::prepareDirectory(const QString& directory, bool inSharedTemporaryDirectory) {
    if (!inSharedTemporaryDirectory) {
        if (const int error = makePrivateFolder(directory); error != 0) {
            throw SingleInstanceLockError::failedToCreateDirectory(directory, systemText(error));
        }
        return;
    }
    // In a directory every user can write, another user could create our folder first (to
    // block the start) or plant a link in it: the folder must be a real directory, ours, and
    // closed to everyone else.
    const QByteArray native = QFile::encodeName(directory);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        throw SingleInstanceLockError::failedToCreateDirectory(directory, systemText(errno));
    }
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0) {
        throw SingleInstanceLockError::failedToCreateDirectory(directory, systemText(errno));
    }
    if (!S_ISDIR(info.st_mode)) {
        throw SingleInstanceLockError::failedToCreateDirectory(directory, QStringLiteral("not a directory"));
    }
    if (info.st_uid != ::getuid()) {
        throw SingleInstanceLockError::failedToCreateDirectory(
            directory, QStringLiteral("owned by another user (uid %1)").arg(info.st_uid));
    }
    if ((info.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0) {
        throw SingleInstanceLockError::failedToCreateDirectory(directory, systemText(errno));
    }
}

int SingleInstanceLock::openLockFile(const QString& lockFile) {
    const QByteArray native = QFile::encodeName(lockFile);
    if (lockFile.isEmpty() || !QDir::isAbsolutePath(lockFile) || native.contains('\0')) {
        throw SingleInstanceLockError::invalidPath(lockFile);
    }
    const int descriptor = ::open(native.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (descriptor == -1) {
        throw SingleInstanceLockError::failedToOpenFile(lockFile, errno);
    }
    return descriptor;
}

void SingleInstanceLock::writeProcessIdentifier(int fileDescriptor) {
    if (::ftruncate(fileDescriptor, 0) != 0) {
        return;
    }
    const QByteArray text = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    // The file was just opened: the write lands at its start. A failed write is not fatal:
    // the lock, not the file's contents, marks the running instance.
    [[maybe_unused]] const ssize_t written =
        ::write(fileDescriptor, text.constData(), static_cast<size_t>(text.size()));
}

std::unique_ptr<SingleInstanceLock> SingleInstanceLock::acquire(
    const std::optional<SingleInstanceLockLocation>& location) {
    const SingleInstanceLockLocation where = location.value_or(SingleInstanceLockLocation::current());
    if (where.lockFile.isEmpty() || !QDir::isAbsolutePath(where.lockFile)) {
        throw SingleInstanceLockError::invalidPath(where.lockFile);
    }
    prepareDirectory(QFileInfo(where.lockFile).absolutePath(), where.inSharedTemporaryDirectory);
    const int descriptor = openLockFile(where.lockFile);
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(descriptor);
        if (error == EWOULDBLOCK || error == EAGAIN) {
            throw SingleInstanceLockError::alreadyRunning();
        }
        throw SingleInstanceLockError::failedToLockFile(where.lockFile, error);
    }
    // A file an earlier version left readable by others is closed to them.
    closeToOtherUsers(descriptor);
    writeProcessIdentifier(descriptor);
    return std::unique_ptr<SingleInstanceLock>(new SingleInstanceLock(descriptor, where.lockFile));
}

}  // namespace tavrolin
