// The four server text clients against a real HTTP server on 127.0.0.1.
#include "core/app_metadata.h"
#include "language/hybrid_text_editing_client.h"
#include "language/local_text_editing_client.h"
#include "language/url_session_text_editing_client.h"
#include "language/url_session_text_improve_client.h"
#include "language/url_session_text_prompt_client.h"
#include "language/url_session_text_writing_client.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/fakes/memory_log_sink.h"
#include "support/fakes/raw_tcp_server.h"
#include "support/fakes/scripted_text_spell_checker.h"
#include "support/qt_printers.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>

using namespace tavrolin;
using namespace std::chrono_literals;
using Case = CaptureWorkflowError::Case;

namespace {

// One of the four clients, reduced to what the shared tests need.
struct ClientKind {
    const char* operation;
    const char* path;
    Case requestFailed;
    Case invalidResponse;
    // Builds the client (endpoint absent when not given) and runs one typical call.
    std::function<QCoro::Task<QString>(std::optional<QUrl>, std::shared_ptr<ServerRequestTransport>)> call;
    QByteArray expectedBody;
    QString expectedDetail;
    // The client's own session, as the application builds it.
    ServerSessionConfiguration (*session)();
};

std::vector<ClientKind> clientKinds() {
    return {
        {"text_edit", "/api/text-edits", Case::textEditingRequestFailed, Case::textEditingInvalidResponse,
         [](std::optional<QUrl> endpoint, std::shared_ptr<ServerRequestTransport> session) -> QCoro::Task<QString> {
             TextEditingConfiguration configuration;
             configuration.endpointURL = endpoint;
             URLSessionTextEditingClient client(configuration, session);
             co_return co_await client.edit(QStringLiteral(" Ça va\n \"bien\" "), AppLanguage::automatic,
                                            AppLanguage::french);
         },
         R"({"text":" Ça va\n \"bien\" ","sourceLanguage":"auto","targetLanguage":"fr"})",
         "chars=15 source=auto target=fr", &ServerSessionConfiguration::textEditing},
        {"text_improve", "/api/text-improve", Case::textImproveRequestFailed, Case::textImproveInvalidResponse,
         [](std::optional<QUrl> endpoint, std::shared_ptr<ServerRequestTransport> session) -> QCoro::Task<QString> {
             TextImproveConfiguration configuration;
             configuration.endpointURL = endpoint;
             URLSessionTextImproveClient client(configuration, session);
             co_return co_await client.improve(QString::fromUtf8("e\u0301te\u0301 uh so"), AppLanguage::english);
         },
         "{\"text\":\"e\xCC\x81te\xCC\x81 uh so\",\"language\":\"en\"}", "chars=9 language=en",
         &ServerSessionConfiguration::textImprove},
        {"text_prompt", "/api/text-prompt", Case::textPromptRequestFailed, Case::textPromptInvalidResponse,
         [](std::optional<QUrl> endpoint, std::shared_ptr<ServerRequestTransport> session) -> QCoro::Task<QString> {
             TextPromptConfiguration configuration;
             configuration.endpointURL = endpoint;
             URLSessionTextPromptClient client(configuration, session);
             co_return co_await client.createPrompt(QStringLiteral("make a list"), TextPromptLanguage::english);
         },
         R"({"text":"make a list","language":"english"})", "chars=11", &ServerSessionConfiguration::textPrompt},
        {"text_write", "/api/text-writes", Case::textWritingRequestFailed, Case::textWritingInvalidResponse,
         [](std::optional<QUrl> endpoint, std::shared_ptr<ServerRequestTransport> session) -> QCoro::Task<QString> {
             TextWritingConfiguration configuration;
             configuration.endpointURL = endpoint;
             URLSessionTextWritingClient client(configuration, session);
             co_return co_await client.write(QStringLiteral("say yes"), QString(), AppLanguage::german);
         },
         R"({"fieldText":"say yes","windowText":"","targetLanguage":"de"})", "fieldChars=7 windowChars=0 target=de",
         &ServerSessionConfiguration::textWriting},
    };
}

ServerSessionConfiguration fastSession(
    ServerSessionConfiguration configuration = ServerSessionConfiguration::textEditing()) {
    configuration.requestTimeout = 300ms;
    configuration.resourceTimeout = 3s;
    return configuration;
}

struct SeenRequest {
    std::string method;
    std::string path;
    std::string body;
    httplib::Headers headers;
};

// Holds a server handler until released, never longer than a few seconds.
class Gate {
public:
    void wait() {
        std::unique_lock lock(mutex_);
        condition_.wait_for(lock, 5s, [this] { return open_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        condition_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool open_ = false;
};

class TextClientsTest : public ::testing::Test {
protected:
    void SetUp() override {
        InfoDictionary::setMainForTesting(
            QJsonObject{{"CFBundleShortVersionString", "2.0"}, {"CFBundleVersion", "31"}});
        for (const ClientKind& kind : clientKinds()) {
            server_.server().Post(kind.path, [this](const httplib::Request& request, httplib::Response& response) {
                {
                    std::lock_guard lock(mutex_);
                    seen_.push_back({request.method, request.path, request.body, request.headers});
                }
                handler_(request, response);
            });
        }
        server_.start();
    }
    void TearDown() override {
        gate_.open();
        InfoDictionary::setMainForTesting(std::nullopt);
    }

    void reply(int status, std::string body) {
        handler_ = [status, body](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            response.set_content(body, "application/json");
        };
    }

    // Runs the kind's call; answers the error case it failed with, or its text.
    std::variant<QString, Case> run(const ClientKind& kind, std::optional<QUrl> endpoint,
                                    const ServerSessionConfiguration& session = fastSession()) {
        try {
            return test::await(kind.call(std::move(endpoint), std::make_shared<ServerRequestTransport>(session)));
        } catch (const CaptureWorkflowError& error) {
            return error.errorCase();
        }
    }
    std::variant<QString, Case> run(const ClientKind& kind) { return run(kind, server_.url(kind.path)); }
    // The error case of a run, none when it answered a text (which may be too long to print).
    static std::optional<Case> failure(const std::variant<QString, Case>& result) {
        return std::holds_alternative<Case>(result) ? std::optional(std::get<Case>(result)) : std::nullopt;
    }

    std::vector<SeenRequest> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

    test::LocalHttpServer server_;
    std::function<void(const httplib::Request&, httplib::Response&)> handler_;
    std::mutex mutex_;
    std::vector<SeenRequest> seen_;
    Gate gate_;
};

}  // namespace

TEST_F(TextClientsTest, ExactRequestsHeadersAndLogLines) {
    for (const ClientKind& kind : clientKinds()) {
        SCOPED_TRACE(kind.operation);
        seen_.clear();
        test::ScopedLogCapture capture;
        const std::string answer = R"({"model":"m","text":"  kept as sent \n"})";
        reply(200, answer);
        EXPECT_EQ(std::get<QString>(run(kind)), "  kept as sent \n");

        const auto requests = seen();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].method, "POST");
        EXPECT_EQ(requests[0].path, kind.path);
        EXPECT_EQ(QByteArray::fromStdString(requests[0].body), kind.expectedBody);
        EXPECT_EQ(requests[0].headers.find("Content-Type")->second, "application/json");
        EXPECT_EQ(requests[0].headers.find("User-Agent")->second, "Tavrolin/2.0 (31)");

        const QString endpoint = server_.url(kind.path).toString();
        EXPECT_EQ(capture.messages(LogCategory::network),
                  QStringList({QStringLiteral("request start operation=%1 endpoint=%2 detail=%3")
                                   .arg(kind.operation, endpoint, kind.expectedDetail),
                               QStringLiteral("request response operation=%1 status=200 responseBytes=%2")
                                   .arg(kind.operation)
                                   .arg(answer.size())}));
    }
}

TEST_F(TextClientsTest, StatusAndDecodingFailures) {
    struct Row {
        const char* name;
        int status;
        std::string body;
        bool requestFailed;    // else invalid response
        const char* lastLine;  // %1 = operation
    };
    const std::vector<Row> rows = {
        {"server error, body not read", 500, R"({"text":"ignored"})", true,
         "request invalid response operation=%1 reason=http_status_500 responseBytes=18"},
        {"redirect status", 300, "", true,
         "request invalid response operation=%1 reason=http_status_300 responseBytes=0"},
        {"not found", 404, "nope", true,
         "request invalid response operation=%1 reason=http_status_404 responseBytes=4"},
        {"no content", 204, "", false, "request failed operation=%1_decode errorType="},
        {"text missing", 200, R"({"answer":"x"})", false, "request failed operation=%1_decode errorType="},
        {"text is a number", 200, R"({"text":42})", false, "request failed operation=%1_decode errorType="},
        {"text is null", 200, R"({"text":null})", false, "request failed operation=%1_decode errorType="},
        {"not JSON", 200, "<html>", false, "request failed operation=%1_decode errorType="},
        {"an array", 200, R"(["text"])", false, "request failed operation=%1_decode errorType="},
    };
    for (const ClientKind& kind : clientKinds()) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(kind.operation) + ": " + row.name);
            test::ScopedLogCapture capture;
            reply(row.status, row.body);
            const auto result = run(kind);
            ASSERT_TRUE(std::holds_alternative<Case>(result));
            EXPECT_EQ(std::get<Case>(result), row.requestFailed ? kind.requestFailed : kind.invalidResponse);
            const QStringList lines = capture.messages(LogCategory::network);
            ASSERT_EQ(lines.size(), 3) << lines.join("\n").toStdString();
            EXPECT_EQ(lines[1], QStringLiteral("request response operation=%1 status=%2 responseBytes=%3")
                                    .arg(kind.operation)
                                    .arg(row.status)
                                    .arg(row.body.size()));
            EXPECT_TRUE(lines[2].startsWith(QString::fromLatin1(row.lastLine).arg(kind.operation)))
                << lines[2].toStdString();
        }
    }
}

TEST_F(TextClientsTest, AnAnswerBeyondOneMebibyteIsNotTakenNorReadToTheEnd) {
    const auto textAnswerOf = [](qsizetype bytes) {
        const std::string head = R"({"text":")";
        return head + std::string(bytes - head.size() - 2, 'a') + "\"}";
    };
    const auto streamed = std::make_shared<std::atomic<qint64>>(0);
    for (const ClientKind& kind : clientKinds()) {
        SCOPED_TRACE(kind.operation);
        const ServerSessionConfiguration session = fastSession(kind.session());
        const QString tooLarge =
            QStringLiteral("request failed operation=%1 errorType=Tavrolin.URLError message=url_error_code=-1011")
                .arg(kind.operation);

        reply(200, textAnswerOf(1024 * 1024));
        const auto atTheLimit = run(kind, server_.url(kind.path), session);
        ASSERT_TRUE(std::holds_alternative<QString>(atTheLimit));
        EXPECT_EQ(std::get<QString>(atTheLimit).size(), 1024 * 1024 - 11);

        {
            test::ScopedLogCapture capture;
            reply(200, textAnswerOf(1024 * 1024 + 1));
            EXPECT_EQ(failure(run(kind, server_.url(kind.path), session)), kind.invalidResponse);
            EXPECT_EQ(capture.messages(LogCategory::network).last(), tooLarge);
        }
        {
            test::ScopedLogCapture capture;
            *streamed = 0;
            handler_ = test::streamedTextAnswer(50u * 1024 * 1024, streamed);
            EXPECT_EQ(failure(run(kind, server_.url(kind.path), session)), kind.invalidResponse);
            EXPECT_EQ(capture.messages(LogCategory::network).last().toStdString(), tooLarge.toStdString());
            // What the server got out before the connection closed: the limit and what the
            // sockets between hold, never the whole answer.
            test::waitUntil([] { return false; }, 100ms);
            EXPECT_LT(streamed->load(), 16 * 1024 * 1024);
        }
    }
}

TEST_F(TextClientsTest, ARedirectIsAFailureAndTheTextGoesNowhereElse) {
    test::LocalHttpServer elsewhere;
    elsewhere.server().Post(".*", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(R"({"text":"taken elsewhere"})", "application/json");
    });
    elsewhere.start();
    handler_ = [&elsewhere](const httplib::Request& request, httplib::Response& response) {
        response.status = 307;
        response.set_header("Location", elsewhere.url(QString::fromStdString(request.path)).toString().toStdString());
    };
    for (const ClientKind& kind : clientKinds()) {
        SCOPED_TRACE(kind.operation);
        test::ScopedLogCapture capture;
        EXPECT_EQ(failure(run(kind)), kind.requestFailed);
        EXPECT_TRUE(capture.messages(LogCategory::network)
                        .last()
                        .startsWith(QStringLiteral("request invalid response operation=%1 reason=http_status_307 ")
                                        .arg(kind.operation)));
    }
    EXPECT_EQ(elsewhere.requestCount(), 0);
}

// A broken answer is the server's to mend, not the user's connection: each client fails with its
// invalid-response error, whose alert says so; a server that is not there stays a request failure.
TEST_F(TextClientsTest, ABrokenAnswerIsAnInvalidResponseAndNoServerARequestFailure) {
    const std::vector<std::pair<const char*, QByteArray>> answers = {
        {"a head cut midway", "HTTP/1.1 200 OK\r\nContent-Type: appl"},
        {"a chunk size that cannot be read",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0x39\r\n" + QByteArray(57, 'a') + "\r\n0\r\n\r\n"},
        {"lengths that disagree", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 5\r\n\r\n{}"},
    };
    const auto errorOf = [](const ClientKind& kind, const QUrl& url) -> std::optional<CaptureWorkflowError> {
        try {
            test::await(kind.call(url, std::make_shared<ServerRequestTransport>(fastSession(kind.session()))));
        } catch (const CaptureWorkflowError& error) {
            return error;
        }
        return std::nullopt;
    };
    for (const auto& [name, answer] : answers) {
        test::RawTcpServer server([answer = answer](test::RawConnection& connection) {
            connection.readRequest();
            connection.write(answer);
        });
        for (const ClientKind& kind : clientKinds()) {
            SCOPED_TRACE(std::string(name) + ", " + kind.operation);
            test::ScopedLogCapture capture;
            const std::optional<CaptureWorkflowError> error = errorOf(kind, server.url(kind.path));
            ASSERT_TRUE(error);
            EXPECT_EQ(error->errorCase(), kind.invalidResponse);
            EXPECT_EQ(error->alertText(), CaptureWorkflowError(kind.invalidResponse).errorDescription() +
                                              "\n\nTry again after the server is updated or restarted.");
            EXPECT_EQ(capture.messages(LogCategory::network).last(),
                      QStringLiteral("request failed operation=%1 errorType=Tavrolin.URLError "
                                     "message=url_error_code=-1011")
                          .arg(kind.operation));
        }
    }
    QUrl nowhere;
    {
        const test::RawTcpServer closed([](test::RawConnection&) {});
        nowhere = closed.url("/api/text-writes");
    }
    const std::optional<CaptureWorkflowError> refused = errorOf(clientKinds().back(), nowhere);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->alertText(),
              "Tavrolin could not write text using the server.\n\nCheck your internet connection or server "
              "endpoint, then try again.");
}

TEST_F(TextClientsTest, EmptyTextsAreSentAndEmptyAnswersReturned) {
    reply(200, R"({"text":""})");
    TextEditingConfiguration configuration;
    configuration.endpointURL = server_.url("/api/text-edits");
    URLSessionTextEditingClient client(configuration, std::make_shared<ServerRequestTransport>(fastSession()));
    test::ScopedLogCapture capture;
    EXPECT_EQ(test::await(client.edit(QString(), AppLanguage::english, AppLanguage::english)), "");
    EXPECT_EQ(seen().at(0).body, R"({"text":"","sourceLanguage":"en","targetLanguage":"en"})");
    EXPECT_TRUE(capture.messages(LogCategory::network).at(0).endsWith("detail=chars=0 source=en target=en"));
    EXPECT_EQ(URLSessionTextEditingClient::detail(QString(42, 'a'), AppLanguage::english, AppLanguage::english),
              "chars=42 source=en target=en");
}

TEST_F(TextClientsTest, TimeOutsFailAsRequestFailures) {
    handler_ = [this](const httplib::Request&, httplib::Response& response) {
        gate_.wait();  // answers only after the client gave up
        response.set_content(R"({"text":"late"})", "application/json");
    };
    for (const ClientKind& kind : clientKinds()) {
        SCOPED_TRACE(kind.operation);
        test::ScopedLogCapture capture;
        const auto result = run(kind);
        ASSERT_TRUE(std::holds_alternative<Case>(result));
        EXPECT_EQ(std::get<Case>(result), kind.requestFailed);
        const QStringList lines = capture.messages(LogCategory::network);
        ASSERT_EQ(lines.size(), 2);
        EXPECT_EQ(lines[1],
                  QStringLiteral("request failed operation=%1 errorType=Tavrolin.URLError message=url_error_code=-1001")
                      .arg(kind.operation));
    }
}

TEST_F(TextClientsTest, MissingEndpointMakesNoRequest) {
    for (const ClientKind& kind : clientKinds()) {
        SCOPED_TRACE(kind.operation);
        test::ScopedLogCapture capture;
        const auto result = run(kind, std::nullopt);
        ASSERT_TRUE(std::holds_alternative<Case>(result));
        EXPECT_EQ(std::get<Case>(result), kind.requestFailed);
        EXPECT_EQ(capture.messages(LogCategory::network),
                  QStringList({QStringLiteral("request missing endpoint operation=%1").arg(kind.operation)}));
    }
    EXPECT_EQ(server_.requestCount(), 0);
}

TEST_F(TextClientsTest, PromptLanguagesTravelAsTheirRawValues) {
    EXPECT_EQ(URLSessionTextPromptClient::encodeRequestBody("x", TextPromptLanguage::original),
              R"({"text":"x","language":"original"})");
    EXPECT_EQ(fromRawValue<TextPromptLanguage>(u"english"), TextPromptLanguage::english);
    EXPECT_EQ(fromRawValue<TextPromptLanguage>(u"original"), TextPromptLanguage::original);
    EXPECT_EQ(fromRawValue<TextPromptLanguage>(u"English"), std::nullopt);
    EXPECT_EQ(fromRawValue<TextPromptLanguage>(u""), std::nullopt);
}

TEST_F(TextClientsTest, OfflineHybridEditingMakesNoRequest) {
    reply(200, R"({"text":"from the server"})");
    auto policy = std::make_shared<OnlineFeaturePolicy>(false);
    TextEditingConfiguration configuration;
    configuration.endpointURL = server_.url("/api/text-edits");
    auto checker = std::make_shared<test::ScriptedTextSpellChecker>();
    checker->misspell("mesage", {"message"});
    HybridTextEditingClient hybrid(std::make_shared<URLSessionTextEditingClient>(
                                       configuration, std::make_shared<ServerRequestTransport>(fastSession())),
                                   std::make_shared<LocalTextEditingClient>(checker), policy);
    EXPECT_EQ(test::await(hybrid.edit("a mesage", AppLanguage::english, AppLanguage::english)), "a message");
    EXPECT_EQ(server_.requestCount(), 0);
    policy->setOnlineFeaturesEnabled(true);
    EXPECT_EQ(test::await(hybrid.edit("a mesage", AppLanguage::english, AppLanguage::english)), "from the server");
    EXPECT_EQ(server_.requestCount(), 1);
}
