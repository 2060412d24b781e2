#pragma once

#include "core/lifetime_token.h"
#include "onboarding/onboarding_demo_running.h"
#include "onboarding/onboarding_presenting.h"
#include "onboarding/onboarding_view.h"

#include <memory>

namespace tavrolin {

class OnboardingViewModel;

// What every onboarding window is built with, besides the request.
struct OnboardingWindowServices {
    std::shared_ptr<OnboardingDemoRunning> demoRunner;
    std::shared_ptr<TranslationSetupSupport> localTranslationSetupSupport;
    std::function<void()> openTranslationSetup;
};

// The window "Welcome to Tavrolin": its view model (built from the request's settings and
// pages), its view, and the way the onboarding ends. Finishing ("Start Using Tavrolin",
// "Skip") completes and closes; every close, whatever caused it, reports through the close
// protocol, so completion runs at most once and the close is reported last. Main thread only.
class OnboardingWindowController final : public OnboardingWindow {
public:
    OnboardingWindowController(OnboardingRequest request, const OnboardingWindowServices& services);
    ~OnboardingWindowController() override;

    void bringToFront() override;
    bool handleHotKeyAction(HotKeyAction action) override;

    OnboardingView* window() const { return view_.get(); }
    const std::shared_ptr<OnboardingViewModel>& viewModel() const { return viewModel_; }
    // The finishing buttons' action: completes, then closes the window.
    void finish();

private:
    OnboardingCloseProtocol protocol_;
    std::function<void()> onOpenDictationScratchpad_;
    std::shared_ptr<OnboardingViewModel> viewModel_;
    std::unique_ptr<OnboardingView> view_;
    bool centred_ = false;
    // Callbacks that outlive the controller find nothing through this.
    LifetimeToken<OnboardingWindowController> lifetime_{this};
};

class OnboardingWindowPresenter final : public OnboardingPresenting {
public:
    explicit OnboardingWindowPresenter(OnboardingWindowServices services) : services_(std::move(services)) {}
    std::unique_ptr<OnboardingWindow> makeWindow(OnboardingRequest request) override;

private:
    OnboardingWindowServices services_;
};

}  // namespace tavrolin
