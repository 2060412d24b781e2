#include "core/device_identifier.h"

#include "core/standard_defaults.h"

namespace tavrolin {

QString DeviceIdentifierResolution::idText() const {
    return DeviceIdentifier::canonicalText(id);
}

DeviceIdentifier::DeviceIdentifier(DefaultsStore& defaults) : defaults_(defaults) {}

DeviceIdentifier& DeviceIdentifier::shared() {
    static DeviceIdentifier instance(standardDefaults());
    return instance;
}

DeviceIdentifierResolution DeviceIdentifier::currentResolution() {
    std::lock_guard lock(mutex_);
    if (cachedID_) {
        return {*cachedID_, false};
    }
    const DeviceIdentifierResolution resolution = resolveOrCreate();
    cachedID_ = resolution.id;
    return resolution;
}

DeviceIdentifierResolution DeviceIdentifier::resolveOrCreate() {
    const auto stored = defaults_.rawValue(defaultsKey);
    if (stored && stored->isString()) {
        if (const auto id = parse(stored->toString())) {
            return {*id, false};
        }
    }
    const QUuid created = QUuid::createUuid();
    defaults_.setString(defaultsKey, canonicalText(created));
    return {created, true};
}

QString DeviceIdentifier::canonicalText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> DeviceIdentifier::parse(const QString& text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (hyphenPlace ? c != u'-' : !hex) {
            return std::nullopt;
        }
    }
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != QStringLiteral("00000000-0000-0000-0000-000000000000")) {
        return std::nullopt;
    }
    return id;
}

}  // namespace tavrolin
