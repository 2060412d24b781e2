#pragma once

#include "core/app_language.h"
#include "platform/language_recognizer.h"
#include "window_translation/detected_source_language.h"
#include "window_translation/recognized_text_block.h"

#include <QString>

#include <map>
#include <optional>
#include <set>
#include <vector>

namespace tavrolin {

// Chooses the language recognised lines are written in. A fixed requested language is returned
// as it is with confidence 1. Otherwise the evidence of the lines' own languages, the
// statistical recognizer, scripts and letters and frequent short words is added up, the
// boosted languages count double, and the best language comes back with its confidence; none
// when there is no text or no language scored enough. Pure; safe from any thread.
std::optional<DetectedSourceLanguage> detectSourceLanguage(const std::vector<RecognizedTextBlock>& blocks,
                                                           AppLanguage requestedSourceLanguage,
                                                           const std::set<AppLanguage>& boostedLanguages,
                                                           const LanguageRecognizer& recognizer);

// The frequent short words detection counts, lower-case, with their weights: 19 languages
// (every supported one but Hebrew). Built once.
const std::map<AppLanguage, std::map<QString, double>>& languageKeywords();

}  // namespace tavrolin
