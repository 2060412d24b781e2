#include "core/program_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tavrolin {

namespace {

QString systemError(int number) {
    return QString::fromLocal8Bit(std::strerror(number));
}

// Whether no other user can be in group `gid`: it is this user's own group, named after the user
// and listing no members, as the user private groups of a umask of 002 are.
bool isOwnPrivateGroup(gid_t gid) {
    if (gid != getegid()) {
        return false;
    }
    std::vector<char> userBuffer(16384);
    std::vector<char> groupBuffer(16384);
    struct passwd user {};
    struct group group {};
    struct passwd* foundUser = nullptr;
    struct group* foundGroup = nullptr;
    if (getpwuid_r(geteuid(), &user, userBuffer.data(), userBuffer.size(), &foundUser) != 0 || foundUser == nullptr ||
        getgrgid_r(gid, &group, groupBuffer.data(), groupBuffer.size(), &foundGroup) != 0 || foundGroup == nullptr) {
        return false;
    }
    return std::strcmp(user.pw_name, group.gr_name) == 0 && (group.gr_mem == nullptr || group.gr_mem[0] == nullptr);
}

// Why another user than this one and root could change `info`'s file, or nothing.
std::optional<QString> changeableByOthers(const struct stat& info) {
    if (info.st_uid != geteuid() && info.st_uid != 0) {
        return QStringLiteral("belongs to another user");
    }
    // A folder with the sticky bit lets others add files, never rename or remove ours.
    if (S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0) {
        return std::nullopt;
    }
    if ((info.st_mode & S_IWOTH) != 0 || ((info.st_mode & S_IWGRP) != 0 && !isOwnPrivateGroup(info.st_gid))) {
        return QStringLiteral("is writable by other users");
    }
    return std::nullopt;
}

// Whether `folder` is the top of a build folder of `identity`.
bool holdsBuildIdentity(const QString& folder, const QString& identity) {
    QString ignored;
    const auto content =
        readTrustedFile(QDir(folder).filePath(QStringLiteral(TAVROLIN_BUILD_IDENTITY_FILE_NAME)), 256, ignored);
    return content && content->trimmed() == identity.toLatin1();
}

}  // namespace

QString buildIdentity() {
    return QStringLiteral(TAVROLIN_BUILD_IDENTITY);
}

QString runningExecutableFolder() {
    const QString executable = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    return executable.isEmpty() ? QString() : QFileInfo(executable).absolutePath();
}

std::optional<QString> enclosingBuildFolder(const QString& executableFolder, const QString& identity) {
    if (!QDir::isAbsolutePath(executableFolder)) {
        return std::nullopt;
    }
    for (QString folder = QDir::cleanPath(executableFolder);; folder = QFileInfo(folder).path()) {
        if (holdsBuildIdentity(folder, identity)) {
            return folder;
        }
        if (folder == u"/") {
            return std::nullopt;
        }
    }
}

int openTrustedFile(const QString& path, QString& error) {
    const QString resolved = QFileInfo(path).canonicalFilePath();
    if (resolved.isEmpty()) {
        error = QStringLiteral("%1 does not exist").arg(path);
        return -1;
    }
    // Each folder is opened from the one before it, without following links, and checked as it
    // is opened: the checks hold for the file finally opened, whatever is renamed meanwhile.
    const QStringList names = resolved.split(u'/', Qt::SkipEmptyParts);
    int current = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    QString walked = QStringLiteral("/");
    for (qsizetype index = 0; current >= 0; ++index) {
        struct stat info {};
        if (fstat(current, &info) != 0) {
            error = QStringLiteral("%1 cannot be checked: %2").arg(walked, systemError(errno));
            break;
        }
        if (const auto reason = changeableByOthers(info)) {
            error = QStringLiteral("%1 is refused: %2 %3").arg(path, walked, *reason);
            break;
        }
        if (index == names.size()) {
            if (!S_ISREG(info.st_mode)) {
                error = QStringLiteral("%1 is not a file").arg(path);
                break;
            }
            return current;
        }
        const bool last = index + 1 == names.size();
        const int flags =
            last ? O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        const int next = ::openat(current, QFile::encodeName(names[index]).constData(), flags);
        const int openError = errno;
        ::close(current);
        current = next;
        walked = QDir::cleanPath(walked + u'/' + names[index]);
        if (current < 0) {
            error = QStringLiteral("%1 cannot be opened: %2").arg(walked, systemError(openError));
            return -1;
        }
    }
    if (current >= 0) {
        ::close(current);
    }
    if (error.isEmpty()) {
        error = QStringLiteral("/ cannot be opened: %1").arg(systemError(errno));
    }
    return -1;
}

std::optional<QByteArray> readTrustedFile(const QString& path, qint64 maximumBytes, QString& error) {
    const int fd = openTrustedFile(path, error);
    if (fd < 0) {
        return std::nullopt;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return file.read(maximumBytes);
}

}  // namespace tavrolin
