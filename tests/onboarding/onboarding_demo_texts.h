#pragma once

// Every sample text of one language, as the native-script checks of the demo texts see them.
#include "onboarding/onboarding_view_model.h"

#include <QStringList>

namespace tavrolin::test {

inline QStringList demoTextsOf(AppLanguage language) {
    QStringList texts{OnboardingViewModel::defaultWriteDraft(language), OnboardingViewModel::defaultEditDraft(language),
                      OnboardingViewModel::defaultRewriteDraft(language),
                      OnboardingViewModel::defaultFlipDraft(AppLanguage::english, language)};
    for (const auto& message : OnboardingViewModel::conversationMessages(language)) {
        texts.append(message.text);
    }
    return texts;
}

}  // namespace tavrolin::test
