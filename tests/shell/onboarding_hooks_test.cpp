#include "shell/onboarding_hooks.h"

#include "support/async.h"
#include "support/fakes/fake_accessibility_bus_status.h"
#include "support/virtual_time.h"

#include <deque>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using Event = std::pair<TelemetryAction, TelemetryTrigger>;

// The onboarding window as the later window controller behaves: pages expecting one action
// each, the close protocol, demonstrations recorded instead of run.
class FakeOnboardingWindow final : public OnboardingWindow {
public:
    explicit FakeOnboardingWindow(OnboardingRequest request)
        : request(std::move(request)),
          protocol(this->request.markCompletedOnClose, this->request.callbacks.onComplete,
                   this->request.callbacks.onClose) {}

    void bringToFront() override { ++broughtToFront; }
    bool handleHotKeyAction(HotKeyAction action) override {
        offered.push_back(action);
        const bool accepted = expectedAction == action;
        if (accepted) {
            demonstrated.push_back(action);
        }
        return accepted;
    }

    // What the window's close button and finish button do.
    void close() { protocol.windowWillClose(); }
    void finish() {
        protocol.finish();
        protocol.windowWillClose();
    }

    OnboardingRequest request;
    OnboardingCloseProtocol protocol;
    std::optional<HotKeyAction> expectedAction;
    int broughtToFront = 0;
    std::vector<HotKeyAction> offered;
    std::vector<HotKeyAction> demonstrated;
};

class FakeOnboardingPresenter final : public OnboardingPresenting {
public:
    std::unique_ptr<OnboardingWindow> makeWindow(OnboardingRequest request) override {
        auto window = std::make_unique<FakeOnboardingWindow>(std::move(request));
        windows.push_back(window.get());
        return window;
    }
    std::vector<FakeOnboardingWindow*> windows;
};

struct OnboardingHarness {
    InMemoryDefaultsStore defaults;
    FakeOnboardingPresenter presenter;
    test::FakeAccessibilityBusStatus bus;
    AccessibilityPermission accessibility{bus, {}, std::chrono::milliseconds(1)};
    test::ManualScheduler scheduler;
    std::vector<Event> events;
    int settingsOpened = 0;
    int scratchpadsOpened = 0;
    std::vector<AppSettings> saved;
    std::optional<QString> saveAnswer;
    AppSettings current;
    std::unique_ptr<OnboardingHooks> hooks = std::make_unique<OnboardingHooks>(OnboardingHooks::Dependencies{
        defaults,
        presenter,
        accessibility,
        scheduler,
        [this](TelemetryAction a, TelemetryTrigger t) { events.emplace_back(a, t); },
        [this] { return current; },
        [this](const AppSettings& s) {
            saved.push_back(s);
            return saveAnswer;
        },
        [this] { ++settingsOpened; },
        [this] { ++scratchpadsOpened; },
    });

    FakeOnboardingWindow* window() const { return static_cast<FakeOnboardingWindow*>(hooks->window()); }
    qint64 stored() const { return defaults.integer(OnboardingHooks::completedVersionKey, -1); }
};

TEST(OnboardingHooksTest, FirstLaunchOpensTheShortPagesAndClosingCompletesAfterThePermissionRequest) {
    OnboardingHarness h;
    h.bus.enabled = false;
    EXPECT_TRUE(h.hooks->presentAtLaunchIfNeeded());
    ASSERT_TRUE(h.window());
    EXPECT_EQ(h.window()->request.pages, OnboardingPageSet::firstRun);
    EXPECT_TRUE(h.window()->request.markCompletedOnClose);
    EXPECT_EQ(h.window()->broughtToFront, 1);
    EXPECT_EQ(h.events, (std::vector<Event>{{TelemetryAction::openOnboarding, TelemetryTrigger::appLifecycle}}));

    h.window()->close();
    EXPECT_FALSE(h.hooks->isOpen());
    // The trust request switched the bus on: no wait before completion is stored.
    EXPECT_TRUE(h.bus.enabled);
    EXPECT_EQ(h.scheduler.pendingDelays(), std::vector<std::chrono::milliseconds>{0ms});
    h.scheduler.advance(0ms);
    EXPECT_EQ(h.stored(), 1);

    // Completed: the next launch opens nothing.
    EXPECT_FALSE(h.hooks->presentAtLaunchIfNeeded());
    EXPECT_EQ(h.presenter.windows.size(), 1u);
}

TEST(OnboardingHooksTest, UntrustedCompletionWaitsBeforeStoringAndStoresWhateverWasGranted) {
    OnboardingHarness h;
    h.bus.reachable = false;
    h.hooks->presentAtLaunchIfNeeded();
    h.window()->finish();
    // A bus that cannot be asked is asked once more after a pause of its own.
    ASSERT_TRUE(test::waitUntil([&] { return !h.scheduler.pendingDelays().empty(); }));
    EXPECT_EQ(h.scheduler.pendingDelays(),
              std::vector<std::chrono::milliseconds>{OnboardingHooks::permissionRequestDelay});
    h.scheduler.advance(499ms);
    EXPECT_EQ(h.stored(), -1);
    h.scheduler.advance(1ms);
    EXPECT_EQ(h.stored(), 1);
}

TEST(OnboardingHooksTest, LaunchDecisionReadsTheStoredVersion) {
    const struct {
        const char* name;
        QJsonValue stored;
        bool opens;
    } cases[] = {{"absent", QJsonValue(QJsonValue::Undefined), true},
                 {"zero", 0, true},
                 {"negative", -4, true},
                 {"completed", 1, false},
                 {"later version", 2, false},
                 {"unreadable", QStringLiteral("yes"), true}};
    for (const auto& c : cases) {
        OnboardingHarness h;
        if (!c.stored.isUndefined()) {
            h.defaults.setRawValue(OnboardingHooks::completedVersionKey, c.stored);
        }
        EXPECT_EQ(h.hooks->presentAtLaunchIfNeeded(), c.opens) << c.name;
        EXPECT_EQ(h.hooks->isOpen(), c.opens) << c.name;
    }
}

TEST(OnboardingHooksTest, ShowTutorialWhileFirstRunIsOpenOnlyBringsItForward) {
    OnboardingHarness h;
    h.hooks->presentAtLaunchIfNeeded();
    FakeOnboardingWindow* firstRun = h.window();
    h.hooks->showTutorial();
    EXPECT_EQ(h.presenter.windows.size(), 1u);
    EXPECT_EQ(h.window(), firstRun);
    EXPECT_EQ(firstRun->broughtToFront, 2);
    EXPECT_EQ(firstRun->request.pages, OnboardingPageSet::firstRun);
    EXPECT_EQ(h.events, (std::vector<Event>{{TelemetryAction::openOnboarding, TelemetryTrigger::appLifecycle},
                                            {TelemetryAction::openOnboarding, TelemetryTrigger::menu}}));
    // It still completes on close.
    firstRun->close();
    h.scheduler.advance(1s);
    EXPECT_EQ(h.stored(), 1);
}

TEST(OnboardingHooksTest, TutorialCompletesOnlyWhenFinished) {
    OnboardingHarness h;
    h.bus.enabled = true;
    h.hooks->showTutorial();
    EXPECT_EQ(h.window()->request.pages, OnboardingPageSet::fullTutorial);
    EXPECT_FALSE(h.window()->request.markCompletedOnClose);
    h.window()->close();
    h.scheduler.advance(1s);
    EXPECT_EQ(h.stored(), -1);
    EXPECT_EQ(h.scheduler.pendingCount(), 0u);

    // A fresh window each time after a close.
    h.hooks->showTutorial();
    EXPECT_EQ(h.presenter.windows.size(), 2u);
    h.window()->finish();
    h.scheduler.advance(0ms);
    EXPECT_EQ(h.stored(), 1);
    EXPECT_FALSE(h.hooks->isOpen());
}

TEST(OnboardingHooksTest, CommandsGoToTheOnboardingExactlyWhileItIsOpen) {
    OnboardingHarness h;
    int workflows = 0;
    const auto workflow = [&] { ++workflows; };

    EXPECT_TRUE(h.hooks->route(HotKeyAction::writeText, workflow));
    EXPECT_EQ(workflows, 1);

    h.hooks->showTutorial();
    h.window()->expectedAction = HotKeyAction::writeText;
    EXPECT_FALSE(h.hooks->route(HotKeyAction::writeText, workflow));
    EXPECT_FALSE(h.hooks->route(HotKeyAction::editText, workflow));
    h.window()->expectedAction.reset();
    EXPECT_FALSE(h.hooks->route(HotKeyAction::writeText, workflow));
    EXPECT_EQ(workflows, 1);
    EXPECT_EQ(h.window()->demonstrated, std::vector<HotKeyAction>{HotKeyAction::writeText});
    EXPECT_EQ(h.window()->offered.size(), 3u);

    h.window()->close();
    EXPECT_TRUE(h.hooks->route(HotKeyAction::writeText, workflow));
    EXPECT_EQ(workflows, 2);
}

TEST(OnboardingHooksTest, CallbacksReachTheApplicationAndDoNothingOnceItIsGone) {
    OnboardingHarness h;
    h.bus.acceptsSwitch = false;
    h.hooks->presentAtLaunchIfNeeded();
    FakeOnboardingWindow* window = h.window();
    OnboardingCallbacks callbacks = window->request.callbacks;

    h.saveAnswer = QStringLiteral("Shortcut taken");
    EXPECT_EQ(callbacks.onSaveSettings(AppSettings{}), u"Shortcut taken");
    // The settings as they are at the time of asking, not those the window opened with.
    h.current.launchAtLoginEnabled = !h.current.launchAtLoginEnabled;
    ASSERT_TRUE(callbacks.currentSettings);
    EXPECT_EQ(callbacks.currentSettings(), h.current);
    callbacks.onOpenDictationScratchpad();
    // Untrusted and the switch refused: the desktop's settings are opened.
    callbacks.onOpenAccessibilitySettings();
    EXPECT_EQ(h.settingsOpened, 1);
    h.bus.acceptsSwitch = true;
    callbacks.onOpenAccessibilitySettings();
    EXPECT_EQ(h.settingsOpened, 1);
    EXPECT_EQ(h.scratchpadsOpened, 1);
    EXPECT_EQ(h.saved.size(), 1u);

    // A completion whose delayed step outlives the application stores nothing.
    h.bus.enabled = false;
    h.bus.acceptsSwitch = false;
    callbacks.onComplete();
    h.hooks.reset();
    h.scheduler.advance(1s);
    EXPECT_EQ(h.stored(), -1);
    callbacks.onComplete();
    callbacks.onClose();
    callbacks.onOpenDictationScratchpad();
    EXPECT_EQ(callbacks.onSaveSettings(AppSettings{}), std::nullopt);
    EXPECT_EQ(h.scratchpadsOpened, 1);
    EXPECT_EQ(h.saved.size(), 1u);
}

TEST(OnboardingCloseProtocolTest, CompletesOnceAndReportsTheCloseLast) {
    const struct {
        const char* name;
        bool markCompletedOnClose;
        bool finish;
        std::vector<std::string> expected;
    } cases[] = {{"closed, counts", true, false, {"complete", "close"}},
                 {"closed, does not count", false, false, {"close"}},
                 {"finished, counts", true, true, {"complete", "close"}},
                 {"finished, does not count", false, true, {"complete", "close"}}};
    for (const auto& c : cases) {
        std::vector<std::string> calls;
        OnboardingCloseProtocol protocol(
            c.markCompletedOnClose, [&] { calls.push_back("complete"); }, [&] { calls.push_back("close"); });
        if (c.finish) {
            protocol.finish();
        }
        protocol.windowWillClose();
        protocol.windowWillClose();
        EXPECT_EQ(calls, c.expected) << c.name;
    }
}

}  // namespace
}  // namespace tavrolin
