// Update checks and the application-wide actions.
#include "shell/app_delegate.h"

#include "core/app_metadata.h"
#include "shell/alert_presenting.h"
#include "shell/app_actions.h"
#include "shell/app_alerts.h"

#include <QDesktopServices>

namespace tavrolin {

namespace {

std::function<bool(const QUrl&)> urlOpener(const std::function<bool(const QUrl&)>& configured) {
    if (configured) {
        return configured;
    }
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

}  // namespace

UpdateHooks& AppDelegate::updateHooks() {
    if (!updateHooks_) {
        if (!factories_.clock) {
            factories_.clock = std::make_shared<SystemClock>();
        }
        if (!factories_.scheduler) {
            factories_.scheduler = std::make_shared<QtScheduler>();
        }
        const QPointer<AppDelegate> self(this);
        UpdateHooks::Dependencies d;
        d.clock = factories_.clock.get();
        d.scheduler = factories_.scheduler.get();
        d.configuration = *updateConfiguration_;
        d.defaults = factories_.defaults;
        d.isOnlineFeaturesEnabled = [store = settingsStore_] { return store->settings().onlineFeaturesEnabled; };
        d.updateChecker = [self]() -> std::shared_ptr<const AppUpdateChecker> {
            return self ? self->updateChecker() : nullptr;
        };
        const QJsonValue build = factories_.bundle.value(QStringLiteral("CFBundleVersion"));
        if (build.isString()) {
            d.installedBuild = build.toString();
        }
        d.appVersion = AppMetadata::appVersion();
        d.showOnlineFeaturesDisabledAlert = [self](std::function<void()> retry) {
            if (self) {
                self->alerts().showOnlineFeaturesDisabledAlert(std::move(retry));
            }
        };
        d.showInformationalAlert = [self](const QString& title, const QString& message) {
            if (self) {
                self->alerts().showInformationalAlert(title, message);
            }
        };
        d.showAlert = [self](const QString& title, const QString& message) {
            if (self) {
                self->alerts().showAlert(title, message);
            }
        };
        d.alertPresenter = &alertPresenter();
        d.alertIcon = AppMetadata::alertIcon();
        d.openURL = urlOpener(factories_.openURL);
        updateHooks_ = std::make_unique<UpdateHooks>(std::move(d));
    }
    return *updateHooks_;
}

void AppDelegate::startUpdateCheck(UpdateCheckMode mode) { updateHooks().startUpdateCheck(mode); }

AppActions& AppDelegate::appActions() {
    if (!appActions_) {
        const QPointer<AppDelegate> self(this);
        AppActions::Dependencies d;
        if (factories_.clock) {
            d.now = [clock = factories_.clock] { return clock->now(); };
        }
        d.chooseExportPath = [](const QString& proposedFileName) { return chooseDiagnosticsExportPath(proposedFileName); };
        d.currentSettings = [store = settingsStore_] { return store->settings(); };
        d.diagnosticsExporter = [self]() -> std::shared_ptr<const DiagnosticsExporter> {
            return self ? self->diagnosticsExporter() : nullptr;
        };
        d.showInformationalAlert = [self](const QString& title, const QString& message) {
            if (self) {
                self->alerts().showInformationalAlert(title, message);
            }
        };
        d.showAlert = [self](const QString& title, const QString& message) {
            if (self) {
                self->alerts().showAlert(title, message);
            }
        };
        d.makeMessage = [](const std::exception& error) { return makeMessage(error); };
        d.openURL = urlOpener(factories_.openURL);
        d.supportEmail = AppMetadata::supportEmail();
        d.appVersion = AppMetadata::appVersion();
        appActions_ = std::make_unique<AppActions>(std::move(d));
    }
    return *appActions_;
}

}  // namespace tavrolin
