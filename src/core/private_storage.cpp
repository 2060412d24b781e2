#include "core/private_storage.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrolin {

namespace {

constexpr mode_t kOthers = S_IRWXG | S_IRWXO;

bool isOursAndOpen(const struct stat& info) {
    const bool shared = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0;
    return info.st_uid == ::geteuid() && !shared && (info.st_mode & kOthers) != 0;
}

}  // namespace

void closeToOtherUsers(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::stat(native.constData(), &info) == 0 && isOursAndOpen(info)) {
        ::chmod(native.constData(), info.st_mode & 07777 & ~kOthers);
    }
}

void closeToOtherUsers(int descriptor) {
    struct stat info {};
    if (::fstat(descriptor, &info) == 0 && isOursAndOpen(info)) {
        ::fchmod(descriptor, info.st_mode & 07777 & ~kOthers);
    }
}

int makePrivateFolder(const QString& folder) {
    const QByteArray native = QFile::encodeName(QDir::cleanPath(folder));
    std::string partial;
    for (qsizetype i = 0; i <= native.size(); ++i) {
        if (i == native.size() || (native[i] == '/' && i > 0)) {
            partial.assign(native.constData(), static_cast<std::size_t>(i));
            if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
                return errno;
            }
        }
    }
    struct stat info {};
    if (::stat(native.constData(), &info) != 0) {
        return errno;
    }
    if (!S_ISDIR(info.st_mode)) {
        return ENOTDIR;
    }
    closeToOtherUsers(folder);
    return 0;
}

}  // namespace tavrolin
