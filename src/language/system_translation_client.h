#pragma once

#include "language/translation_client.h"
#include "platform/language_recognizer.h"
#include "platform/on_device_translation_engine.h"

#include <memory>

namespace tavrolin {

// Translation on the device with installed language data only. Keeps no state between calls.
//
// - availability: automatic on either side is unsupported without asking the engine;
//   otherwise the engine's answer for the two language codes.
// - translate: an automatic target returns the texts unchanged. An automatic source is the
//   language recognised in the first non-empty text (a text of blanks counts), used for every
//   text of the call; no such text or no language returns the texts unchanged. Each line of a
//   text goes to the engine as a text of its own (a line break is the end of a sentence) and
//   the result keeps the text's line breaks, blank lines and the blanks around each line.
//   Results are trimmed of whitespace; a text one of whose lines gets no usable answer comes
//   back as an empty string.
// - A line that starts with a lower-case letter (a word or phrase selected inside a sentence)
//   gets a result whose first letter is in lower case too, where the engine capitalised it as
//   the start of a sentence; an all-capitals first word, the English "I" and a German result
//   keep their capital.
// - An engine that is not installed fails with CaptureWorkflowError translationRequiresMacOS26
//   (whose Linux wording asks for the engine); other engine failures pass on unchanged as
//   OnDeviceTranslationError, their detail logged.
class SystemTranslationClient final : public TranslationClient {
public:
    SystemTranslationClient(std::shared_ptr<OnDeviceTranslationEngine> engine,
                            std::shared_ptr<const LanguageRecognizer> recognizer);

    using TranslationClient::translate;

    QCoro::Task<TranslationPairAvailability> availability(AppLanguage source, AppLanguage target) override;
    QCoro::Task<QStringList> translate(QStringList texts, AppLanguage source, AppLanguage target) override;
    // The engine prepares the pair; automatic on either side prepares nothing.
    void prepare(AppLanguage source, AppLanguage target) override;

private:
    std::shared_ptr<OnDeviceTranslationEngine> engine_;
    std::shared_ptr<const LanguageRecognizer> recognizer_;
};

}  // namespace tavrolin
