// Global shortcuts on the session's X display: real grabs, XTest key presses, another client
// holding a combination first, layouts switched with setxkbmap and XKB's group lock.
#include "core/capture_workflow_error.h"
#include "platform/desktop_backend.h"
#include "platform/keyboard_grabbing.h"
#include "platform/linux/x11_global_key_grabber.h"
#include "platform/linux/xtest_synthetic_input.h"
#include "shell/hot_key_manager.h"
#include "support/async.h"
#include "support/fakes/memory_log_sink.h"
#include "support/session/user_keyboard.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <QWidget>

#include <X11/keysym.h>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
// xkb.h names a struct member "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

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
        return grabControlShiftKeycode(code);
    }
    bool grabControlShiftKeycode(xcb_keycode_t code) {
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

// Counts the Control+Shift chords a widget of the front program gets.
class ChordCounter : public QObject {
public:
    int chords = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier) && key->key() != Qt::Key_Shift &&
            key->key() != Qt::Key_Control) {
            ++chords;
        }
        return false;
    }
};

class HotKeyDesktopTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(grabber->isAvailable()); }
    void TearDown() override {
        manager.unregister();
        QProcess::execute("xdotool", {"keyup", "w", "Shift_L", "Control_L"});
    }

    void registerDefaults(WhenKeyTaken whenTaken = WhenKeyTaken::refuse, const AppSettings& settings = {}) {
        registerHotKeys(
            manager, settings,
            [this](HotKeyAction action) {
                return [this, action] {
                    pressed.push_back(action);
                    onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
                };
            },
            whenTaken);
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

// A grab of the whole keyboard of ours (the translated window's overlay) that ends while a
// shortcut's key is down sends its release to the window in front: every later press still runs.
TEST_F(HotKeyDesktopTest, EveryPressRunsAfterAKeyboardGrabOfOursEndedUnderTheKey) {
    registerDefaults();
    QWidget overlay;
    overlay.setGeometry(100, 100, 300, 200);
    overlay.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&overlay));
    const std::unique_ptr<KeyboardGrabbing> grab = makeSystemKeyboardGrab();
    ASSERT_TRUE(grab->grab(overlay.winId()));
    ASSERT_TRUE(test::waitUntil([&] { return grab->isGrabbing(); }));
    xdotool({"keydown", "Control_L", "keydown", "Shift_L", "keydown", "e"});
    ASSERT_TRUE(test::waitUntil([&] { return !pressed.empty(); }));
    // The command closes the overlay before the key comes up.
    grab->release();
    overlay.hide();
    xdotool({"keyup", "e", "keyup", "Shift_L", "keyup", "Control_L"});
    for (std::size_t count = 2; count <= 3; ++count) {
        test::waitUntil([] { return false; }, std::chrono::milliseconds(200));
        ASSERT_TRUE(input.sendKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_E));
        EXPECT_TRUE(test::waitUntil([&] { return pressed.size() == count; })) << count;
    }
    EXPECT_EQ(pressed, std::vector(3, HotKeyAction::editText));
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
    static bool switchTo(const QString& layout, const QString& variant = {}) {
        return QProcess::execute("setxkbmap", {"-layout", layout, "-variant", variant}) == 0;
    }
    // Makes the keyboard's layout `group` (0 the first) the one in use, as a layout switch key does.
    static void lockGroup(quint8 group) {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        std::free(xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr));
        xcb_xkb_latch_lock_state(c, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, group, 0, 0, 0);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        xcb_disconnect(c);
    }
    qsizetype followed() const {
        return logs.messages(LogCategory::app).filter("global shortcuts grabbed again after a keyboard change").size();
    }
    void lockGroupAndFollow(quint8 group) {
        const qsizetype before = followed();
        lockGroup(group);
        ASSERT_TRUE(test::waitUntil([&] { return followed() > before; })) << int(group);
    }
    // Presses Control+Shift with the key of each default shortcut, `keyOf` its letter, and expects
    // that shortcut's command.
    void expectEveryShortcutWorks(test::UserKeyboard& keyboard, const std::function<unsigned char(quint32)>& keyOf,
                                  const char* where) {
        for (const HotKeyAction action : allHotKeyActions) {
            pressed.clear();
            const quint32 letter = keysym(AppSettings{}.shortcut(action).key);
            ASSERT_TRUE(keyboard.pressKeycodes(
                {keyboard.keycodeOf(XK_Control_L), keyboard.keycodeOf(XK_Shift_L), keyOf(letter)}));
            EXPECT_TRUE(test::waitUntil([&] { return !pressed.empty(); }, std::chrono::seconds(3)))
                << "Control+Shift+" << char(letter) << " in " << where;
            if (!pressed.empty()) {
                EXPECT_EQ(pressed.front(), action) << char(letter) << " in " << where;
            }
        }
    }

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

// Another program holds Control+Shift on the key where French has W: only Write Message is given
// up there, and it comes back with the US layout.
TEST_F(HotKeyLayoutChangeTest, AShortcutWhoseKeyAnotherProgramHoldsIsGivenUpAloneUntilTheKeyIsFree) {
    registerDefaults();
    std::vector<CaptureWorkflowError> lost;
    manager.setRegistrationLostHandler([&](const CaptureWorkflowError& error) { lost.push_back(error); });
    OtherClient other;
    ASSERT_TRUE(other.grabControlShift('z'));
    ASSERT_TRUE(switchTo("fr"));
    ASSERT_TRUE(test::waitUntil([&] { return !lost.empty(); }));
    settle();
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0], CaptureWorkflowError::hotKeyAlreadyInUse("Control+Shift+W"));
    EXPECT_EQ(manager.registeredHotKeys().size(), 7u);
    test::UserKeyboard keyboard;
    ASSERT_TRUE(keyboard.isValid());
    ASSERT_TRUE(keyboard.press({XK_Control_L, XK_Shift_L, 'e'}));
    EXPECT_TRUE(test::waitUntil([&] { return pressed == std::vector{HotKeyAction::editText}; }));

    const qsizetype before = followed();
    ASSERT_TRUE(switchTo("us"));
    ASSERT_TRUE(test::waitUntil([&] { return followed() > before; }));
    expectEveryShortcutWorks(
        keyboard, [&](quint32 letter) { return keyboard.keycodeOf(letter); }, "us");
    EXPECT_EQ(lost.size(), 1u);
    other.ungrabAll();
}

// US and French in one keyboard: Z and W change places. In either layout Control+Shift+Z is the
// program's Redo, whichever key makes Z there, and Control+Shift+W is Write Message.
TEST_F(HotKeyLayoutChangeTest, WithTwoLayoutsEachShortcutIsTheKeyOfItsLetterInTheLayoutInUse) {
    ASSERT_TRUE(switchTo("us,fr"));
    lockGroup(0);
    registerDefaults();
    std::vector<CaptureWorkflowError> lost;
    manager.setRegistrationLostHandler([&](const CaptureWorkflowError& error) { lost.push_back(error); });
    QLineEdit edit;
    edit.setGeometry(200, 200, 300, 40);
    edit.show();
    edit.activateWindow();
    ASSERT_TRUE(test::waitUntil([&] { return edit.hasFocus(); }));
    ChordCounter counter;
    edit.installEventFilter(&counter);
    int& editChords = counter.chords;
    test::UserKeyboard keyboard;
    ASSERT_TRUE(keyboard.isValid());
    const unsigned char control = keyboard.keycodeOf(XK_Control_L);
    const unsigned char shift = keyboard.keycodeOf(XK_Shift_L);
    // The keys of the first layout's Z and W: French makes W and Z with them.
    const unsigned char usZ = keyboard.keycodeOf('z');
    const unsigned char usW = keyboard.keycodeOf('w');
    for (const quint8 group : {1, 0}) {
        lockGroupAndFollow(group);
        const unsigned char zKey = group == 0 ? usZ : usW;
        const unsigned char wKey = group == 0 ? usW : usZ;
        pressed.clear();
        editChords = 0;
        ASSERT_TRUE(keyboard.pressKeycodes({control, shift, zKey}));
        EXPECT_TRUE(test::waitUntil([&] { return editChords == 1; })) << "Z in group " << int(group);
        ASSERT_TRUE(keyboard.pressKeycodes({control, shift, wKey}));
        EXPECT_TRUE(test::waitUntil([&] { return !pressed.empty(); })) << "W in group " << int(group);
        settle();
        EXPECT_EQ(pressed, std::vector{HotKeyAction::translateMessage}) << int(group);
        EXPECT_EQ(editChords, 1) << int(group);
    }
    EXPECT_TRUE(lost.empty());
    edit.close();
}

// US and Dvorak: E and D, R and P (and more) are on one key across the two layouts. Each layout
// has all seven letters, each on a key of its own: all seven work in both, and nothing is said to
// be in use.
TEST_F(HotKeyLayoutChangeTest, OurShortcutsNeverTakeEachOthersKeysAcrossLayouts) {
    ASSERT_TRUE(switchTo("us,us", ",dvorak"));
    lockGroup(0);
    std::vector<CaptureWorkflowError> lost;
    manager.setRegistrationLostHandler([&](const CaptureWorkflowError& error) { lost.push_back(error); });
    ASSERT_NO_THROW(registerDefaults());
    test::UserKeyboard keyboard;
    ASSERT_TRUE(keyboard.isValid());
    expectEveryShortcutWorks(
        keyboard, [&](quint32 letter) { return keyboard.keycodeOf(letter); }, "us");
    lockGroupAndFollow(1);
    // Where Dvorak has the letters, by what the first layout makes on those keys.
    const std::map<quint32, quint32> dvorak{{'t', 'k'}, {'w', XK_comma}, {'e', 'd'}, {'r', 'o'},
                                            {'f', 'y'}, {'d', 'h'},      {'p', 'r'}};
    expectEveryShortcutWorks(
        keyboard, [&](quint32 letter) { return keyboard.keycodeOf(dvorak.at(letter)); }, "dvorak");
    EXPECT_TRUE(lost.empty());
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

// Saves: a new shortcut whose key another program holds is refused; registering the earlier
// shortcuts again sets aside only the one another program took meanwhile; a later save that
// keeps that shortcut keeps it aside instead of failing.
TEST_F(HotKeyDesktopTest, ASaveRefusesAHeldKeyAndTheEarlierShortcutsComeBackWithOnlyATakenOneAside) {
    registerDefaults();
    OtherClient other;
    ASSERT_TRUE(other.grabControlShift('k'));
    AppSettings asked;
    asked.writeTextShortcut = HotKeyShortcut{.key = HotKeyKey::k, .shift = true, .control = true};
    EXPECT_THROW(registerDefaults(WhenKeyTaken::refuse, asked), CaptureWorkflowError);
    // Meanwhile the other program took Control+Shift+E, ours a moment ago.
    ASSERT_TRUE(other.grabControlShift('e'));
    ASSERT_NO_THROW(registerDefaults(WhenKeyTaken::setAside));
    EXPECT_EQ(manager.registeredHotKeys().size(), 7u);
    for (const HotKeyAction action : allHotKeyActions) {
        EXPECT_EQ(manager.isSetAside(action), action == HotKeyAction::editText) << rawValue(action);
    }
    EXPECT_FALSE(other.grabControlShift('t'));

    ASSERT_NO_THROW(registerDefaults(WhenKeyTaken::refuse));
    EXPECT_TRUE(manager.isSetAside(HotKeyAction::editText));
    ASSERT_TRUE(input.sendKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_W));
    EXPECT_TRUE(test::waitUntil([&] { return pressed == std::vector{HotKeyAction::translateMessage}; }));
    other.ungrabAll();
}

// US and French in one keyboard; another program holds Control+Shift on the key where French has
// W. Write Message is set aside in French and told of once however often the user switches in and
// out of French; once the other program lets the key go it is ours in French within seconds.
TEST_F(HotKeyLayoutChangeTest, AKeyHeldInOneLayoutIsToldOfOnceAndComesBackThereWhenFreed) {
    ASSERT_TRUE(switchTo("us,fr"));
    lockGroup(0);
    test::UserKeyboard keyboard;
    ASSERT_TRUE(keyboard.isValid());
    const unsigned char frenchW = keyboard.keycodeOf('z');
    OtherClient other;
    ASSERT_TRUE(other.grabControlShiftKeycode(frenchW));
    registerDefaults();
    std::vector<CaptureWorkflowError> lost;
    manager.setRegistrationLostHandler([&](const CaptureWorkflowError& error) { lost.push_back(error); });
    for (const quint8 group : {1, 0, 1, 0, 1}) {
        lockGroupAndFollow(group);
    }
    settle();
    EXPECT_EQ(lost, std::vector{CaptureWorkflowError::hotKeyAlreadyInUse("Control+Shift+W")});
    EXPECT_TRUE(manager.isSetAside(HotKeyAction::translateMessage));

    other.ungrabAll();
    ASSERT_TRUE(
        test::waitUntil([&] { return !manager.isSetAside(HotKeyAction::translateMessage); }, std::chrono::seconds(10)));
    pressed.clear();
    ASSERT_TRUE(keyboard.pressKeycodes({keyboard.keycodeOf(XK_Control_L), keyboard.keycodeOf(XK_Shift_L), frenchW}));
    EXPECT_TRUE(test::waitUntil([&] { return pressed == std::vector{HotKeyAction::translateMessage}; }));
}

}  // namespace
}  // namespace tavrolin
