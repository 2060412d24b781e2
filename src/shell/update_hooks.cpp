#include "shell/update_hooks.h"

#include "core/app_log.h"
#include "core/detached_task.h"
#include "core/error_description.h"
#include "core/linux_wording.h"
#include "core/url_error.h"
#include "server/json_decoding_error.h"

#include <algorithm>

namespace tavrolin {

namespace {

const QString kAppName = QStringLiteral("Tavrolin");

QString boolText(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// What a failed check tells the user, by its cause: an answer that could not be used (cut short,
// malformed, an HTTP error, a manifest that does not decode) is the server's to mend, a secure
// connection refused is the address's or its certificate's, anything else the connection's.
QString updateCheckFailureMessage(const std::exception_ptr& error) {
    const QString invalidAnswer = QStringLiteral(
        "The update server sent an invalid response. Try again after the server is updated or "
        "restarted.");
    try {
        std::rethrow_exception(error);
    } catch (const URLError& urlError) {
        switch (urlError.code()) {
        case URLError::badServerResponse:
            return invalidAnswer;
        case URLError::secureConnectionFailed:
            return QStringLiteral(
                "A secure connection to the update server could not be made. Check the update server's address "
                "and its certificate, then try again.");
        case URLError::serverCertificateUntrusted:
            return QStringLiteral(
                "The update server's certificate is not trusted. Check the update server's address and its "
                "certificate, then try again.");
        default:
            break;
        }
    } catch (const JsonDecodingError&) {
        return invalidAnswer;
    } catch (...) {
    }
    return QStringLiteral("Check your internet connection and try again.");
}

}  // namespace

QString updateCheckModeName(UpdateCheckMode mode) {
    return mode == UpdateCheckMode::automatic ? QStringLiteral("automatic") : QStringLiteral("manual");
}

UpdateHooks::UpdateHooks(Dependencies dependencies) : dependencies_(std::move(dependencies)) {}

UpdateHooks::~UpdateHooks() = default;

bool UpdateHooks::isOnline() const {
    return dependencies_.isOnlineFeaturesEnabled && dependencies_.isOnlineFeaturesEnabled();
}

void UpdateHooks::startUpdateCheck(UpdateCheckMode mode) {
    if (!isOnline()) {
        if (mode == UpdateCheckMode::manual && dependencies_.showOnlineFeaturesDisabledAlert) {
            const auto weak = lifetime_.weak();
            dependencies_.showOnlineFeaturesDisabledAlert([weak] {
                if (auto* self = weak.get()) {
                    self->startUpdateCheck(UpdateCheckMode::manual);
                }
            });
        }
        return;
    }
    if (runningCheck_) {
        if (mode == UpdateCheckMode::manual && dependencies_.showInformationalAlert) {
            dependencies_.showInformationalAlert(QStringLiteral("Update check in progress"),
                                                 kAppName + QStringLiteral(" is already checking for updates."));
        }
        return;
    }
    // A last check dated in the future counts as due: a clock set back must not postpone
    // checks for years.
    if (mode == UpdateCheckMode::automatic &&
        !stateStore().isCheckDue(dependencies_.clock->now(), dependencies_.configuration.checkInterval)) {
        scheduleNextAutomaticUpdateCheck();
        return;
    }
    AppLog::updates().info(QStringLiteral("update check start mode=%1").arg(updateCheckModeName(mode)));
    runningCheck_ = std::make_shared<RunningCheck>(RunningCheck{mode});
    // The task finishes on its own; it catches every error of the check and touches this
    // object only while it still exists. Anything that escapes it (an alert that throws) is
    // logged, not lost.
    startDetached(runCheck(runningCheck_), AppLog::updates(), QStringLiteral("update check"));
}

QCoro::Task<void> UpdateHooks::runCheck(std::shared_ptr<RunningCheck> check) {
    const auto weak = lifetime_.weak();
    const auto checker = dependencies_.updateChecker ? dependencies_.updateChecker() : nullptr;
    std::optional<AppUpdate> update;
    std::exception_ptr error;
    try {
        if (!checker) {
            throw std::logic_error("no update checker");
        }
        update = co_await checker->availableUpdate();
    } catch (...) {
        error = std::current_exception();
    }
    if (auto* self = weak.get()) {
        self->finishCheck(check, update, error);
    }
}

void UpdateHooks::finishCheck(const std::shared_ptr<RunningCheck>& check, const std::optional<AppUpdate>& update,
                              std::exception_ptr error) {
    // However this ends, even by an exception, the check no longer counts as running.
    struct EndOfCheck {
        UpdateHooks* hooks;
        const std::shared_ptr<RunningCheck>& check;
        ~EndOfCheck() {
            if (hooks->runningCheck_ == check) {
                hooks->runningCheck_.reset();
            }
        }
    } endOfCheck{this, check};
    const UpdateCheckMode mode = check->mode;
    // A check cancelled by switching online features off ends silently even when they are back
    // on by now: its failure is the cancellation, not the server's.
    if (!check->cancelled && isOnline()) {
        stateStore().defaults().setDate(AppUpdateStateStore::lastCheckDateKey, dependencies_.clock->now());
        if (error) {
            AppLog::updates().error([&] {
                return QStringLiteral("update check failed mode=%1 errorType=%2 message=%3")
                    .arg(updateCheckModeName(mode), errorTypeName(error), errorDescription(error));
            });
            if (mode == UpdateCheckMode::manual && dependencies_.showAlert) {
                dependencies_.showAlert(QStringLiteral("Could not check for updates"),
                                        updateCheckFailureMessage(error));
            }
        } else if (!update) {
            AppLog::updates().info(
                QStringLiteral("update check finished mode=%1 result=up_to_date").arg(updateCheckModeName(mode)));
            if (mode == UpdateCheckMode::manual && dependencies_.showInformationalAlert) {
                dependencies_.showInformationalAlert(QStringLiteral("You're up to date"),
                                                     kAppName + QStringLiteral(" ") + dependencies_.appVersion +
                                                         QStringLiteral(" is the latest available version."));
            }
        } else {
            const bool isRequired = update->isRequired(dependencies_.installedBuild);
            if (mode == UpdateCheckMode::automatic && !isRequired && stateStore().isSkipped(*update)) {
                AppLog::updates().info(
                    QStringLiteral("update check finished mode=%1 result=skipped version=%2 build=%3")
                        .arg(updateCheckModeName(mode), update->version, update->build));
            } else {
                AppLog::updates().info(
                    QStringLiteral("update check finished mode=%1 result=available version=%2 build=%3 required=%4")
                        .arg(updateCheckModeName(mode), update->version, update->build, boolText(isRequired)));
                presentUpdateAlert(*update, isRequired);
            }
        }
    }
    // The alert above is modal: a later check cannot have started meanwhile (it would have been
    // refused as already running), so the running check is still this one.
    if (runningCheck_ == check) {
        runningCheck_.reset();
    }
    scheduleNextAutomaticUpdateCheck();
}

void UpdateHooks::cancelUpdateChecks() {
    updateCheckTimer_.reset();
    if (runningCheck_) {
        runningCheck_->cancelled = true;
    }
}

void UpdateHooks::scheduleNextAutomaticUpdateCheck() {
    updateCheckTimer_.reset();
    if (!isOnline()) {
        return;
    }
    using std::chrono::milliseconds;
    // Zero without a stored date or once the interval has passed (also for a date in the
    // future), and finite for any configured interval.
    milliseconds delay =
        stateStore().timeUntilNextCheck(dependencies_.clock->now(), dependencies_.configuration.checkInterval);
    delay = std::clamp(delay, minimumTimerDelay, maximumTimerDelay);
    const milliseconds tolerance = std::min(delay / 10, maximumTimerTolerance);
    const auto weak = lifetime_.weak();
    updateCheckTimer_ = dependencies_.scheduler->scheduleAfterWithTolerance(delay, tolerance, [weak] {
        if (auto* self = weak.get()) {
            self->startUpdateCheck(UpdateCheckMode::automatic);
        }
    });
}

QString UpdateHooks::makeUpdateMessage(const AppUpdate& update, bool isRequired) const {
    QString message = QStringLiteral("Current version: ") + dependencies_.appVersion;
    message += QStringLiteral("\nLatest version: ") + update.version + QStringLiteral(" (") + update.build +
               QStringLiteral(")\n\n") + linuxWording(u"Download the new DMG and replace Tavrolin in Applications.");
    if (isRequired) {
        message += QStringLiteral("\n\nThis update is marked important for your installed version.");
    }
    if (update.releaseNotesURL) {
        message += QStringLiteral("\n\nRelease notes: ") + update.releaseNotesURL->toString(QUrl::FullyEncoded);
    }
    return message;
}

Alert UpdateHooks::makeUpdateAlert(const AppUpdate& update, bool isRequired) const {
    Alert alert;
    alert.style = isRequired ? AlertStyle::critical : AlertStyle::informational;
    alert.icon = dependencies_.alertIcon;
    alert.title = isRequired ? QStringLiteral("Important Tavrolin update available")
                             : QStringLiteral("Tavrolin update available");
    alert.message = makeUpdateMessage(update, isRequired);
    alert.buttons = {updateNowButton, laterButton};
    if (!isRequired) {
        alert.buttons << skipButton;
    }
    alert.cancelButton = 1;
    return alert;
}

bool UpdateHooks::isAllowedDownloadURL(const QUrl& url) const {
    if (!url.isValid() || url.host().isEmpty()) {
        return false;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == QStringLiteral("https")) {
        return true;
    }
    const auto& endpoint = dependencies_.configuration.endpointURL;
    return scheme == QStringLiteral("http") && endpoint && endpoint->scheme().toLower() == QStringLiteral("http");
}

void UpdateHooks::presentUpdateAlert(const AppUpdate& update, bool isRequired) {
    if (!dependencies_.alertPresenter) {
        return;
    }
    const Alert alert = makeUpdateAlert(update, isRequired);
    const int answer = dependencies_.alertPresenter->present(alert);
    const QString button = answer >= 0 && answer < alert.buttons.size() ? alert.buttons[answer] : QString();
    if (button == updateNowButton) {
        if (!isAllowedDownloadURL(update.downloadURL)) {
            AppLog::updates().error([&] {
                return QStringLiteral("update download refused url=%1 reason=unsupported_scheme")
                    .arg(update.downloadURL.toString(QUrl::FullyEncoded));
            });
            // The user asked for the update: say why nothing opens.
            if (dependencies_.showAlert) {
                dependencies_.showAlert(QStringLiteral("Invalid update link"),
                                        QStringLiteral("The update link from the server is invalid, so ") + kAppName +
                                            QStringLiteral(" did not open it:\n") +
                                            update.downloadURL.toDisplayString());
            }
            return;
        }
        if (dependencies_.openURL && !dependencies_.openURL(update.downloadURL)) {
            AppLog::updates().error([&] {
                return QStringLiteral("update download could not be opened url=%1")
                    .arg(update.downloadURL.toString(QUrl::FullyEncoded));
            });
            if (dependencies_.showAlert) {
                dependencies_.showAlert(QStringLiteral("Could not open the update link"),
                                        QStringLiteral("Open this address in your browser to download the update:\n") +
                                            update.downloadURL.toString(QUrl::FullyEncoded));
            }
        }
    } else if (button == skipButton) {
        stateStore().defaults().setString(AppUpdateStateStore::skippedBuildKey, update.build);
    }
}

}  // namespace tavrolin
