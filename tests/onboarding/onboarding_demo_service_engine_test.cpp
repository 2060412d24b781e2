// The demonstrations on this desktop's own engines: the offline editor (Hunspell) while online
// features are off, and Apertium for the translating practices.
#include "core/online_feature_policy.h"
#include "language/hybrid_text_editing_client.h"
#include "language/local_text_editing_client.h"
#include "language/system_text_spell_checker.h"
#include "language/system_translation_client.h"
#include "onboarding/onboarding_demo_service.h"
#include "onboarding/onboarding_view_model.h"
#include "platform/desktop_backend.h"
#include "support/async.h"
#include "support/fakes/in_memory_text_clients.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using L = AppLanguage;

class OnboardingDemoServiceEngineTest : public ::testing::Test {
protected:
    std::shared_ptr<test::EventLog> log = std::make_shared<test::EventLog>();
    std::shared_ptr<test::InMemoryTextEditingClient> serverEditor =
        std::make_shared<test::InMemoryTextEditingClient>(log);
    std::shared_ptr<LocalTextEditingClient> offlineEditor = std::make_shared<LocalTextEditingClient>(
        std::make_shared<SystemTextSpellChecker>(loadSystemSpellingDictionary));
    std::shared_ptr<OnlineFeaturePolicy> policy = std::make_shared<OnlineFeaturePolicy>(false);
    std::shared_ptr<const LanguageRecognizer> recognizer = makeSystemLanguageRecognizer();
    OnboardingDemoService service{std::make_shared<HybridTextEditingClient>(serverEditor, offlineEditor, policy),
                                  std::make_shared<test::InMemoryTextWritingClient>(log),
                                  std::make_shared<SystemTranslationClient>(makeSystemTranslationEngine(), recognizer),
                                  isTranslationSystemSupported, recognizer};
};

TEST_F(OnboardingDemoServiceEngineTest, OfflineEditIsWhatTheLocalEditorMakesOfTheEnglishDraft) {
    const QString draft = OnboardingViewModel::defaultEditDraft(L::english);
    const QString edited = test::await(service.editText(draft, L::english, L::english));
    EXPECT_EQ(edited, test::await(offlineEditor->edit(draft, L::english, L::english)));
    EXPECT_NE(edited, draft) << "the sample's misspellings are there to be corrected";
    EXPECT_EQ(serverEditor->calls, 0);
}

TEST_F(OnboardingDemoServiceEngineTest, EnglishConversationIntoSpanishKeepsOrderIdsAndSides) {
    const auto english = OnboardingViewModel::conversationMessages(L::english);
    const auto spanish = test::await(service.translateConversation(english, L::english, L::spanish));
    ASSERT_EQ(spanish.size(), 3);
    for (qsizetype i = 0; i < 3; ++i) {
        SCOPED_TRACE(spanish[i].text.toStdString());
        EXPECT_EQ(spanish[i].id, english[i].id);
        EXPECT_EQ(spanish[i].incoming, english[i].incoming);
        EXPECT_FALSE(spanish[i].text.isEmpty());
        EXPECT_NE(spanish[i].text, english[i].text);
    }
    EXPECT_TRUE(spanish[1].text.contains(QStringLiteral("alertas"), Qt::CaseInsensitive)) << "logs and alerts";
}

TEST_F(OnboardingDemoServiceEngineTest, WriteMessageAndFlipTranslateTheDraftIntoTheOtherLanguage) {
    const QString english = OnboardingViewModel::defaultRewriteDraft(L::english);
    const QString written = test::await(service.translateDraft(english, L::spanish));
    EXPECT_TRUE(written.contains(QStringLiteral("dos horas"))) << written.toStdString();

    // Native Spanish, second English: English text flips into Spanish.
    EXPECT_EQ(test::await(service.flipDraft(english, L::spanish, L::english)), written);
}

}  // namespace
}  // namespace tavrolin
