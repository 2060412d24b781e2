#include "language/translation_setup_support.h"

#include "core/linux_wording.h"
#include "platform/linux/apertium_translation_engine.h"

#include <QStringLiteral>

#include <utility>

namespace tavrolin {

namespace {

const char kNeedDownloadingTitle[] = "Translation Languages Need Downloading";
const char kMayNeedDownloadingTitle[] = "Some Translation Languages May Need Downloading";
// %1 source, %2 target; the Linux wording adds %3, the package phrase.
const char kPairMessage[] =
    "Download %1 and %2 in macOS Settings > General > Language & Region > Translation Languages "
    "to use this translation pair.";
// %1 target; the Linux wording adds %2, the package phrase.
const char kTargetNothingInstalledMessage[] =
    "Download %1 and the source languages you translate from in macOS Settings > General > "
    "Language & Region > Translation Languages.";
const char kTargetPartlyInstalledMessage[] =
    "Some detected source languages may require additional Translation Language downloads "
    "before translating into %1.";

// Fills %1..%9 in one pass; a placeholder without a value stays as written, and a value is
// never scanned again (a display name holding "%2" stays as it is).
QString fill(const QString& pattern, const QStringList& values) {
    QString out;
    out.reserve(pattern.size() + 64);
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar ch = pattern[i];
        if (ch == u'%' && i + 1 < pattern.size() && pattern[i + 1] >= u'1' && pattern[i + 1] <= u'9') {
            const int index = pattern[i + 1].unicode() - u'1';
            if (index < values.size()) {
                out += values[index];
                ++i;
                continue;
            }
        }
        out += ch;
    }
    return out;
}

// How a notice names what to install: the packages themselves, or a general phrase when no
// package is known for the pairs in question.
QString packagePhrase(const QStringList& packages) {
    if (packages.isEmpty()) {
        return QStringLiteral("the Apertium language packages");
    }
    if (packages.size() == 1) {
        return QStringLiteral("the package ") + packages.front();
    }
    return QStringLiteral("the packages ") + packages.join(QStringLiteral(", "));
}

}  // namespace

std::optional<QString> TranslationSetupSupport::installablePackageForPair(AppLanguage source, AppLanguage target) {
    return ApertiumTranslationEngine::packageForPair(rawValue(source), rawValue(target));
}

TranslationSetupSupport::TranslationSetupSupport(std::shared_ptr<TranslationClient> translationClient,
                                                 TranslationSystemCheck isSystemSupported)
    : translationClient(std::move(translationClient)), isSystemSupported_(std::move(isSystemSupported)) {}

TranslationDownloadNotice TranslationSetupSupport::pairNotice(AppLanguage source, AppLanguage target,
                                                              const std::optional<QString>& package) {
    const QString phrase = package ? QStringLiteral("the package ") + *package
                                   : QStringLiteral("the Apertium language package");
    return {linuxWording(std::string_view(kNeedDownloadingTitle)),
            fill(linuxWording(std::string_view(kPairMessage)), {displayName(source), displayName(target), phrase})};
}

TranslationDownloadNotice TranslationSetupSupport::targetNoticeNothingInstalled(AppLanguage target,
                                                                                const QStringList& packages) {
    return {linuxWording(std::string_view(kNeedDownloadingTitle)),
            fill(linuxWording(std::string_view(kTargetNothingInstalledMessage)),
                 {displayName(target), packagePhrase(packages)})};
}

TranslationDownloadNotice TranslationSetupSupport::targetNoticePartlyInstalled(AppLanguage target,
                                                                               const QStringList& packages) {
    return {linuxWording(std::string_view(kMayNeedDownloadingTitle)),
            fill(linuxWording(std::string_view(kTargetPartlyInstalledMessage)),
                 {displayName(target), packagePhrase(packages)})};
}

QCoro::Task<std::optional<TranslationDownloadNotice>> TranslationSetupSupport::downloadNotice(
    TranslationLanguagePair pair) const {
    if (pair.source != AppLanguage::automatic && pair.source == pair.target) {
        co_return std::nullopt;
    }
    if (isSystemSupported_ && !isSystemSupported_()) {
        co_return std::nullopt;
    }
    if (!translationClient) {
        co_return std::nullopt;
    }
    if (pair.source == AppLanguage::automatic) {
        auto notice = co_await targetLanguageDownloadNotice(pair.target);
        co_return notice;
    }
    const auto availability = co_await translationClient->availability(pair.source, pair.target);
    if (availability != TranslationPairAvailability::supported) {
        co_return std::nullopt;
    }
    co_return pairNotice(pair.source, pair.target, installablePackageForPair(pair.source, pair.target));
}

QCoro::Task<std::optional<TranslationDownloadNotice>> TranslationSetupSupport::targetLanguageDownloadNotice(
    AppLanguage target) const {
    bool someInstalled = false;
    bool someNeedDownload = false;
    QStringList packages;
    // One query at a time, and every source is asked even once both flags are set: the
    // packages named in the notice come from the whole scan.
    for (const AppLanguage source : AppLanguages::sourceCases()) {
        if (source == AppLanguage::automatic || source == target) {
            continue;
        }
        // Awaited into a variable: g++ 12 leaks the awaited frame of a co_await in a condition.
        const TranslationPairAvailability availability = co_await translationClient->availability(source, target);
        switch (availability) {
        case TranslationPairAvailability::installed:
            someInstalled = true;
            break;
        case TranslationPairAvailability::supported:
            someNeedDownload = true;
            if (const auto package = installablePackageForPair(source, target);
                package && !packages.contains(*package)) {
                packages.append(*package);
            }
            break;
        case TranslationPairAvailability::unsupported:
            break;
        }
    }
    if (!someNeedDownload) {
        co_return std::nullopt;
    }
    if (!someInstalled) {
        co_return targetNoticeNothingInstalled(target, packages);
    }
    co_return targetNoticePartlyInstalled(target, packages);
}

}  // namespace tavrolin
