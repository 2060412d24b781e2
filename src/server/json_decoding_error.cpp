#include "server/json_decoding_error.h"

namespace tavrolin {

namespace {

std::string describe(JsonDecodingError::Kind kind, const QString& key, const QString& detail) {
    QString text = QString::fromLatin1(JsonDecodingError::kindName(kind));
    if (!key.isEmpty()) {
        text += QStringLiteral(" at \"%1\"").arg(key);
    }
    if (!detail.isEmpty()) {
        text += QStringLiteral(": ") + detail;
    }
    return text.toStdString();
}

}  // namespace

JsonDecodingError::JsonDecodingError(Kind kind, QString key, const QString& detail)
    : std::runtime_error(describe(kind, key, detail)), kind_(kind), key_(std::move(key)) {}

const char* JsonDecodingError::kindName(Kind kind) {
    switch (kind) {
    case Kind::dataCorrupted:
        return "dataCorrupted";
    case Kind::keyNotFound:
        return "keyNotFound";
    case Kind::valueNotFound:
        return "valueNotFound";
    case Kind::typeMismatch:
        return "typeMismatch";
    }
    return "dataCorrupted";
}

}  // namespace tavrolin
