#include "language/system_translation_client.h"

#include "core/capture_workflow_error.h"
#include "support/async.h"
#include "support/fakes/in_memory_translation_engine.h"
#include "support/fakes/scripted_language_recognizer.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using test::InMemoryTranslationEngine;
using Responses = std::vector<OnDeviceTranslationResponse>;

class SystemTranslationClientTest : public ::testing::Test {
protected:
    std::shared_ptr<InMemoryTranslationEngine> engine = std::make_shared<InMemoryTranslationEngine>();
    std::shared_ptr<test::ScriptedLanguageRecognizer> recognizer = std::make_shared<test::ScriptedLanguageRecognizer>();
    SystemTranslationClient client{engine, recognizer};

    QStringList translate(const QStringList& texts, AppLanguage source, AppLanguage target) {
        return test::await(client.translate(texts, source, target));
    }
    TranslationPairAvailability availability(AppLanguage source, AppLanguage target) {
        return test::await(client.availability(source, target));
    }
    void respond(Responses responses) {
        engine->responder = [responses](const auto&) { return responses; };
    }
};

TEST_F(SystemTranslationClientTest, AvailabilityAsksTheEngineByLanguageCode) {
    engine->setStatus("en", "es", OnDeviceTranslationStatus::installed);
    engine->setStatus("es", "pt", OnDeviceTranslationStatus::supported);
    EXPECT_EQ(availability(AppLanguage::english, AppLanguage::spanish), TranslationPairAvailability::installed);
    EXPECT_EQ(availability(AppLanguage::spanish, AppLanguage::portuguese), TranslationPairAvailability::supported);
    EXPECT_EQ(availability(AppLanguage::english, AppLanguage::german), TranslationPairAvailability::unsupported);
    EXPECT_EQ(engine->statusCalls.size(), 3);
    EXPECT_EQ(engine->statusCalls[0], std::make_pair(QString("en"), QString("es")));
}

TEST_F(SystemTranslationClientTest, AutomaticOnEitherSideIsUnsupportedWithoutAsking) {
    engine->setStatus("auto", "en", OnDeviceTranslationStatus::installed);
    engine->setStatus("en", "auto", OnDeviceTranslationStatus::installed);
    EXPECT_EQ(availability(AppLanguage::automatic, AppLanguage::english), TranslationPairAvailability::unsupported);
    EXPECT_EQ(availability(AppLanguage::english, AppLanguage::automatic), TranslationPairAvailability::unsupported);
    EXPECT_TRUE(engine->statusCalls.isEmpty());
}

TEST_F(SystemTranslationClientTest, AutomaticTargetReturnsTextsUnchanged) {
    EXPECT_EQ(translate({" Hello "}, AppLanguage::english, AppLanguage::automatic), QStringList{" Hello "});
    EXPECT_TRUE(engine->translateCalls.isEmpty());
    EXPECT_TRUE(recognizer->askedTexts().isEmpty());
}

TEST_F(SystemTranslationClientTest, FirstNonEmptyTextDecidesTheSource) {
    const QStringList texts{"", "  ", "Bonjour tout le monde"};
    recognizer->script("Bonjour tout le monde", "fr");
    // The blank text is asked about, not the French sentence; no language: unchanged.
    EXPECT_EQ(translate(texts, AppLanguage::automatic, AppLanguage::english), texts);
    EXPECT_EQ(recognizer->askedTexts(), QStringList{"  "});
    EXPECT_TRUE(engine->translateCalls.isEmpty());
}

TEST_F(SystemTranslationClientTest, AllEmptyTextsComeBackWithoutDetection) {
    EXPECT_EQ(translate({"", ""}, AppLanguage::automatic, AppLanguage::english), QStringList({"", ""}));
    EXPECT_TRUE(recognizer->askedTexts().isEmpty());
    EXPECT_TRUE(engine->translateCalls.isEmpty());
    EXPECT_TRUE(translate({}, AppLanguage::automatic, AppLanguage::english).isEmpty());
}

TEST_F(SystemTranslationClientTest, DetectedLanguageServesEveryTextOfTheCall) {
    recognizer->script("Hello there", "en");
    const auto results = translate({"", "Hello there", "Привет"}, AppLanguage::automatic, AppLanguage::spanish);
    ASSERT_EQ(engine->translateCalls.size(), 1);
    const auto& call = engine->translateCalls.front();
    EXPECT_EQ(call.source, "en");
    EXPECT_EQ(call.target, "es");
    ASSERT_EQ(call.requests.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(call.requests[i].clientIdentifier, QString::number(i));
    }
    EXPECT_EQ(call.requests[1].sourceText, "Hello there");
    EXPECT_EQ(results, QStringList({"es:", "es:Hello there", QString::fromUtf8("es:Привет")}));
    EXPECT_EQ(recognizer->askedBestEffort(), QList<bool>{true});
}

TEST_F(SystemTranslationClientTest, ResponsesArePlacedByIdentifier) {
    respond({{"1", "second"}, {"0", "first"}});
    EXPECT_EQ(translate({"a", "b"}, AppLanguage::english, AppLanguage::spanish), QStringList({"first", "second"}));

    respond({{"7", "stray"}, {"0", "first"}});
    EXPECT_EQ(translate({"a", "b"}, AppLanguage::english, AppLanguage::spanish), QStringList({"first", ""}));
}

struct IdentifierCase {
    std::optional<QString> identifier;
    int expectedPosition;  // -1: dropped
};

class ClientIdentifiers : public SystemTranslationClientTest, public ::testing::WithParamInterface<IdentifierCase> {};

TEST_P(ClientIdentifiers, OnlyDecimalPositionsInRangeAreUsed) {
    respond({{GetParam().identifier, "x"}});
    const auto results = translate({"a", "b", "c"}, AppLanguage::russian, AppLanguage::ukrainian);
    QStringList expected{"", "", ""};
    if (GetParam().expectedPosition >= 0) {
        expected[GetParam().expectedPosition] = "x";
    }
    EXPECT_EQ(results, expected);
}

INSTANTIATE_TEST_SUITE_P(Identifiers, ClientIdentifiers,
                         ::testing::Values(IdentifierCase{"2", 2}, IdentifierCase{"+1", 1}, IdentifierCase{"01", 1},
                                           IdentifierCase{"-0", 0}, IdentifierCase{"-1", -1}, IdentifierCase{"3", -1},
                                           IdentifierCase{"", -1}, IdentifierCase{std::nullopt, -1},
                                           IdentifierCase{"1.0", -1}, IdentifierCase{" 1", -1}, IdentifierCase{"+", -1},
                                           IdentifierCase{"1a", -1}, IdentifierCase{"99999999999999999999999", -1},
                                           IdentifierCase{QString::fromUtf8("١"), -1}));

TEST_F(SystemTranslationClientTest, ResultsAreTrimmed) {
    respond({{"0", "  hola\n"}, {"1", QString::fromUtf8("\t\u00a0adiós \r\n")}, {"2", "a  b"}});
    EXPECT_EQ(translate({"a", "b", "c  d"}, AppLanguage::english, AppLanguage::spanish),
              QStringList({"hola", QString::fromUtf8("adiós"), "a  b"}));
}

// The engine capitalises every text as a sentence; a word or phrase from inside one keeps the
// source's lower-case start.
TEST_F(SystemTranslationClientTest, ALowerCaseSourceGetsALowerCaseResult) {
    struct Row {
        const char* source;
        const char* answer;
        const char* expected;
        AppLanguage target = AppLanguage::spanish;
    };
    const Row rows[] = {
        {"very", "Muy", "muy"},
        {"  is it nice?", "  ¿Es bueno?\n", "¿es bueno?"},
        {"дом", "Дім", "дім", AppLanguage::ukrainian},
        {"\U00010428", "\U00010400\U00010428", "\U00010428\U00010428"},  // beyond 16 bits (Deseret)
        // A source that starts otherwise keeps the answer's case.
        {"Very", "Muy", "Muy"},
        {"3 cats", "3 Gatos", "3 Gatos"},
        {"«very»", "«Muy»", "«Muy»"},
        // Capitals that are not the sentence's.
        {"nasa", "NASA", "NASA"},
        {"yo tengo", "I have", "I have", AppLanguage::english},
        {"una casa", "A house", "a house", AppLanguage::english},
        {"house", "Haus", "Haus", AppLanguage::german},
    };
    for (const Row& row : rows) {
        respond({{"0", QString::fromUtf8(row.answer)}});
        EXPECT_EQ(translate({QString::fromUtf8(row.source)}, AppLanguage::english, row.target),
                  QStringList{QString::fromUtf8(row.expected)})
            << row.source;
    }
}

TEST_F(SystemTranslationClientTest, MissingEngineIsAClearWorkflowError) {
    engine->responder = [](const auto&) -> Responses {
        throw OnDeviceTranslationError(OnDeviceTranslationError::Kind::engineMissing, "no apertium");
    };
    try {
        translate({"Hello"}, AppLanguage::english, AppLanguage::spanish);
        FAIL() << "no error";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(CaptureWorkflowErrorCode::code(error), "translation_requires_macos26");
        EXPECT_TRUE(error.errorDescription().contains("Apertium"));
    }
}

TEST_F(SystemTranslationClientTest, OtherEngineFailuresPassUnchanged) {
    engine->responder = [](const auto&) -> Responses {
        throw OnDeviceTranslationError(OnDeviceTranslationError::Kind::timedOut, "too slow");
    };
    try {
        translate({"Hello"}, AppLanguage::english, AppLanguage::spanish);
        FAIL() << "no error";
    } catch (const OnDeviceTranslationError& error) {
        EXPECT_EQ(error.kind(), OnDeviceTranslationError::Kind::timedOut);
        EXPECT_EQ(error.detail(), "too slow");
        // What the user reads names no engine and none of its workings.
        EXPECT_STREQ(error.what(), "Tavrolin could not translate the text on this computer.\n\nTry again in a moment.");
    }
}

TEST_F(SystemTranslationClientTest, BatchOfRequestsGroupsBySource) {
    const auto responses = test::await(client.translate(
        QList<TranslationRequest>{
            {"A", "a", AppLanguage::french}, {"B", "b", AppLanguage::english}, {"C", "c", AppLanguage::french}},
        AppLanguage::spanish));
    ASSERT_EQ(engine->translateCalls.size(), 2);
    EXPECT_EQ(engine->translateCalls[0].source, "fr");
    EXPECT_EQ(engine->translateCalls[0].requests.size(), 2u);
    EXPECT_EQ(engine->translateCalls[1].source, "en");
    EXPECT_EQ(responses, (QList<TranslationResponse>{{"A", "es:a"}, {"B", "es:b"}, {"C", "es:c"}}));
}

}  // namespace
}  // namespace tavrolin
