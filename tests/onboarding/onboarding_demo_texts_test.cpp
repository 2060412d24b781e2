#include "onboarding_demo_texts.h"

#include "onboarding/onboarding_view_model.h"

#include <QSet>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using L = AppLanguage;
using VM = OnboardingViewModel;

TEST(OnboardingDemoTextsTest, EnglishAndRussianRowsAsWrittenWithTheirMistakes) {
    EXPECT_EQ(VM::defaultWriteDraft(L::english), "Get lost. I'm not taking production this weekend.");
    EXPECT_EQ(VM::defaultEditDraft(L::english),
              "I can lok into this but I need acces to the prod loggs and deploy dashbord.");
    EXPECT_EQ(VM::defaultRewriteDraft(L::english),
              "I can join for two hours, but I need the priority list and the release owner.");
    EXPECT_EQ(VM::conversationMessages(L::english),
              (QList<OnboardingChatMessage>{{"1", "Production went down after the last deploy.", true},
                                            {"2", "I am checking logs and alerts now.", false},
                                            {"3", "Thanks. We need a recovery plan before 4 PM.", true}}));

    EXPECT_EQ(VM::defaultWriteDraft(L::russian), QString::fromUtf8("Идите на три буквы. Я не беру прод в выходные."));
    EXPECT_EQ(VM::defaultEditDraft(L::russian),
              QString::fromUtf8("Я могу посмотреть в это, но мне нужен доступ к прод логам и дашборду деплоя."));
    EXPECT_EQ(VM::defaultRewriteDraft(L::russian),
              QString::fromUtf8(
                  "Я смогу подключиться на два часа, но мне нужен список приоритетов и ответственный за релиз."));
    EXPECT_EQ(VM::conversationMessages(L::russian),
              (QList<OnboardingChatMessage>{
                  {"1", QString::fromUtf8("Прод упал после последнего деплоя."), true},
                  {"2", QString::fromUtf8("Я проверяю логи и алерты."), false},
                  {"3", QString::fromUtf8("Спасибо. Нам нужен план восстановления до 16:00."), true}}));
}

TEST(OnboardingDemoTextsTest, AutomaticFallsBackToRussianDraftsAndEnglishForTheRest) {
    EXPECT_EQ(VM::defaultWriteDraft(L::automatic), VM::defaultWriteDraft(L::russian));
    EXPECT_EQ(VM::defaultRewriteDraft(L::automatic), VM::defaultRewriteDraft(L::russian));
    EXPECT_EQ(VM::defaultEditDraft(L::automatic), VM::defaultEditDraft(L::english));
    EXPECT_EQ(VM::defaultFlipDraft(L::russian, L::automatic), VM::defaultRewriteDraft(L::english));
    EXPECT_EQ(VM::conversationMessages(L::automatic), VM::conversationMessages(L::english));
}

TEST(OnboardingDemoTextsTest, FlipDraftIsTheRewriteDraftOfTheSecondLanguageExceptHindisDanda) {
    for (const L language : AppLanguages::targetCases()) {
        SCOPED_TRACE(rawValue(language).toStdString());
        // The native language never matters.
        EXPECT_EQ(VM::defaultFlipDraft(L::japanese, language), VM::defaultFlipDraft(L::automatic, language));
        if (language == L::hindi) {
            const QString rewrite = VM::defaultRewriteDraft(language);
            const QString flip = VM::defaultFlipDraft(L::english, language);
            EXPECT_TRUE(rewrite.endsWith(QLatin1Char('.')));
            EXPECT_TRUE(flip.endsWith(QChar(0x0964)));
            EXPECT_EQ(flip.chopped(1), rewrite.chopped(1));
        } else {
            EXPECT_EQ(VM::defaultFlipDraft(L::english, language), VM::defaultRewriteDraft(language));
        }
    }
}

// Which scripts a row's letters may use, and which one must show.
struct ScriptRule {
    QSet<QChar::Script> allowed;
    QChar::Script required;
};

ScriptRule scriptRule(L language) {
    switch (language) {
    case L::arabic:
        return {{QChar::Script_Arabic}, QChar::Script_Arabic};
    case L::chinese:
        return {{QChar::Script_Han}, QChar::Script_Han};
    case L::japanese:
        return {{QChar::Script_Han, QChar::Script_Hiragana, QChar::Script_Katakana}, QChar::Script_Hiragana};
    case L::korean:
        return {{QChar::Script_Hangul}, QChar::Script_Hangul};
    case L::hindi:
        return {{QChar::Script_Devanagari}, QChar::Script_Devanagari};
    case L::thai:
        return {{QChar::Script_Thai}, QChar::Script_Thai};
    case L::hebrew:
        return {{QChar::Script_Hebrew}, QChar::Script_Hebrew};
    case L::russian:
    case L::ukrainian:
        return {{QChar::Script_Cyrillic}, QChar::Script_Cyrillic};
    default:
        return {{QChar::Script_Latin}, QChar::Script_Latin};
    }
}

TEST(OnboardingDemoTextsTest, EveryLanguageWritesEveryTextInItsOwnScript) {
    const QStringList english = test::demoTextsOf(L::english);
    for (const L language : AppLanguages::targetCases()) {
        SCOPED_TRACE(rawValue(language).toStdString());
        const ScriptRule rule = scriptRule(language);
        const QStringList texts = test::demoTextsOf(language);
        ASSERT_EQ(texts.size(), english.size());
        for (qsizetype i = 0; i < texts.size(); ++i) {
            const QString& text = texts[i];
            SCOPED_TRACE(text.toStdString());
            EXPECT_FALSE(text.trimmed().isEmpty());
            if (language != L::english) {
                EXPECT_NE(text, english[i]);
            }
            bool sawRequired = false;
            for (const uint codePoint : text.toUcs4()) {
                const QChar::Script script = QChar::script(codePoint);
                if (!QChar::isLetter(codePoint) || script == QChar::Script_Common ||
                    script == QChar::Script_Inherited) {
                    continue;
                }
                EXPECT_TRUE(rule.allowed.contains(script)) << "U+" << std::hex << codePoint;
                sawRequired = sawRequired || script == rule.required;
            }
            // Japanese needs kana somewhere in the row, not in every text.
            if (language != L::japanese) {
                EXPECT_TRUE(sawRequired);
            }
        }
        if (language == L::japanese) {
            const QString all = texts.join(QString());
            EXPECT_TRUE(std::any_of(all.cbegin(), all.cend(), [](QChar c) {
                return c.script() == QChar::Script_Hiragana || c.script() == QChar::Script_Katakana;
            }));
        }
        if (language == L::ukrainian) {
            EXPECT_TRUE(texts.join(QString()).contains(QRegularExpression(QStringLiteral("[іїєґІЇЄҐ]"))));
        }
    }
}

TEST(OnboardingDemoTextsTest, ConversationsAreThreeMessagesFromTheOtherPartyTheUserAndTheOtherParty) {
    for (const L language : AppLanguages::allCases()) {
        const auto messages = VM::conversationMessages(language);
        ASSERT_EQ(messages.size(), 3) << rawValue(language).toStdString();
        EXPECT_EQ(messages[0].id, "1");
        EXPECT_EQ(messages[1].id, "2");
        EXPECT_EQ(messages[2].id, "3");
        EXPECT_TRUE(messages[0].incoming);
        EXPECT_FALSE(messages[1].incoming);
        EXPECT_TRUE(messages[2].incoming);
    }
}

}  // namespace
}  // namespace tavrolin
