#include "language/url_session_server_translation_client.h"

#include "core/app_metadata.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/fakes/memory_log_sink.h"
#include "support/qt_printers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using Case = CaptureWorkflowError::Case;

const QString kPath = QStringLiteral("/api/text-translations");

// Blocks server handlers until released (or until a bound, so a failing test cannot hang).
class Gate {
public:
    void wait() {
        std::unique_lock lock(mutex_);
        ++waiting_;
        condition_.wait_for(lock, 10s, [this] { return open_; });
        --waiting_;
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        condition_.notify_all();
    }
    int waiting() {
        std::lock_guard lock(mutex_);
        return waiting_;
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool open_ = false;
    int waiting_ = 0;
};

struct SeenRequest {
    std::string method;
    std::string body;
    httplib::Headers headers;
};

ServerSessionConfiguration fastSession() {
    ServerSessionConfiguration configuration = ServerSessionConfiguration::translation();
    configuration.requestTimeout = 300ms;
    configuration.resourceTimeout = 3s;
    return configuration;
}

QList<TranslationRequest> threeRequests() {
    return {{QStringLiteral("0"), QStringLiteral("  Hello there "), AppLanguage::english},
            {QStringLiteral("1"), QStringLiteral("Guten Tag\n"), AppLanguage::german},
            {QStringLiteral("2"), QStringLiteral("e\u0301te\u0301 👨‍👩‍👧"), AppLanguage::automatic}};
}

std::string translationsBody(const std::vector<std::pair<std::string, std::string>>& items) {
    QJsonArray translations;
    for (const auto& [id, text] : items) {
        translations.append(QJsonObject{{"id", QString::fromStdString(id)}, {"text", QString::fromStdString(text)}});
    }
    return QJsonDocument(QJsonObject{{"translations", translations}}).toJson(QJsonDocument::Compact).toStdString();
}

class ServerTranslationClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        InfoDictionary::setMainForTesting(
            QJsonObject{{"CFBundleShortVersionString", "1.4.2"}, {"CFBundleVersion", "57"}});
        server_.server().Post(kPath.toStdString(),
                              [this](const httplib::Request& request, httplib::Response& response) {
                                  {
                                      std::lock_guard lock(mutex_);
                                      seen_.push_back({request.method, request.body, request.headers});
                                  }
                                  handler_(request, response);
                              });
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

    std::unique_ptr<URLSessionServerTranslationClient> makeClient(std::optional<QUrl> endpoint,
                                                                  ServerSessionConfiguration session = fastSession()) {
        ServerTranslationConfiguration configuration;
        configuration.endpointURL = std::move(endpoint);
        return std::make_unique<URLSessionServerTranslationClient>(configuration,
                                                                   std::make_shared<ServerRequestTransport>(session));
    }
    std::unique_ptr<URLSessionServerTranslationClient> makeClient() { return makeClient(server_.url(kPath)); }

    // Runs the batch and answers the error case it failed with (none on success).
    std::optional<Case> failureOf(URLSessionServerTranslationClient& client, QList<TranslationRequest> requests,
                                  AppLanguage target = AppLanguage::french) {
        try {
            test::await(client.translate(std::move(requests), target));
        } catch (const CaptureWorkflowError& error) {
            return error.errorCase();
        }
        return std::nullopt;
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

TEST_F(ServerTranslationClientTest, SendsTheExactBodyAndHeadersAndMatchesAnswersById) {
    test::ScopedLogCapture capture;
    // reverse order, untrimmed texts, an extra key
    const std::string answer =
        R"({"model":"x","translations":[{"id":"2","text":" c "},{"id":"1","text":"b\n"},{"id":"0","text":"  a"}]})";
    handler_ = [answer](const httplib::Request&, httplib::Response& response) {
        response.set_header("Set-Cookie", "session=abc; Path=/");
        response.set_content(answer, "application/json");
    };
    auto client = makeClient();
    const auto result = test::await(client->translate(threeRequests(), AppLanguage::french));
    EXPECT_EQ(result, (QList<TranslationResponse>{{"0", "  a"}, {"1", "b\n"}, {"2", " c "}}));

    // a second request carries no cookie from the first
    test::await(client->translate(threeRequests(), AppLanguage::french));
    const auto requests = seen();
    ASSERT_EQ(requests.size(), 2u);
    const SeenRequest& first = requests[0];
    EXPECT_EQ(first.method, "POST");
    EXPECT_EQ(first.headers.find("Content-Type")->second, "application/json");
    EXPECT_EQ(first.headers.find("User-Agent")->second, "Tavrolin/1.4.2 (57)");
    EXPECT_EQ(first.headers.find("Accept-Encoding")->second, "identity");
    EXPECT_EQ(requests[1].headers.count("Cookie"), 0u);
    const QByteArray body = QByteArray::fromStdString(first.body);
    EXPECT_FALSE(body.contains('\n'));  // compact
    const QJsonObject sent = QJsonDocument::fromJson(body).object();
    const QJsonObject expected{
        {"targetLanguage", "fr"},
        {"items", QJsonArray{QJsonObject{{"id", "0"}, {"text", "  Hello there "}, {"sourceLanguage", "en"}},
                             QJsonObject{{"id", "1"}, {"text", "Guten Tag\n"}, {"sourceLanguage", "de"}},
                             QJsonObject{{"id", "2"},
                                         {"text", QStringLiteral("e\u0301te\u0301 👨‍👩‍👧")},
                                         {"sourceLanguage", "auto"}}}},
    };
    EXPECT_EQ(sent, expected);

    const QStringList lines = capture.messages(LogCategory::network);
    ASSERT_GE(lines.size(), 2);
    // 14 + 10 + 5 grapheme clusters (é written as e + accent counts once, the family once)
    EXPECT_EQ(
        lines[0],
        QStringLiteral(
            "request start operation=server_translation endpoint=%1 detail=items=3 chars=29 sourceLanguages=auto,de,en target=fr")
            .arg(server_.url(kPath).toString()));
    EXPECT_EQ(
        lines[1],
        QStringLiteral("request response operation=server_translation status=200 responseBytes=%1").arg(answer.size()));
}

TEST_F(ServerTranslationClientTest, EmptyBatchMakesNoRequestEvenWithoutEndpoint) {
    test::ScopedLogCapture capture;
    auto withEndpoint = makeClient();
    auto withoutEndpoint = makeClient(std::nullopt);
    EXPECT_TRUE(test::await(withEndpoint->translate({}, AppLanguage::german)).isEmpty());
    EXPECT_TRUE(test::await(withoutEndpoint->translate({}, AppLanguage::german)).isEmpty());
    EXPECT_EQ(server_.requestCount(), 0);
    EXPECT_TRUE(capture.records().empty());
}

TEST_F(ServerTranslationClientTest, DetailCountsGraphemesAndSortsDistinctSources) {
    const QList<TranslationRequest> requests{{"a", QString(40, 'x'), AppLanguage::english},
                                             {"b", QString(50, 'y'), AppLanguage::german},
                                             {"c", QString(30, 'z'), AppLanguage::english}};
    EXPECT_EQ(URLSessionServerTranslationClient::detail(requests, AppLanguage::french),
              QStringLiteral("items=3 chars=120 sourceLanguages=de,en target=fr"));
}

struct FailureRow {
    const char* name;
    int status;
    std::string body;
    QList<TranslationRequest> requests;
    Case expected;
    QString lastLine;  // after the start and response lines
};

TEST_F(ServerTranslationClientTest, FailureTable) {
    const QList<TranslationRequest> two{{"0", "one", AppLanguage::english}, {"1", "two", AppLanguage::english}};
    const QList<TranslationRequest> sharedId{{"0", "one", AppLanguage::english}, {"0", "two", AppLanguage::english}};
    const std::string invalidUtf8 =
        std::string(R"({"translations":[{"id":"0","text":")") + "\xff\xfe\xc3" + R"("},{"id":"1","text":"b"}]})";
    const std::vector<FailureRow> rows = {
        {"status 503", 503, R"({"translations":[]})", two, Case::textTranslationRequestFailed,
         "request invalid response operation=server_translation reason=http_status_503 responseBytes=%1"},
        {"status 300", 300, "", two, Case::textTranslationRequestFailed,
         "request invalid response operation=server_translation reason=http_status_300 responseBytes=0"},
        {"status 404 with a valid body", 404, translationsBody({{"0", "a"}, {"1", "b"}}), two,
         Case::textTranslationRequestFailed,
         "request invalid response operation=server_translation reason=http_status_404 responseBytes=%1"},
        {"204 without body", 204, "", two, Case::textTranslationInvalidResponse,
         "request failed operation=server_translation_decode errorType=Tavrolin.JsonDecodingError message=dataCorrupted: not valid JSON (illegal value at offset 0)"},
        {"no translations key", 200, R"({"items":[]})", two, Case::textTranslationInvalidResponse,
         "request failed operation=server_translation_decode errorType=Tavrolin.JsonDecodingError message=keyNotFound at \"translations\": no value for the key"},
        {"translations is an object", 200, R"({"translations":{"0":"a"}})", two, Case::textTranslationInvalidResponse,
         "request failed operation=server_translation_decode errorType=Tavrolin.JsonDecodingError message=typeMismatch at \"translations\": expected an array"},
        {"id is a number", 200, R"({"translations":[{"id":0,"text":"a"},{"id":"1","text":"b"}]})", two,
         Case::textTranslationInvalidResponse,
         "request failed operation=server_translation_decode errorType=Tavrolin.JsonDecodingError message=typeMismatch at \"translations[0].id\": expected a string"},
        {"text is null", 200, R"({"translations":[{"id":"0","text":null},{"id":"1","text":"b"}]})", two,
         Case::textTranslationInvalidResponse,
         "request failed operation=server_translation_decode errorType=Tavrolin.JsonDecodingError message=valueNotFound at \"translations[0].text\": expected a string, found null"},
        {"root is an array", 200, R"([{"id":"0","text":"a"}])", two, Case::textTranslationInvalidResponse,
         "request failed operation=server_translation_decode errorType=Tavrolin.JsonDecodingError message=typeMismatch: expected an object"},
        {"invalid UTF-8", 200, invalidUtf8, two, Case::textTranslationInvalidResponse, ""},
        {"duplicate id even though the count is also wrong", 200,
         translationsBody({{"0", "a"}, {"1", "b"}, {"1", "c"}}), two, Case::textTranslationInvalidResponse,
         "request invalid response operation=server_translation reason=duplicate_id responseBytes=%1"},
        {"two requests sharing an id, answered once each", 200, translationsBody({{"0", "a"}, {"0", "b"}}), sharedId,
         Case::textTranslationInvalidResponse,
         "request invalid response operation=server_translation reason=duplicate_id responseBytes=%1"},
        {"an extra translation", 200, translationsBody({{"0", "a"}, {"1", "b"}, {"7", "c"}}), two,
         Case::textTranslationInvalidResponse,
         "request invalid response operation=server_translation reason=item_count_mismatch expected=2 actual=3 responseBytes=%1"},
        {"one short", 200, translationsBody({{"0", "a"}}), two, Case::textTranslationInvalidResponse,
         "request invalid response operation=server_translation reason=item_count_mismatch expected=2 actual=1 responseBytes=%1"},
        {"right count, wrong id", 200, translationsBody({{"0", "a"}, {"9", "b"}}), two,
         Case::textTranslationInvalidResponse,
         "request invalid response operation=server_translation reason=missing_id responseBytes=%1"},
    };
    auto client = makeClient();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::ScopedLogCapture capture;
        reply(row.status, row.body);
        EXPECT_EQ(failureOf(*client, row.requests), row.expected);
        const QStringList lines = capture.messages(LogCategory::network);
        ASSERT_EQ(lines.size(), 3) << lines.join('\n').toStdString();
        EXPECT_TRUE(lines[0].startsWith(QStringLiteral("request start operation=server_translation ")));
        EXPECT_EQ(lines[1], QStringLiteral("request response operation=server_translation status=%1 responseBytes=%2")
                                .arg(row.status)
                                .arg(row.body.size()));
        if (!row.lastLine.isEmpty()) {
            const QString last =
                row.lastLine.contains(QStringLiteral("%1")) ? row.lastLine.arg(row.body.size()) : row.lastLine;
            EXPECT_EQ(lines[2], last);
        } else {
            EXPECT_TRUE(lines[2].startsWith(QStringLiteral(
                "request failed operation=server_translation_decode errorType=Tavrolin.JsonDecodingError ")))
                << lines[2].toStdString();
        }
    }
}

TEST_F(ServerTranslationClientTest, MissingEndpointLogsOneLineAndSendsNothing) {
    test::ScopedLogCapture capture;
    auto client = makeClient(std::nullopt);
    EXPECT_EQ(failureOf(*client, threeRequests()), Case::textTranslationRequestFailed);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, LogLevel::error);
    EXPECT_EQ(records[0].message, QStringLiteral("request missing endpoint operation=server_translation"));
    EXPECT_EQ(server_.requestCount(), 0);
}

TEST_F(ServerTranslationClientTest, TransportFailuresAreLoggedWithTheirUrlErrorCode) {
    struct Row {
        const char* name;
        QUrl endpoint;
        int code;
    };
    // A port that was just free: nothing listens there.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    const Row rows[] = {
        {"connection refused", QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(closedPort)), -1004},
        {"relative endpoint", QUrl(QStringLiteral("/api/text-translations")), -1000},
        {"unsupported scheme", QUrl(QStringLiteral("ftp://127.0.0.1/x")), -1000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::ScopedLogCapture capture;
        auto client = makeClient(row.endpoint);
        EXPECT_EQ(failureOf(*client, threeRequests()), Case::textTranslationRequestFailed);
        const QStringList lines = capture.messages(LogCategory::network);
        ASSERT_EQ(lines.size(), 2);
        EXPECT_EQ(
            lines[1].toStdString(),
            QStringLiteral(
                "request failed operation=server_translation errorType=Tavrolin.URLError message=url_error_code=%1")
                .arg(row.code)
                .toStdString());
    }
}

TEST_F(ServerTranslationClientTest, SilentServerTimesOutWithCode1001) {
    test::ScopedLogCapture capture;
    handler_ = [this](const httplib::Request&, httplib::Response& response) {
        gate_.wait();
        response.set_content(translationsBody({}), "application/json");
    };
    auto client = makeClient();
    EXPECT_EQ(failureOf(*client, threeRequests()), Case::textTranslationRequestFailed);
    EXPECT_EQ(
        capture.messages(LogCategory::network).last(),
        QStringLiteral(
            "request failed operation=server_translation errorType=Tavrolin.URLError message=url_error_code=-1001"));
}

TEST_F(ServerTranslationClientTest, ResourceTimeOutBoundsAServerThatKeepsTrickling) {
    test::ScopedLogCapture capture;
    server_.server().Post("/trickle", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("application/json", [](size_t offset, httplib::DataSink& sink) {
            std::this_thread::sleep_for(50ms);  // always within the idle time-out
            return offset < 200 && sink.write(" ", 1);
        });
    });
    ServerSessionConfiguration session = fastSession();
    session.requestTimeout = 2s;
    session.resourceTimeout = 600ms;
    auto client = makeClient(server_.url(QStringLiteral("/trickle")), session);
    EXPECT_EQ(failureOf(*client, threeRequests()), Case::textTranslationRequestFailed);
    EXPECT_TRUE(capture.messages(LogCategory::network).last().endsWith(QStringLiteral("message=url_error_code=-1001")));
}

TEST_F(ServerTranslationClientTest, SlowServerDoesNotBlockASecondClient) {
    server_.server().Post("/slow", [this](const httplib::Request&, httplib::Response& response) {
        gate_.wait();
        response.set_content(translationsBody({{"0", "slow"}}), "application/json");
    });
    reply(200, translationsBody({{"0", "fast"}}));
    ServerSessionConfiguration patient = fastSession();
    patient.requestTimeout = 10s;
    patient.resourceTimeout = 10s;
    auto slowClient = makeClient(server_.url(QStringLiteral("/slow")), patient);
    auto fastClient = makeClient();
    const QList<TranslationRequest> one{{"0", "text", AppLanguage::english}};

    auto slow = slowClient->translate(one, AppLanguage::german);
    ASSERT_TRUE(test::waitUntil([&] { return gate_.waiting() == 1; }));
    const auto fast = test::await(fastClient->translate(one, AppLanguage::german));
    EXPECT_EQ(fast.first().text, QStringLiteral("fast"));
    EXPECT_EQ(gate_.waiting(), 1) << "the slow request is still pending";
    gate_.open();
    EXPECT_EQ(test::await(std::move(slow)).first().text, QStringLiteral("slow"));
}

TEST_F(ServerTranslationClientTest, AtMostTwoRequestsOfOneClientAreInFlight) {
    std::atomic<int> concurrent{0};
    std::atomic<int> peak{0};
    server_.server().Post("/slow", [&](const httplib::Request&, httplib::Response& response) {
        const int now = ++concurrent;
        peak = std::max(peak.load(), now);
        gate_.wait();
        --concurrent;
        response.set_content(translationsBody({{"0", "done"}}), "application/json");
    });
    ServerSessionConfiguration patient = fastSession();
    patient.requestTimeout = 10s;
    patient.resourceTimeout = 10s;
    auto transport = std::make_shared<ServerRequestTransport>(patient);
    ServerTranslationConfiguration configuration;
    configuration.endpointURL = server_.url(QStringLiteral("/slow"));
    URLSessionServerTranslationClient client(configuration, transport);
    const QList<TranslationRequest> one{{"0", "text", AppLanguage::english}};

    std::vector<QCoro::Task<QList<TranslationResponse>>> tasks;
    for (int i = 0; i < 4; ++i) {
        tasks.push_back(client.translate(one, AppLanguage::german));
    }
    ASSERT_TRUE(test::waitUntil([&] { return gate_.waiting() == 2; }));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_EQ(gate_.waiting(), 2);
    EXPECT_EQ(transport->requestsInFlight(), 2);
    EXPECT_EQ(transport->requestsWaiting(), 2);
    gate_.open();
    for (auto& task : tasks) {
        EXPECT_EQ(test::await(std::move(task)).first().text, QStringLiteral("done"));
    }
    EXPECT_EQ(peak.load(), 2);
    EXPECT_EQ(transport->requestsInFlight(), 0);
}

TEST_F(ServerTranslationClientTest, LargeGarbageBodyFailsAsADecodeFailure) {
    test::ScopedLogCapture capture;
    const std::size_t size = ServerSessionConfiguration::translation().maximumResponseBytes;
    std::string garbage(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        garbage[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    reply(200, std::move(garbage));
    ServerSessionConfiguration patient = fastSession();
    patient.requestTimeout = 10s;
    patient.resourceTimeout = 30s;
    auto client = makeClient(server_.url(kPath), patient);
    EXPECT_EQ(failureOf(*client, threeRequests()), Case::textTranslationInvalidResponse);
    const QStringList lines = capture.messages(LogCategory::network);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[1].toStdString(),
              "request response operation=server_translation status=200 responseBytes=" + std::to_string(size));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("request failed operation=server_translation_decode ")));
}

TEST_F(ServerTranslationClientTest, AnAnswerBeyondOneMebibyteOrARedirectIsAFailure) {
    test::LocalHttpServer elsewhere;
    elsewhere.server().Post(kPath.toStdString(), [](const httplib::Request&, httplib::Response& response) {
        response.set_content(translationsBody({{"0", "a"}, {"1", "b"}, {"2", "c"}}), "application/json");
    });
    elsewhere.start();
    const std::string padding(1024 * 1024, ' ');
    reply(200, translationsBody({{"0", "a"}, {"1", "b"}, {"2", "c"}}) + padding);
    {
        test::ScopedLogCapture capture;
        EXPECT_EQ(failureOf(*makeClient(), threeRequests()), Case::textTranslationInvalidResponse);
        EXPECT_EQ(capture.messages(LogCategory::network).last(),
                  QStringLiteral("request failed operation=server_translation errorType=Tavrolin.URLError "
                                 "message=url_error_code=-1011"));
    }
    handler_ = [&elsewhere](const httplib::Request&, httplib::Response& response) {
        response.status = 308;
        response.set_header("Location", elsewhere.url(kPath).toString().toStdString());
    };
    EXPECT_EQ(failureOf(*makeClient(), threeRequests()), Case::textTranslationRequestFailed);
    EXPECT_EQ(elsewhere.requestCount(), 0);
}

TEST_F(ServerTranslationClientTest, BodyBeyondTheSessionLimitIsAnInvalidResponse) {
    test::ScopedLogCapture capture;
    reply(200, std::string(300 * 1024, ' '));
    ServerSessionConfiguration limited = fastSession();
    limited.maximumResponseBytes = 100 * 1024;
    auto client = makeClient(server_.url(kPath), limited);
    EXPECT_EQ(failureOf(*client, threeRequests()), Case::textTranslationInvalidResponse);
    EXPECT_EQ(
        capture.messages(LogCategory::network).last(),
        QStringLiteral(
            "request failed operation=server_translation errorType=Tavrolin.URLError message=url_error_code=-1011"));
}

}  // namespace
}  // namespace tavrolin
