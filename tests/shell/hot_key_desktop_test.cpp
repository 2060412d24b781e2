// Global shortcuts on the session's X display: real grabs, XTest key presses, another client
// holding a combination first.
#include "core/capture_workflow_error.h"
#include "platform/linux/x11_global_key_grabber.h"
#include "platform/linux/xtest_synthetic_input.h"
#include "shell/hot_key_manager.h"
#include "support/async.h"
#include "support/fakes/memory_log_sink.h"
#include "support/session/user_keyboard.h"

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QThread>

#include <X11/keysym.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace tavrolin {
namespace {

void xdotool(const QStringList& arguments) {
    ASSERT_EQ(QProcess::execute("xdotool", arguments), 0);
}

// Another program on the same display, with a connection of its own.
class OtherClient {
public:
    OtherClient() {
        int screen = 0;
        connection_ = xcb_connect(nullptr, &screen);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int i = 0; i < screen; ++i) {
            xcb_screen_next(&it);
        }
        root_ = it.data->root;
        symbols_ = xcb_key_symbols_alloc(connection_);
    }
    ~OtherClient() {
        xcb_key_symbols_free(symbols_);
        xcb_disconnect(connection_);  // releases its grabs
    }

    // Tries to grab Control+Shift with the key of `keysym`; true when nobody else holds it.
    bool grabControlShift(xcb_keysym_t keysym) {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        const auto cookie = xcb_grab_key_checked(connection_, 1, root_, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT, code,
                                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
        std::free(error);
        return error == nullptr;
    }
    void ungrabAll() {
        xcb_ungrab_key(connection_, XCB_GRAB_ANY, root_, XCB_MOD_MASK_ANY);
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_key_symbols_t* symbols_ = nullptr;
};

class HotKeyDesktopTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(grabber->isAvailable()); }
    void TearDown() override {
        manager.unregister();
        QProcess::execute("xdotool", {"keyup", "w", "Shift_L", "Control_L"});
    }

    void registerDefaults() {
        registerHotKeys(manager, AppSettings{}, [this](HotKeyAction action) {
            return [this, action] {
                pressed.push_back(action);
                onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
            };
        });
    }

    // Lets every posted press run.
    static void settle() {
        test::waitUntil([] { return false; }, std::chrono::milliseconds(300));
    }

    std::shared_ptr<X11GlobalKeyGrabber> grabber = std::make_shared<X11GlobalKeyGrabber>();
    HotKeyManager manager{grabber};
    XTestSyntheticInput input;
    std::vector<HotKeyAction> pressed;
    bool onMainThread = true;
};

TEST_F(HotKeyDesktopTest, TheSevenDefaultShortcutsAreHeldByUs) {
    registerDefaults();
    EXPECT_EQ(manager.registeredHotKeys().size(), 7u);
    OtherClient other;
    for (xcb_keysym_t key : {'t', 'w', 'e', 'r', 'f', 'd', 'p'}) {
        EXPECT_FALSE(other.grabControlShift(key)) << char(key);
    }
    other.ungrabAll();
}

TEST_F(HotKeyDesktopTest, ControlShiftWRunsWriteMessageOnceOnTheMainThread) {
    registerDefaults();
    ASSERT_TRUE(input.sendKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_W));
    ASSERT_TRUE(test::waitUntil([&] { return !pressed.empty(); }));
    settle();
    EXPECT_EQ(pressed, std::vector{HotKeyAction::translateMessage});
    EXPECT_TRUE(onMainThread);
}

TEST_F(HotKeyDesktopTest, LockKeysDoNotHideTheShortcut) {
    registerDefaults();
    for (const char* lock : {"Num_Lock", "Caps_Lock"}) {
        pressed.clear();
        xdotool({"key", lock});
        ASSERT_TRUE(input.sendKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_W));
        const bool arrived = test::waitUntil([&] { return !pressed.empty(); });
        xdotool({"key", lock});  // back off
        ASSERT_TRUE(arrived) << lock;
        settle();
        EXPECT_EQ(pressed, std::vector{HotKeyAction::translateMessage}) << lock;
    }
}

TEST_F(HotKeyDesktopTest, AHeldKeysAutorepeatRunsTheHandlerOnce) {
    registerDefaults();
    // Held past the server's autorepeat delay (660 ms), the key repeats about 25 times a second.
    xdotool({"keydown", "Control_L", "keydown", "Shift_L", "keydown", "w"});
    ASSERT_TRUE(test::waitUntil([&] { return !pressed.empty(); }));
    test::waitUntil([] { return false; }, std::chrono::milliseconds(1000));
    xdotool({"keyup", "w", "keyup", "Shift_L", "keyup", "Control_L"});
    settle();
    EXPECT_EQ(pressed.size(), 1u);

    // A new press after the release counts again.
    ASSERT_TRUE(input.sendKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_W));
    ASSERT_TRUE(test::waitUntil([&] { return pressed.size() == 2; }));
}

TEST_F(HotKeyDesktopTest, ACombinationHeldByAnotherClientFailsTheWholeRegistration) {
    OtherClient other;
    ASSERT_TRUE(other.grabControlShift('r'));
    try {
        registerDefaults();
        FAIL() << "registration succeeded";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), CaptureWorkflowError::Case::hotKeyAlreadyInUse);
        EXPECT_EQ(error.description(), "Control+Shift+R");
    }
    EXPECT_TRUE(manager.registeredHotKeys().empty());
    // None of ours remain: the other client can take every one of them.
    for (xcb_keysym_t key : {'t', 'w', 'e'}) {
        EXPECT_TRUE(other.grabControlShift(key)) << char(key);
    }
    other.ungrabAll();
}

TEST_F(HotKeyDesktopTest, OtherKeysStillReachTheFocusedWindow) {
    registerDefaults();
    QLineEdit edit;
    edit.setGeometry(200, 200, 300, 40);
    edit.show();
    edit.activateWindow();
    ASSERT_TRUE(test::waitUntil([&] { return edit.hasFocus(); }));
    xdotool({"type", "--delay", "20", "hi"});
    EXPECT_TRUE(test::waitUntil([&] { return edit.text() == "hi"; })) << edit.text().toStdString();
    EXPECT_TRUE(pressed.empty());
    edit.close();
}

TEST_F(HotKeyDesktopTest, UnregisteringReleasesTheKeysAndStopsTheHandlers) {
    registerDefaults();
    manager.unregister();
    ASSERT_TRUE(input.sendKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_W));
    settle();
    EXPECT_TRUE(pressed.empty());
    OtherClient other;
    EXPECT_TRUE(other.grabControlShift('w'));
    other.ungrabAll();
}

// The keyboard switched between layouts for one test; the layouts of before come back after it.
class HotKeyLayoutChangeTest : public HotKeyDesktopTest {
protected:
    void SetUp() override {
        HotKeyDesktopTest::SetUp();
        QProcess query;
        query.start("setxkbmap", {"-query"});
        ASSERT_TRUE(query.waitForFinished(5000));
        for (const QString& line : QString::fromUtf8(query.readAllStandardOutput()).split('\n')) {
            if (line.startsWith("layout:")) {
                originalLayout = line.mid(7).trimmed();
            }
        }
        ASSERT_TRUE(switchTo("us"));
    }
    void TearDown() override {
        HotKeyDesktopTest::TearDown();
        EXPECT_TRUE(switchTo(originalLayout.isEmpty() ? QStringLiteral("us") : originalLayout));
    }
    static bool switchTo(const QString& layout) { return QProcess::execute("setxkbmap", {"-layout", layout}) == 0; }

    // Control+Shift+Z for Edit Message: on a German keyboard Z and Y change places.
    void registerControlShiftZ() {
        HotKeyShortcut shortcut{HotKeyKey::z};
        shortcut.control = shortcut.shift = true;
        manager.registerHotKey(HotKeyAction::editText, shortcut, [this] { pressed.push_back(HotKeyAction::editText); });
    }

    QString originalLayout;
    test::ScopedLogCapture logs;
};

TEST_F(HotKeyLayoutChangeTest, AfterALayoutChangeTheShortcutFollowsItsLetter) {
    registerControlShiftZ();
    ASSERT_TRUE(switchTo("de"));
    ASSERT_TRUE(test::waitUntil([&] {
        return logs.messages(LogCategory::app)
            .contains("global shortcuts grabbed again after a keyboard change count=1");
    }));
    // xdotool finds the key of each letter in the keyboard map of now.
    xdotool({"key", "ctrl+shift+z"});
    ASSERT_TRUE(test::waitUntil([&] { return !pressed.empty(); }));
    // The key that made Z before the change makes Y now: it is no longer ours.
    xdotool({"key", "ctrl+shift+y"});
    settle();
    EXPECT_EQ(pressed, std::vector{HotKeyAction::editText});
    EXPECT_EQ(manager.registeredHotKeys().size(), 1u);
}

TEST_F(HotKeyLayoutChangeTest, AShortcutThatCannotBeGrabbedAgainIsReportedAndNoneStays) {
    registerDefaults();
    registerControlShiftZ();
    std::vector<CaptureWorkflowError> lost;
    manager.setRegistrationLostHandler([&](const CaptureWorkflowError& error) { lost.push_back(error); });
    // Another program holds Control+Shift on the key that will make Z.
    OtherClient other;
    ASSERT_TRUE(other.grabControlShift('y'));
    ASSERT_TRUE(switchTo("de"));
    ASSERT_TRUE(test::waitUntil([&] { return !lost.empty(); }));
    settle();
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].errorCase(), CaptureWorkflowError::Case::hotKeyAlreadyInUse);
    EXPECT_EQ(lost[0].description(), "Control+Shift+Z");
    EXPECT_TRUE(manager.registeredHotKeys().empty());
    EXPECT_TRUE(logs.messages(LogCategory::app)
                    .contains(QStringLiteral("global shortcuts lost after a keyboard change id=%1")
                                  .arg(rawValue(HotKeyAction::editText))));
    // All or nothing: Control+Shift+W is free again, and pressing it runs nothing.
    EXPECT_TRUE(other.grabControlShift('w'));
    other.ungrabAll();
    ASSERT_TRUE(input.sendKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_W));
    settle();
    EXPECT_TRUE(pressed.empty());
}

// Layouts switched back and forth as a window manager's key bindings do. Russian has no Latin
// letter: each shortcut is the key where the US layout has its letter. German and French move
// letters (Y and Z; A and Q, Z and W): a shortcut is the key labelled with its letter there.
// After each round trip every shortcut works as before, and none was ever given up.
TEST_F(HotKeyLayoutChangeTest, EveryDefaultShortcutWorksInEveryLayoutAndAfterTheRoundTrip) {
    registerDefaults();
    std::vector<CaptureWorkflowError> lost;
    manager.setRegistrationLostHandler([&](const CaptureWorkflowError& error) { lost.push_back(error); });
    test::UserKeyboard keyboard;
    ASSERT_TRUE(keyboard.isValid());
    std::map<HotKeyAction, unsigned char> usKeys;
    for (const HotKeyAction action : allHotKeyActions) {
        usKeys[action] = keyboard.keycodeOf(keysym(AppSettings{}.shortcut(action).key));
        ASSERT_NE(usKeys[action], 0);
    }
    const auto followed = [&] {
        return logs.messages(LogCategory::app).filter("global shortcuts grabbed again after a keyboard change").size();
    };
    // A layout that moves a shortcut's letter is followed within a turn of the event loop; until
    // then the letter's new key is not ours yet.
    const auto switchAndFollow = [&](const QString& layout, bool moves) {
        const qsizetype before = followed();
        ASSERT_TRUE(switchTo(layout));
        if (moves) {
            ASSERT_TRUE(test::waitUntil([&] { return followed() > before; })) << layout.toStdString();
        }
    };
    const auto everyShortcutWorks = [&](const QString& layout) {
        for (const HotKeyAction action : allHotKeyActions) {
            pressed.clear();
            const quint32 letter = keysym(AppSettings{}.shortcut(action).key);
            const bool sent = layout == "ru" ? keyboard.pressKeycodes({keyboard.keycodeOf(XK_Control_L),
                                                                       keyboard.keycodeOf(XK_Shift_L), usKeys[action]})
                                             : keyboard.press({XK_Control_L, XK_Shift_L, letter});
            ASSERT_TRUE(sent) << layout.toStdString() << " " << char(letter);
            EXPECT_TRUE(test::waitUntil([&] { return !pressed.empty(); }, std::chrono::seconds(3)))
                << "Control+Shift+" << char(letter) << " in " << layout.toStdString();
            if (!pressed.empty()) {
                EXPECT_EQ(pressed.front(), action) << layout.toStdString() << " " << char(letter);
            }
        }
    };
    for (const auto& [layout, moves] : {std::pair{"ru", false}, std::pair{"de", false}, std::pair{"fr", true}}) {
        switchAndFollow(layout, moves);
        everyShortcutWorks(layout);
        switchAndFollow("us", moves);
        everyShortcutWorks("us");
    }
    EXPECT_TRUE(lost.empty()) << lost.front().description().toStdString();
    EXPECT_EQ(manager.registeredHotKeys().size(), 7u);
    EXPECT_TRUE(logs.messages(LogCategory::app).filter("global shortcuts lost").isEmpty());
}

}  // namespace
}  // namespace tavrolin
