#pragma once

#include "core/raw_value.h"

#include <QCoroTask>
#include <QString>

#include <cstdint>

namespace tavrolin {

// The language in which the server writes a created prompt: the text's own, or English.
enum class TextPromptLanguage : std::uint8_t {
    original,
    english,
};

QString rawValue(TextPromptLanguage language);
template <>
std::optional<TextPromptLanguage> fromRawValue<TextPromptLanguage>(QStringView raw);

// Turns a text into a prompt for an AI assistant (Create Prompt).
class TextPromptClient {
public:
    virtual ~TextPromptClient() = default;
    virtual QCoro::Task<QString> createPrompt(QString text, TextPromptLanguage language) = 0;
};

}  // namespace tavrolin
