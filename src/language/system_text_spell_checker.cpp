#include "language/system_text_spell_checker.h"

#include "core/app_language.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextBoundaryFinder>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tavrolin {

namespace {

// Beyond this many cached words the cache starts afresh, so a long session stays small.
constexpr std::size_t maximumCachedWords = 4096;

bool containsLetter(QStringView word) {
    for (const char32_t codePoint : word.toUcs4()) {
        if (QChar::isLetter(codePoint)) {
            return true;
        }
    }
    return false;
}

// The language's own regional variants as dictionary names ("en" gives en_US, en_GB).
QStringList preferredRegionalVariants(const QString& code) {
    QStringList names;
    if (const auto language = fromRawValue<AppLanguage>(code)) {
        for (QString identifier : recognitionIdentifiers(*language)) {
            names << identifier.replace(QLatin1Char('-'), QLatin1Char('_'));
        }
    }
    return names;
}

// What identifies the dictionary files as they were loaded.
struct FileStamp {
    qint64 size = -1;
    QDateTime modified;

    static FileStamp of(const QString& path) {
        const QFileInfo info(path);
        return info.exists() ? FileStamp{info.size(), info.lastModified()} : FileStamp{};
    }
    bool operator==(const FileStamp&) const = default;
};

}  // namespace

// One language's dictionary: its pool of loaded instances and its suggestion cache.
class SystemTextSpellChecker::Dictionary {
public:
    static std::shared_ptr<Dictionary> load(const SpellingDictionaryLoader& loader, const QString& basePath,
                                            int instanceLimit) {
        auto dictionary = std::shared_ptr<Dictionary>(new Dictionary(loader, basePath, instanceLimit));
        auto engine = loader(dictionary->aff_, dictionary->dic_);
        if (!engine) {
            return nullptr;
        }
        dictionary->idle_.push_back(std::move(engine));
        dictionary->engineCount_ = 1;
        return dictionary;
    }

    bool isCorrect(const QString& word) { return acquire()->isCorrect(word); }

    QStringList suggestions(const QString& word) {
        if (auto cached = cachedSuggestions(word)) {
            return *cached;
        }
        QStringList result = acquire()->suggestions(word);
        remember(word, result);
        return result;
    }

    // Computes and caches the suggestions for the words not cached yet, on up to as many
    // threads as there may be instances (the calling thread being one of them). Fewer than two
    // such words are left to `suggestions`.
    void prepareSuggestions(const QStringList& words) {
        QStringList pending;
        QSet<QString> seen;
        {
            std::lock_guard guard(cacheLock_);
            for (const QString& word : words) {
                if (!cache_.contains(word) && !seen.contains(word)) {
                    seen.insert(word);
                    pending.append(word);
                }
            }
        }
        if (pending.size() < 2 || instanceLimit_ < 2) {
            return;
        }
        std::atomic<qsizetype> next = 0;
        const auto work = [&](Lease engine) {
            for (qsizetype i = next++; i < pending.size(); i = next++) {
                if (!cachedSuggestions(pending[i])) {
                    remember(pending[i], engine->suggestions(pending[i]));
                }
            }
        };
        // The calling thread takes a free instance if there is one; helpers take another free
        // one or load a new one, and give up when neither is possible. A helper that fails
        // leaves its word to `suggestions`. The calling thread waits for an instance if need be.
        Lease own = tryAcquire();
        const qsizetype helperCount = std::min<qsizetype>(instanceLimit_, pending.size()) - 1;
        std::vector<std::jthread> helpers;
        for (qsizetype i = 0; i < helperCount; ++i) {
            try {
                helpers.emplace_back([&] {
                    try {
                        if (Lease engine = tryAcquireOrLoad()) {
                            work(std::move(engine));
                        }
                    } catch (...) {
                    }
                });
            } catch (const std::system_error&) {
                break;  // no more threads: fewer helpers
            }
        }
        if (!own) {
            own = tryAcquireOrLoad();
        }
        work(own ? std::move(own) : acquire());
    }

    int instanceCount() {
        std::lock_guard guard(poolLock_);
        return engineCount_;
    }

private:
    // An instance taken from the pool for the lease's lifetime.
    class Lease {
    public:
        Lease() = default;
        Lease(Dictionary* owner, std::unique_ptr<SpellingDictionary> engine)
            : owner_(owner), engine_(std::move(engine)) {}
        Lease(Lease&&) noexcept = default;
        Lease& operator=(Lease&& other) noexcept {
            if (this != &other) {
                if (engine_) {
                    owner_->release(std::move(engine_));
                }
                owner_ = other.owner_;
                engine_ = std::move(other.engine_);
            }
            return *this;
        }
        ~Lease() {
            if (engine_) {
                owner_->release(std::move(engine_));
            }
        }
        explicit operator bool() const { return engine_ != nullptr; }
        SpellingDictionary* operator->() const { return engine_.get(); }

    private:
        Dictionary* owner_ = nullptr;
        std::unique_ptr<SpellingDictionary> engine_;
    };

    Dictionary(SpellingDictionaryLoader loader, const QString& basePath, int instanceLimit)
        : loader_(std::move(loader)),
          aff_(QFile::encodeName(basePath + QStringLiteral(".aff"))),
          dic_(QFile::encodeName(basePath + QStringLiteral(".dic"))),
          affStamp_(FileStamp::of(basePath + QStringLiteral(".aff"))),
          dicStamp_(FileStamp::of(basePath + QStringLiteral(".dic"))),
          instanceLimit_(std::max(instanceLimit, 1)) {}

    // Any instance, waiting for one to be free.
    Lease acquire() {
        std::unique_lock lock(poolLock_);
        engineReturned_.wait(lock, [this] { return !idle_.empty(); });
        return takeIdle();
    }

    // A free instance, else none.
    Lease tryAcquire() {
        std::lock_guard guard(poolLock_);
        return idle_.empty() ? Lease() : takeIdle();
    }

    // A free instance, else a new one while the pool may grow, else none.
    Lease tryAcquireOrLoad() {
        {
            std::lock_guard guard(poolLock_);
            if (!idle_.empty()) {
                return takeIdle();
            }
            if (engineCount_ >= instanceLimit_) {
                return {};
            }
            ++engineCount_;
        }
        std::unique_ptr<SpellingDictionary> engine;
        // Another instance must answer as the first does: not if the files changed since then
        // (a package update or removal), as the first still has the old ones.
        if (FileStamp::of(QFile::decodeName(aff_)) == affStamp_ &&
            FileStamp::of(QFile::decodeName(dic_)) == dicStamp_) {
            try {
                engine = loader_(aff_, dic_);
            } catch (...) {
            }
        }
        if (!engine) {
            std::lock_guard guard(poolLock_);
            --engineCount_;
            return {};
        }
        return Lease(this, std::move(engine));
    }

    Lease takeIdle() {
        std::unique_ptr<SpellingDictionary> engine = std::move(idle_.back());
        idle_.pop_back();
        return Lease(this, std::move(engine));
    }

    void release(std::unique_ptr<SpellingDictionary> engine) {
        {
            std::lock_guard guard(poolLock_);
            idle_.push_back(std::move(engine));
        }
        engineReturned_.notify_one();
    }

    std::optional<QStringList> cachedSuggestions(const QString& word) {
        std::lock_guard guard(cacheLock_);
        if (const auto cached = cache_.find(word); cached != cache_.end()) {
            return cached->second;
        }
        return std::nullopt;
    }

    void remember(const QString& word, const QStringList& suggestions) {
        std::lock_guard guard(cacheLock_);
        if (cache_.size() >= maximumCachedWords) {
            cache_.clear();
        }
        cache_.insert_or_assign(word, suggestions);
    }

    const SpellingDictionaryLoader loader_;
    const QByteArray aff_;
    const QByteArray dic_;
    const FileStamp affStamp_;
    const FileStamp dicStamp_;
    const int instanceLimit_;

    std::mutex poolLock_;
    std::condition_variable engineReturned_;
    std::vector<std::unique_ptr<SpellingDictionary>> idle_;
    int engineCount_ = 0;  // idle, leased and being loaded

    std::mutex cacheLock_;
    std::unordered_map<QString, QStringList> cache_;
};

QStringList SystemTextSpellChecker::defaultDictionaryDirectories() {
    return {QStringLiteral("/usr/share/hunspell")};
}

int SystemTextSpellChecker::defaultInstancesPerLanguage() {
    return std::clamp(QThread::idealThreadCount(), 1, 4);
}

SystemTextSpellChecker::SystemTextSpellChecker(SpellingDictionaryLoader loader, QStringList dictionaryDirectories,
                                               int instancesPerLanguage)
    : loader_(std::move(loader)),
      directories_(std::move(dictionaryDirectories)),
      instancesPerLanguage_(std::max(instancesPerLanguage, 1)) {}

SystemTextSpellChecker::~SystemTextSpellChecker() = default;

QString SystemTextSpellChecker::dictionaryPath(const QString& language) const {
    QString code = language.trimmed();
    code.replace(QLatin1Char('-'), QLatin1Char('_'));
    if (code.isEmpty() || code.contains(QLatin1Char('/')) || code.contains(QLatin1Char('.'))) {
        return {};
    }
    const QString base = code.section(QLatin1Char('_'), 0, 0).toLower();

    // Names in order of preference.
    QStringList preferred;
    if (code.contains(QLatin1Char('_'))) {
        preferred << code;
    }
    for (const QString& variant : preferredRegionalVariants(base)) {
        preferred << variant;
    }
    preferred << base + QLatin1Char('_') + base.toUpper() << base;

    for (const QString& directory : directories_) {
        const QDir dir(directory);
        for (const QString& name : preferred) {
            if (dir.exists(name + QStringLiteral(".dic")) && dir.exists(name + QStringLiteral(".aff"))) {
                return dir.filePath(name);
            }
        }
    }
    for (const QString& directory : directories_) {
        const QDir dir(directory);
        const QStringList candidates =
            dir.entryList({base + QStringLiteral("_*.dic")}, QDir::Files | QDir::Readable, QDir::Name);
        for (const QString& file : candidates) {
            const QString name = file.chopped(4);
            if (dir.exists(name + QStringLiteral(".aff"))) {
                return dir.filePath(name);
            }
        }
    }
    return {};
}

std::shared_ptr<SystemTextSpellChecker::Dictionary> SystemTextSpellChecker::dictionaryFor(const QString& language) {
    std::lock_guard guard(mutex_);
    if (const auto found = dictionaries_.find(language); found != dictionaries_.end()) {
        return found->second;
    }
    const QString path = dictionaryPath(language);
    std::shared_ptr<Dictionary> dictionary =
        path.isEmpty() ? nullptr : Dictionary::load(loader_, path, instancesPerLanguage_);
    dictionaries_.emplace(language, dictionary);
    return dictionary;
}

bool SystemTextSpellChecker::hasDictionary(const QString& language) {
    return dictionaryFor(language) != nullptr;
}

std::optional<TextRange> SystemTextSpellChecker::checkSpelling(const QString& text, qsizetype startingAt,
                                                               const QString& language) {
    if (startingAt < 0) {
        startingAt = 0;
    }
    if (startingAt >= text.size()) {
        return std::nullopt;
    }
    const auto dictionary = dictionaryFor(language);
    if (!dictionary) {
        return std::nullopt;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    finder.setPosition(startingAt);
    if (!finder.isAtBoundary()) {
        finder.toNextBoundary();
    }
    qsizetype start = finder.position();
    while (start >= 0 && start < text.size()) {
        const bool startsWord = finder.boundaryReasons().testFlag(QTextBoundaryFinder::StartOfItem);
        const qsizetype end = finder.toNextBoundary();
        if (end < 0) {
            break;
        }
        if (startsWord) {
            const QStringView word = QStringView(text).mid(start, end - start);
            if (containsLetter(word) && !dictionary->isCorrect(word.toString())) {
                return TextRange{start, end - start};
            }
        }
        start = end;
    }
    return std::nullopt;
}

QStringList SystemTextSpellChecker::guesses(TextRange wordRange, const QString& text, const QString& language) {
    if (!isValidRange(wordRange, text.size(), 1)) {
        return {};
    }
    const auto dictionary = dictionaryFor(language);
    if (!dictionary) {
        return {};
    }
    return dictionary->suggestions(text.mid(wordRange.location, wordRange.length));
}

void SystemTextSpellChecker::prepareGuesses(const std::vector<TextRange>& wordRanges, const QString& text,
                                            const QString& language) {
    QStringList words;
    for (const TextRange range : wordRanges) {
        if (isValidRange(range, text.size(), 1)) {
            words.append(text.mid(range.location, range.length));
        }
    }
    if (words.size() < 2) {
        return;
    }
    if (const auto dictionary = dictionaryFor(language)) {
        dictionary->prepareSuggestions(words);
    }
}

int SystemTextSpellChecker::instanceCount(const QString& language) {
    std::lock_guard guard(mutex_);
    const auto found = dictionaries_.find(language);
    return found != dictionaries_.end() && found->second ? found->second->instanceCount() : 0;
}

std::optional<QString> SystemTextSpellChecker::correction(TextRange, const QString&, const QString&) {
    return std::nullopt;
}

}  // namespace tavrolin
