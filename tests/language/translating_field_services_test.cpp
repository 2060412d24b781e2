// Write Message and Flip Language on an in-memory field, with in-memory translation and a
// scripted language recognizer.
#include "core/app_settings_providing.h"
#include "core/capture_workflow_error.h"
#include "core/user_preferred_languages_providing.h"
#include "language/flip_language_service.h"
#include "language/focused_text_replacement_fallback.h"
#include "language/message_translation_service.h"
#include "support/async.h"
#include "support/fakes/in_memory_focused_text_field.h"
#include "support/fakes/recording_translation_clients.h"
#include "support/fakes/scripted_language_recognizer.h"
#include "support/virtual_time.h"
#include "support/virtual_time_task.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace tavrolin {

namespace {

using namespace std::chrono_literals;
using Case = CaptureWorkflowError::Case;
using Availability = TranslationPairAvailability;

struct FixedSettings final : AppSettingsProviding {
    AppSettings value;
    AppSettings settings() const override { return value; }
};

struct FixedBoostedLanguages final : UserPreferredLanguagesProviding {
    std::set<AppLanguage> boostedLanguages() const override { return {AppLanguage::english, AppLanguage::german}; }
};

// A translation client whose every answer is set by the test.
class AnswerTranslationClient final : public TranslationClient {
public:
    QStringList answer;
    int translations = 0;
    QCoro::Task<Availability> availability(AppLanguage, AppLanguage) override { co_return Availability::installed; }
    using TranslationClient::translate;
    QCoro::Task<QStringList> translate(QStringList, AppLanguage, AppLanguage) override {
        ++translations;
        QStringList copy = answer;  // g++ 12 would move a member named in co_return
        co_return copy;
    }
};

// n user-perceived characters, each several UTF-16 units: accented letters (e + combining
// acute), a skin-toned emoji and a family emoji, in turn.
QString clusters(int n) {
    static const QString pieces[] = {QStringLiteral(u"e\u0301"), QStringLiteral(u"👍🏽"),
                                     QStringLiteral(u"👨‍👩‍👧")};
    QString text;
    for (int i = 0; i < n; ++i) {
        text += pieces[i % 3];
    }
    return text;
}

template <typename Error = CaptureWorkflowError, typename Task>
std::optional<Error> failureOf(Task&& task) {
    try {
        test::await(std::forward<Task>(task));
    } catch (const Error& error) {
        return error;
    }
    return std::nullopt;
}

class TranslatingServicesTest : public ::testing::Test {
protected:
    TranslatingServicesTest() {
        settings->value.targetLanguage = AppLanguage::english;        // native
        settings->value.messageTargetLanguage = AppLanguage::german;  // second
        recognizer->script(QStringLiteral("Hello there"), QStringLiteral("en"));
        recognizer->script(QStringLiteral("Hello there, how are you today?"), QStringLiteral("en"));
        recognizer->script(QStringLiteral("Guten Tag"), QStringLiteral("de"));
        recognizer->script(QStringLiteral("Bonjour"), QStringLiteral("fr"));
        for (const auto& [s, t] : {std::pair{AppLanguage::english, AppLanguage::german},
                                   std::pair{AppLanguage::german, AppLanguage::english},
                                   std::pair{AppLanguage::french, AppLanguage::english},
                                   std::pair{AppLanguage::french, AppLanguage::german}}) {
            translator->setAvailability(s, t, Availability::installed);
        }
    }

    MessageTranslationService message(TranslationSystemCheck check = isTranslationSystemSupported) {
        return MessageTranslationService(field, translator, settings, std::make_shared<FixedBoostedLanguages>(), 4,
                                         0.12, std::move(check), recognizer);
    }
    FlipLanguageService flip(TranslationSystemCheck check = isTranslationSystemSupported) {
        return FlipLanguageService(field, translator, settings, std::make_shared<FixedBoostedLanguages>(), 4, 0.12,
                                   std::move(check), recognizer);
    }
    void setField(const QString& text, std::optional<TextRange> selection = std::nullopt) {
        field->text = text;
        field->selection = selection;
    }

    test::ManualScheduler scheduler;
    std::shared_ptr<test::InMemoryFocusedTextField> field = std::make_shared<test::InMemoryFocusedTextField>(scheduler);
    std::shared_ptr<test::EventLog> log = std::make_shared<test::EventLog>();
    std::shared_ptr<test::RecordingDeviceTranslationClient> translator =
        std::make_shared<test::RecordingDeviceTranslationClient>(log);
    std::shared_ptr<FixedSettings> settings = std::make_shared<FixedSettings>();
    std::shared_ptr<test::ScriptedLanguageRecognizer> recognizer = std::make_shared<test::ScriptedLanguageRecognizer>();
};

TEST_F(TranslatingServicesTest, MessageTranslatesTheSelectionInPlace) {
    setField(QStringLiteral("Hi! Hello there :)"), TextRange{4, 11});
    const auto result = test::await(message().translateAndReplace(field->snapshot()));

    EXPECT_EQ(result.originalText, "Hello there");
    EXPECT_EQ(result.translatedText, "Hello there (en>de device)");
    EXPECT_TRUE(result.replacedSelection);
    EXPECT_EQ(result.screenFrame, field->frame);
    EXPECT_EQ(field->text, "Hi! Hello there (en>de device) :)");
    EXPECT_EQ(log->events(), (QStringList{"availability en>de", "translate en>de [Hello there]"}));
}

TEST_F(TranslatingServicesTest, MessageWithAnEmptySelectionTranslatesTheWholeField) {
    setField(QStringLiteral("Hello there"), TextRange{3, 0});
    const auto result = test::await(message().translateAndReplace(field->snapshot()));
    EXPECT_FALSE(result.replacedSelection);
    EXPECT_EQ(field->text, "Hello there (en>de device)");
}

TEST_F(TranslatingServicesTest, MessageAlreadyInTheSecondLanguageOrUndetectedLeavesTheFieldAlone) {
    // Blanks are a text too; like any undetectable text they are taken as the second language.
    for (const QString& text : {QStringLiteral("Guten Tag"), QStringLiteral("zzqx 42"), QStringLiteral("   ")}) {
        SCOPED_TRACE(text.toStdString());
        setField(text);
        const auto result = test::await(message().translateAndReplace(field->snapshot()));
        EXPECT_EQ(result.originalText, text);
        EXPECT_EQ(result.translatedText, text);
        EXPECT_TRUE(field->writtenTexts.isEmpty());
    }
    EXPECT_TRUE(log->events().isEmpty()) << "the client is not asked";
}

TEST_F(TranslatingServicesTest, MessageTakesTheTargetFromTheSettingsOfTheMoment) {
    const auto service = message();
    settings->value.messageTargetLanguage = AppLanguage::french;
    translator->setAvailability(AppLanguage::english, AppLanguage::french, Availability::installed);
    setField(QStringLiteral("Hello there"));
    EXPECT_EQ(test::await(service.translateAndReplace(field->snapshot())).translatedText, "Hello there (en>fr device)");
}

TEST_F(TranslatingServicesTest, PairErrorsNameTheLanguagesAndLeaveTheFieldAlone) {
    setField(QStringLiteral("Hello there"));
    translator->setAvailability(AppLanguage::english, AppLanguage::german, Availability::supported);
    EXPECT_EQ(failureOf(message().translateAndReplace(field->snapshot())),
              CaptureWorkflowError::translationLanguagePairNotInstalled("English", "German"));
    translator->setAvailability(AppLanguage::english, AppLanguage::german, Availability::unsupported);
    EXPECT_EQ(failureOf(message().translateAndReplace(field->snapshot())),
              CaptureWorkflowError::translationLanguagePairUnsupported("English", "German"));
    setField(QStringLiteral("Guten Tag"));
    translator->setAvailability(AppLanguage::german, AppLanguage::english, Availability::unsupported);
    EXPECT_EQ(failureOf(flip().flipAndReplace(field->snapshot())),
              CaptureWorkflowError::translationLanguagePairUnsupported("German", "English"));
    EXPECT_TRUE(field->writtenTexts.isEmpty());
    EXPECT_TRUE(log->matching("translate").isEmpty());
}

TEST_F(TranslatingServicesTest, CharacterLimitCountsWhatTheUserSees) {
    for (const int count : {5000, 5001, 100000}) {
        SCOPED_TRACE(count);
        setField(count == 100000 ? QString(100000, QLatin1Char('a')) : clusters(count));
        const auto messageError = failureOf(message().translateAndReplace(field->snapshot()));
        const auto flipError = failureOf(flip().flipAndReplace(field->snapshot()));
        if (count == 5000) {
            EXPECT_EQ(messageError, std::nullopt);
            EXPECT_EQ(flipError, std::nullopt);
        } else {
            EXPECT_EQ(messageError, CaptureWorkflowError::textExceedsCharacterLimit(count));
            EXPECT_EQ(flipError, CaptureWorkflowError::textExceedsCharacterLimit(count));
        }
    }
    EXPECT_TRUE(recognizer->askedTexts().filter(QStringLiteral("aaaa")).isEmpty()) << "refused before detection";
    // Only the 5000 characters were translated (by Flip: Write Message took them, undetected,
    // as already in the second language).
    EXPECT_EQ(log->matching("translate").size(), 1);
}

TEST_F(TranslatingServicesTest, EmptyTextAndUnsupportedSystemFailFirst) {
    setField(QString(), TextRange{0, 0});
    EXPECT_EQ(failureOf(message().translateAndReplace(field->snapshot())),
              CaptureWorkflowError(Case::focusedTextFieldEmpty));
    EXPECT_EQ(failureOf(flip().flipAndReplace(field->snapshot())), CaptureWorkflowError(Case::focusedTextFieldEmpty));

    const auto unsupported = [] { return false; };
    EXPECT_EQ(failureOf(message(unsupported).translateAndReplace(field->snapshot())),
              CaptureWorkflowError(Case::translationRequiresMacOS26));
    EXPECT_EQ(failureOf(flip(unsupported).flipAndReplace(field->snapshot())),
              CaptureWorkflowError(Case::translationRequiresMacOS26));
}

TEST_F(TranslatingServicesTest, TranslationFailuresPassUnchanged) {
    setField(QStringLiteral("Hello there"));
    translator->failTranslationsFrom(
        AppLanguage::english,
        std::make_exception_ptr(CaptureWorkflowError::serverTranslationUnavailable("English", "German")));
    EXPECT_EQ(failureOf(message().translateAndReplace(field->snapshot())),
              CaptureWorkflowError::serverTranslationUnavailable("English", "German"));
    EXPECT_TRUE(field->writtenTexts.isEmpty());
}

TEST_F(TranslatingServicesTest, NoTranslationOrAnEmptyOneIsAFailedReplacement) {
    auto client = std::make_shared<AnswerTranslationClient>();
    MessageTranslationService service(field, client, settings, std::make_shared<FixedBoostedLanguages>(), 4, 0.12,
                                      isTranslationSystemSupported, recognizer);
    FlipLanguageService flipper(field, client, settings, std::make_shared<FixedBoostedLanguages>(), 4, 0.12,
                                isTranslationSystemSupported, recognizer);
    setField(QStringLiteral("Hello there"));
    for (const QStringList& answer : {QStringList{}, QStringList{QString(), QStringLiteral("second")}}) {
        client->answer = answer;
        EXPECT_EQ(failureOf(service.translateAndReplace(field->snapshot())),
                  CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText));
        EXPECT_EQ(failureOf(flipper.flipAndReplace(field->snapshot())),
                  CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText));
    }
    // A blank translation would wipe the message: it is a broken answer.
    client->answer = QStringList{QStringLiteral(" \n ")};
    EXPECT_EQ(failureOf(service.translateAndReplace(field->snapshot())),
              CaptureWorkflowError(Case::textTranslationInvalidResponse));
    EXPECT_EQ(failureOf(flipper.flipAndReplace(field->snapshot())),
              CaptureWorkflowError(Case::textTranslationInvalidResponse));
    EXPECT_TRUE(field->writtenTexts.isEmpty());
    // A translation is written as it came, surrounding blanks included.
    client->answer = QStringList{QStringLiteral("  Hallo\n")};
    EXPECT_EQ(test::await(service.translateAndReplace(field->snapshot())).translatedText, "  Hallo\n");
    EXPECT_EQ(field->text, "  Hallo\n");
}

TEST_F(TranslatingServicesTest, AFieldThatRefusesTheTranslationHandsItBackForCopying) {
    setField(QStringLiteral("Hello there"));
    field->readOnly = true;
    const auto fallback = failureOf<FocusedTextReplacementFallback>(message().translateAndReplace(field->snapshot()));
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->text, "Hello there (en>de device)");
    EXPECT_EQ(fallback->underlyingError, CaptureWorkflowError(Case::focusedTextFieldReadOnly));
    EXPECT_EQ(field->text, "Hello there");

    field->readOnly = false;
    field->replacementError = std::make_exception_ptr(CaptureWorkflowError(Case::accessibilityPermissionDenied));
    EXPECT_EQ(failureOf(flip().flipAndReplace(field->snapshot())),
              CaptureWorkflowError(Case::accessibilityPermissionDenied));
}

TEST_F(TranslatingServicesTest, FlipTranslatesBetweenNativeAndSecondLanguage) {
    struct Row {
        QString text;
        AppLanguage source;
        AppLanguage target;
    };
    const Row rows[] = {
        {QStringLiteral("Hello there"), AppLanguage::english, AppLanguage::german},
        {QStringLiteral("Guten Tag"), AppLanguage::german, AppLanguage::english},
        {QStringLiteral("Bonjour"), AppLanguage::french, AppLanguage::english},
        // Nothing detected: taken as the second language, so into the native one.
        {QStringLiteral("zzqx"), AppLanguage::german, AppLanguage::english},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        setField(row.text);
        const auto result = test::await(flip().flipAndReplace(field->snapshot()));
        EXPECT_EQ(result.detectedSourceLanguage, row.source);
        EXPECT_EQ(result.targetLanguage, row.target);
        EXPECT_EQ(field->text, row.text + " (" + test::pairName(row.source, row.target) + " device)");
    }
}

TEST_F(TranslatingServicesTest, FlipTakesAnUndetectableSelectionInTheFieldsLanguage) {
    setField(QStringLiteral("Hello there, how are you today?"), TextRange{13, 3});  // "how"
    const auto result = test::await(flip().flipAndReplace(field->snapshot()));
    EXPECT_EQ(result.originalText, "how");
    EXPECT_EQ(result.detectedSourceLanguage, AppLanguage::english);
    EXPECT_EQ(result.targetLanguage, AppLanguage::german);
    EXPECT_EQ(field->text, "Hello there, how (en>de device) are you today?");
}

TEST_F(TranslatingServicesTest, FlipWithOneLanguageStoredTwiceLeavesTheFieldAlone) {
    settings->value.messageTargetLanguage = AppLanguage::english;
    setField(QStringLiteral("Hello there"));
    const auto result = test::await(flip().flipAndReplace(field->snapshot()));
    EXPECT_EQ(result.translatedText, "Hello there");
    EXPECT_EQ(result.detectedSourceLanguage, AppLanguage::english);
    EXPECT_EQ(result.targetLanguage, AppLanguage::english);
    EXPECT_TRUE(field->writtenTexts.isEmpty());
    EXPECT_TRUE(log->events().isEmpty());
}

TEST_F(TranslatingServicesTest, ServicesReadWithTheirRetryValuesNeverNegative) {
    const struct {
        int count;
        double delay;
        int keptCount;
        double keptDelay;
    } rows[] = {{4, 0.12, 4, 0.12}, {-3, -1.0, 0, 0.0}, {2, std::numeric_limits<double>::quiet_NaN(), 2, 0.0}};
    field->hasFocusedField = false;
    for (const auto& row : rows) {
        const MessageTranslationService m(field, translator, settings, nullptr, row.count, row.delay);
        const FlipLanguageService f(field, translator, settings, nullptr, row.count, row.delay);
        // A field that never appears is read once and then once per kept retry, the kept delay apart.
        const auto readsOf = [&](const std::function<QCoro::Task<void>()>& read) {
            field->reads = 0;
            const auto start = scheduler.elapsed();
            EXPECT_THROW(test::runOnVirtualTime(read(), scheduler), CaptureWorkflowError);
            EXPECT_EQ(field->reads, 1 + row.keptCount) << row.count;
            EXPECT_NEAR(std::chrono::duration<double>(scheduler.elapsed() - start).count(),
                        row.keptCount * row.keptDelay, 0.001)
                << row.count;
        };
        readsOf([&m]() -> QCoro::Task<void> { co_await m.translateFocusedField({}); });
        readsOf([&f]() -> QCoro::Task<void> { co_await f.flipFocusedField(std::nullopt, {}); });
        // Without a provider of its own the service makes one.
        EXPECT_NE(m.preferredLanguagesProvider(), nullptr);
    }
}

TEST_F(TranslatingServicesTest, ReadingTheFieldRetriesOnTheServicesSettings) {
    const auto service = message();
    field->hasFocusedField = false;
    const auto start = scheduler.elapsed();
    std::vector<std::optional<QRectF>> frames;
    const FieldFrameCallback onFieldFrame = [&](const std::optional<QRectF>& frame) {
        frames.push_back(frame);
        EXPECT_TRUE(field->writtenTexts.isEmpty()) << "the frame is told before the field is written";
    };
    try {
        test::runOnVirtualTime(service.translateFocusedField(onFieldFrame), scheduler);
        ADD_FAILURE() << "a field that never appears is not found";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), Case::noFocusedTextField);
    }
    EXPECT_EQ(field->reads, 5);
    EXPECT_GE(scheduler.elapsed() - start, 4 * 120ms);
    EXPECT_LT(scheduler.elapsed() - start, 5 * 120ms);
    EXPECT_TRUE(frames.empty()) << "no field, no frame";

    // A field that shows up on the third read is read and translated.
    field->hasFocusedField = true;
    field->readsWithoutField = 2;
    field->reads = 0;
    setField(QStringLiteral("Hello there"));
    const MessageTranslationResult result =
        test::runOnVirtualTime(service.translateFocusedField(onFieldFrame), scheduler);
    EXPECT_EQ(field->reads, 3);
    EXPECT_EQ(result.translatedText, "Hello there (en>de device)");
    EXPECT_EQ(frames, std::vector<std::optional<QRectF>>{field->frame});
}

}  // namespace
}  // namespace tavrolin
