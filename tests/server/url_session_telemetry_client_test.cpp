// Usage events against a real HTTP server on 127.0.0.1.
#include "server/url_session_telemetry_client.h"

#include "core/app_metadata.h"
#include "core/app_settings_store.h"
#include "core/telemetry_event_reporter.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/fakes/memory_log_sink.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

using namespace tavrolin;
using namespace std::chrono_literals;

namespace {

struct ReceivedRequest {
    std::string body;
    std::string contentType;
    std::string userAgent;
};

// Records every POST to /api/events; answers with the status the test sets, optionally only
// after the test opens the gate.
class EventServer {
public:
    EventServer() {
        server_.server().Post("/api/events", [this](const httplib::Request& request, httplib::Response& response) {
            {
                std::unique_lock lock(mutex_);
                received_.push_back(
                    {request.body, request.get_header_value("Content-Type"), request.get_header_value("User-Agent")});
                condition_.notify_all();
                condition_.wait_for(lock, 10s, [this] { return !holding_; });
            }
            response.status = status_;
        });
        server_.start();
    }
    ~EventServer() { release(); }

    void hold() { holding_ = true; }
    void release() {
        std::lock_guard lock(mutex_);
        holding_ = false;
        condition_.notify_all();
    }
    void setStatus(int status) { status_ = status; }
    std::vector<ReceivedRequest> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    std::size_t count() const { return received().size(); }
    QUrl url() const { return server_.url(QStringLiteral("/api/events")); }
    int totalRequests() const { return server_.requestCount(); }

private:
    test::LocalHttpServer server_;
    mutable std::mutex mutex_;
    std::condition_variable condition_;
    std::vector<ReceivedRequest> received_;
    bool holding_ = false;
    std::atomic<int> status_{204};
};

std::unique_ptr<URLSessionTelemetryClient> makeClient(std::optional<QUrl> endpoint) {
    TelemetryConfiguration configuration;
    configuration.endpointURL = endpoint;
    return std::make_unique<URLSessionTelemetryClient>(
        configuration, std::make_shared<ServerRequestTransport>(ServerSessionConfiguration::telemetry()));
}

TelemetryEvent sampleEvent(TelemetryAction action) {
    TelemetryEvent event;
    event.userId = QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF");
    event.eventTime = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
    event.action = action;
    event.trigger = TelemetryTrigger::menu;
    event.osName = QStringLiteral("Linux");
    event.osVersion = QStringLiteral("6.1.0");
    event.uiLocale = QStringLiteral("en_US");
    return event;
}

}  // namespace

TEST(URLSessionTelemetryClient, PostsEachEventAsItsOwnJsonRequest) {
    EventServer server;
    auto client = makeClient(server.url());
    client->send(sampleEvent(TelemetryAction::openSettings));
    client->send(sampleEvent(TelemetryAction::quit));
    ASSERT_TRUE(test::waitUntil([&] { return server.count() == 2; }));
    const auto received = server.received();
    QStringList actions;
    for (const auto& request : received) {
        EXPECT_EQ(request.contentType, "application/json");
        EXPECT_EQ(QString::fromStdString(request.userAgent), AppMetadata::userAgent());
        const auto event = TelemetryEvent::fromJsonData(QByteArray::fromStdString(request.body));
        ASSERT_TRUE(event.has_value()) << request.body;
        actions << rawValue(event->action);
    }
    actions.sort();
    EXPECT_EQ(actions, (QStringList{"open_settings", "quit"}));
}

TEST(URLSessionTelemetryClient, FailuresAndMissingEndpointsAreSilent) {
    test::ScopedLogCapture log;
    {
        auto client = makeClient(std::nullopt);
        client->send(sampleEvent(TelemetryAction::quit));  // returns without a request
    }
    EventServer server;
    server.setStatus(500);
    auto client = makeClient(server.url());
    client->send(sampleEvent(TelemetryAction::quit));
    ASSERT_TRUE(test::waitUntil([&] { return server.count() == 1; }));
    // Let the answer arrive and be dropped.
    test::waitUntil([] { return false; }, 100ms);
    EXPECT_EQ(server.totalRequests(), 1);
    EXPECT_TRUE(log.messages(LogCategory::network).isEmpty())
        << log.messages(LogCategory::network).join('\n').toStdString();

    // An endpoint nobody listens on: nothing reaches the caller either.
    auto deadClient = makeClient(QUrl(QStringLiteral("http://127.0.0.1:1/api/events")));
    deadClient->send(sampleEvent(TelemetryAction::quit));
    test::waitUntil([] { return false; }, 100ms);
    EXPECT_TRUE(log.messages(LogCategory::network).isEmpty());
}

TEST(URLSessionTelemetryClient, AnEventInFlightNeverHoldsUpTheCaller) {
    EventServer server;
    server.hold();
    auto client = makeClient(server.url());
    QElapsedTimer timer;
    timer.start();
    client->send(sampleEvent(TelemetryAction::quit));
    EXPECT_LT(timer.elapsed(), 200) << "send returns before the request completes";
    ASSERT_TRUE(test::waitUntil([&] { return server.count() == 1; }));
    // Quitting: the client goes away while the server still holds the answer back.
    timer.restart();
    client.reset();
    EXPECT_LT(timer.elapsed(), 200);
    server.release();
    test::waitUntil([] { return false; }, 50ms);
}

// Two runs of the program on the same settings file: the install event goes out once.
TEST(TelemetryEventReporter, InstallEventIsSentOncePerDeviceAcrossRuns) {
    EventServer server;
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("defaults.json"));
    QStringList actions;
    for (int run = 0; run < 2; ++run) {
        JsonFileDefaultsStore defaults(file);
        AppSettingsStore settings(defaults);
        AppSettings enabled = settings.settings();
        enabled.telemetryEnabled = true;
        enabled.onlineFeaturesEnabled = true;
        settings.setSettings(enabled);
        DeviceIdentifier identifier(defaults);
        TelemetryConfiguration configuration;
        configuration.endpointURL = server.url();
        const auto session = std::make_shared<ServerRequestTransport>(ServerSessionConfiguration::telemetry());
        std::shared_ptr<TelemetryClient> client = std::make_shared<URLSessionTelemetryClient>(configuration, session);
        TelemetryEventReporter reporter(client, settings, identifier, InfoDictionary::main(),
                                        [] { return std::nullopt; });
        reporter.reportAppInstallIfNeeded();
        reporter.reportAppLaunch();
        const std::size_t expected = run == 0 ? 2 : 3;
        // Until the answers are in too: an exchange still under way when the tests end is a leak.
        ASSERT_TRUE(test::waitUntil([&] { return server.count() == expected && session->requestsInFlight() == 0; }))
            << "run " << run;
    }
    QSet<QString> userIds;
    for (const auto& request : server.received()) {
        const auto event = TelemetryEvent::fromJsonData(QByteArray::fromStdString(request.body));
        ASSERT_TRUE(event.has_value());
        actions << rawValue(event->action);
        userIds.insert(event->userId);
    }
    std::sort(actions.begin(), actions.end());
    EXPECT_EQ(actions, (QStringList{"app_install", "app_launch", "app_launch"}));
    EXPECT_EQ(userIds.size(), 1) << "both runs report the same device";
}
