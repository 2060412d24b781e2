#pragma once

#include "core/app_language.h"
#include "core/app_settings_providing.h"
#include "core/user_preferred_languages_providing.h"
#include "language/focused_text_field_accessing.h"
#include "language/translation_client.h"
#include "language/translation_system_requirement.h"

#include <QCoroTask>
#include <QRectF>
#include <QString>

#include <memory>
#include <optional>

namespace tavrolin {

class LanguageRecognizer;

struct FlipLanguageResult {
    QString originalText;
    // What was written into the field; equal to originalText when nothing was translated.
    QString translatedText;
    // The detected language, or the second language when nothing was detected.
    AppLanguage detectedSourceLanguage = AppLanguage::english;
    AppLanguage targetLanguage = AppLanguage::english;
    bool replacedSelection = false;
    std::optional<QRectF> screenFrame;

    bool operator==(const FlipLanguageResult&) const = default;
};

// Flip Language: translates the field's text between the user's native language and second
// language, whichever way it is written, and writes the translation back. Text in the native
// language goes into the second language; anything else (including undetectable text) goes
// into the native language. Runs on the main thread; errors as for MessageTranslationService.
class FlipLanguageService final {
public:
    // Arguments, defaults and clamping as for MessageTranslationService.
    FlipLanguageService(std::shared_ptr<FocusedTextFieldAccessing> accessor,
                        std::shared_ptr<TranslationClient> translationClient,
                        std::shared_ptr<const AppSettingsProviding> settingsStore,
                        std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguagesProvider,
                        int focusedFieldReadRetryCount, double focusedFieldReadRetryDelay,
                        TranslationSystemCheck isSystemSupported = isTranslationSystemSupported,
                        std::shared_ptr<const LanguageRecognizer> recognizer = nullptr);

    QCoro::Task<FlipLanguageResult> flipAndReplace(FocusedTextFieldSnapshot snapshot) const;
    // Reads the focused field (retrying while none is found) unless `selection` is given,
    // reports its frame, then flipAndReplace(); none when the field holds no text at all (nothing
    // to flip, not a failure). Gives back a text the read cut out and nothing replaced.
    QCoro::Task<std::optional<FlipLanguageResult>> flipFocusedField(std::optional<FocusedTextFieldSnapshot> selection,
                                                                    FieldFrameCallback onFieldFrame) const;

    const std::shared_ptr<TranslationClient>& translationClient() const { return translationClient_; }
    const std::shared_ptr<const UserPreferredLanguagesProviding>& preferredLanguagesProvider() const {
        return preferredLanguagesProvider_;
    }

private:
    // The detected language of the text, else of the whole field, else the second language.
    AppLanguage flipSource(const QString& text, const QString& fullText, AppLanguage secondLanguage) const;

    std::shared_ptr<FocusedTextFieldAccessing> accessor_;
    std::shared_ptr<TranslationClient> translationClient_;
    std::shared_ptr<const AppSettingsProviding> settingsStore_;
    std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguagesProvider_;
    int focusedFieldReadRetryCount_;
    double focusedFieldReadRetryDelay_;
    TranslationSystemCheck isSystemSupported_;
    std::shared_ptr<const LanguageRecognizer> recognizer_;
};

}  // namespace tavrolin
