#include "shell/update_hooks.h"

#include "core/error_description.h"
#include "core/online_feature_policy.h"
#include "core/url_error.h"
#include "server/json_decoding_error.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/fakes/memory_log_sink.h"
#include "support/fakes/scripted_alert_presenter.h"
#include "support/virtual_time.h"
#include "updates/online_gated_app_update_manifest_client.h"
#include "updates/url_session_app_update_manifest_client.h"

#include <QCoroFuture>
#include <QPromise>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

constexpr milliseconds kDay = 24h;

// A manifest client scripted by the test: counts calls, answers `manifest` or throws `error`,
// and with a gate waits until the test opens it.
class ScriptedManifestClient final : public AppUpdateManifestClient {
public:
    QCoro::Task<AppUpdateManifest> latestManifest() override {
        ++calls;
        if (gate) {
            QFuture<void> opened = gate->future();
            co_await opened;
        }
        if (error) {
            std::rethrow_exception(error);
        }
        // A copy: this QCoro moves from an lvalue handed to co_return.
        AppUpdateManifest answer = manifest;
        co_return answer;
    }

    void holdAnswers() {
        gate = std::make_shared<QPromise<void>>();
        gate->start();
    }
    void release() {
        gate->finish();
        gate.reset();
    }

    AppUpdateManifest manifest{"1.0",        "100", std::nullopt, QUrl("https://example.invalid/tavrolin-1.0.tar.gz"),
                               std::nullopt, false};
    std::exception_ptr error;
    std::shared_ptr<QPromise<void>> gate;
    int calls = 0;
};

AppUpdateManifest release(QString version, QString build) {
    return {std::move(version), std::move(build),
            std::nullopt,       QUrl("https://example.invalid/tavrolin.tar.gz"),
            std::nullopt,       false};
}

// The hooks with every collaborator faked; the hooks are built on first use, so a test can
// change the configuration and the installed build first.
struct Harness {
    Harness() { configuration.checkInterval = 24.0 * 60 * 60; }

    UpdateHooks& hooks() {
        if (!hooks_) {
            UpdateHooks::Dependencies deps;
            deps.clock = &clock;
            deps.scheduler = &scheduler;
            deps.configuration = configuration;
            deps.defaults = &defaults;
            deps.isOnlineFeaturesEnabled = [this] { return online; };
            deps.updateChecker = [this] {
                return std::make_shared<const AppUpdateChecker>(client, installedBuild, QStringLiteral("1.0"));
            };
            deps.installedBuild = installedBuild;
            deps.appVersion = QStringLiteral("1.0 (100)");
            deps.showOnlineFeaturesDisabledAlert = [this](std::function<void()> retry) {
                shown << QStringLiteral("online-features");
                retryAction = std::move(retry);
            };
            deps.showInformationalAlert = [this](const QString& title, const QString& message) {
                if (alertsFail) {
                    throw std::runtime_error("no display for the alert");
                }
                shown << QStringLiteral("info: ") + title + QStringLiteral(" | ") + message;
            };
            deps.showAlert = [this](const QString& title, const QString& message) {
                shown << QStringLiteral("warning: ") + title + QStringLiteral(" | ") + message;
            };
            presenter.onPresent = [this](const Alert& alert) {
                updateAlerts.push_back(alert);
                if (!answer.isEmpty()) {
                    presenter.answers.push_back(answer);
                }
            };
            deps.alertPresenter = &presenter;
            deps.openURL = [this](const QUrl& url) {
                opened.push_back(url);
                return !openFails;
            };
            hooks_ = std::make_unique<UpdateHooks>(std::move(deps));
        }
        return *hooks_;
    }

    void setLastCheck(const QDateTime& date) { defaults.setDate(AppUpdateStateStore::lastCheckDateKey, date); }
    std::optional<QDateTime> lastCheck() const { return defaults.date(AppUpdateStateStore::lastCheckDateKey); }
    std::vector<milliseconds> pending() const { return scheduler.pendingDelays(); }

    test::ScopedLogCapture log;
    test::FakeClock clock;
    test::ManualScheduler scheduler{&clock};
    InMemoryDefaultsStore defaults;
    AppUpdateConfiguration configuration;
    std::shared_ptr<ScriptedManifestClient> client = std::make_shared<ScriptedManifestClient>();
    std::optional<QString> installedBuild = QStringLiteral("100");
    bool online = true;
    QStringList shown;
    std::function<void()> retryAction;
    test::ScriptedAlertPresenter presenter;
    std::vector<Alert> updateAlerts;
    QString answer;
    bool alertsFail = false;
    bool openFails = false;
    std::vector<QUrl> opened;

    std::unique_ptr<UpdateHooks> hooks_;
};

class UpdateHooksTest : public ::testing::Test, public Harness {};

// --- A check that ends with an exception of its own ---

TEST_F(UpdateHooksTest, AnExceptionAtTheEndOfACheckIsLoggedAndTheNextCheckCanRun) {
    alertsFail = true;
    hooks().startUpdateCheck(UpdateCheckMode::manual);
    EXPECT_TRUE(log.messages(LogCategory::updates)
                    .contains("update check ended with an error errorType=std.runtime_error "
                              "message=no display for the alert"))
        << log.messages(LogCategory::updates).join("\n").toStdString();
    EXPECT_FALSE(hooks().isCheckRunning());

    alertsFail = false;
    hooks().startUpdateCheck(UpdateCheckMode::manual);
    EXPECT_EQ(client->calls, 2);
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_TRUE(shown.last().startsWith("info: You're up to date")) << shown.last().toStdString();
}

// --- Scheduling on virtual time ---

TEST_F(UpdateHooksTest, FirstLaunchChecksAtOnceThenArmsTheTimerForTheInterval) {
    hooks().startUpdateCheck(UpdateCheckMode::automatic);
    EXPECT_EQ(client->calls, 1);
    EXPECT_EQ(lastCheck(), clock.now());
    ASSERT_EQ(scheduler.pendingCalls().size(), 1u);
    EXPECT_EQ(scheduler.pendingCalls()[0].delay, kDay);
    EXPECT_EQ(scheduler.pendingCalls()[0].tolerance, 1800s);
    EXPECT_FALSE(hooks().isCheckRunning());

    // The timer starts the next check a whole interval later, and re-arms after it.
    scheduler.advance(kDay);
    EXPECT_EQ(client->calls, 2);
    EXPECT_EQ(pending(), std::vector<milliseconds>{kDay});
}

TEST_F(UpdateHooksTest, TimerDelaysFollowTheLastCheckDate) {
    struct Case {
        const char* name;
        std::optional<milliseconds> sinceLastCheck;  // negative: a date in the future
        double interval;
        bool checksNow;
        milliseconds delay;
        milliseconds tolerance;
    };
    const double day = 24.0 * 60 * 60;
    const std::vector<Case> cases = {
        {"ten minutes after a check", 10min, day, false, kDay - 10min, 1800s},
        {"30 s short of the interval: the 60 s floor", kDay - 30s, day, false, 60s, 6s},
        {"exactly the interval: due", kDay, day, true, kDay, 1800s},
        {"an hour before the interval of two hours", 1h, 2.0 * 60 * 60, false, 1h, 360s},
        {"a date a year in the future counts as due now", -milliseconds(365 * kDay), day, true, kDay, 1800s},
        {"a hundred-year interval is armed for the timer's maximum", 1min, AppUpdateConfiguration::maximumCheckInterval,
         false, UpdateHooks::maximumTimerDelay, 1800s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness fixture;
        fixture.configuration.checkInterval = c.interval;
        fixture.setLastCheck(fixture.clock.now().addMSecs(-c.sinceLastCheck->count()));
        fixture.hooks().startUpdateCheck(UpdateCheckMode::automatic);
        EXPECT_EQ(fixture.client->calls, c.checksNow ? 1 : 0);
        const auto calls = fixture.scheduler.pendingCalls();
        ASSERT_EQ(calls.size(), 1u);
        if (!c.checksNow) {
            EXPECT_EQ(calls[0].delay, c.delay);
            EXPECT_EQ(calls[0].tolerance, c.tolerance);
        }
    }
}

TEST_F(UpdateHooksTest, AnIntervalLongerThanATimerCanHoldIsReachedByRearming) {
    configuration.checkInterval = AppUpdateConfiguration::maximumCheckInterval;
    hooks().startUpdateCheck(UpdateCheckMode::automatic);
    ASSERT_EQ(client->calls, 1);
    // Each firing finds the interval not yet passed, checks nothing and re-arms.
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(pending(), std::vector<milliseconds>{UpdateHooks::maximumTimerDelay});
        scheduler.advance(UpdateHooks::maximumTimerDelay);
    }
    EXPECT_EQ(client->calls, 1);
    EXPECT_EQ(scheduler.pendingCount(), 1u);
}

TEST_F(UpdateHooksTest, AFailedAutomaticCheckStillMovesTheLastCheckDateAndIsNotRetriedSooner) {
    client->error = std::make_exception_ptr(URLError(URLError::notConnectedToInternet));
    setLastCheck(clock.now().addDays(-3));
    hooks().startUpdateCheck(UpdateCheckMode::automatic);
    EXPECT_EQ(lastCheck(), clock.now());
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_EQ(pending(), std::vector<milliseconds>{kDay});
    ASSERT_EQ(log.sink().messages(LogCategory::updates).size(), 2);
    EXPECT_EQ(
        log.sink().messages(LogCategory::updates)[1],
        "update check failed mode=automatic errorType=Tavrolin.URLError message=" + errorDescription(client->error));
}

// --- Guards ---

TEST_F(UpdateHooksTest, WithOnlineFeaturesOffNothingRunsAndOnlyAManualCheckSaysSo) {
    online = false;
    hooks().startUpdateCheck(UpdateCheckMode::automatic);
    EXPECT_TRUE(shown.isEmpty());
    hooks().checkForUpdates();
    EXPECT_EQ(shown, QStringList{"online-features"});
    EXPECT_EQ(client->calls, 0);
    EXPECT_EQ(scheduler.pendingCount(), 0u);
    EXPECT_FALSE(lastCheck());

    // Turning them on from the alert retries the manual check.
    online = true;
    ASSERT_TRUE(retryAction);
    retryAction();
    EXPECT_EQ(client->calls, 1);
    EXPECT_TRUE(shown.back().startsWith("info: You're up to date | Tavrolin 1.0 (100) is the latest"));
}

TEST_F(UpdateHooksTest, ASecondRequestWhileACheckRunsIsRefusedAndOnlyAManualOneIsTold) {
    client->holdAnswers();
    hooks().startUpdateCheck(UpdateCheckMode::automatic);
    ASSERT_TRUE(hooks().isCheckRunning());
    hooks().startUpdateCheck(UpdateCheckMode::automatic);
    EXPECT_TRUE(shown.isEmpty());
    hooks().checkForUpdates();
    EXPECT_EQ(shown, QStringList{"info: Update check in progress | Tavrolin is already checking for updates."});
    EXPECT_EQ(client->calls, 1);

    client->release();
    ASSERT_TRUE(test::waitUntil([&] { return !hooks().isCheckRunning(); }));
    EXPECT_EQ(pending(), std::vector<milliseconds>{kDay});
}

TEST_F(UpdateHooksTest, AManualCheckIgnoresTheIntervalAndReportsItsOutcome) {
    setLastCheck(clock.now().addSecs(-60));
    hooks().checkForUpdates();
    EXPECT_EQ(client->calls, 1);
    EXPECT_EQ(log.sink().messages(LogCategory::updates),
              (QStringList{"update check start mode=manual", "update check finished mode=manual result=up_to_date"}));

    // The alert names the cause the user can act on.
    const std::vector<std::pair<std::exception_ptr, QString>> failures = {
        {std::make_exception_ptr(std::runtime_error("boom")), "Check your internet connection and try again."},
        {std::make_exception_ptr(URLError(URLError::notConnectedToInternet)),
         "Check your internet connection and try again."},
        {std::make_exception_ptr(URLError(URLError::badServerResponse)),
         "The update server sent an invalid response. Try again after the server is updated or restarted."},
        {std::make_exception_ptr(JsonDecodingError(JsonDecodingError::Kind::keyNotFound, "build", "no value")),
         "The update server sent an invalid response. Try again after the server is updated or restarted."},
        {std::make_exception_ptr(URLError(URLError::serverCertificateUntrusted)),
         "The update server's certificate is not trusted. Check the update server's address and its "
         "certificate, then try again."},
    };
    for (const auto& [error, message] : failures) {
        client->error = error;
        hooks().checkForUpdates();
        EXPECT_EQ(shown.back(), "warning: Could not check for updates | " + message);
    }
}

// --- Cancelling ---

TEST_F(UpdateHooksTest, SwitchingOnlineFeaturesOffCancelsTheTimerAndSilencesTheRunningCheck) {
    client->holdAnswers();
    client->manifest = release("2.0", "200");
    hooks().startUpdateCheck(UpdateCheckMode::automatic);
    online = false;
    hooks().cancelUpdateChecks();
    client->release();
    ASSERT_TRUE(test::waitUntil([&] { return !hooks().isCheckRunning(); }));
    EXPECT_FALSE(lastCheck());
    EXPECT_TRUE(updateAlerts.empty());
    EXPECT_EQ(scheduler.pendingCount(), 0u);
    EXPECT_EQ(log.sink().messages(LogCategory::updates), QStringList{"update check start mode=automatic"});
}

TEST_F(UpdateHooksTest, ACancelledCheckIsNotReportedAsFailedWhenOnlineFeaturesReturnBeforeItEnds) {
    client->holdAnswers();
    client->error = std::make_exception_ptr(URLError(URLError::cancelled));
    hooks().checkForUpdates();
    online = false;
    hooks().cancelUpdateChecks();
    online = true;
    // The settings save that switched them on again starts an automatic check: dropped, one runs.
    hooks().startUpdateCheck(UpdateCheckMode::automatic);
    client->release();
    ASSERT_TRUE(test::waitUntil([&] { return !hooks().isCheckRunning(); }));
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_FALSE(lastCheck());
    for (const QString& line : log.sink().messages(LogCategory::updates)) {
        EXPECT_FALSE(line.contains("failed")) << line.toStdString();
    }
    // Still no date stored: the next automatic check comes after the timer's floor.
    EXPECT_EQ(pending(), std::vector<milliseconds>{60s});
    scheduler.advance(60s);
    EXPECT_EQ(client->calls, 2);
}

TEST_F(UpdateHooksTest, WithOnlineFeaturesOffNoRequestReachesTheReleaseServer) {
    test::LocalHttpServer server;
    server.server().Get("/api/releases/linux/latest", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(R"({"version":"9.0","build":"900","downloadUrl":"https://example.invalid/t"})",
                             "application/json");
    });
    server.start();
    AppUpdateConfiguration live = configuration;
    live.endpointURL = server.url(QStringLiteral("/api/releases/linux/latest"));
    auto policy = std::make_shared<OnlineFeaturePolicy>(false);
    auto gated = std::make_shared<OnlineGatedAppUpdateManifestClient>(
        std::make_shared<URLSessionAppUpdateManifestClient>(live), policy);
    auto checker = std::make_shared<const AppUpdateChecker>(gated, QStringLiteral("100"), QStringLiteral("1.0"));

    UpdateHooks::Dependencies deps;
    deps.clock = &clock;
    deps.scheduler = &scheduler;
    deps.configuration = live;
    deps.defaults = &defaults;
    deps.isOnlineFeaturesEnabled = [policy] { return policy->isOnlineFeaturesEnabled(); };
    deps.updateChecker = [checker] { return checker; };
    deps.installedBuild = QStringLiteral("100");
    int alerts = 0;
    deps.showOnlineFeaturesDisabledAlert = [&](std::function<void()>) { ++alerts; };
    test::ScriptedAlertPresenter livePresenter;
    livePresenter.onPresent = [&](const Alert&) { ++alerts; };
    deps.alertPresenter = &livePresenter;
    UpdateHooks liveHooks(std::move(deps));

    liveHooks.startUpdateCheck(UpdateCheckMode::automatic);
    liveHooks.checkForUpdates();
    scheduler.advance(kDay * 3);
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_EQ(alerts, 1);  // the online-features alert of the manual check

    // Switched on, the same hooks reach the server once.
    policy->setOnlineFeaturesEnabled(true);
    liveHooks.startUpdateCheck(UpdateCheckMode::automatic);
    ASSERT_TRUE(test::waitUntil([&] { return !liveHooks.isCheckRunning(); }, 10s));
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_EQ(alerts, 2);
}

// --- The offer ---

TEST_F(UpdateHooksTest, TheAlertOffersSkippingOnlyWhenTheUpdateIsNotRequired) {
    struct Case {
        const char* name;
        bool critical;
        std::optional<QString> minimumSupportedBuild;
        std::optional<QString> installed;
        bool required;
    };
    const std::vector<Case> cases = {
        {"plain", false, std::nullopt, QStringLiteral("100"), false},
        {"critical", true, std::nullopt, QStringLiteral("100"), true},
        {"minimum above the installed build", false, QStringLiteral("150"), QStringLiteral("100"), true},
        {"minimum equal to the installed build", false, QStringLiteral("100"), QStringLiteral("100"), false},
        {"no installed build counts as 0", false, QStringLiteral("1"), std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Harness fixture;
        fixture.installedBuild = c.installed;
        fixture.client->manifest = release("2.0", "200");
        fixture.client->manifest.critical = c.critical;
        fixture.client->manifest.minimumSupportedBuild = c.minimumSupportedBuild;
        fixture.hooks().checkForUpdates();
        ASSERT_EQ(fixture.updateAlerts.size(), 1u);
        const auto& alert = fixture.updateAlerts[0];
        EXPECT_EQ(alert.style, c.required ? AlertStyle::critical : AlertStyle::informational);
        EXPECT_EQ(alert.title, c.required ? "Important Tavrolin update available" : "Tavrolin update available");
        const QStringList expectedButtons =
            c.required ? QStringList{"Update Now", "Later"} : QStringList{"Update Now", "Later", "Skip This Version"};
        EXPECT_EQ(alert.buttons, expectedButtons);
        EXPECT_EQ(alert.buttons[alert.cancelButtonIndex()], "Later");
        EXPECT_EQ(alert.message.contains("This update is marked important for your installed version."), c.required);
        EXPECT_EQ(fixture.log.sink().messages(LogCategory::updates).last(),
                  QStringLiteral("update check finished mode=manual result=available version=2.0 build=200 required=") +
                      (c.required ? "true" : "false"));
    }
}

TEST_F(UpdateHooksTest, TheMessageListsBothVersionsTheInstallStepAndTheReleaseNotes) {
    AppUpdate update{
        "2.1", "210", std::nullopt, QUrl("https://example.invalid/d"), QUrl("https://example.invalid/notes?v=2.1"),
        false};
    EXPECT_EQ(hooks().makeUpdateMessage(update, true),
              "Current version: 1.0 (100)\nLatest version: 2.1 (210)\n\n"
              "Download the new release and install it over the installed copy of Tavrolin."
              "\n\nThis update is marked important for your installed version."
              "\n\nRelease notes: https://example.invalid/notes?v=2.1");
    update.releaseNotesURL.reset();
    EXPECT_FALSE(hooks().makeUpdateMessage(update, false).contains("\n\nRelease notes"));
    EXPECT_FALSE(hooks().makeUpdateMessage(update, false).contains("DMG"));
}

TEST_F(UpdateHooksTest, SkippingABuildSilencesAutomaticChecksButNotManualOnesOrRequiredUpdates) {
    client->manifest = release("2.0", "200");
    answer = UpdateHooks::skipButton;
    hooks().checkForUpdates();
    EXPECT_EQ(defaults.string(AppUpdateStateStore::skippedBuildKey), "200");

    updateAlerts.clear();
    answer.clear();
    scheduler.advance(kDay);
    EXPECT_TRUE(updateAlerts.empty());
    EXPECT_EQ(log.sink().messages(LogCategory::updates).last(),
              "update check finished mode=automatic result=skipped version=2.0 build=200");

    hooks().checkForUpdates();
    ASSERT_EQ(updateAlerts.size(), 1u);
    EXPECT_TRUE(updateAlerts[0].buttons.contains("Skip This Version"));

    client->manifest.critical = true;
    scheduler.advance(kDay);
    ASSERT_EQ(updateAlerts.size(), 2u);
    EXPECT_EQ(updateAlerts[1].style, AlertStyle::critical);
}

TEST_F(UpdateHooksTest, LaterOrClosingTheAlertChangesNothing) {
    client->manifest = release("2.0", "200");
    hooks().checkForUpdates();  // no scripted answer: the alert was closed
    EXPECT_FALSE(defaults.contains(AppUpdateStateStore::skippedBuildKey));
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(pending(), std::vector<milliseconds>{kDay});
}

TEST_F(UpdateHooksTest, UpdateNowOpensOnlySecureDownloadAddresses) {
    struct Case {
        const char* download;
        std::optional<const char*> endpoint;
        bool opens;
    };
    const std::vector<Case> cases = {
        {"https://example.invalid/t.tar.gz", std::nullopt, true},
        {"HTTPS://example.invalid/t.tar.gz", std::nullopt, true},
        {"http://example.invalid/t.tar.gz", std::nullopt, false},
        {"http://example.invalid/t.tar.gz", "https://releases.example.invalid/latest", false},
        {"http://127.0.0.1:8080/t.tar.gz", "http://127.0.0.1:8080/api/releases/linux/latest", true},
        {"file:///usr/bin/xterm", "http://127.0.0.1:8080/latest", false},
        {"javascript:alert(1)", std::nullopt, false},
        {"ftp://example.invalid/t.tar.gz", std::nullopt, false},
        {"/relative/path", std::nullopt, false},
        {"https:///no-host", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.download);
        Harness fixture;
        if (c.endpoint) {
            fixture.configuration.endpointURL = QUrl(*c.endpoint);
        }
        fixture.client->manifest = release("2.0", "200");
        fixture.client->manifest.downloadURL = QUrl(c.download);
        fixture.answer = UpdateHooks::updateNowButton;
        fixture.hooks().checkForUpdates();
        ASSERT_EQ(fixture.updateAlerts.size(), 1u);
        EXPECT_EQ(fixture.opened.size(), c.opens ? 1u : 0u);
        EXPECT_EQ(fixture.log.sink().messages(LogCategory::updates).last().startsWith("update download refused"),
                  !c.opens);
        // A refused link is not a silent no-op: the user is told the link is invalid.
        const bool toldInvalid =
            !fixture.shown.isEmpty() && fixture.shown.last().startsWith("warning: Invalid update link | ");
        EXPECT_EQ(toldInvalid, !c.opens) << fixture.shown.join("\n").toStdString();
    }
}

TEST_F(UpdateHooksTest, UpdateNowThatNoProgramOpensShowsTheAddress) {
    client->manifest = release("2.0", "200");
    client->manifest.downloadURL = QUrl("https://example.invalid/t.tar.gz");
    answer = UpdateHooks::updateNowButton;
    openFails = true;
    hooks().checkForUpdates();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown.last(),
              "warning: Could not open the update link | Open this address in your browser to download "
              "the update:\nhttps://example.invalid/t.tar.gz");
}

}  // namespace
}  // namespace tavrolin
