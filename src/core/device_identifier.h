#pragma once

#include "core/defaults_store.h"

#include <QString>
#include <QUuid>

#include <mutex>
#include <optional>

namespace tavrolin {

struct DeviceIdentifierResolution {
    QUuid id;
    // True when this very resolution generated the identifier and stored it.
    bool wasCreated = false;

    bool operator==(const DeviceIdentifierResolution&) const = default;

    // The canonical text callers send and show: 36 characters, upper-case hexadecimal.
    QString idText() const;
};

// The per-installation identifier, kept under the defaults key "deviceID". It is read (or
// created and stored) on the first resolution and cached for the rest of the process, so
// within one process at most one resolution reports it as created.
class DeviceIdentifier final {
public:
    static inline const QString defaultsKey = QStringLiteral("deviceID");

    explicit DeviceIdentifier(DefaultsStore& defaults);

    // The instance over the standard defaults that the whole application shares.
    static DeviceIdentifier& shared();

    // Callable from any thread; concurrent callers get the same identifier and at most one of
    // them sees wasCreated.
    DeviceIdentifierResolution currentResolution();

    // The canonical upper-case form of an identifier; parsing accepts the 36-character
    // hyphenated form with letters in either case, and nothing else.
    static QString canonicalText(const QUuid& id);
    static std::optional<QUuid> parse(const QString& text);

private:
    DeviceIdentifierResolution resolveOrCreate();

    DefaultsStore& defaults_;
    std::mutex mutex_;
    std::optional<QUuid> cachedID_;
};

}  // namespace tavrolin
