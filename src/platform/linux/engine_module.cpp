#include "platform/linux/engine_module.h"

#include <QByteArrayView>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tavrolin {

namespace {

QString dlopenFailure() {
    const char* reason = dlerror();
    return reason != nullptr ? QString::fromLocal8Bit(reason) : QStringLiteral("unknown failure");
}

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
    QFile file(QDir(folder).filePath(QStringLiteral(TAVROLIN_BUILD_IDENTITY_FILE_NAME)));
    return file.open(QIODevice::ReadOnly) && file.read(256).trimmed() == identity.toLatin1();
}

// The seal the build appends to each module (cmake/SealModule.cmake): its last line,
// "#tavrolin-module-seal build=<identity> size=<bytes before the line> blake2b-256=<digest>".
constexpr QByteArrayView kSealStart = "\n#tavrolin-module-seal ";
constexpr qsizetype kLongestSeal = 512;
// Far more than any module; a larger file is not one, and is not read whole.
constexpr qint64 kLargestModule = qint64(1) << 28;

// Why `content` is not a module sealed by the build of `identity`, or nothing.
std::optional<QString> sealProblem(const QByteArray& content, const QString& identity) {
    const qsizetype tail = std::min(content.size(), kLongestSeal);
    const qsizetype inTail = QByteArrayView(content).last(tail).lastIndexOf(kSealStart);
    if (!content.endsWith('\n') || inTail < 0) {
        return QStringLiteral("is damaged or not a module: it carries no build seal");
    }
    const qsizetype sealAt = content.size() - tail + inTail;
    QByteArray build;
    QByteArray size;
    QByteArray digest;
    const QByteArray seal = content.mid(sealAt + kSealStart.size(), content.size() - sealAt - kSealStart.size() - 1);
    for (const QByteArray& field : seal.split(' ')) {
        if (field.startsWith("build=")) {
            build = field.mid(6);
        } else if (field.startsWith("size=")) {
            size = field.mid(5);
        } else if (field.startsWith("blake2b-256=")) {
            digest = field.mid(12);
        }
    }
    if (build != identity.toLatin1()) {
        return QStringLiteral("belongs to another build of the program");
    }
    bool isNumber = false;
    if (size.toLongLong(&isNumber) != sealAt || !isNumber) {
        return QStringLiteral("is damaged: %1 bytes where its seal says %2").arg(sealAt).arg(QString::fromLatin1(size));
    }
    const QByteArray actual =
        QCryptographicHash::hash(QByteArrayView(content).first(sealAt), QCryptographicHash::Blake2b_256).toHex();
    if (actual != digest) {
        return QStringLiteral("is damaged: its content does not match its seal");
    }
    return std::nullopt;
}

// The whole of the regular file open as `fd`; nothing, with the reason in `error`, when it cannot
// be read whole.
std::optional<QByteArray> readWhole(int fd, QString& error) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        error = QStringLiteral("cannot be read: ") + systemError(errno);
        return std::nullopt;
    }
    if (info.st_size > kLargestModule) {
        error = QStringLiteral("is too large to be a module");
        return std::nullopt;
    }
    QByteArray content(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t got = ::read(fd, content.data() + done, size_t(content.size() - done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            error = got < 0 ? QStringLiteral("cannot be read: ") + systemError(errno)
                            : QStringLiteral("is damaged: it changed while it was read");
            return std::nullopt;
        }
        done += got;
    }
    return content;
}

// Maps the module at `path` once it is shown to be this build's and unchanged, or null with the
// reason in `error`. What is mapped is the very file that was checked: it is opened through the
// descriptor that was read, so a file put in its place meanwhile is not the one loaded.
void* openSealedModule(const QString& path, QString& error) {
    const int fd = openTrustedFile(path, error);
    if (fd < 0) {
        return nullptr;
    }
    QString problem;
    const std::optional<QByteArray> content = readWhole(fd, problem);
    if (!problem.isEmpty() || !content) {
        error = path + u' ' + problem;
        ::close(fd);
        return nullptr;
    }
    if (const auto sealed = sealProblem(*content, buildIdentity())) {
        error = path + u' ' + *sealed;
        ::close(fd);
        return nullptr;
    }
    const QByteArray byDescriptor = "/proc/self/fd/" + QByteArray::number(fd);
    void* handle = dlopen(byDescriptor.constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        error = dlopenFailure().replace(QString::fromLatin1(byDescriptor), path);
        ::close(fd);
        return nullptr;
    }
    // The descriptor stays open with the module, for the life of the process: the loader knows
    // the module by this name, which a later descriptor of the same number would otherwise take.
    return handle;
}

}  // namespace

QString buildIdentity() {
    return QStringLiteral(TAVROLIN_BUILD_IDENTITY);
}

ProgramFolders ProgramFolders::forExecutableIn(const QString& executableFolder, const QString& identity) {
    if (!QDir::isAbsolutePath(executableFolder)) {
        return {};
    }
    const QString start = QDir::cleanPath(executableFolder);
    for (QString folder = start;; folder = QFileInfo(folder).path()) {
        if (holdsBuildIdentity(folder, identity)) {
            return {QDir::cleanPath(folder + QStringLiteral("/" TAVROLIN_MODULES_IN_BUILD)),
                    QDir::cleanPath(folder + QStringLiteral("/" TAVROLIN_HELPERS_IN_BUILD))};
        }
        if (folder == u"/") {
            break;
        }
    }
    return {QDir::cleanPath(start + QStringLiteral("/" TAVROLIN_MODULES_FROM_BIN)),
            QDir::cleanPath(start + QStringLiteral("/" TAVROLIN_HELPERS_FROM_BIN))};
}

ProgramFolders ProgramFolders::ofRunningProgram() {
    return forExecutableIn(runningExecutableFolder());
}

QString runningExecutableFolder() {
    const QString executable = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    return executable.isEmpty() ? QString() : QFileInfo(executable).absolutePath();
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

EngineModule::EngineModule(QString name, QString folder)
    : fileName_(QStringLiteral("libtavrolin-%1.so").arg(name)), folder_(std::move(folder)) {
    if (folder_.isEmpty()) {
        folder_ = ProgramFolders::ofRunningProgram().modules;
    }
}

void* EngineModule::entry(const char* entry, QString& error) {
    std::lock_guard lock(mutex_);
    if (handle_ == nullptr) {
        const QString path = QDir(folder_).filePath(fileName_);
        if (!QDir::isAbsolutePath(folder_) || !QFileInfo::exists(path)) {
            error = QStringLiteral("%1 is not installed (looked in %2)").arg(fileName_, folder_);
            return nullptr;
        }
        handle_ = openSealedModule(path, error);
        if (handle_ == nullptr) {
            return nullptr;
        }
    }
    dlerror();
    void* address = dlsym(handle_, entry);
    if (address == nullptr) {
        error = dlopenFailure();
    }
    return address;
}

}  // namespace tavrolin
