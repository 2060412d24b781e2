#include "core/program_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
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

namespace {

// The most symbolic links one walk follows, as the kernel's own limit (ELOOP).
constexpr int maximumLinksFollowed = 40;

// The walk of openTrustedFile: from "/" down, one name at a time, each opened from the folder
// before it without following links, and judged as it is opened. A symbolic link is judged
// before it is followed, as the kernel's protected links rule does in folders writable by all:
// one of another user than this one and root could be pointed anywhere at any moment, so
// nothing reached through it is trusted, whatever it points at now.
class TrustedWalk {
public:
    explicit TrustedWalk(QString path) : path_(std::move(path)) {}
    ~TrustedWalk() {
        if (current_ >= 0) {
            ::close(current_);
        }
    }
    TrustedWalk(const TrustedWalk&) = delete;
    TrustedWalk& operator=(const TrustedWalk&) = delete;

    int open(QString& error);

private:
    bool restartAtRoot();
    // The file the walk ended at, opened for reading.
    int openJudgedFile(QString& error);
    bool refused(int fd, const QString& walked, bool isLink);
    // Reads the link `fd` and puts its names in front of the names still to walk.
    bool follow(int fd, const QString& walked);

    QString path_;
    QStringList pending_;
    QStringList walked_;  // the folders from "/" to current_
    int current_ = -1;
    int links_ = 0;
    QString error_;
};

bool TrustedWalk::restartAtRoot() {
    if (current_ >= 0) {
        ::close(current_);
    }
    walked_.clear();
    current_ = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (current_ < 0) {
        error_ = QStringLiteral("/ cannot be opened: %1").arg(systemError(errno));
        return false;
    }
    return !refused(current_, QStringLiteral("/"), false);
}

bool TrustedWalk::refused(int fd, const QString& walked, bool isLink) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        error_ = QStringLiteral("%1 cannot be checked: %2").arg(walked, systemError(errno));
        return true;
    }
    // A link's own mode means nothing (always rwx for all): only whose it is counts.
    if (isLink && info.st_uid != geteuid() && info.st_uid != 0) {
        error_ = QStringLiteral("%1 is refused: %2 is a link of another user").arg(path_, walked);
        return true;
    }
    if (const auto reason = isLink ? std::nullopt : changeableByOthers(info)) {
        error_ = QStringLiteral("%1 is refused: %2 %3").arg(path_, walked, *reason);
        return true;
    }
    return false;
}

bool TrustedWalk::follow(int fd, const QString& walked) {
    if (refused(fd, walked, true)) {
        return false;
    }
    if (++links_ > maximumLinksFollowed) {
        error_ = QStringLiteral("%1 cannot be opened: %2").arg(path_, systemError(ELOOP));
        return false;
    }
    std::vector<char> target(PATH_MAX + 1);
    const ssize_t length = ::readlinkat(fd, "", target.data(), target.size());
    if (length < 0 || length > PATH_MAX) {
        error_ = QStringLiteral("%1 cannot be read: %2").arg(walked, systemError(length < 0 ? errno : ENAMETOOLONG));
        return false;
    }
    const QString to = QFile::decodeName(QByteArray(target.data(), length));
    pending_ = to.split(u'/', Qt::SkipEmptyParts) + pending_;
    return !to.startsWith(u'/') || restartAtRoot();
}

int TrustedWalk::openJudgedFile(QString& error) {
    struct stat judged {};
    if (fstat(current_, &judged) != 0 || !S_ISREG(judged.st_mode)) {
        error = QStringLiteral("%1 is not a file").arg(path_);
        return -1;
    }
    // Opened again through the descriptor of the walk, so it is the very file judged.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(current_);
    const int fd = ::open(self.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("%1 cannot be opened: %2").arg(path_, systemError(errno));
    }
    return fd;
}

int TrustedWalk::open(QString& error) {
    const QString absolute = QDir::isAbsolutePath(path_) ? path_ : QDir::currentPath() + u'/' + path_;
    pending_ = absolute.split(u'/', Qt::SkipEmptyParts);
    bool walking = restartAtRoot();
    while (walking && !pending_.isEmpty()) {
        const QString name = pending_.takeFirst();
        if (name == u".") {
            continue;
        }
        // Up from a folder reached from "/" name by name: its parent was judged on the way down.
        const bool up = name == u"..";
        const QString walked = QDir::cleanPath(u'/' + walked_.join(u'/') + u'/' + name);
        const int next = ::openat(current_, QFile::encodeName(name).constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            error_ = QStringLiteral("%1 cannot be opened: %2").arg(walked, systemError(errno));
            break;
        }
        struct stat info {};
        if (fstat(next, &info) == 0 && S_ISLNK(info.st_mode)) {
            walking = follow(next, walked);
            ::close(next);
            continue;
        }
        ::close(current_);
        current_ = next;
        if (up) {
            if (!walked_.isEmpty()) {
                walked_.removeLast();
            }
            continue;
        }
        walked_.append(name);
        walking = !refused(current_, walked, false);
    }
    if (!walking) {
        error = error_;
        return -1;
    }
    return openJudgedFile(error);
}

}  // namespace

int openTrustedFile(const QString& path, QString& error) {
    return TrustedWalk(path).open(error);
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
