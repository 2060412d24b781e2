#include "platform/desktop_backend.h"
#include "platform/linux/thread_cpu_clock_scope.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <hunspell/hunspell.hxx>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavrolin {

namespace {

// Hunspell's constructor and destructor update a process-wide table, shared by all instances,
// without a lock: instances are made and destroyed one at a time, whoever owns them.
std::mutex& hunspellLifetimeLock() {
    static std::mutex lock;
    return lock;
}

struct HunspellDeleter {
    void operator()(Hunspell* hunspell) const {
        std::lock_guard guard(hunspellLifetimeLock());
        delete hunspell;
    }
};

// One Hunspell instance with its text converters. Every Hunspell call is made inside a
// ThreadCpuClockScope, so that its time-bounded suggestion search is charged only its own work.
class HunspellSpellingDictionary final : public SpellingDictionary {
public:
    static std::unique_ptr<HunspellSpellingDictionary> load(const QByteArray& aff, const QByteArray& dic) {
        auto engine = std::unique_ptr<HunspellSpellingDictionary>(new HunspellSpellingDictionary);
        {
            std::lock_guard guard(hunspellLifetimeLock());
            engine->hunspell_.reset(new Hunspell(aff.constData(), dic.constData()));
        }
        const char* encodingName = engine->hunspell_->get_dic_encoding();
        const QByteArray encoding = encodingName ? QByteArray(encodingName) : QByteArray("ISO8859-1");
        engine->encoder_ = QStringEncoder(encoding.constData());
        engine->decoder_ = QStringDecoder(encoding.constData());
        if (!engine->encoder_.isValid() || !engine->decoder_.isValid()) {
            return nullptr;  // an encoding this build cannot convert: unusable
        }
        return engine;
    }

    bool isCorrect(const QString& word) override {
        const auto encoded = encode(word);
        if (!encoded) {
            return true;
        }
        const ThreadCpuClockScope chargedToThisThread;
        return hunspell_->spell(*encoded);
    }

    QStringList suggestions(const QString& word) override {
        QStringList result;
        const auto encoded = encode(word);
        if (!encoded) {
            return result;
        }
        std::vector<std::string> suggested;
        {
            const ThreadCpuClockScope chargedToThisThread;
            suggested = hunspell_->suggest(*encoded);
        }
        for (const std::string& suggestion : suggested) {
            QString decoded = decoder_.decode(QByteArrayView(suggestion.data(), qsizetype(suggestion.size())));
            if (!decoder_.hasError() && !decoded.isEmpty()) {
                result.append(decoded);
            }
            decoder_.resetState();
        }
        return result;
    }

private:
    HunspellSpellingDictionary() = default;

    std::optional<std::string> encode(const QString& word) {
        QByteArray bytes = encoder_.encode(word);
        const bool failed = encoder_.hasError();
        encoder_.resetState();
        if (failed) {
            return std::nullopt;
        }
        return bytes.toStdString();
    }

    std::unique_ptr<Hunspell, HunspellDeleter> hunspell_;
    QStringEncoder encoder_;
    QStringDecoder decoder_;
};

}  // namespace

std::unique_ptr<SpellingDictionary> loadSystemSpellingDictionary(const QByteArray& affixPath,
                                                                 const QByteArray& dictionaryPath) {
    return HunspellSpellingDictionary::load(affixPath, dictionaryPath);
}

}  // namespace tavrolin
