// The settings window's shortcut recorder on the session's X display: XTest key presses reach
// the focused recorder field, the application's global grabs pause while it records.
#include "platform/desktop_backend.h"
#include "platform/linux/x11_global_key_grabber.h"
#include "platform/linux/x11_keyboard_layout_reader.h"
#include "settings_window/settings_window_controller.h"
#include "settings_window/shortcut_recorder.h"
#include "shell/hot_key_manager.h"
#include "shell/main_menu.h"
#include "support/async.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QTest>

#include <X11/keysym.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

void xdotool(const QStringList& arguments) {
    ASSERT_EQ(QProcess::execute("xdotool", arguments), 0);
}

bool setLayouts(const QStringList& layouts, const QStringList& variants = {}) {
    QStringList arguments{QStringLiteral("-layout"), layouts.join(u',')};
    if (!variants.join(QString()).isEmpty()) {
        arguments << QStringLiteral("-variant") << variants.join(u',');
    }
    return QProcess::execute(QStringLiteral("setxkbmap"), arguments) == 0;
}

// Presses hardware keys by keycode, whatever group is active (xdotool looks keys up by
// symbol and would retype a Latin letter under a Cyrillic layout).
class KeycodePresser {
public:
    KeycodePresser() : connection_(xcb_connect(nullptr, nullptr)), symbols_(xcb_key_symbols_alloc(connection_)) {}
    ~KeycodePresser() {
        xcb_key_symbols_free(symbols_);
        xcb_disconnect(connection_);
    }
    xcb_keycode_t keycode(xcb_keysym_t keysym) {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        return code;
    }
    // Holds `modifiers` (keycodes) around one press of `key`.
    void chord(const std::vector<xcb_keycode_t>& modifiers, xcb_keycode_t key) {
        for (xcb_keycode_t modifier : modifiers) {
            fake(XCB_KEY_PRESS, modifier);
        }
        fake(XCB_KEY_PRESS, key);
        fake(XCB_KEY_RELEASE, key);
        for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) {
            fake(XCB_KEY_RELEASE, *it);
        }
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }

private:
    void fake(uint8_t type, xcb_keycode_t code) {
        xcb_test_fake_input(connection_, type, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
    xcb_connection_t* connection_;
    xcb_key_symbols_t* symbols_;
};

class SettingsWindowDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(grabber->isAvailable());
        menu.install();
        registerHotKeys(manager, AppSettings{},
                        [this](HotKeyAction action) { return [this, action] { pressed.push_back(action); }; });
        SettingsViewServices services;
        services.keyboard = systemKeyboardLayoutReader();
        controller = std::make_unique<SettingsWindowController>(
            AppSettings{}, [](const AppSettings&) { return std::optional<QString>(); }, [] {}, [] {},
            [this](bool recording) {
                if (recording) {
                    manager.suspend();
                } else {
                    EXPECT_TRUE(manager.resume().empty());
                }
            },
            std::move(services));
        controller->showWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
        ASSERT_TRUE(test::waitUntil([&] { return controller->window()->isActiveWindow(); }));
        controller->view()->selectPane(SettingsPane::shortcuts);
    }
    void TearDown() override {
        controller.reset();
        manager.unregister();
        QProcess::execute("xdotool", {"keyup", "Shift_L", "Control_L", "Escape"});
    }

    ShortcutRecorderField& field(HotKeyAction action) {
        auto* row = controller->view()->paneContent()->findChild<HotKeyEditorRow*>(settingsKey(action));
        EXPECT_NE(row, nullptr);
        return *row->field();
    }
    void startRecording(ShortcutRecorderField& target) {
        QTest::mouseClick(&target, Qt::LeftButton);
        ASSERT_TRUE(target.isRecording());
        ASSERT_TRUE(test::waitUntil([&] { return target.hasFocus(); }));
    }
    // Lets every event of a press arrive.
    static void settle() {
        test::waitUntil([] { return false; }, 300ms);
    }

    std::shared_ptr<X11GlobalKeyGrabber> grabber = std::make_shared<X11GlobalKeyGrabber>();
    HotKeyManager manager{grabber};
    MainMenu menu;
    std::vector<HotKeyAction> pressed;
    std::unique_ptr<SettingsWindowController> controller;
};

TEST_F(SettingsWindowDesktopTest, RealKeysRecordByTheirKeyAndTheWindowKeysStayWithTheField) {
    ShortcutRecorderField& flip = field(HotKeyAction::flipLanguage);

    // Shift+1 is 1.
    startRecording(flip);
    xdotool({"key", "shift+1"});
    ASSERT_TRUE(test::waitUntil([&] { return !flip.isRecording(); }));
    EXPECT_EQ(flip.shortcut(), (HotKeyShortcut{.key = HotKeyKey::digit1, .shift = true}));

    // A keypad digit is refused and recording goes on; Escape ends it and leaves the window.
    startRecording(flip);
    xdotool({"key", "ctrl+KP_1"});
    settle();
    EXPECT_TRUE(flip.isRecording());
    xdotool({"key", "Escape"});
    ASSERT_TRUE(test::waitUntil([&] { return !flip.isRecording(); }));
    settle();
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_EQ(flip.shortcut(), (HotKeyShortcut{.key = HotKeyKey::digit1, .shift = true}));

    // Control+H, which hides the application everywhere else, is recorded.
    startRecording(flip);
    xdotool({"key", "ctrl+h"});
    ASSERT_TRUE(test::waitUntil([&] { return !flip.isRecording(); }));
    settle();
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_EQ(flip.shortcut(), (HotKeyShortcut{.key = HotKeyKey::h, .control = true}));
    EXPECT_EQ(controller->view()->draftSettings().flipLanguageShortcut, flip.shortcut());

    // Not recording: Escape reaches Cancel and closes the window.
    flip.clearFocus();
    xdotool({"key", "Escape"});
    EXPECT_TRUE(test::waitUntil([&] { return !controller->window()->isVisible(); }));
}

TEST_F(SettingsWindowDesktopTest, TheTKeyUnderARussianLayoutRecordsT) {
    const auto original = systemKeyboardLayoutReader()->currentLayouts();
    ASSERT_TRUE(original.has_value());
    ASSERT_TRUE(setLayouts({"us", "ru"}));
    KeycodePresser keys;
    const xcb_keycode_t t = keys.keycode(XK_t);
    const xcb_keycode_t control = keys.keycode(XK_Control_L);
    ASSERT_TRUE(lockKeyboardGroup(1));
    ShortcutRecorderField& edit = field(HotKeyAction::editText);
    startRecording(edit);
    keys.chord({control}, t);
    const bool recorded = test::waitUntil([&] { return !edit.isRecording(); });
    EXPECT_TRUE(lockKeyboardGroup(0));
    EXPECT_TRUE(setLayouts(original->layouts, original->variants));
    EXPECT_TRUE(lockKeyboardGroup(original->activeGroup));
    ASSERT_TRUE(recorded);
    EXPECT_EQ(edit.shortcut(), (HotKeyShortcut{.key = HotKeyKey::t, .control = true}));
}

TEST_F(SettingsWindowDesktopTest, TopRowDigitsRecordOnLayoutsThatShiftThem) {
    // evdev keycodes of the top row's "1" and "0" keys; French, Belgian and Czech put symbols
    // ("&", "+", "à", "é") on their unshifted level and the digits on the shifted one.
    constexpr xcb_keycode_t one = 10, zero = 19;
    const auto original = systemKeyboardLayoutReader()->currentLayouts();
    ASSERT_TRUE(original.has_value());
    KeycodePresser keys;
    const xcb_keycode_t control = keys.keycode(XK_Control_L);
    ShortcutRecorderField& flip = field(HotKeyAction::flipLanguage);
    const auto entry = [](const QString& layout, const HotKeyShortcut& shortcut) {
        return (layout + QStringLiteral(": ") + compactShortcutText(shortcut)).toStdString();
    };
    std::vector<std::string> recorded;
    for (const QString layout : {"fr", "be", "cz", "us"}) {
        if (!setLayouts({layout})) {
            recorded.push_back(layout.toStdString() + " could not be set");
            continue;
        }
        for (const xcb_keycode_t key : {one, zero}) {
            startRecording(flip);
            keys.chord({control}, key);
            test::waitUntil([&] { return !flip.isRecording(); });
            recorded.push_back(entry(layout, flip.shortcut()));
            flip.setRecording(false);
        }
    }
    EXPECT_TRUE(setLayouts(original->layouts, original->variants));
    EXPECT_TRUE(lockKeyboardGroup(original->activeGroup));

    std::vector<std::string> expected;
    for (const QString layout : {"fr", "be", "cz", "us"}) {
        expected.push_back(entry(layout, HotKeyShortcut{.key = HotKeyKey::digit1, .control = true}));
        expected.push_back(entry(layout, HotKeyShortcut{.key = HotKeyKey::digit0, .control = true}));
    }
    EXPECT_EQ(recorded, expected);
}

TEST_F(SettingsWindowDesktopTest, GrabsPauseWhileARowRecords) {
    ShortcutRecorderField& flip = field(HotKeyAction::flipLanguage);
    startRecording(flip);
    xdotool({"key", "ctrl+shift+d"});
    ASSERT_TRUE(test::waitUntil([&] { return !flip.isRecording(); }));
    settle();
    EXPECT_EQ(flip.shortcut(), (HotKeyShortcut{.key = HotKeyKey::d, .shift = true, .control = true}));
    EXPECT_EQ(controller->view()->messageLabel()->text(),
              QStringLiteral("Choose a different shortcut for each action."));
    EXPECT_TRUE(pressed.empty()) << "the dictation shortcut did not run while the row recorded";

    // Recording over, the grab is back and wins over the focused field.
    ASSERT_EQ(manager.registeredHotKeys().size(), 7u);
    xdotool({"key", "ctrl+shift+d"});
    ASSERT_TRUE(test::waitUntil([&] { return !pressed.empty(); }));
    EXPECT_EQ(pressed, std::vector{HotKeyAction::openDictationScratchpad});
}

}  // namespace
}  // namespace tavrolin
