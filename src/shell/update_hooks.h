#pragma once

#include "core/defaults_store.h"
#include "core/lifetime_token.h"
#include "platform/clock.h"
#include "shell/alert_presenting.h"
#include "updates/app_update.h"
#include "updates/app_update_checker.h"
#include "updates/app_update_configuration.h"
#include "updates/app_update_state_store.h"

#include <QIcon>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// How a check was started: `automatic` at launch, after a settings save and from the timer;
// `manual` from "Check for Updates…" or the retry after turning online features on.
enum class UpdateCheckMode { automatic, manual };

// "automatic" or "manual", as the log lines write it.
QString updateCheckModeName(UpdateCheckMode mode);

// The application's side of update checks: when to look for a release, what to tell the user
// and what to remember. Automatic checks are spaced by the configured interval through one
// one-shot timer that is re-armed after every check; manual checks always run. Main thread only.
class UpdateHooks final {
public:
    static inline const QString updateNowButton = QStringLiteral("Update Now");
    static inline const QString laterButton = QStringLiteral("Later");
    static inline const QString skipButton = QStringLiteral("Skip This Version");

    // The timer never fires sooner than this after it is armed.
    static constexpr std::chrono::milliseconds minimumTimerDelay{std::chrono::seconds(60)};
    // Nor later than this: a longer wait is covered by re-arming when the timer fires (the
    // automatic check then finds the interval not yet passed and arms the timer again).
    static constexpr std::chrono::milliseconds maximumTimerDelay = QtScheduler::maximumDelay;
    static constexpr std::chrono::milliseconds maximumTimerTolerance{std::chrono::seconds(1800)};

    struct Dependencies {
        Clock* clock = nullptr;
        Scheduler* scheduler = nullptr;
        AppUpdateConfiguration configuration;
        // Where the last check date and the skipped build live.
        DefaultsStore* defaults = nullptr;
        // The current settings' onlineFeaturesEnabled, read at every decision.
        std::function<bool()> isOnlineFeaturesEnabled;
        // The lazily built checker (behind the online-features gate in the application).
        std::function<std::shared_ptr<const AppUpdateChecker>()> updateChecker;
        // The installed build ("CFBundleVersion"); absent or empty counts as "0".
        std::optional<QString> installedBuild;
        QString appVersion;

        // The shared alerts. The retry callback of the online-features alert may be empty.
        std::function<void(std::function<void()> retryAction)> showOnlineFeaturesDisabledAlert;
        std::function<void(const QString& title, const QString& message)> showInformationalAlert;
        std::function<void(const QString& title, const QString& message)> showAlert;
        // Runs the update alert; closing it without a button counts as "Later".
        AlertPresenting* alertPresenter = nullptr;
        QIcon alertIcon;
        // Hands an address to the desktop's default handler (the browser).
        std::function<bool(const QUrl&)> openURL;
    };

    explicit UpdateHooks(Dependencies dependencies);
    ~UpdateHooks();
    UpdateHooks(const UpdateHooks&) = delete;
    UpdateHooks& operator=(const UpdateHooks&) = delete;

    // Entry of every check; see the guard order in the implementation.
    void startUpdateCheck(UpdateCheckMode mode);
    // The menu command.
    void checkForUpdates() { startUpdateCheck(UpdateCheckMode::manual); }
    // Online features were switched off: no timer, and the running check (if any) ends without
    // storing, logging or showing anything.
    void cancelUpdateChecks();
    // (Re)arms the one-shot timer of the next automatic check, or clears it while online
    // features are off.
    void scheduleNextAutomaticUpdateCheck();

    void presentUpdateAlert(const AppUpdate& update, bool isRequired);
    Alert makeUpdateAlert(const AppUpdate& update, bool isRequired) const;
    QString makeUpdateMessage(const AppUpdate& update, bool isRequired) const;

    // Whether "Update Now" may hand `url` to the browser: https with a host, or http when the
    // manifest itself is fetched over http (a local test server).
    bool isAllowedDownloadURL(const QUrl& url) const;

    bool isCheckRunning() const { return runningCheck_ != nullptr; }
    bool isTimerArmed() const { return updateCheckTimer_ && updateCheckTimer_->isActive(); }

private:
    struct RunningCheck {
        UpdateCheckMode mode;
        bool cancelled = false;
    };

    QCoro::Task<void> runCheck(std::shared_ptr<RunningCheck> check);
    void finishCheck(const std::shared_ptr<RunningCheck>& check, const std::optional<AppUpdate>& update,
                     std::exception_ptr error);
    bool isOnline() const;
    AppUpdateStateStore stateStore() const { return AppUpdateStateStore(*dependencies_.defaults); }

    Dependencies dependencies_;
    std::unique_ptr<ScheduledCall> updateCheckTimer_;
    std::shared_ptr<RunningCheck> runningCheck_;
    // Expires with this object, so that a check finishing later does nothing.
    LifetimeToken<UpdateHooks> lifetime_{this};
};

}  // namespace tavrolin
