#include "language/translation_setup_support.h"

#include "core/linux_wording.h"

#include <QStringLiteral>

#include <utility>

namespace tavrolin {

namespace {

const char kNeedDownloadingTitle[] = "Translation Languages Need Downloading";
const char kMayNeedDownloadingTitle[] = "Some Translation Languages May Need Downloading";
// %1 source, %2 target.
const char kPairMessage[] =
    "Download %1 and %2 in macOS Settings > General > Language & Region > Translation Languages "
    "to use this translation pair.";
// %1 target.
const char kTargetNothingInstalledMessage[] =
    "Download %1 and the source languages you translate from in macOS Settings > General > "
    "Language & Region > Translation Languages.";
const char kTargetPartlyInstalledMessage[] =
    "Some detected source languages may require additional Translation Language downloads "
    "before translating into %1.";

// The message in this desktop's words, followed by the command that installs the packages
// when any are known (a pair without a known package gets the instruction alone).
QString withInstallCommand(const QString& message, const QStringList& packages) {
    if (packages.isEmpty()) {
        return message;
    }
    return message + QStringLiteral(" To install: sudo apt install ") + packages.join(QLatin1Char(' '));
}

}  // namespace

TranslationSetupSupport::TranslationSetupSupport(std::shared_ptr<TranslationClient> translationClient,
                                                 TranslationSystemCheck isSystemSupported,
                                                 TranslationPackageLookup packageForPair)
    : translationClient(std::move(translationClient)),
      isSystemSupported_(std::move(isSystemSupported)),
      packageForPair_(std::move(packageForPair)) {}

std::optional<QString> TranslationSetupSupport::installablePackageForPair(AppLanguage source,
                                                                          AppLanguage target) const {
    return packageForPair_ ? packageForPair_(source, target) : std::nullopt;
}

TranslationDownloadNotice TranslationSetupSupport::pairNotice(AppLanguage source, AppLanguage target,
                                                              const std::optional<QString>& package) {
    const QString message = linuxWording(std::string_view(kPairMessage)).arg(displayName(source), displayName(target));
    return {linuxWording(std::string_view(kNeedDownloadingTitle)),
            withInstallCommand(message, package ? QStringList{*package} : QStringList{})};
}

TranslationDownloadNotice TranslationSetupSupport::targetNoticeNothingInstalled(AppLanguage target,
                                                                                const QStringList& packages) {
    const QString message = linuxWording(std::string_view(kTargetNothingInstalledMessage)).arg(displayName(target));
    return {linuxWording(std::string_view(kNeedDownloadingTitle)), withInstallCommand(message, packages)};
}

TranslationDownloadNotice TranslationSetupSupport::targetNoticePartlyInstalled(AppLanguage target,
                                                                               const QStringList& packages) {
    const QString message = linuxWording(std::string_view(kTargetPartlyInstalledMessage)).arg(displayName(target));
    return {linuxWording(std::string_view(kMayNeedDownloadingTitle)), withInstallCommand(message, packages)};
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
