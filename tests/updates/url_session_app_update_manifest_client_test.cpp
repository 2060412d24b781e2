#include "updates/url_session_app_update_manifest_client.h"

#include "core/app_metadata.h"
#include "core/url_error.h"
#include "server/json_decoding_error.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/fakes/memory_log_sink.h"
#include "updates/app_update_checker.h"
#include "updates/app_update_state_store.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

const std::string kPath = "/api/releases/linux/latest";

struct SeenRequest {
    std::string method;
    std::string path;
    httplib::Headers headers;
    std::string body;
};

// A release server on 127.0.0.1 that answers every manifest request with one scripted reply.
class ReleaseServer {
public:
    ReleaseServer() {
        server_.server().Get(kPath, [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(mutex_);
            seen_.push_back({request.method, request.path, request.headers, request.body});
            response.status = status_;
            if (!body_.empty() || status_ != 204) {
                response.set_content(body_, "application/json");
            }
        });
        server_.start();
    }
    void reply(int status, std::string body) {
        std::lock_guard lock(mutex_);
        status_ = status;
        body_ = std::move(body);
    }
    std::vector<SeenRequest> seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    QUrl url() const { return server_.url(QString::fromStdString(kPath)); }
    int requestCount() const { return server_.requestCount(); }

private:
    test::LocalHttpServer server_;
    mutable std::mutex mutex_;
    int status_ = 200;
    std::string body_;
    std::vector<SeenRequest> seen_;
};

std::string manifestJson(const std::string& version, const std::string& build, const std::string& extra = "") {
    return R"({"version":")" + version + R"(","build":")" + build +
           R"(","downloadUrl":"https://example.test/tavrolin.tar.gz")" + extra + "}";
}

class ManifestClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        InfoDictionary::setMainForTesting(
            QJsonObject{{"CFBundleShortVersionString", "1.4.0"}, {"CFBundleVersion", "57"}});
    }
    void TearDown() override { InfoDictionary::setMainForTesting(std::nullopt); }

    URLSessionAppUpdateManifestClient client(std::optional<QUrl> endpoint) {
        AppUpdateConfiguration configuration;
        configuration.endpointURL = std::move(endpoint);
        return URLSessionAppUpdateManifestClient(configuration);
    }
    QStringList networkLines() const { return capture.messages(LogCategory::network); }
    // The URL error code latestManifest() fails with; absent when it succeeds or fails otherwise.
    static std::optional<int> urlErrorOf(URLSessionAppUpdateManifestClient& c) {
        try {
            test::await(c.latestManifest());
        } catch (const URLError& error) {
            return error.code();
        } catch (...) {
        }
        return std::nullopt;
    }

    ReleaseServer server;
    test::ScopedLogCapture capture;
};

TEST_F(ManifestClientTest, SendsTheExactRequestAndDecodesTheManifest) {
    server.reply(200, manifestJson("1.5.0", "60", R"(,"critical":true)"));
    auto c = client(server.url());
    const AppUpdateManifest manifest = test::await(c.latestManifest());
    EXPECT_EQ(manifest.version, "1.5.0");
    EXPECT_EQ(manifest.build, "60");
    EXPECT_TRUE(manifest.critical);

    const auto seen = server.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_EQ(seen[0].path, kPath);
    EXPECT_EQ(seen[0].body, "");
    const auto header = [&](const char* name) {
        return seen[0].headers.count(name) ? seen[0].headers.find(name)->second : std::string("<absent>");
    };
    EXPECT_EQ(header("Accept"), "application/json");
    EXPECT_EQ(header("User-Agent"), "Tavrolin/1.4.0 (57)");
    EXPECT_EQ(header("Content-Type"), "<absent>");
    EXPECT_EQ(header("Cookie"), "<absent>");
    EXPECT_EQ(header("Authorization"), "<absent>");

    const QString endpoint = server.url().toString();
    const int bytes = static_cast<int>(manifestJson("1.5.0", "60", R"(,"critical":true)").size());
    EXPECT_EQ(
        networkLines(),
        (QStringList{"request start operation=update_manifest endpoint=" + endpoint + " detail=method=GET",
                     QString("request response operation=update_manifest status=200 responseBytes=%1").arg(bytes)}));
}

TEST_F(ManifestClientTest, SessionIsShortAndSingleConnection) {
    const auto c = client(server.url());
    const auto& session = c.transport().configuration();
    EXPECT_EQ(session.requestTimeout, 5s);
    EXPECT_EQ(session.resourceTimeout, 10s);
    EXPECT_FALSE(session.waitsForConnectivity);
    EXPECT_EQ(session.maximumConnectionsPerHost, 1);
}

// A server that answers with megabytes of "version" would have them shown in the update alert.
TEST_F(ManifestClientTest, AnAnswerOfOverAMebibyteIsABadServerResponse) {
    server.reply(200, manifestJson(std::string(1024 * 1024, '9'), "60"));
    auto c = client(server.url());
    EXPECT_EQ(urlErrorOf(c), URLError::badServerResponse);
}

// Streamed without a length, straight away or behind a redirect the request follows, such an
// answer is cut off near the limit, not read to its end.
TEST_F(ManifestClientTest, AnAnswerStreamedPastAMebibyteIsCutOffNotReadToTheEnd) {
    const auto streamed = std::make_shared<std::atomic<qint64>>(0);
    test::LocalHttpServer runaway;
    runaway.server().Get(kPath, test::streamedTextAnswer(50u * 1024 * 1024, streamed));
    runaway.server().Get("/moved", [&runaway](const httplib::Request&, httplib::Response& response) {
        response.status = 302;
        response.set_header("Location", runaway.url(QString::fromStdString(kPath)).toString().toStdString());
    });
    runaway.start();
    for (const QString& path : {QString::fromStdString(kPath), QStringLiteral("/moved")}) {
        SCOPED_TRACE(path.toStdString());
        *streamed = 0;
        auto c = client(runaway.url(path));
        EXPECT_EQ(urlErrorOf(c), URLError::badServerResponse);
        // What the server got out before the connection closed: the limit and what the sockets
        // between hold.
        test::waitUntil([] { return false; }, 100ms);
        EXPECT_LT(streamed->load(), 16 * 1024 * 1024);
    }
}

TEST_F(ManifestClientTest, MissingEndpointSendsNothing) {
    auto c = client(std::nullopt);
    EXPECT_EQ(urlErrorOf(c), URLError::badURL);
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_EQ(networkLines(), QStringList{"request missing endpoint operation=update_manifest"});
}

TEST_F(ManifestClientTest, StatusOutsideSuccessIsABadServerResponse) {
    for (const int status : {304, 400, 404, 418, 500}) {
        SCOPED_TRACE(status);
        capture.sink().clear();
        server.reply(status, status == 304 ? "" : R"({"error":"nope"})");
        auto c = client(server.url());
        EXPECT_EQ(urlErrorOf(c), URLError::badServerResponse);
        const QStringList lines = networkLines();
        ASSERT_EQ(lines.size(), 3);
        EXPECT_TRUE(lines[1].startsWith(QString("request response operation=update_manifest status=%1 ").arg(status)));
        EXPECT_TRUE(
            lines[2].startsWith(QString("request invalid response operation=update_manifest reason=http_status_%1 "
                                        "responseBytes=")
                                    .arg(status)))
            << lines[2].toStdString();
    }
}

TEST_F(ManifestClientTest, MalformedManifestsFailInDecoding) {
    const std::string cases[] = {
        R"({"version":"1.5.0","build":57,"downloadUrl":"https://example.test/d"})",
        manifestJson("1.5.0", "60", R"(,"releaseNotesUrl":"http://exa mple.test/notes")"),
        "",  // 204 with an empty body passes the status test and fails here
    };
    for (const auto& body : cases) {
        SCOPED_TRACE(body);
        capture.sink().clear();
        server.reply(body.empty() ? 204 : 200, body);
        auto c = client(server.url());
        EXPECT_THROW(test::await(c.latestManifest()), JsonDecodingError);
        const QStringList lines = networkLines();
        ASSERT_EQ(lines.size(), 3);
        EXPECT_TRUE(lines[2].startsWith(
            "request failed operation=update_manifest_decode errorType=Tavrolin.JsonDecodingError message="))
            << lines[2].toStdString();
    }
}

TEST_F(ManifestClientTest, TransportFailurePassesUnchanged) {
    // A port nobody listens on: the connection is refused.
    QUrl closed = server.url();
    {
        test::LocalHttpServer probe;
        probe.start();
        closed.setPort(probe.port());
    }
    auto c = client(closed);
    EXPECT_EQ(urlErrorOf(c), URLError::cannotConnectToHost);
    const QStringList lines = networkLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1],
              "request failed operation=update_manifest errorType=Tavrolin.URLError "
              "message=url_error_code=-1004");
}

// The whole check against the release server: what is offered, and what the state says of it.
TEST_F(ManifestClientTest, UpdateCheckAgainstTheReleaseServer) {
    auto client = std::make_shared<URLSessionAppUpdateManifestClient>(AppUpdateConfiguration{server.url(), 86400});
    const auto offered = [&](const std::string& body, std::optional<QString> build, const QString& version) {
        server.reply(200, body);
        return test::await(AppUpdateChecker(client, std::move(build), version).availableUpdate());
    };

    // Newer by build (the version is not looked at), else by version.
    EXPECT_TRUE(offered(manifestJson("1.0.0", "58"), QString("57"), "1.4.0"));
    EXPECT_FALSE(offered(manifestJson("9.0.0", "57"), QString("57"), "1.4.0"));
    EXPECT_TRUE(offered(manifestJson("1.4.1", "1"), std::nullopt, "1.4.0"));
    EXPECT_FALSE(offered(manifestJson("1.4", "99"), std::nullopt, "1.4.0"));

    // Critical, or below the minimum build: required.
    const auto critical = offered(manifestJson("2.0", "60", R"(,"critical":true)"), QString("57"), "1.4.0");
    ASSERT_TRUE(critical);
    EXPECT_TRUE(critical->isRequired(QString("57")));
    const auto minimum = offered(manifestJson("2.0", "60", R"(,"minimumSupportedBuild":"58")"), QString("57"), "1.4.0");
    ASSERT_TRUE(minimum);
    EXPECT_TRUE(minimum->isRequired(QString("57")));
    EXPECT_FALSE(minimum->isRequired(QString("58")));

    // A skipped build matches only that build.
    InMemoryDefaultsStore defaults;
    defaults.setString(AppUpdateStateStore::skippedBuildKey, "60");
    const AppUpdateStateStore state(defaults);
    EXPECT_TRUE(state.isSkipped(*minimum));
    const auto next = offered(manifestJson("2.1", "61"), QString("57"), "1.4.0");
    ASSERT_TRUE(next);
    EXPECT_FALSE(state.isSkipped(*next));

    // A failed fetch fails the check with the client's error.
    server.reply(500, "");
    EXPECT_THROW(test::await(AppUpdateChecker(client, QString("57"), "1.4.0").availableUpdate()), URLError);
}

}  // namespace
}  // namespace tavrolin
