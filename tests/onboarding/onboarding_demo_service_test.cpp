// The demo service over the real focused-field services: its stand-ins, the conversation
// mapping, the translation system refusal, and Rewrite against the local server through the
// view model as the onboarding runs it.
#include "onboarding/onboarding_demo_service.h"

#include "core/app_metadata.h"
#include "core/capture_workflow_error.h"
#include "core/online_feature_policy.h"
#include "language/online_gated_clients.h"
#include "language/url_session_text_writing_client.h"
#include "onboarding/onboarding_demo_substitutes.h"
#include "onboarding/onboarding_view_model.h"
#include "support/async.h"
#include "support/fakes/in_memory_text_clients.h"
#include "support/fakes/local_http_server.h"
#include "support/fakes/scripted_batch_translation_client.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>
#include <mutex>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using Case = CaptureWorkflowError::Case;
using L = AppLanguage;

template <typename T>
std::optional<Case> failureOf(QCoro::Task<T>&& task) {
    try {
        test::await(std::move(task));
    } catch (const CaptureWorkflowError& error) {
        return error.errorCase();
    }
    return std::nullopt;
}

TEST(OnboardingSubstitutesTest, ThePretendFieldAlwaysAnswersItsWholeTextAndTakesEveryReplacement) {
    OnboardingFocusedTextAccessor field(QStringLiteral("draft"));
    FocusedTextFieldSnapshot expected;
    expected.fullText = QStringLiteral("draft");
    EXPECT_EQ(test::await(field.readFocusedField()), expected);
    EXPECT_EQ(test::await(field.readFocusedSelection(true)), expected);
    EXPECT_EQ(test::await(field.prepareFocusedFieldWithRetry(-3, -1.0)), expected);
    EXPECT_FALSE(expected.element) << "no element, no selection, no frame";

    // A snapshot without an element would make a real field refuse; this one never does.
    test::await(field.replaceFocusedFieldTextOrPresentCopyFallback(QStringLiteral("better"), expected));
    EXPECT_EQ(field.text(), "better");
    test::await(field.replaceFocusedFieldText(QString(), FocusedTextFieldSnapshot{}));
    EXPECT_EQ(field.text(), "");

    OnboardingActiveWindowTextProvider window(QStringLiteral("context"));
    EXPECT_EQ(test::await(window.readActiveWindowText()),
              (ActiveWindowTextSnapshot{QStringLiteral("context"), QRectF(0, 0, 1, 1), std::nullopt}));

    const AppSettings fixed = OnboardingStaticSettingsStore::fixedSettings(L::german, L::french);
    AppSettings expectedSettings;  // the built-in defaults are the fixed values
    expectedSettings.targetLanguage = L::german;
    expectedSettings.messageTargetLanguage = L::french;
    EXPECT_EQ(fixed, expectedSettings);
    EXPECT_EQ(OnboardingStaticSettingsStore(fixed).settings(), fixed);
}

class OnboardingDemoServiceTest : public ::testing::Test {
protected:
    std::shared_ptr<test::EventLog> log = std::make_shared<test::EventLog>();
    std::shared_ptr<test::InMemoryTextEditingClient> editor = std::make_shared<test::InMemoryTextEditingClient>(log);
    std::shared_ptr<test::InMemoryTextWritingClient> writer = std::make_shared<test::InMemoryTextWritingClient>(log);
    std::shared_ptr<test::ScriptedBatchTranslationClient> translator =
        std::make_shared<test::ScriptedBatchTranslationClient>();
    bool systemSupported = true;
    OnboardingDemoService service{editor, writer, translator, [this] { return systemSupported; }};
    const QList<OnboardingChatMessage> conversation = OnboardingViewModel::conversationMessages(L::english);
};

TEST_F(OnboardingDemoServiceTest, ConversationOfOneLanguageComesBackAsItIsWithoutTheClient) {
    EXPECT_EQ(test::await(service.translateConversation(conversation, L::english, L::english)), conversation);
    EXPECT_TRUE(translator->batches.isEmpty());
    EXPECT_EQ(translator->textCalls, 0);
}

TEST_F(OnboardingDemoServiceTest, ConversationIsOneBatchMappedBackByIdInMessageOrder) {
    translator->answer = [](const QList<TranslationRequest>&, L) {
        // Out of order, an id twice (the first answer counts), an id nobody asked for, and
        // no answer for "2".
        return QList<TranslationResponse>{
            {"3", "Gracias."}, {"9", "stray"}, {"1", "Producción cayó."}, {"3", "later duplicate"}};
    };
    const auto translated = test::await(service.translateConversation(conversation, L::english, L::spanish));
    ASSERT_EQ(translator->batches.size(), 1);
    QList<TranslationRequest> expectedRequests;
    for (const auto& message : conversation) {
        expectedRequests.append({message.id, message.text, L::english});
    }
    EXPECT_EQ(translator->batches[0], expectedRequests);
    EXPECT_EQ(translated,
              (QList<OnboardingChatMessage>{
                  {"1", "Producción cayó.", true}, {"2", conversation[1].text, false}, {"3", "Gracias.", true}}));
}

TEST_F(OnboardingDemoServiceTest, WithoutTheTranslationSystemTheTranslatingDemosRefuseBeforeAnyRequest) {
    systemSupported = false;
    EXPECT_EQ(failureOf(service.translateDraft(QStringLiteral("Привет, как дела?"), L::english)),
              Case::translationRequiresMacOS26);
    EXPECT_EQ(failureOf(service.flipDraft(QStringLiteral("Hello there"), L::russian, L::english)),
              Case::translationRequiresMacOS26);
    EXPECT_EQ(failureOf(service.translateConversation(conversation, L::english, L::english)),
              Case::translationRequiresMacOS26);
    EXPECT_TRUE(translator->batches.isEmpty());
    EXPECT_EQ(translator->textCalls, 0);

    // Rewrite and Edit do not translate and still run.
    EXPECT_EQ(test::await(service.editText(QStringLiteral("teh text"), L::english, L::english)), "teh text");
    EXPECT_EQ(test::await(service.writeReply(QStringLiteral("no"), QStringLiteral("ctx"), L::german)), "no");
    EXPECT_EQ(log->events(), (QStringList{"edit en>en [teh text] on main", "write de [no] window [ctx] on main"}));
}

TEST_F(OnboardingDemoServiceTest, DraftsGoThroughTheFieldServicesWithTheirRules) {
    writer->answer = [](const QString&) { return QStringLiteral("  Sure, I can help.\n"); };
    EXPECT_EQ(test::await(service.writeReply(QStringLiteral("no way"), QStringLiteral("ctx"), L::english)),
              "  Sure, I can help.\n");
    // An empty draft is an empty field to the services.
    EXPECT_EQ(failureOf(service.writeReply(QString(), QStringLiteral("ctx"), L::english)), Case::focusedTextFieldEmpty);
    EXPECT_EQ(failureOf(service.editText(QString(), L::english, L::english)), Case::focusedTextFieldEmpty);
}

// Rewrite through the view model and the real service, against the local server.
class OnboardingRewriteOverServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        InfoDictionary::setMainForTesting(QJsonObject{{"CFBundleShortVersionString", "2.0"}});
        server_.server().Post("/api/text-writes", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(mutex_);
            bodies_.append(QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object());
            response.status = status_;
            response.set_content(answer_, "application/json");
        });
        server_.start();

        TextWritingConfiguration configuration;
        configuration.endpointURL = server_.url(QStringLiteral("/api/text-writes"));
        ServerSessionConfiguration session = ServerSessionConfiguration::textWriting();
        session.requestTimeout = 2s;
        session.resourceTimeout = 4s;
        auto writing = std::make_shared<OnlineGatedTextWritingClient>(
            std::make_shared<URLSessionTextWritingClient>(configuration,
                                                          std::make_shared<ServerRequestTransport>(session)),
            policy_);
        auto service = std::make_shared<OnboardingDemoService>(
            std::make_shared<test::InMemoryTextEditingClient>(std::make_shared<test::EventLog>()), writing,
            std::make_shared<test::ScriptedBatchTranslationClient>());
        AppSettings settings;
        settings.targetLanguage = L::russian;
        settings.messageTargetLanguage = L::english;
        model_ = std::make_shared<OnboardingViewModel>(
            settings, OnboardingPage::all(), [](const AppSettings&) { return std::nullopt; }, service);
        model_->selectPage(2);  // "write-demo"
    }
    void TearDown() override { InfoDictionary::setMainForTesting(std::nullopt); }

    void reply(int status, std::string body) {
        std::lock_guard lock(mutex_);
        status_ = status;
        answer_ = std::move(body);
    }
    // Presses the Rewrite shortcut and waits for the demonstration to end.
    void rewrite() {
        ASSERT_TRUE(model_->handleHotKeyAction(HotKeyAction::writeText));
        ASSERT_TRUE(test::waitUntil([this] { return !model_->runningAction(); }, 10s));
    }
    QList<QJsonObject> bodies() {
        std::lock_guard lock(mutex_);
        return bodies_;
    }

    test::LocalHttpServer server_;
    std::shared_ptr<OnlineFeaturePolicy> policy_ = std::make_shared<OnlineFeaturePolicy>(true);
    std::shared_ptr<OnboardingViewModel> model_;
    std::mutex mutex_;
    QList<QJsonObject> bodies_;
    int status_ = 200;
    std::string answer_;
};

TEST_F(OnboardingRewriteOverServerTest, SendsTheDraftWithTheThreeLineContextAndShowsTheReply) {
    reply(200, R"({"text":"I can't cover production this weekend, sorry."})");
    rewrite();
    EXPECT_EQ(model_->writeResult(), "I can't cover production this weekend, sorry.");
    EXPECT_EQ(model_->hotKeyHint(), "Done. That is the same shortcut you will use in any app.");
    ASSERT_EQ(bodies().size(), 1);
    const QJsonObject body = bodies()[0];
    EXPECT_EQ(body.value("fieldText").toString(), OnboardingViewModel::defaultWriteDraft(L::russian));
    EXPECT_EQ(body.value("targetLanguage").toString(), "en");
    const QStringList context = body.value("windowText").toString().split('\n');
    EXPECT_EQ(context, (QStringList{"Second language: English", "Production is down after the last deploy.",
                                    "We need someone to work this weekend. Can you take it?"}));
}

TEST_F(OnboardingRewriteOverServerTest, OfflineRewriteFailsBeforeAnyRequest) {
    policy_->setOnlineFeaturesEnabled(false);
    rewrite();
    EXPECT_EQ(server_.requestCount(), 0);
    EXPECT_EQ(model_->hotKeyHint(), "Could not run the live demo. " +
                                        CaptureWorkflowError(Case::onlineFeaturesDisabled).errorDescription() + " " +
                                        *CaptureWorkflowError(Case::onlineFeaturesDisabled).recoverySuggestion());
    EXPECT_FALSE(model_->writeResult());
}

TEST_F(OnboardingRewriteOverServerTest, BadAnswersNameTheErrorAndKeepDraftAndResult) {
    reply(200, R"({"text":"First reply."})");
    rewrite();
    model_->setWriteDraft(QStringLiteral("my edited draft"));

    const auto hintFor = [](Case errorCase) {
        const CaptureWorkflowError error(errorCase);
        return "Could not run the live demo. " + error.errorDescription() + " " + *error.recoverySuggestion();
    };
    struct Row {
        const char* name;
        int status;
        std::string body;
        Case expected;
    };
    for (const Row& row : {Row{"server error", 500, R"({"text":"ignored"})", Case::textWritingRequestFailed},
                           Row{"invalid JSON", 200, R"({"text": )", Case::textWritingInvalidResponse},
                           Row{"empty text", 200, R"({"text":""})", Case::textWritingInvalidResponse}}) {
        SCOPED_TRACE(row.name);
        reply(row.status, row.body);
        rewrite();
        EXPECT_EQ(model_->hotKeyHint(), hintFor(row.expected));
        EXPECT_EQ(model_->writeDraft(), "my edited draft");
        EXPECT_EQ(model_->writeResult(), "First reply.");
        EXPECT_EQ(bodies().back().value("fieldText").toString(), "my edited draft");
    }
}

}  // namespace
}  // namespace tavrolin
