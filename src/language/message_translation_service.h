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

struct MessageTranslationResult {
    // The selection, or the whole field.
    QString originalText;
    // What was written into the field; equal to originalText when nothing was translated.
    QString translatedText;
    bool replacedSelection = false;
    std::optional<QRectF> screenFrame;

    bool operator==(const MessageTranslationResult&) const = default;
};

// Write Message: translates the text of a field that has already been read into the user's
// second language and writes the translation back in place of what was translated. Runs on
// the main thread; failures are CaptureWorkflowError, FocusedTextReplacementFallback (the field
// did not take the translation) or the translation client's own error, unchanged.
class MessageTranslationService final {
public:
    // Without a preferred-languages provider, one is made over the settings of this moment.
    // The retry values are those of the service's own read of the field (negative and NaN
    // become 0); a snapshot handed in is never read again. Without a recognizer only the script
    // of the text tells its language.
    MessageTranslationService(std::shared_ptr<FocusedTextFieldAccessing> accessor,
                              std::shared_ptr<TranslationClient> translationClient,
                              std::shared_ptr<const AppSettingsProviding> settingsStore,
                              std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguagesProvider,
                              int focusedFieldReadRetryCount, double focusedFieldReadRetryDelay,
                              TranslationSystemCheck isSystemSupported = isTranslationSystemSupported,
                              std::shared_ptr<const LanguageRecognizer> recognizer = nullptr);

    // Selection or whole field, at most 5000 characters, detected source; a text already in
    // the second language (or in no detectable language) comes back unchanged and the field
    // is not touched.
    QCoro::Task<MessageTranslationResult> translateAndReplace(FocusedTextFieldSnapshot snapshot) const;
    // Reads the focused field (retrying while none is found), reports its frame, then
    // translateAndReplace(); gives back a text the read cut out and nothing replaced.
    QCoro::Task<MessageTranslationResult> translateFocusedField(FieldFrameCallback onFieldFrame) const;

    const std::shared_ptr<TranslationClient>& translationClient() const { return translationClient_; }
    const std::shared_ptr<const UserPreferredLanguagesProviding>& preferredLanguagesProvider() const {
        return preferredLanguagesProvider_;
    }

private:
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
