#pragma once

#include <QCoroTask>
#include <QString>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrolin {

// Whether the device can translate a language pair.
enum class OnDeviceTranslationStatus {
    installed,    // the pair's language data is installed: it translates now
    supported,    // the pair's language data exists for this system but is not installed
    unsupported,  // no language data for the pair, or no engine at all
};

struct OnDeviceTranslationRequest {
    QString sourceText;
    QString clientIdentifier;
};

struct OnDeviceTranslationResponse {
    // The identifier of the request it answers; none when the engine could not tell.
    std::optional<QString> clientIdentifier;
    QString targetText;

    bool operator==(const OnDeviceTranslationResponse&) const = default;
};

// A failed translation on the device. What the user reads (what()) names neither the engine nor
// how it works; the engine's own account of the failure is detail(), for the log.
class OnDeviceTranslationError : public std::runtime_error {
public:
    enum class Kind {
        engineMissing,     // the translation engine is not installed
        pairNotInstalled,  // no installed language data for the pair
        failed,            // the engine ran and failed
        timedOut,          // the engine did not answer in time and was stopped
    };

    static constexpr const char* userMessage =
        "Tavrolin could not translate the text on this computer.\n\nTry again in a moment.";

    OnDeviceTranslationError(Kind kind, const std::string& detail)
        : std::runtime_error(userMessage), kind_(kind), detail_(detail) {}

    Kind kind() const { return kind_; }
    const std::string& detail() const { return detail_; }

private:
    Kind kind_;
    std::string detail_;
};

// Translation on the device. Languages are identifiers as language recognition reports them
// and as AppLanguage codes are written ("en", "es", "ru", "zh"). Calls keep no state between
// them and may run side by side.
class OnDeviceTranslationEngine {
public:
    virtual ~OnDeviceTranslationEngine() = default;

    // Never fails.
    virtual QCoro::Task<OnDeviceTranslationStatus> status(QString source, QString target) = 0;

    // Translates every request of one call together. The responses may come in any order and
    // may miss requests; failures throw OnDeviceTranslationError.
    virtual QCoro::Task<std::vector<OnDeviceTranslationResponse>> translate(
        QString source, QString target, std::vector<OnDeviceTranslationRequest> requests) = 0;

    // Starts, without waiting for it, what translating the pair needs, so that a call that comes
    // soon does not wait for the engine to load. Never fails: a pair that cannot be translated is
    // left to the call to report. An engine with nothing to load does nothing.
    virtual void prepare(QString source, QString target) {
        (void)source;
        (void)target;
    }
};

}  // namespace tavrolin
