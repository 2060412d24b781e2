#pragma once

#include <QString>

#include <stdexcept>
#include <string>

namespace tavrolin {

// A JSON body that does not have the shape a record expects. The kinds follow the usual
// decoder vocabulary so log lines say what went wrong and where ("build", "releaseNotesUrl").
class JsonDecodingError final : public std::runtime_error {
public:
    enum class Kind {
        dataCorrupted,  // not JSON at all, or a value that cannot be converted (a bad URL)
        keyNotFound,    // a required key is missing
        valueNotFound,  // a required key holds null
        typeMismatch,   // a value of the wrong JSON type
    };

    JsonDecodingError(Kind kind, QString key, const QString& detail);

    Kind kind() const { return kind_; }
    // The key the failure is about; empty for the document as a whole.
    const QString& key() const { return key_; }

    static const char* kindName(Kind kind);

private:
    Kind kind_;
    QString key_;
};

}  // namespace tavrolin
