#pragma once

#include "core/app_language.h"
#include "language/translation_client.h"
#include "language/translation_system_requirement.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// A notice shown next to a language choice when translation data must be installed first.
struct TranslationDownloadNotice {
    QString title;
    // The instruction naming the languages and, when known, the command that installs the
    // packages.
    QString message;

    bool operator==(const TranslationDownloadNotice&) const = default;
};

// The package of this desktop's translation engine that installs a pair (e.g.
// "apertium-eng-spa"); none when no package is known.
using TranslationPackageLookup = std::function<std::optional<QString>(AppLanguage source, AppLanguage target)>;

// Tells whether a language choice needs translation data that is not installed, by asking a
// translation client. Nothing is cached: every call asks the client again, so a notice goes
// away as soon as the data has been installed. Calls are independent and may overlap.
struct TranslationSetupSupport {
    // Without a package lookup the notices name no package.
    explicit TranslationSetupSupport(std::shared_ptr<TranslationClient> translationClient,
                                     TranslationSystemCheck isSystemSupported = isTranslationSystemSupported,
                                     TranslationPackageLookup packageForPair = {});

    // No notice for a pair of one language twice (automatic aside), nor when nothing is to be
    // installed or the client cannot tell. An automatic source asks about every source
    // language into the target. Never fails.
    QCoro::Task<std::optional<TranslationDownloadNotice>> downloadNotice(TranslationLanguagePair pair) const;

    // The notices, in this desktop's wording; the packages, when any are known, are named in
    // an install command after the instruction.
    static TranslationDownloadNotice pairNotice(AppLanguage source, AppLanguage target,
                                                const std::optional<QString>& package);
    static TranslationDownloadNotice targetNoticeNothingInstalled(AppLanguage target, const QStringList& packages);
    static TranslationDownloadNotice targetNoticePartlyInstalled(AppLanguage target, const QStringList& packages);

    std::shared_ptr<TranslationClient> translationClient;

private:
    // Every source language into the target, one query after another, all of them.
    QCoro::Task<std::optional<TranslationDownloadNotice>> targetLanguageDownloadNotice(AppLanguage target) const;

    std::optional<QString> installablePackageForPair(AppLanguage source, AppLanguage target) const;

    TranslationSystemCheck isSystemSupported_;
    TranslationPackageLookup packageForPair_;
};

}  // namespace tavrolin
