// The selection's translation on a scripted client and recognizer: the checks in their order,
// the choice of the source language, and how paragraphs, lists and wrapped lines go out for
// translation and come back.
#include "selection_popup/selection_translation_service.h"

#include "core/app_settings_providing.h"
#include "core/capture_workflow_error.h"
#include "support/async.h"
#include "support/fakes/fixed_preferred_languages.h"
#include "support/fakes/scripted_language_recognizer.h"

#include <gtest/gtest.h>
#include <map>

namespace tavrolin {

namespace {

using Case = CaptureWorkflowError::Case;
using Availability = TranslationPairAvailability;
using Structured = SelectionTranslationStructuredText;

struct FixedSettings final : AppSettingsProviding {
    AppSettings value;
    AppSettings settings() const override { return value; }
};

// Availability per pair (installed unless set); each input comes back as "T(<input>)" unless
// the test scripts the answer list.
class ScriptedClient final : public TranslationClient {
public:
    std::map<std::pair<AppLanguage, AppLanguage>, Availability> availabilities;
    std::optional<QStringList> answer;
    std::exception_ptr error;
    QStringList asked;
    QList<QStringList> batches;
    QList<std::pair<AppLanguage, AppLanguage>> pairs;

    QCoro::Task<Availability> availability(AppLanguage source, AppLanguage target) override {
        asked << QStringLiteral("%1>%2").arg(rawValue(source), rawValue(target));
        const auto it = availabilities.find({source, target});
        co_return it == availabilities.end() ? Availability::installed : it->second;
    }
    using TranslationClient::translate;
    QCoro::Task<QStringList> translate(QStringList texts, AppLanguage source, AppLanguage target) override {
        batches << texts;
        pairs << std::pair{source, target};
        if (error) {
            std::rethrow_exception(error);
        }
        if (answer) {
            QStringList scripted = *answer;
            co_return scripted;
        }
        for (QString& text : texts) {
            text = QStringLiteral("T(") + text + QLatin1Char(')');
        }
        co_return texts;
    }
};

FocusedTextFieldSnapshot selecting(const std::optional<QString>& text) {
    FocusedTextFieldSnapshot snapshot;
    snapshot.selectedText = text;
    snapshot.screenFrame = QRectF(10, 20, 300, 40);
    return snapshot;
}

QString clusters(int n) {
    static const QString pieces[] = {QStringLiteral(u"e\u0301"), QStringLiteral(u"👨‍👩‍👧"),
                                     QStringLiteral("a")};
    QString text;
    for (int i = 0; i < n; ++i) {
        text += pieces[i % 3];
    }
    return text;
}

class SelectionTranslationServiceTest : public ::testing::Test {
protected:
    SelectionTranslationServiceTest() {
        settings->value.targetLanguage = AppLanguage::english;        // native
        settings->value.messageTargetLanguage = AppLanguage::german;  // second
    }

    SelectionTranslationService service(bool systemSupported = true) {
        return SelectionTranslationService(
            client, settings, std::make_shared<test::FixedPreferredLanguages>(std::set<AppLanguage>{}),
            [systemSupported] { return systemSupported; }, recognizer);
    }
    SelectionTranslationResult translate(const QString& text) {
        return test::await(service().translate(selecting(text)));
    }
    std::optional<CaptureWorkflowError> failure(const std::optional<QString>& text, bool systemSupported = true) {
        try {
            test::await(service(systemSupported).translate(selecting(text)));
        } catch (const CaptureWorkflowError& error) {
            return error;
        }
        return std::nullopt;
    }
    // The inputs of the one batch a translation sent.
    QStringList inputsFor(const QString& text) {
        recognizer->script(text, QStringLiteral("fr"));
        translate(text);
        EXPECT_EQ(client->batches.size(), 1);
        return client->batches.value(0);
    }

    std::shared_ptr<FixedSettings> settings = std::make_shared<FixedSettings>();
    std::shared_ptr<ScriptedClient> client = std::make_shared<ScriptedClient>();
    std::shared_ptr<test::ScriptedLanguageRecognizer> recognizer = std::make_shared<test::ScriptedLanguageRecognizer>();
};

TEST_F(SelectionTranslationServiceTest, ChecksComeInOrderBeforeAnyLanguageWork) {
    EXPECT_EQ(failure(QStringLiteral("Bonjour"), false)->errorCase(), Case::translationRequiresMacOS26);
    EXPECT_EQ(failure(std::nullopt)->errorCase(), Case::noTextSelected);
    EXPECT_EQ(failure(QString())->errorCase(), Case::noTextSelected);

    // Grapheme clusters count: 5000 pass, 5001 fail with their count.
    EXPECT_EQ(translate(clusters(5000)).originalText, clusters(5000));
    const auto tooLong = failure(clusters(5001));
    ASSERT_TRUE(tooLong);
    EXPECT_EQ(tooLong->errorCase(), Case::textExceedsCharacterLimit);
    EXPECT_EQ(tooLong->currentLength(), 5001);
    EXPECT_EQ(client->asked.size(), 1) << "only the 5000-character text got to the availability check";
}

TEST_F(SelectionTranslationServiceTest, ABlankSelectionIsNoSelectionWhateverTheLanguages) {
    const QString blank = QStringLiteral(" \t\n\u00A0\r\n\u2029 ");
    EXPECT_EQ(failure(blank)->errorCase(), Case::noTextSelected);
    settings->value.messageTargetLanguage = AppLanguage::english;
    EXPECT_EQ(failure(blank)->errorCase(), Case::noTextSelected);
    EXPECT_TRUE(client->asked.isEmpty());
    EXPECT_TRUE(client->batches.isEmpty());
}

TEST_F(SelectionTranslationServiceTest, TheSourceIsTheDetectedLanguageAndTheNativeOneCountsAsTheSecond) {
    recognizer->script(QStringLiteral("Bonjour"), QStringLiteral("fr"));
    recognizer->script(QStringLiteral("Good morning"), QStringLiteral("en"));

    SelectionTranslationResult french = translate(QStringLiteral("Bonjour"));
    EXPECT_EQ(french.sourceLanguage, AppLanguage::french);
    EXPECT_EQ(french.targetLanguage, AppLanguage::english);
    EXPECT_EQ(french.translatedText, QStringLiteral("T(Bonjour)"));
    EXPECT_EQ(french.screenFrame, QRectF(10, 20, 300, 40));

    // Native text and undetectable text are taken as the second language.
    EXPECT_EQ(translate(QStringLiteral("Good morning")).sourceLanguage, AppLanguage::german);
    EXPECT_EQ(translate(QStringLiteral("123 456")).sourceLanguage, AppLanguage::german);
    EXPECT_EQ(client->asked, (QStringList{"fr>en", "de>en", "de>en"}));
}

TEST_F(SelectionTranslationServiceTest, WithOneLanguageForBothTheTextComesBackUntouched) {
    settings->value.messageTargetLanguage = AppLanguage::english;
    recognizer->script(QStringLiteral("  Good morning\n"), QStringLiteral("en"));
    for (const QString& text : {QStringLiteral("  Good morning\n"), QStringLiteral("123 456 ")}) {
        const SelectionTranslationResult result = translate(text);
        EXPECT_EQ(result.translatedText, text);
        EXPECT_EQ(result.originalText, text);
        EXPECT_EQ(result.sourceLanguage, AppLanguage::english);
    }
    EXPECT_TRUE(client->asked.isEmpty());
    EXPECT_TRUE(client->batches.isEmpty());
}

TEST_F(SelectionTranslationServiceTest, AMissingPairFailsBeforeAnyTextIsSent) {
    recognizer->script(QStringLiteral("Bonjour"), QStringLiteral("fr"));
    client->availabilities[{AppLanguage::french, AppLanguage::english}] = Availability::supported;
    auto error = failure(QStringLiteral("Bonjour"));
    EXPECT_EQ(error->errorCase(), Case::translationLanguagePairNotInstalled);
    EXPECT_EQ(error->sourceLanguage(), displayName(AppLanguage::french));
    EXPECT_EQ(error->targetLanguage(), displayName(AppLanguage::english));
    client->availabilities[{AppLanguage::french, AppLanguage::english}] = Availability::unsupported;
    EXPECT_EQ(failure(QStringLiteral("Bonjour"))->errorCase(), Case::translationLanguagePairUnsupported);
    EXPECT_TRUE(client->batches.isEmpty());
}

TEST_F(SelectionTranslationServiceTest, AnswersMustCoverEveryInputWithText) {
    const QString text = QStringLiteral("One sentence.\n\nAnother sentence.");
    recognizer->script(text, QStringLiteral("fr"));
    for (const QStringList& unusable : {QStringList{}, QStringList{"Eins."}, QStringList{"Eins.", " \n\u00A0"}}) {
        client->answer = unusable;
        const auto error = failure(text);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->errorCase(), Case::translationLanguagePairUnsupported);
        EXPECT_EQ(error->sourceLanguage(), displayName(AppLanguage::french));
    }
    // Extra answers are ignored; answers are trimmed.
    client->answer = QStringList{"  Eins.\n", "Zwei.", "Drei."};
    EXPECT_EQ(translate(text).translatedText, QStringLiteral("Eins.\n\nZwei."));

    client->error = std::make_exception_ptr(
        CaptureWorkflowError::serverTranslationUnavailable(QStringLiteral("French"), QStringLiteral("English")));
    EXPECT_EQ(failure(text)->errorCase(), Case::serverTranslationUnavailable);
}

TEST_F(SelectionTranslationServiceTest, BlankLineRunsComeBackExactlyBetweenTheirParagraphs) {
    const Structured structured = Structured::build(QStringLiteral("First one.\n\n\nSecond one."));
    EXPECT_EQ(structured.translationInputs, (QStringList{"First one.", "Second one."}));
    ASSERT_EQ(structured.segments.size(), 3u);
    EXPECT_EQ(structured.segments[0], Structured::Segment(Structured::Translation{0, "First one."}));
    EXPECT_EQ(structured.segments[1], Structured::Segment(Structured::Literal{"\n\n\n"}));
    EXPECT_EQ(structured.segments[2], Structured::Segment(Structured::Translation{1, "Second one."}));

    // Blank lines holding spaces and tabs are kept character for character; those at the very
    // ends go with the final trim.
    const QString text = QStringLiteral("\n\nFirst one.\n \t\n\nSecond one.\n\n");
    recognizer->script(text, QStringLiteral("fr"));
    EXPECT_EQ(translate(text).translatedText, QStringLiteral("T(First one.)\n \t\n\nT(Second one.)"));
}

TEST_F(SelectionTranslationServiceTest, CarriageReturnsSplitLikeLineFeedsAndStayInTheOriginal) {
    const QString crlf = QStringLiteral("Alpha one.\r\n\r\nBeta two.\rGamma three.");
    recognizer->script(crlf, QStringLiteral("fr"));
    const SelectionTranslationResult result = translate(crlf);
    EXPECT_EQ(result.originalText, crlf);
    EXPECT_EQ(client->batches.value(0), (QStringList{"Alpha one.", "Beta two.", "Gamma three."}));
    EXPECT_EQ(result.translatedText, QStringLiteral("T(Alpha one.)\n\nT(Beta two.)\nT(Gamma three.)"));
}

TEST_F(SelectionTranslationServiceTest, ListsTabsAndColumnsGoLineByLine) {
    EXPECT_EQ(inputsFor(QStringLiteral("- milk\n  - eggs")), (QStringList{"- milk", "- eggs"}));
    EXPECT_EQ(client->batches.size(), 1);
    client->batches.clear();
    // A lone item is prose.
    EXPECT_EQ(inputsFor(QStringLiteral("- milk")), QStringList{"- milk"});
    client->batches.clear();
    EXPECT_EQ(inputsFor(QStringLiteral("1) start\n2) stop\n[x] done")),
              (QStringList{"1) start", "2) stop", "[x] done"}));
    client->batches.clear();
    EXPECT_EQ(inputsFor(QStringLiteral("name\tage\nAnna\t31")), (QStringList{"name\tage", "Anna\t31"}));
    client->batches.clear();
    EXPECT_EQ(inputsFor(QStringLiteral("Name    Age\nAnna    31")), (QStringList{"Name    Age", "Anna    31"}));
    client->batches.clear();
    // Unicode digits and no-break spaces are digits and white space to the layout rules.
    EXPECT_EQ(inputsFor(QStringLiteral(u"\u0661. one\n\u0662.\u00A0two")),
              (QStringList{QStringLiteral(u"\u0661. one"), QStringLiteral(u"\u0662.\u00A0two")}));
    client->batches.clear();

    // A line of no-break spaces inside a list stays as it is; items come back one a line.
    const QString list = QStringLiteral(u"- one\n\u00A0\u00A0\n- two");
    recognizer->script(list, QStringLiteral("fr"));
    EXPECT_EQ(translate(list).translatedText, QStringLiteral(u"T(- one)\n\u00A0\u00A0\nT(- two)"));
}

TEST_F(SelectionTranslationServiceTest, WrappedLinesJoinUntilASentenceEndsAndTheNextStarts) {
    EXPECT_EQ(inputsFor(QStringLiteral("The quick brown fox\n  jumps over the dog.")),
              QStringList{"The quick brown fox jumps over the dog."});
    client->batches.clear();
    EXPECT_EQ(inputsFor(QStringLiteral("It rained.\nWe stayed in!")), (QStringList{"It rained.", "We stayed in!"}));
    client->batches.clear();
    // Lower case, or a capital outside A to Z, continues the sentence.
    EXPECT_EQ(inputsFor(QStringLiteral("It rained.\nand we stayed.")), QStringList{"It rained. and we stayed."});
    client->batches.clear();
    EXPECT_EQ(inputsFor(QStringLiteral(u"It rained.\n\u0416ena stayed.")),
              QStringList{QStringLiteral(u"It rained. \u0416ena stayed.")});
    client->batches.clear();
    // Citations and closing quotes still end a sentence; an opening bracket may start one.
    EXPECT_EQ(inputsFor(QStringLiteral("As shown.[12]\n(The rest.)\nHe said \"no.\"\n'Fine.'")),
              (QStringList{"As shown.[12]", "(The rest.)", "He said \"no.\"", "'Fine.'"}));
}

}  // namespace

}  // namespace tavrolin
