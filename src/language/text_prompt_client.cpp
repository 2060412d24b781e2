#include "language/text_prompt_client.h"

namespace tavrolin {

QString rawValue(TextPromptLanguage language) {
    switch (language) {
    case TextPromptLanguage::original:
        return QStringLiteral("original");
    case TextPromptLanguage::english:
        return QStringLiteral("english");
    }
    return QStringLiteral("original");
}

template <>
std::optional<TextPromptLanguage> fromRawValue<TextPromptLanguage>(QStringView raw) {
    if (raw == u"original") {
        return TextPromptLanguage::original;
    }
    if (raw == u"english") {
        return TextPromptLanguage::english;
    }
    return std::nullopt;
}

}  // namespace tavrolin
