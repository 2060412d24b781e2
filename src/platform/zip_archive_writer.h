#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

// One entry of a zip archive.
struct ZipArchiveEntry {
    // The path inside the archive, "/"-separated, stored as UTF-8; a folder's ends in "/".
    QString name;
    // The file whose bytes the entry holds; empty for a folder.
    QString filePath;

    bool operator==(const ZipArchiveEntry&) const = default;
};

// Writes zip archives. Thread-safe; a write blocks its caller until the archive is complete.
class ZipArchiveWriter {
public:
    virtual ~ZipArchiveWriter() = default;

    // Writes `entries`, in their order, into a new archive at `destination`. A file already there
    // is replaced only by a complete archive: on failure it is left as it was. The archive is
    // readable and writable by its owner alone (0600) from the moment it can be opened at all,
    // whatever the umask or the mode of the file it replaces. None on success, else a readable
    // reason.
    virtual std::optional<QString> write(const QString& destination,
                                         const std::vector<ZipArchiveEntry>& entries) const = 0;
};

}  // namespace tavrolin
