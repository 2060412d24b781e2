#pragma once

#include "core/accessibility_permission.h"
#include "core/app_settings.h"
#include "core/defaults_store.h"
#include "core/hot_key_action.h"
#include "core/lifetime_token.h"
#include "core/telemetry_action.h"
#include "onboarding/onboarding_presenting.h"
#include "platform/clock.h"

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// The application's side of the onboarding: opens it at first launch and for "Show
// Tutorial…", performs the completion sequence, forgets the window when it closes, and while
// it is open turns every command into a demonstration inside it. Main thread only.
class OnboardingHooks final {
public:
    static inline const QString completedVersionKey = QStringLiteral("onboardingCompletedVersion");
    static constexpr qint64 currentVersion = 1;
    // After a trust request that left the process untrusted, the next request waits this long
    // so the user can read what the first one said.
    static constexpr std::chrono::milliseconds permissionRequestDelay{500};

    struct Dependencies {
        DefaultsStore& defaults;
        OnboardingPresenting& presenter;
        AccessibilityPermission& accessibility;
        Scheduler& scheduler;
        // Reports a plain usage event.
        std::function<void(TelemetryAction, TelemetryTrigger)> report;
        std::function<AppSettings()> currentSettings;
        // The settings save path with the trigger "onboarding": absent means saved.
        std::function<std::optional<QString>(const AppSettings&)> saveSettings;
        // Opens the desktop's accessibility settings (trigger "onboarding").
        std::function<void()> openAccessibilitySettings;
        std::function<void()> openDictationScratchpad;
        // The ready page's screen capture button: capture needs no permission here, so this only
        // says so (trigger "onboarding").
        std::function<void()> openScreenRecordingSettings;
    };

    explicit OnboardingHooks(Dependencies dependencies);
    ~OnboardingHooks();
    OnboardingHooks(const OnboardingHooks&) = delete;
    OnboardingHooks& operator=(const OnboardingHooks&) = delete;

    // The stored "onboardingCompletedVersion", 0 when absent or unreadable.
    qint64 completedVersion() const;

    // At launch: the first-run pages when onboarding was never completed. Answers whether it
    // opened.
    bool presentAtLaunchIfNeeded();
    // "Show Tutorial…": all pages; closing without finishing does not count.
    void showTutorial();
    // Reports "open_onboarding" on every call; an open window is only brought forward (the
    // pages and close rule of this call are then ignored).
    void presentOnboarding(OnboardingPageSet pages, bool markCompletedOnClose, TelemetryTrigger trigger);

    bool isOpen() const { return window_ != nullptr; }
    OnboardingWindow* window() const { return window_.get(); }

    // Every entry point of the seven commands goes through this: while the onboarding is open
    // the action goes to it (a demonstration or a hint) and the workflow never runs; otherwise
    // the workflow runs. Answers whether the workflow ran.
    bool route(HotKeyAction action, const std::function<void()>& workflow);

private:
    OnboardingCallbacks makeCallbacks();
    void complete();
    void openAccessibilitySettings();
    // Started by the two above; each checks after every wait that the hooks still exist.
    static QCoro::Task<void> completeAfterTrustRequest(LifetimeToken<OnboardingHooks>::Weak weak);
    static QCoro::Task<void> openAccessibilitySettingsWhenUntrusted(LifetimeToken<OnboardingHooks>::Weak weak);

    Dependencies deps_;
    std::unique_ptr<OnboardingWindow> window_;
    // A closed window is kept until the next one opens (or the hooks go): its close is reported
    // from inside its own methods, so it must not be destroyed there.
    std::unique_ptr<OnboardingWindow> closedWindow_;
    std::unique_ptr<ScheduledCall> pendingCompletion_;
    LifetimeToken<OnboardingHooks> lifetime_{this};
};

}  // namespace tavrolin
