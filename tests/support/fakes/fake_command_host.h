#pragma once

// The application as one command sees it, without the application: the settings over an
// in-memory store, the real alerts over scripted answers, the running state, no overlay (so no
// loading card), and records of what the command asked for. Try Again runs from the event loop,
// as the delegate runs it.

#include "commands/app_alerts.h"
#include "commands/app_running_state.h"
#include "commands/command_host.h"
#include "commands/focused_field_loading_target_resolver.h"
#include "core/defaults_store.h"
#include "core/device_identifier.h"
#include "core/telemetry_client.h"
#include "support/fakes/scripted_alert_presenter.h"
#include "support/virtual_time.h"

#include <QTimer>

#include <memory>
#include <vector>

namespace tavrolin::test {

class FakeCommandHost final : public CommandHost {
public:
    FakeCommandHost() {
        AppAlerts::Dependencies d;
        d.presenter = &presenter;
        d.currentSettings = [this] { return settings.settings(); };
        d.saveSettings = [this](const AppSettings& value, TelemetryTrigger) -> std::optional<QString> {
            settings.setSettings(value);
            return std::nullopt;
        };
        alerts_ = std::make_unique<AppAlerts>(std::move(d));
    }

    AppSettingsStore& settingsStore() const override { return settings; }
    TelemetryEventReporter& telemetryReporter() override { return reporter; }
    CommandAlerts& alerts() override { return *alerts_; }
    AppRunningState& runningState() override { return running; }
    ScreenshotOverlayPresenter* screenshotOverlayPresenter() override { return nullptr; }
    FocusedFieldLoadingTargetResolver& focusedFieldLoadingTargetResolver() override { return loadingTargets; }
    bool recordSuccess(TelemetryTrigger trigger) override {
        successes.push_back(trigger);
        return false;
    }
    void presentFocusedTextCopyFallback(const QString& text, bool,
                                        const std::optional<QString>& = std::nullopt) override {
        copied.push_back(text);
    }
    QCoro::Task<AccessibilityPermissionStatus> accessibilityAccess(AccessibilityTrustCheck) override {
        co_return trusted ? AccessibilityPermissionStatus::trusted : AccessibilityPermissionStatus::notTrusted;
    }
    void startAfterCurrentRun(std::function<void()> start) override { QTimer::singleShot(0, std::move(start)); }
    Scheduler& scheduler() override { return manualScheduler; }

    QStringList alertTitles() const {
        QStringList titles;
        for (const Alert& alert : presenter.shown) {
            titles << alert.title;
        }
        return titles;
    }

    InMemoryDefaultsStore defaults;
    mutable AppSettingsStore settings{defaults};
    DeviceIdentifier identifier{defaults};
    TelemetryEventReporter reporter{std::make_shared<NoTelemetry>(), settings, identifier, InfoDictionary{}};
    ScriptedAlertPresenter presenter;
    AppRunningState running;
    FocusedFieldLoadingTargetResolver loadingTargets{nullptr, [] { return QRectF(0, 0, 1920, 1080); }};
    ManualScheduler manualScheduler;
    bool trusted = true;
    std::vector<TelemetryTrigger> successes;
    std::vector<QString> copied;

private:
    struct NoTelemetry final : TelemetryClient {
        void send(const TelemetryEvent&) override {}
    };
    std::unique_ptr<AppAlerts> alerts_;
};

}  // namespace tavrolin::test
