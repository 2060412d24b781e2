#include "platform/linux/engine_module.h"

#include "core/program_files.h"

#include <QByteArrayView>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrolin {

namespace {

QString dlopenFailure() {
    const char* reason = dlerror();
    return reason != nullptr ? QString::fromLocal8Bit(reason) : QStringLiteral("unknown failure");
}

QString systemError(int number) {
    return QString::fromLocal8Bit(std::strerror(number));
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

ProgramFolders ProgramFolders::forExecutableIn(const QString& executableFolder, const QString& identity) {
    if (!QDir::isAbsolutePath(executableFolder)) {
        return {};
    }
    if (const auto build = enclosingBuildFolder(executableFolder, identity)) {
        return {QDir::cleanPath(*build + QStringLiteral("/" TAVROLIN_MODULES_IN_BUILD)),
                QDir::cleanPath(*build + QStringLiteral("/" TAVROLIN_HELPERS_IN_BUILD))};
    }
    const QString start = QDir::cleanPath(executableFolder);
    return {QDir::cleanPath(start + QStringLiteral("/" TAVROLIN_MODULES_FROM_BIN)),
            QDir::cleanPath(start + QStringLiteral("/" TAVROLIN_HELPERS_FROM_BIN))};
}

ProgramFolders ProgramFolders::ofRunningProgram() {
    return forExecutableIn(runningExecutableFolder());
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
