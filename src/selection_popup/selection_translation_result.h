#pragma once

#include "core/app_language.h"

#include <QRectF>
#include <QString>

#include <optional>

namespace tavrolin {

// The translation of one selection, as the result popup shows it.
struct SelectionTranslationResult {
    // The selection exactly as read (line ends untouched).
    QString originalText;
    QString translatedText;
    // The language the text was translated from.
    AppLanguage sourceLanguage = AppLanguage::automatic;
    // Always the native language of the settings.
    AppLanguage targetLanguage = AppLanguage::automatic;
    // The selected field's screen rectangle, when the reader knew it.
    std::optional<QRectF> screenFrame;

    bool operator==(const SelectionTranslationResult&) const = default;
};

}  // namespace tavrolin
