// A demonstration that outlives its window: the onboarding closes and a new one opens while
// the first one's demonstration still waits for its answer. Run under AddressSanitizer, so a
// view model, window or callback used after it is gone fails the test.
#include "onboarding/onboarding_view_model.h"
#include "shell/onboarding_hooks.h"
#include "support/fakes/fake_accessibility_bus_status.h"
#include "support/fakes/scripted_onboarding_demo_runner.h"
#include "support/virtual_time.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// The window as the window controller will hold it: its own view model, observed through
// signals, and a dictation callback that holds the window weakly.
class ViewModelWindow final : public OnboardingWindow {
public:
    ViewModelWindow(int number, OnboardingRequest request, std::shared_ptr<OnboardingDemoRunning> runner,
                    int& scratchpadsOpened)
        : number(number),
          request_(std::move(request)),
          protocol(request_.markCompletedOnClose, request_.callbacks.onComplete, request_.callbacks.onClose),
          viewModel(std::make_shared<OnboardingViewModel>(
              request_.settings,
              request_.pages == OnboardingPageSet::firstRun ? OnboardingPage::shortList() : OnboardingPage::all(),
              request_.callbacks.onSaveSettings, std::move(runner))) {
        QObject::connect(viewModel.get(), &OnboardingViewModel::writeResultChanged, &context_, [this] { ++redraws; });
        QObject::connect(viewModel.get(), &OnboardingViewModel::hotKeyHintChanged, &context_, [this] { ++redraws; });
        viewModel->onOpenDictationScratchpad = [alive = std::weak_ptr<bool>(alive_), &scratchpadsOpened] {
            if (alive.lock()) {
                ++scratchpadsOpened;
            }
        };
    }

    void bringToFront() override {}
    bool handleHotKeyAction(HotKeyAction action) override { return viewModel->handleHotKeyAction(action); }

    // Which window the presenter made, counting from 1: a closed window's address may be
    // handed to the next one.
    const int number;
    OnboardingRequest request_;
    OnboardingCloseProtocol protocol;
    std::shared_ptr<OnboardingViewModel> viewModel;
    int redraws = 0;

private:
    QObject context_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class ViewModelPresenter final : public OnboardingPresenting {
public:
    std::unique_ptr<OnboardingWindow> makeWindow(OnboardingRequest request) override {
        auto window = std::make_unique<ViewModelWindow>(++windowsMade, std::move(request), runner, scratchpadsOpened);
        latest = window.get();
        return window;
    }
    std::shared_ptr<test::ScriptedOnboardingDemoRunner> runner = std::make_shared<test::ScriptedOnboardingDemoRunner>();
    ViewModelWindow* latest = nullptr;
    int windowsMade = 0;
    int scratchpadsOpened = 0;
};

TEST(OnboardingLifetimeTest, ADemonstrationFinishesOnItsDetachedViewModelAndReachesNoOtherWindow) {
    InMemoryDefaultsStore defaults;
    ViewModelPresenter presenter;
    test::FakeAccessibilityBusStatus bus;
    AccessibilityPermission accessibility{bus};
    test::ManualScheduler scheduler;
    OnboardingHooks hooks(OnboardingHooks::Dependencies{
        defaults, presenter, accessibility, scheduler, [](TelemetryAction, TelemetryTrigger) {},
        [] { return AppSettings{}; }, [](const AppSettings&) { return std::nullopt; }, [] {}, [] {}});

    hooks.showTutorial();
    ViewModelWindow* first = presenter.latest;
    ASSERT_EQ(first->number, 1);
    first->viewModel->selectPage(2);  // "write-demo"
    presenter.runner->holds = true;
    EXPECT_FALSE(hooks.route(HotKeyAction::writeText, [] { FAIL() << "the workflow must not run"; }));
    ASSERT_EQ(presenter.runner->heldCalls(), 1);
    const std::weak_ptr<OnboardingViewModel> detached = first->viewModel;

    // Closed while the server is still answering; a new tutorial replaces the closed window.
    first->protocol.windowWillClose();
    EXPECT_FALSE(hooks.isOpen());
    hooks.showTutorial();
    ViewModelWindow* second = presenter.latest;
    ASSERT_EQ(second->number, 2) << "a new window, not the closed one";
    ASSERT_FALSE(detached.expired()) << "the running demonstration holds its view model";
    second->viewModel->selectPage(7);  // "dictation-demo"

    presenter.runner->release();
    EXPECT_TRUE(detached.expired()) << "released once its demonstration ended";
    EXPECT_EQ(second->redraws, 1) << "only the new window's own page change";
    EXPECT_FALSE(second->viewModel->writeResult());
    EXPECT_FALSE(second->viewModel->runningAction());

    // The new window's demonstrations run as usual and open the scratchpad.
    hooks.route(HotKeyAction::openDictationScratchpad, {});
    EXPECT_EQ(presenter.scratchpadsOpened, 1);
}

}  // namespace
}  // namespace tavrolin
