// The sample texts of the Latin-script languages are recognised as what they claim to be.
#include "onboarding_demo_texts.h"
#include "platform/desktop_backend.h"
#include "platform/language_recognizer.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

TEST(OnboardingDemoTextsEngineTest, TheRecognizerFindsEachLatinRowsLanguage) {
    const auto recognizer = makeSystemLanguageRecognizer();
    const std::vector<AppLanguage> latin = {AppLanguage::dutch,   AppLanguage::english,    AppLanguage::german,
                                            AppLanguage::french,  AppLanguage::indonesian, AppLanguage::spanish,
                                            AppLanguage::italian, AppLanguage::polish,     AppLanguage::portuguese,
                                            AppLanguage::turkish, AppLanguage::vietnamese};
    for (const AppLanguage language : latin) {
        const QString joined = test::demoTextsOf(language).join(QLatin1Char(' '));
        QStringList found;
        for (const auto& hypothesis : recognizer->hypotheses(joined)) {
            found.append(hypothesis.languageIdentifier);
        }
        EXPECT_TRUE(found.contains(rawValue(language)))
            << rawValue(language).toStdString() << " recognised as " << found.join(',').toStdString();
    }
}

}  // namespace
}  // namespace tavrolin
