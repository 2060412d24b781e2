#pragma once

#include "platform/on_device_translation_engine.h"

#include <QStringList>

#include <vector>

namespace tavrolin::test {

// One on-device request per text, identified by its position ("0", "1", ...).
inline std::vector<OnDeviceTranslationRequest> requestsFor(const QStringList& texts) {
    std::vector<OnDeviceTranslationRequest> requests;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        requests.push_back({texts[i], QString::number(i)});
    }
    return requests;
}

// The target texts of the responses, in their order; trimmed unless told otherwise.
inline QStringList textsOf(const std::vector<OnDeviceTranslationResponse>& responses, bool trimmed = true) {
    QStringList texts;
    for (const auto& response : responses) {
        texts.append(trimmed ? response.targetText.trimmed() : response.targetText);
    }
    return texts;
}

}  // namespace tavrolin::test
