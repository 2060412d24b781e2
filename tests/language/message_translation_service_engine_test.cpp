// Write Message end to end: the application's translation client (device engine first, the
// server for what the device cannot translate) with real language detection, against the
// local fake server and against Apertium, on an in-memory field.
#include "core/app_settings_providing.h"
#include "core/capture_workflow_error.h"
#include "core/user_preferred_languages_providing.h"
#include "language/message_translation_service.h"
#include "language/server_backed_translation_client.h"
#include "language/system_translation_client.h"
#include "language/url_session_server_translation_client.h"
#include "platform/desktop_backend.h"
#include "support/async.h"
#include "support/fakes/in_memory_focused_text_field.h"
#include "support/fakes/in_memory_text_clients.h"
#include "support/fakes/local_http_server.h"
#include "support/virtual_time.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>
#include <mutex>

namespace tavrolin {
namespace {

using Case = CaptureWorkflowError::Case;

struct FixedSettings final : AppSettingsProviding {
    AppSettings value;
    AppSettings settings() const override { return value; }
};

struct EnglishSpeaker final : UserPreferredLanguagesProviding {
    std::set<AppLanguage> boostedLanguages() const override { return {AppLanguage::english}; }
};

class MessageTranslationEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        server_.server().Post(
            "/api/text-translations", [this](const httplib::Request& request, httplib::Response& response) {
                const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
                QJsonArray translations;
                for (const auto item : body.value("items").toArray()) {
                    const QJsonObject object = item.toObject();
                    translations.append(QJsonObject{{"id", object.value("id")}, {"text", serverAnswer_}});
                }
                {
                    std::lock_guard lock(mutex_);
                    bodies_.append(body);
                    log_->add(QStringLiteral("server request"));
                }
                response.set_content(QJsonDocument(QJsonObject{{"translations", translations}}).toJson().toStdString(),
                                     "application/json");
            });
        server_.start();
    }

    MessageTranslationService service(bool serverAllowed, AppLanguage target) {
        settings_->value.messageTargetLanguage = target;
        ServerTranslationConfiguration configuration;
        configuration.endpointURL = server_.url(QStringLiteral("/api/text-translations"));
        auto serverClient = std::make_shared<URLSessionServerTranslationClient>(
            configuration, std::make_shared<ServerRequestTransport>(ServerSessionConfiguration::translation()));
        auto client = std::make_shared<ServerBackedTranslationClient>(
            std::make_shared<SystemTranslationClient>(makeSystemTranslationEngine(), makeSystemLanguageRecognizer()),
            serverClient, [serverAllowed] { return serverAllowed; },
            [this](AppLanguage) { log_->add("server translation starts on " + test::threadName()); });
        return MessageTranslationService(field_, client, settings_, std::make_shared<EnglishSpeaker>(), 4, 0.12,
                                         isTranslationSystemSupported, makeSystemLanguageRecognizer());
    }

    QList<QJsonObject> bodies() {
        std::lock_guard lock(mutex_);
        return bodies_;
    }

    test::LocalHttpServer server_;
    std::mutex mutex_;
    QList<QJsonObject> bodies_;
    QString serverAnswer_ = QStringLiteral("Hallo, wie geht es dir heute?");
    std::shared_ptr<test::EventLog> log_ = std::make_shared<test::EventLog>();
    test::ManualScheduler scheduler_;
    std::shared_ptr<test::InMemoryFocusedTextField> field_ =
        std::make_shared<test::InMemoryFocusedTextField>(scheduler_);
    std::shared_ptr<FixedSettings> settings_ = std::make_shared<FixedSettings>();
};

TEST_F(MessageTranslationEndToEnd, APairTheDeviceLacksGoesToTheServer) {
    const QString message = QStringLiteral("Hello, how are you today? I hope the weather is nice where you live.");
    field_->text = "Dear Anna, " + message;
    field_->selection = TextRange{11, message.size()};
    const auto result = test::await(service(true, AppLanguage::german).translateAndReplace(field_->snapshot()));

    EXPECT_EQ(result.originalText, message);
    EXPECT_EQ(result.translatedText, serverAnswer_);
    EXPECT_EQ(field_->text, "Dear Anna, " + serverAnswer_);
    ASSERT_EQ(bodies().size(), 1);
    const QJsonObject body = bodies().front();
    EXPECT_EQ(body.value("targetLanguage").toString(), "de");
    const QJsonObject item = body.value("items").toArray().at(0).toObject();
    EXPECT_EQ(item.value("text").toString(), message);
    EXPECT_EQ(item.value("sourceLanguage").toString(), "en");
    EXPECT_EQ(log_->events(), (QStringList{"server translation starts on main", "server request"}));
}

TEST_F(MessageTranslationEndToEnd, ABlankServerAnswerLeavesTheMessageInPlace) {
    serverAnswer_ = QStringLiteral("  \n ");
    field_->text = QStringLiteral("Hello, how are you today? I hope the weather is nice where you live.");
    try {
        test::await(service(true, AppLanguage::german).translateAndReplace(field_->snapshot()));
        ADD_FAILURE() << "a blank translation was accepted";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), Case::textTranslationInvalidResponse);
    }
    EXPECT_TRUE(field_->writtenTexts.isEmpty());
}

TEST_F(MessageTranslationEndToEnd, EnglishToSpanishOnTheDevice) {
    field_->text = QStringLiteral("I have a red car.");
    const auto result = test::await(service(false, AppLanguage::spanish).translateAndReplace(field_->snapshot()));
    EXPECT_EQ(result.translatedText, "Tengo un coche rojo.");
    EXPECT_EQ(field_->text, "Tengo un coche rojo.");
    EXPECT_EQ(server_.requestCount(), 0);
}

TEST_F(MessageTranslationEndToEnd, LanguagesNoEngineHasEndInThePairError) {
    // Japanese into Spanish: the device has no such pair and the server may not be used.
    field_->text = QStringLiteral(u"これは日本語の文です。");
    try {
        test::await(service(false, AppLanguage::spanish).translateAndReplace(field_->snapshot()));
        ADD_FAILURE() << "no engine translates this pair";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error, CaptureWorkflowError::translationLanguagePairUnsupported("Japanese", "Spanish"));
    }
    // A language outside the program's languages is not detected: the text stays as it is.
    field_->text = QStringLiteral("Jag heter Anna och jag bor i en liten stad vid havet.");
    const auto unchanged = test::await(service(false, AppLanguage::spanish).translateAndReplace(field_->snapshot()));
    EXPECT_EQ(unchanged.translatedText, field_->text);
    EXPECT_TRUE(field_->writtenTexts.isEmpty());
    EXPECT_EQ(server_.requestCount(), 0);
}

}  // namespace
}  // namespace tavrolin
