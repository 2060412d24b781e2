// Update checks and the application-wide actions.
#include "commands/app_alerts.h"
#include "core/app_metadata.h"
#include "shell/alert_presenting.h"
#include "shell/app_actions.h"
#include "shell/app_delegate.h"
#include "shell/error_messages.h"

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
        if (!factories().clock) {
            factories().clock = std::make_shared<SystemClock>();
        }
        if (!factories().scheduler) {
            factories().scheduler = std::make_shared<QtScheduler>();
        }
        const QPointer<AppDelegate> self(this);
        UpdateHooks::Dependencies d;
        d.clock = factories().clock.get();
        d.scheduler = factories().scheduler.get();
        d.configuration = services_->updateConfiguration();
        d.defaults = factories().defaults;
        d.isOnlineFeaturesEnabled = [store = services_->sharedSettingsStore()] {
            return store->settings().onlineFeaturesEnabled;
        };
        d.updateChecker = [self]() -> std::shared_ptr<const AppUpdateChecker> {
            return self ? self->services().updateChecker() : nullptr;
        };
        const QJsonValue build = factories().bundle.value(QStringLiteral("CFBundleVersion"));
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
        d.openURL = urlOpener(factories().openURL);
        updateHooks_ = std::make_unique<UpdateHooks>(std::move(d));
    }
    return *updateHooks_;
}

void AppDelegate::startUpdateCheck(UpdateCheckMode mode) {
    updateHooks().startUpdateCheck(mode);
}

AppActions& AppDelegate::appActions() {
    if (!appActions_) {
        const QPointer<AppDelegate> self(this);
        AppActions::Dependencies d;
        if (factories().clock) {
            d.now = [clock = factories().clock] { return clock->now(); };
        }
        d.chooseExportPath = [](const QString& proposedFileName) {
            return chooseDiagnosticsExportPath(proposedFileName);
        };
        d.currentSettings = [store = services_->sharedSettingsStore()] { return store->settings(); };
        d.diagnosticsExporter = [self]() -> std::shared_ptr<const DiagnosticsExporter> {
            return self ? self->services().diagnosticsExporter() : nullptr;
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
        d.openURL = urlOpener(factories().openURL);
        d.supportEmail = AppMetadata::supportEmail();
        d.appVersion = AppMetadata::appVersion();
        appActions_ = std::make_unique<AppActions>(std::move(d));
    }
    return *appActions_;
}

}  // namespace tavrolin
