// The zip module: archives written with libzip.
#include "platform/linux/engine_module_entries.h"
#include "platform/zip_archive_writer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <zip.h>

namespace tavrolin {

namespace {

QString archiveError(zip_t* archive) {
    return QString::fromUtf8(zip_strerror(archive));
}

// Adds one entry; the reason when libzip refuses it.
std::optional<QString> add(zip_t* archive, const ZipArchiveEntry& entry) {
    const QByteArray name = entry.name.toUtf8();
    if (entry.filePath.isEmpty()) {
        if (zip_dir_add(archive, name.constData(), ZIP_FL_ENC_UTF_8) < 0) {
            return archiveError(archive);
        }
        return std::nullopt;
    }
    const QByteArray path = QFile::encodeName(entry.filePath);
    zip_source_t* source = zip_source_file(archive, path.constData(), 0, -1);
    if (source == nullptr) {
        return archiveError(archive);
    }
    if (zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
        zip_source_free(source);
        return archiveError(archive);
    }
    return std::nullopt;
}

QString systemError(int number) {
    return QString::fromLocal8Bit(std::strerror(number));
}

// Writes `entries` into a new archive at `path`; the reason when it cannot.
std::optional<QString> writeArchive(const QByteArray& path, const std::vector<ZipArchiveEntry>& entries) {
    int errorCode = 0;
    zip_t* archive = zip_open(path.constData(), ZIP_CREATE | ZIP_TRUNCATE, &errorCode);
    if (archive == nullptr) {
        zip_error_t error;
        zip_error_init_with_code(&error, errorCode);
        const QString reason = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        return reason;
    }
    for (const ZipArchiveEntry& entry : entries) {
        if (auto failure = add(archive, entry)) {
            zip_discard(archive);
            return failure;
        }
    }
    if (zip_close(archive) != 0) {
        const QString reason = archiveError(archive);
        zip_discard(archive);
        return reason;
    }
    return std::nullopt;
}

// Removes the private folder and whatever is left in it when the write ends.
class PrivateFolderRemoval {
public:
    explicit PrivateFolderRemoval(QString path) : path_(std::move(path)) {}
    ~PrivateFolderRemoval() { QDir(path_).removeRecursively(); }
    PrivateFolderRemoval(const PrivateFolderRemoval&) = delete;
    PrivateFolderRemoval& operator=(const PrivateFolderRemoval&) = delete;

private:
    QString path_;
};

class LibzipArchiveWriter final : public ZipArchiveWriter {
public:
    std::optional<QString> write(const QString& destination,
                                 const std::vector<ZipArchiveEntry>& entries) const override {
        // libzip makes its file with the mode of the file it replaces, or 0666 less the umask, and
        // renames it into place when the archive is closed. So it writes into a folder of our own
        // beside the destination (0700, on the same file system), where no one else can open the
        // archive whatever its mode; the complete archive is made 0600 there and only then renamed
        // over the destination: a file there is replaced only by a complete archive, and the
        // archive is never open to others.
        const QFileInfo target(destination);
        QByteArray folder =
            QFile::encodeName(target.absoluteDir().filePath(QLatin1Char('.') + target.fileName())) + ".XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) {
            return QStringLiteral("cannot create a folder beside the archive: ") + systemError(errno);
        }
        const PrivateFolderRemoval removal(QFile::decodeName(folder));
        const QByteArray inside = folder + "/archive.zip";
        if (auto failure = writeArchive(inside, entries)) {
            return failure;
        }
        // libzip writes no file for an archive without entries: nothing to put in place.
        if (entries.empty()) {
            return std::nullopt;
        }
        if (::chmod(inside.constData(), S_IRUSR | S_IWUSR) != 0 ||
            std::rename(inside.constData(), QFile::encodeName(destination).constData()) != 0) {
            return QStringLiteral("cannot put the archive in place: ") + systemError(errno);
        }
        return std::nullopt;
    }
};

}  // namespace

}  // namespace tavrolin

tavrolin::ZipArchiveWriter* tavrolin_zip_make_writer() {
    return new tavrolin::LibzipArchiveWriter();
}
