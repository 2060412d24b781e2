// The zip module: archives written with libzip.
#include "platform/linux/engine_module_entries.h"
#include "platform/zip_archive_writer.h"

#include <QFile>

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

class LibzipArchiveWriter final : public ZipArchiveWriter {
public:
    std::optional<QString> write(const QString& destination,
                                 const std::vector<ZipArchiveEntry>& entries) const override {
        const QByteArray path = QFile::encodeName(destination);
        int errorCode = 0;
        // libzip writes a temporary file beside the destination and renames it into place when
        // the archive is closed: a file there is replaced only by a complete archive.
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
};

}  // namespace

}  // namespace tavrolin

tavrolin::ZipArchiveWriter* tavrolin_zip_make_writer() {
    return new tavrolin::LibzipArchiveWriter();
}
