#include "core/network_log.h"

#include "core/url_error.h"
#include "support/fakes/memory_log_sink.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace tavrolin {
namespace {

TEST(NetworkLogTest, LinesHaveTheirFixedFormatsAndLevels) {
    test::ScopedLogCapture capture;
    NetworkLog::request(QStringLiteral("server_translation"),
                        QUrl(QStringLiteral("https://api.example.test/api/text-translations?key=secret")),
                        QStringLiteral("items=3 chars=120 sourceLanguages=de,en target=fr"));
    NetworkLog::response(QStringLiteral("server_translation"), std::nullopt, 0);
    NetworkLog::response(QStringLiteral("server_translation"), 503, 1234567890123);
    NetworkLog::invalidResponse(QStringLiteral("text_edit"), QStringLiteral("http_status_503"), 12);
    NetworkLog::failed(QStringLiteral("text_write"), URLError(URLError::timedOut));
    NetworkLog::failed(QStringLiteral("server_translation_decode"), std::runtime_error("bad json"));

    const auto records = capture.records();
    const std::vector<std::pair<LogLevel, QString>> expected = {
        {LogLevel::info,
         QStringLiteral(
             "request start operation=server_translation endpoint=https://api.example.test/api/text-translations detail=items=3 chars=120 sourceLanguages=de,en target=fr")},
        {LogLevel::info, QStringLiteral("request response operation=server_translation status=none responseBytes=0")},
        {LogLevel::info,
         QStringLiteral("request response operation=server_translation status=503 responseBytes=1234567890123")},
        {LogLevel::error,
         QStringLiteral("request invalid response operation=text_edit reason=http_status_503 responseBytes=12")},
        {LogLevel::error,
         QStringLiteral(
             "request failed operation=text_write errorType=Tavrolin.URLError message=url_error_code=-1001")},
        {LogLevel::error,
         QStringLiteral(
             "request failed operation=server_translation_decode errorType=std.runtime_error message=bad json")},
    };
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(records[i].category, LogCategory::network);
        EXPECT_EQ(records[i].level, expected[i].first) << i;
        EXPECT_EQ(records[i].message, expected[i].second);
    }
}

TEST(NetworkLogTest, FailureFromAnExceptionPointerMatchesTheDirectForm) {
    test::ScopedLogCapture capture;
    NetworkLog::failed(QStringLiteral("text_prompt"), std::make_exception_ptr(URLError(URLError::cancelled)));
    NetworkLog::failed(QStringLiteral("text_prompt"), std::make_exception_ptr(42));
    const QStringList lines = capture.messages(LogCategory::network);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(
        lines[0],
        QStringLiteral("request failed operation=text_prompt errorType=Tavrolin.URLError message=url_error_code=-999"));
    EXPECT_EQ(lines[1], QStringLiteral("request failed operation=text_prompt errorType=int message=int"));
}

TEST(NetworkLogTest, NothingIsComposedWhenTheLevelIsOff) {
    test::ScopedLogCapture capture(LogLevel::fault);
    NetworkLog::request(QStringLiteral("op"), QUrl(QStringLiteral("https://h/p")), QStringLiteral("d"));
    NetworkLog::failed(QStringLiteral("op"), URLError(URLError::timedOut));
    EXPECT_TRUE(capture.records().empty());
}

TEST(NetworkLogTest, EndpointDescription) {
    struct Case {
        QString url;
        QString expected;
    };
    const Case cases[] = {
        // credentials, query and fragment go; scheme, host, port and path stay
        {QStringLiteral("https://user:pw@api.example.test:8443/api/text-edits?token=abc#frag"),
         QStringLiteral("https://api.example.test:8443/api/text-edits")},
        {QStringLiteral("http://127.0.0.1:8080/"), QStringLiteral("http://127.0.0.1:8080/")},
        // cannot be taken apart: scheme + "://" + host-or-none + path, no port
        {QStringLiteral("http://exa mple.com/x?y"), QStringLiteral("http://none/x")},
        {QStringLiteral("ht tp://h/p"), QStringLiteral("unknown://noneht%20tp://h/p")},
        {QString(), QStringLiteral("unknown://none")},
        // a relative reference parses and keeps its path
        {QStringLiteral("/api/events"), QStringLiteral("/api/events")},
        // encoded as sent: no raw space, quote or non-ASCII letter inside the key=value pair
        {QStringLiteral("https://api.example.test/a%20b/c"), QStringLiteral("https://api.example.test/a%20b/c")},
        {QStringLiteral("https://api.example.test/a b/\"é\""),
         QStringLiteral("https://api.example.test/a%20b/%22%C3%A9%22")},
        {QStringLiteral("https://bücher.example/x"), QStringLiteral("https://xn--bcher-kva.example/x")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NetworkLog::endpointDescription(QUrl(c.url)), c.expected) << c.url.toStdString();
    }
}

TEST(URLErrorTest, QtNetworkErrorsMapToOneTable) {
    using E = QNetworkReply::NetworkError;
    const std::pair<E, int> table[] = {
        {E::TimeoutError, -1001},
        {E::HostNotFoundError, -1003},
        {E::ConnectionRefusedError, -1004},
        {E::RemoteHostClosedError, -1005},
        {E::TemporaryNetworkFailureError, -1009},
        {E::NetworkSessionFailedError, -1009},
        {E::ProtocolUnknownError, -1000},
        {E::ProtocolFailure, -1011},
        {E::OperationCanceledError, -999},
        {E::SslHandshakeFailedError, -1200},
        {E::ProxyTimeoutError, -1001},
        {E::TooManyRedirectsError, -1},
        {E::UnknownNetworkError, -1},
    };
    for (const auto& [error, code] : table) {
        EXPECT_EQ(URLError::codeFor(error), code) << int(error);
    }
    EXPECT_EQ(URLError::codeFor(E::SslHandshakeFailedError, true), -1202);
    const URLError error = URLError::fromReply(E::HostNotFoundError, QStringLiteral("Host x not found"));
    EXPECT_EQ(error.code(), URLError::cannotFindHost);
    EXPECT_EQ(error.detail(), QStringLiteral("Host x not found"));
    EXPECT_STREQ(error.what(), "A server with the specified hostname could not be found. (-1003)");
}

}  // namespace
}  // namespace tavrolin
