#pragma once

#include "core/app_settings_providing.h"
#include "core/user_preferred_languages_providing.h"
#include "language/focused_text_field_accessing.h"
#include "language/translation_client.h"
#include "language/translation_system_requirement.h"
#include "selection_popup/selection_translation_result.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <memory>
#include <variant>
#include <vector>

namespace tavrolin {

class LanguageRecognizer;

// The selection split into what is sent for translation and how the answers are put back
// together, so that blank-line runs, list items and column-aligned lines keep their places.
struct SelectionTranslationStructuredText {
    struct Literal {
        QString text;
        bool operator==(const Literal&) const = default;
    };
    // The answer for translationInputs[index]; `fallback` when that answer is unusable.
    struct Translation {
        int index = 0;
        QString fallback;
        bool operator==(const Translation&) const = default;
    };
    using Segment = std::variant<Literal, Translation>;

    QStringList translationInputs;
    std::vector<Segment> segments;

    // `text` with its line ends already normalised to line feeds.
    static SelectionTranslationStructuredText build(const QString& text);
    // The pieces joined, each answer trimmed; blanks at both ends dropped.
    QString compose(const QStringList& outputs) const;
};

// Translates the selection of another application into the native language, paragraph by
// paragraph, in one batch. Never touches the other application. Failures are
// CaptureWorkflowError, or the translation client's own error unchanged.
class SelectionTranslationService final {
public:
    // Without a preferred-languages provider, one is made over the settings of this moment;
    // without a recognizer only the script of the text tells its language.
    SelectionTranslationService(
        std::shared_ptr<TranslationClient> translationClient, std::shared_ptr<const AppSettingsProviding> settingsStore,
        std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguagesProvider = nullptr,
        TranslationSystemCheck isSystemSupported = isTranslationSystemSupported,
        std::shared_ptr<const LanguageRecognizer> recognizer = nullptr);

    // Uses only the snapshot's selected text and screen frame.
    QCoro::Task<SelectionTranslationResult> translate(FocusedTextFieldSnapshot snapshot) const;

    const std::shared_ptr<TranslationClient>& translationClient() const { return translationClient_; }

private:
    std::shared_ptr<TranslationClient> translationClient_;
    std::shared_ptr<const AppSettingsProviding> settingsStore_;
    std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguagesProvider_;
    TranslationSystemCheck isSystemSupported_;
    std::shared_ptr<const LanguageRecognizer> recognizer_;
};

}  // namespace tavrolin
