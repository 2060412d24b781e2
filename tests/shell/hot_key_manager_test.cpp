// Registration rules of the global shortcuts over an in-memory grabber.
#include "shell/hot_key_manager.h"

#include "core/capture_workflow_error.h"
#include "support/fakes/fake_global_key_grabber.h"
#include "support/qt_printers.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using Combination = test::FakeGlobalKeyGrabber::Combination;
constexpr GlobalKeyModifiers kControlShift{.control = true, .shift = true};

class HotKeyManagerTest : public ::testing::Test {
protected:
    std::function<HotKeyManager::Handler(HotKeyAction)> recordingHandlers() {
        return [this](HotKeyAction action) { return [this, action] { pressed.push_back(action); }; };
    }

    std::shared_ptr<test::FakeGlobalKeyGrabber> grabber = std::make_shared<test::FakeGlobalKeyGrabber>();
    HotKeyManager manager{grabber};
    std::vector<HotKeyAction> pressed;
};

TEST_F(HotKeyManagerTest, DefaultSettingsGrabSevenControlShiftKeysUnderTheActionIds) {
    registerHotKeys(manager, AppSettings{}, recordingHandlers());

    const std::map<quint32, Combination> expected{
        {2, {XK_t, kControlShift}}, {3, {XK_w, kControlShift}}, {4, {XK_e, kControlShift}}, {5, {XK_r, kControlShift}},
        {6, {XK_f, kControlShift}}, {7, {XK_d, kControlShift}}, {8, {XK_p, kControlShift}},
    };
    EXPECT_EQ(grabber->grabs, expected);
    EXPECT_EQ(manager.registeredHotKeys().size(), 7u);
    EXPECT_EQ(manager.registeredHotKeys().at(3).displayName(), "Control+Shift+W");
}

TEST_F(HotKeyManagerTest, PressesRunTheHandlerOfTheirActionOnly) {
    registerHotKeys(manager, AppSettings{}, recordingHandlers());
    grabber->press(3);
    grabber->press(7);
    EXPECT_EQ(pressed, (std::vector{HotKeyAction::translateMessage, HotKeyAction::openDictationScratchpad}));

    // Ids without a registration are declined.
    EXPECT_FALSE(manager.handleHotKeyPressed(1));
    EXPECT_FALSE(manager.handleHotKeyPressed(9));
    EXPECT_EQ(pressed.size(), 2u);
}

TEST_F(HotKeyManagerTest, ModifiersMapToTheLinuxKeys) {
    HotKeyShortcut shortcut{.key = HotKeyKey::f5, .command = true, .option = true};
    manager.registerHotKey(HotKeyAction::editText, shortcut, [] {});
    EXPECT_EQ(grabber->grabs.at(4), (Combination{XK_F5, {.alt = true, .super = true}}));
    HotKeyShortcut digit{.key = HotKeyKey::digit0, .control = true};
    manager.registerHotKey(HotKeyAction::editText, digit, [] {});
    EXPECT_EQ(grabber->grabs.at(4), (Combination{XK_0, {.control = true}}));
}

TEST_F(HotKeyManagerTest, RegisteringAnActionAgainReplacesItsGrab) {
    manager.registerHotKey(HotKeyAction::writeText, defaultShortcut(HotKeyAction::writeText),
                           [this] { pressed.push_back(HotKeyAction::writeText); });
    HotKeyShortcut other{.key = HotKeyKey::k, .control = true};
    manager.registerHotKey(HotKeyAction::writeText, other, [this] { pressed.push_back(HotKeyAction::editText); });

    ASSERT_EQ(grabber->grabs.size(), 1u);
    EXPECT_EQ(grabber->grabs.at(5).keysym, quint32(XK_k));
    grabber->press(5);
    EXPECT_EQ(pressed, std::vector{HotKeyAction::editText});
}

struct FailureCase {
    const char* name;
    std::function<void(test::FakeGlobalKeyGrabber&)> arrange;
    CaptureWorkflowError::Case expectedCase;
};

class HotKeyRegistrationFailureTest : public HotKeyManagerTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(HotKeyRegistrationFailureTest, FailsWithTheFourthShortcutNamedAndLeavesNothingGrabbed) {
    GetParam().arrange(*grabber);
    try {
        registerHotKeys(manager, AppSettings{}, recordingHandlers());
        FAIL() << "registration succeeded";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), GetParam().expectedCase);
        EXPECT_EQ(error.description(), "Control+Shift+R");
    }
    EXPECT_TRUE(grabber->grabs.empty());
    EXPECT_TRUE(manager.registeredHotKeys().empty());
    // The later actions are not tried.
    EXPECT_EQ(grabber->grabCalls, 4);
    grabber->press(2);
    EXPECT_TRUE(pressed.empty());
}

INSTANTIATE_TEST_SUITE_P(Failures, HotKeyRegistrationFailureTest,
                         ::testing::Values(FailureCase{"TakenByAnotherProgram",
                                                       [](auto& g) {
                                                           g.taken.insert({XK_r, kControlShift});
                                                       },
                                                       CaptureWorkflowError::Case::hotKeyAlreadyInUse},
                                           FailureCase{"KeyNotOnTheKeyboard", [](auto& g) { g.unmapped.insert(XK_r); },
                                                       CaptureWorkflowError::Case::failedToRegisterHotKey},
                                           FailureCase{"RefusedOtherwise",
                                                       [](auto& g) {
                                                           g.failing.insert({XK_r, kControlShift});
                                                       },
                                                       CaptureWorkflowError::Case::failedToRegisterHotKey}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HotKeyManagerTest, AFailedRegistrationOfOneActionKeepsTheOthers) {
    manager.registerHotKey(HotKeyAction::editText, defaultShortcut(HotKeyAction::editText), [] {});
    grabber->taken.insert({XK_t, kControlShift});
    EXPECT_THROW(manager.registerHotKey(HotKeyAction::captureAndTranslateActiveWindow,
                                        defaultShortcut(HotKeyAction::captureAndTranslateActiveWindow), [] {}),
                 CaptureWorkflowError);
    EXPECT_EQ(manager.registeredHotKeys().size(), 1u);
    EXPECT_TRUE(manager.registeredHotKeys().contains(4));
}

// A grabber that cannot grab at all (the desktop's without a display, see the Linux back end's
// tests): the shortcut is named and nothing is kept.
TEST_F(HotKeyManagerTest, AGrabberThatFailsEverythingKeepsNothing) {
    grabber->failing.insert({XK_e, kControlShift});
    try {
        manager.registerHotKey(HotKeyAction::editText, defaultShortcut(HotKeyAction::editText), [] {});
        FAIL() << "registered through a failing grabber";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), CaptureWorkflowError::Case::failedToRegisterHotKey);
        EXPECT_EQ(error.description(), "Control+Shift+E");
    }
    EXPECT_TRUE(manager.registeredHotKeys().empty());
}

TEST_F(HotKeyManagerTest, DestroyingTheManagerReleasesEveryGrab) {
    {
        HotKeyManager scoped(grabber);
        registerHotKeys(scoped, AppSettings{}, recordingHandlers());
        EXPECT_EQ(grabber->grabs.size(), 7u);
    }
    EXPECT_TRUE(grabber->grabs.empty());
    EXPECT_FALSE(grabber->callback);
}

TEST_F(HotKeyManagerTest, AShortcutLostToAKeyboardChangeIsReportedByNameAndNothingIsDropped) {
    registerHotKeys(manager, AppSettings{}, recordingHandlers());
    std::vector<CaptureWorkflowError> lost;
    manager.setRegistrationLostHandler([&](const CaptureWorkflowError& error) { lost.push_back(error); });

    grabber->loseGrabs(rawValue(HotKeyAction::editText), GlobalKeyGrabStatus::alreadyInUse);
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0], CaptureWorkflowError::hotKeyAlreadyInUse("Control+Shift+E"));
    EXPECT_EQ(manager.registeredHotKeys().size(), 7u);
    grabber->press(rawValue(HotKeyAction::translateMessage));
    EXPECT_EQ(pressed, std::vector{HotKeyAction::translateMessage});

    // Any other refusal is a failed registration, as at registration time.
    grabber->loseGrabs(rawValue(HotKeyAction::createPrompt), GlobalKeyGrabStatus::failed);
    ASSERT_EQ(lost.size(), 2u);
    EXPECT_EQ(lost[1], CaptureWorkflowError::failedToRegisterHotKey("Control+Shift+P"));
}

}  // namespace
}  // namespace tavrolin

namespace tavrolin {
namespace {

TEST_F(HotKeyManagerTest, SuspendReleasesTheGrabsAndResumeTakesThemBackWithTheirHandlers) {
    registerHotKeys(manager, AppSettings{}, recordingHandlers());
    manager.suspend();
    EXPECT_TRUE(grabber->grabs.empty()) << "another window may take the combinations now";
    EXPECT_EQ(manager.registeredHotKeys().size(), 7u);
    manager.suspend();  // twice is once

    EXPECT_TRUE(manager.resume().empty());
    EXPECT_EQ(grabber->grabs.size(), 7u);
    EXPECT_EQ(grabber->grabs.at(6), (Combination{XK_f, kControlShift}));
    grabber->press(6);
    EXPECT_EQ(pressed, std::vector{HotKeyAction::flipLanguage});
    EXPECT_TRUE(manager.resume().empty()) << "resuming without a pause changes nothing";
    EXPECT_EQ(grabber->grabs.size(), 7u);
}

// Another program took a key while the grabs were paused: that shortcut is set aside and told of
// once, as after a keyboard change; the others come back.
TEST_F(HotKeyManagerTest, AShortcutTakenWhilePausedIsSetAsideAndReportedOthersComeBack) {
    registerHotKeys(manager, AppSettings{}, recordingHandlers());
    std::vector<CaptureWorkflowError> lost;
    manager.setRegistrationLostHandler([&](const CaptureWorkflowError& error) { lost.push_back(error); });
    manager.suspend();
    grabber->taken.insert(Combination{XK_d, kControlShift});

    EXPECT_TRUE(manager.resume().empty());
    EXPECT_EQ(lost, std::vector{CaptureWorkflowError::hotKeyAlreadyInUse(QStringLiteral("Control+Shift+D"))});
    EXPECT_EQ(grabber->grabs.size(), 6u);
    EXPECT_TRUE(manager.registeredHotKeys().contains(7));
    EXPECT_TRUE(manager.isSetAside(HotKeyAction::openDictationScratchpad));
    grabber->press(7);
    EXPECT_TRUE(pressed.empty());
}

}  // namespace
}  // namespace tavrolin
