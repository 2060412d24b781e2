#include "language/system_text_spell_checker.h"

#include "core/app_language.h"

#include <hunspell/hunspell.hxx>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTextBoundaryFinder>

#include <unordered_map>

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

}  // namespace

// One loaded Hunspell dictionary with its lock and its suggestion cache.
class SystemTextSpellChecker::Dictionary {
public:
    static std::shared_ptr<Dictionary> load(const QString& basePath) {
        const QByteArray aff = QFile::encodeName(basePath + QStringLiteral(".aff"));
        const QByteArray dic = QFile::encodeName(basePath + QStringLiteral(".dic"));
        auto dictionary = std::shared_ptr<Dictionary>(new Dictionary);
        dictionary->hunspell_ = std::make_unique<Hunspell>(aff.constData(), dic.constData());
        const char* encodingName = dictionary->hunspell_->get_dic_encoding();
        const QByteArray encoding = encodingName ? QByteArray(encodingName) : QByteArray("ISO8859-1");
        dictionary->encoder_ = QStringEncoder(encoding.constData());
        dictionary->decoder_ = QStringDecoder(encoding.constData());
        if (!dictionary->encoder_.isValid() || !dictionary->decoder_.isValid()) {
            return nullptr;  // an encoding this build cannot convert: unusable
        }
        return dictionary;
    }

    // Words the dictionary's encoding cannot express are not judged (never reported).
    bool isCorrect(const QString& word) {
        std::lock_guard guard(lock_);
        const auto encoded = encode(word);
        if (!encoded) {
            return true;
        }
        return hunspell_->spell(*encoded);
    }

    QStringList suggestions(const QString& word) {
        std::lock_guard guard(lock_);
        if (const auto cached = cache_.find(word); cached != cache_.end()) {
            return cached->second;
        }
        QStringList result;
        if (const auto encoded = encode(word)) {
            for (const std::string& suggestion : hunspell_->suggest(*encoded)) {
                QString decoded = decoder_.decode(QByteArrayView(suggestion.data(), qsizetype(suggestion.size())));
                if (!decoder_.hasError() && !decoded.isEmpty()) {
                    result.append(decoded);
                }
                decoder_.resetState();
            }
        }
        if (cache_.size() >= maximumCachedWords) {
            cache_.clear();
        }
        cache_.emplace(word, result);
        return result;
    }

private:
    Dictionary() = default;

    std::optional<std::string> encode(const QString& word) {
        QByteArray bytes = encoder_.encode(word);
        const bool failed = encoder_.hasError();
        encoder_.resetState();
        if (failed) {
            return std::nullopt;
        }
        return bytes.toStdString();
    }

    std::mutex lock_;
    std::unique_ptr<Hunspell> hunspell_;
    QStringEncoder encoder_;
    QStringDecoder decoder_;
    std::unordered_map<QString, QStringList> cache_;
};

QStringList SystemTextSpellChecker::defaultDictionaryDirectories() {
    return {QStringLiteral("/usr/share/hunspell")};
}

SystemTextSpellChecker::SystemTextSpellChecker(QStringList dictionaryDirectories)
    : directories_(std::move(dictionaryDirectories)) {}

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
    std::shared_ptr<Dictionary> dictionary = path.isEmpty() ? nullptr : Dictionary::load(path);
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

std::optional<QString> SystemTextSpellChecker::correction(TextRange, const QString&, const QString&) {
    return std::nullopt;
}

}  // namespace tavrolin
