#pragma once

// The seam between the application and the onboarding window. The application decides when
// the onboarding opens, what it may call back, when it counts as completed and where commands
// go while it is open (OnboardingHooks); the window, its pages and its demonstrations live
// behind OnboardingPresenting.

#include "core/app_settings.h"
#include "core/hot_key_action.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// The two page sets: the two first-run pages (language set-up, ready) and the full tutorial.
enum class OnboardingPageSet { firstRun, fullTutorial };

// What the application hands the onboarding. Every callback holds the application weakly and
// does nothing once it is gone.
struct OnboardingCallbacks {
    // The completion sequence (permission requests, then remembering completion).
    std::function<void()> onComplete;
    // The window has closed: the application forgets it.
    std::function<void()> onClose;
    std::function<void()> onOpenDictationScratchpad;
    // Saves settings from the onboarding; absent means saved, a text is the message to show.
    std::function<std::optional<QString>(const AppSettings& settings)> onSaveSettings;
    // The settings as they are now; the onboarding's choices are saved onto them.
    std::function<AppSettings()> currentSettings;
    std::function<void()> onOpenAccessibilitySettings;
    std::function<void()> onOpenScreenRecordingSettings;
};

struct OnboardingRequest {
    OnboardingPageSet pages = OnboardingPageSet::firstRun;
    // Whether closing the window without finishing counts as completing.
    bool markCompletedOnClose = false;
    // The current settings, sanitised: the pages start from them.
    AppSettings settings;
    OnboardingCallbacks callbacks;
};

// One open onboarding window ("Welcome to Tavrolin"). It exists from creation until its
// close has been reported through onClose.
class OnboardingWindow {
public:
    virtual ~OnboardingWindow() = default;
    // Shows the window and makes it the active, front window.
    virtual void bringToFront() = 0;
    // A command while the window is open: answers whether the current page takes it (then it
    // runs as a demonstration on the page's sample text, asynchronously on the main thread);
    // otherwise the page shows its hint and nothing runs.
    virtual bool handleHotKeyAction(HotKeyAction action) = 0;
};

class OnboardingPresenting {
public:
    virtual ~OnboardingPresenting() = default;
    // Creates (not yet shown) the window for a request.
    virtual std::unique_ptr<OnboardingWindow> makeWindow(OnboardingRequest request) = 0;
};

// The window's side of completion, for the window controller to follow: finishing the last
// page (or skipping) completes; closing completes too when the request says so and it has not
// completed yet; the close is always reported last.
class OnboardingCloseProtocol final {
public:
    OnboardingCloseProtocol(bool markCompletedOnClose, std::function<void()> onComplete, std::function<void()> onClose)
        : markCompletedOnClose_(markCompletedOnClose),
          onComplete_(std::move(onComplete)),
          onClose_(std::move(onClose)) {}

    // The user finished or skipped; the window closes next.
    void finish() {
        didComplete_ = true;
        if (onComplete_) {
            onComplete_();
        }
    }
    // The window is closing, for whatever reason. Reported once.
    void windowWillClose() {
        if (closed_) {
            return;
        }
        closed_ = true;
        if (markCompletedOnClose_ && !didComplete_ && onComplete_) {
            onComplete_();
        }
        if (onClose_) {
            onClose_();
        }
    }
    bool didComplete() const { return didComplete_; }

private:
    bool markCompletedOnClose_;
    std::function<void()> onComplete_;
    std::function<void()> onClose_;
    bool didComplete_ = false;
    bool closed_ = false;
};

}  // namespace tavrolin
