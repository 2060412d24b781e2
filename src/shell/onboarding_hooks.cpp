#include "shell/onboarding_hooks.h"

#include "core/app_log.h"

namespace tavrolin {

OnboardingHooks::OnboardingHooks(Dependencies dependencies) : deps_(std::move(dependencies)) {}

OnboardingHooks::~OnboardingHooks() {
    // Callbacks the window still holds find no application from here on.
    lifetime_.end();
    pendingCompletion_.reset();
}

qint64 OnboardingHooks::completedVersion() const {
    return deps_.defaults.integer(completedVersionKey, 0);
}

bool OnboardingHooks::presentAtLaunchIfNeeded() {
    if (completedVersion() >= currentVersion) {
        return false;
    }
    presentOnboarding(OnboardingPageSet::firstRun, true, TelemetryTrigger::appLifecycle);
    return true;
}

void OnboardingHooks::showTutorial() {
    presentOnboarding(OnboardingPageSet::fullTutorial, false, TelemetryTrigger::menu);
}

void OnboardingHooks::presentOnboarding(OnboardingPageSet pages, bool markCompletedOnClose, TelemetryTrigger trigger) {
    if (deps_.report) {
        deps_.report(TelemetryAction::openOnboarding, trigger);
    }
    if (window_) {
        window_->bringToFront();
        return;
    }
    OnboardingRequest request;
    request.pages = pages;
    request.markCompletedOnClose = markCompletedOnClose;
    request.settings = (deps_.currentSettings ? deps_.currentSettings() : AppSettings{}).sanitized();
    request.callbacks = makeCallbacks();
    closedWindow_.reset();
    window_ = deps_.presenter.makeWindow(std::move(request));
    if (!window_) {
        AppLog::app().error(QStringLiteral("The onboarding window could not be created"));
        return;
    }
    window_->bringToFront();
}

OnboardingCallbacks OnboardingHooks::makeCallbacks() {
    const auto weak = lifetime_.weak();
    const auto with = [weak](auto&& body) {
        return [weak, body]() {
            if (auto* self = weak.get()) {
                body(*self);
            }
        };
    };
    OnboardingCallbacks callbacks;
    callbacks.onComplete = with([](OnboardingHooks& hooks) { hooks.complete(); });
    callbacks.onClose = with([](OnboardingHooks& hooks) { hooks.closedWindow_ = std::move(hooks.window_); });
    callbacks.onOpenDictationScratchpad = with([](OnboardingHooks& hooks) {
        if (hooks.deps_.openDictationScratchpad) {
            hooks.deps_.openDictationScratchpad();
        }
    });
    callbacks.onOpenAccessibilitySettings = with([](OnboardingHooks& hooks) { hooks.openAccessibilitySettings(); });
    // Screen capture needs no permission on X11: nothing to request, the step only says so.
    callbacks.onOpenScreenRecordingSettings = with([](OnboardingHooks& hooks) {
        if (hooks.deps_.openScreenRecordingSettings) {
            hooks.deps_.openScreenRecordingSettings();
        }
    });
    callbacks.currentSettings = deps_.currentSettings;
    callbacks.onSaveSettings = [weak](const AppSettings& settings) -> std::optional<QString> {
        auto* const self = weak.get();
        if (!self || !self->deps_.saveSettings) {
            return std::nullopt;
        }
        return self->deps_.saveSettings(settings);
    };
    return callbacks;
}

void OnboardingHooks::openAccessibilitySettings() {
    // The trust check waits for the accessibility bus: it runs on without holding the caller.
    [[maybe_unused]] auto started = openAccessibilitySettingsWhenUntrusted(lifetime_.weak());
}

QCoro::Task<void> OnboardingHooks::openAccessibilitySettingsWhenUntrusted(LifetimeToken<OnboardingHooks>::Weak weak) {
    OnboardingHooks* hooks = weak.get();
    const bool trusted = co_await hooks->deps_.accessibility.isTrusted();
    if (trusted || !weak) {
        co_return;
    }
    const AccessibilityPermissionStatus status = co_await hooks->deps_.accessibility.requestIfNeeded();
    if (status == AccessibilityPermissionStatus::trusted || !weak) {
        co_return;
    }
    if (hooks->deps_.openAccessibilitySettings) {
        hooks->deps_.openAccessibilitySettings();
    }
}

void OnboardingHooks::complete() {
    [[maybe_unused]] auto started = completeAfterTrustRequest(lifetime_.weak());
}

QCoro::Task<void> OnboardingHooks::completeAfterTrustRequest(LifetimeToken<OnboardingHooks>::Weak weak) {
    OnboardingHooks* hooks = weak.get();
    const AccessibilityPermissionStatus status = co_await hooks->deps_.accessibility.requestIfNeeded();
    if (!weak) {
        co_return;
    }
    const auto delay =
        status == AccessibilityPermissionStatus::trusted ? std::chrono::milliseconds(0) : permissionRequestDelay;
    // Screen capture needs no permission on X11, so the delayed step only records completion.
    hooks->pendingCompletion_ = hooks->deps_.scheduler.scheduleAfter(delay, [weak] {
        if (auto* self = weak.get()) {
            self->deps_.defaults.setInteger(completedVersionKey, currentVersion);
        }
    });
}

bool OnboardingHooks::route(HotKeyAction action, const std::function<void()>& workflow) {
    if (window_) {
        window_->handleHotKeyAction(action);
        return false;
    }
    if (workflow) {
        workflow();
    }
    return true;
}

}  // namespace tavrolin
