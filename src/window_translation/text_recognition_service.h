#pragma once

#include "core/app_language.h"
#include "core/user_preferred_languages_providing.h"
#include "platform/language_recognizer.h"
#include "platform/text_recognition_engine.h"
#include "window_translation/text_recognizing.h"

#include <QStringList>

#include <memory>

namespace tavrolin {

// The engine's language codes for a language ("eng"; "chi_sim", "chi_tra" for Chinese); empty
// for automatic.
QStringList textRecognitionLanguageCodes(AppLanguage language);

// The Debian package that installs an engine language code ("chi_sim" -> "tesseract-ocr-chi-sim").
QString textRecognitionLanguagePackage(const QString& languageCode);

// Text recognition over the desktop's engine. Holds only shared, thread-safe collaborators:
// copies are cheap and calls may run side by side on any thread.
class TextRecognitionService final : public TextRecognizing {
public:
    // The favoured languages choose the engine languages of an automatic source.
    TextRecognitionService(std::shared_ptr<const TextRecognitionEngine> engine,
                           std::shared_ptr<const LanguageRecognizer> languageRecognizer,
                           std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguages);

    RecognizedTextResult recognizeText(const QImage& image, AppLanguage sourceLanguage,
                                       bool shouldDetectSourceLanguage) const override;
    // On the global thread pool: the languages are chosen and the engine loads them.
    void prepare(AppLanguage sourceLanguage) const override;

    std::optional<DetectedSourceLanguage> detectSourceLanguage(
        const std::vector<RecognizedTextBlock>& blocks, AppLanguage requestedSourceLanguage,
        const std::set<AppLanguage>& boostedLanguages) const override;

    // The engine languages a recognition with this source uses: a fixed language's own codes
    // (TextRecognitionError naming the missing package when they are not installed); for
    // automatic "eng" and the installed codes of the favoured languages, three at most, "eng"
    // first.
    QStringList recognitionLanguages(AppLanguage sourceLanguage) const;

private:
    std::shared_ptr<const TextRecognitionEngine> engine_;
    std::shared_ptr<const LanguageRecognizer> languageRecognizer_;
    std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguages_;
};

}  // namespace tavrolin
