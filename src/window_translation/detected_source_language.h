#pragma once

#include "core/app_language.h"

#include <QString>

#include <optional>

namespace tavrolin {

// The language a recognised text is written in, as detection chose it.
struct DetectedSourceLanguage {
    // Always filled by detection.
    std::optional<AppLanguage> appLanguage;
    // The English name of that language ("French").
    QString displayName;
    // 0...1: 1 for a source language the caller fixed, at least 0.5 when the best language
    // clearly beat the others, at most 0.49 when it did not.
    double confidence = 0;

    bool operator==(const DetectedSourceLanguage&) const = default;
};

}  // namespace tavrolin
