// The real executable while another program on the display holds one of its shortcut keys: from
// before the start, or in one layout of a keyboard with two that the user switches with
// Alt+Shift while typing.
#include "support/apps/text_fields_app.h"
#include "support/async.h"
#include "support/session/user_keyboard.h"
#include "tavrolin_program_test.h"

#include <QProcess>
#include <QRegularExpression>

#include <X11/keysym.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

QString run(const QString& program, const QStringList& arguments) {
    return test::toolOutput(program, arguments);
}

// Another program: holds Control+Shift on one key until it lets go or ends.
class KeyHolder {
public:
    KeyHolder() {
        int screen = 0;
        connection_ = xcb_connect(nullptr, &screen);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int i = 0; i < screen; ++i) {
            xcb_screen_next(&it);
        }
        root_ = it.data->root;
    }
    ~KeyHolder() { xcb_disconnect(connection_); }
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;

    // The key whose first symbol is `keysym` in the keyboard map of now.
    xcb_keycode_t keycodeOf(xcb_keysym_t keysym) {
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection_);
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        xcb_key_symbols_free(symbols);
        return code;
    }
    // True when nobody else held it.
    bool hold(xcb_keycode_t code) {
        xcb_generic_error_t* error = xcb_request_check(
            connection_, xcb_grab_key_checked(connection_, 1, root_, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT, code,
                                              XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return error == nullptr;
    }
    // Tries the key for a moment: true when nobody held it.
    bool isFree(xcb_keycode_t code) {
        const bool free = hold(code);
        letGo();
        return free;
    }
    void letGo() {
        xcb_ungrab_key(connection_, XCB_GRAB_ANY, root_, XCB_MOD_MASK_ANY);
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
};

class TavrolinShortcutsHeldTest : public test::TavrolinProgramTest {
protected:
    void SetUp() override {
        TavrolinProgramTest::SetUp();
        originalLayout_ = run("setxkbmap", {"-query"});
    }
    void TearDown() override {
        const QRegularExpression layout(QStringLiteral("^layout:\\s+(\\S+)"), QRegularExpression::MultilineOption);
        const auto match = layout.match(originalLayout_);
        QProcess::execute("setxkbmap", {"-layout", match.hasMatch() ? match.captured(1) : "us", "-option", ""});
        TavrolinProgramTest::TearDown();
    }

    bool logged(const QString& message) const {
        const QString tail = QStringLiteral(" [%1] ").arg(pid_) + message;
        const QStringList lines = logLines();
        return std::any_of(lines.begin(), lines.end(), [&](const QString& line) { return line.endsWith(tail); });
    }
    QStringList alerts() const { return programWindows({"--name", "^Tavrolin$"}); }

    void startOnline() {
        writeProgramSettings([](AppSettings& settings) {
            settings.onlineFeaturesEnabled = true;
            settings.telemetryEnabled = false;
            settings.selectionPopupEnabled = false;
        });
        startProgram(programEnvironment());
    }

    QString originalLayout_;
};

// Control+Shift+W is another program's when Tavrolin starts: the launch goes on to its end, the
// six other shortcuts are Tavrolin's at once, one alert names the one set aside, and once the other
// program lets the key go it is Tavrolin's within 10 seconds.
TEST_F(TavrolinShortcutsHeldTest, AKeyHeldBeforeTheStartIsSetAsideAloneAndComesBackOnceFreed) {
    KeyHolder other;
    const xcb_keycode_t w = other.keycodeOf(XK_w);
    ASSERT_TRUE(other.hold(w));
    startOnline();
    ASSERT_TRUE(test::waitUntil([&] { return logged(QStringLiteral("update check start mode=automatic")); }, 20s))
        << log().toStdString();
    KeyHolder probe;
    for (const xcb_keysym_t key : {XK_t, XK_e, XK_r, XK_f, XK_d, XK_p}) {
        EXPECT_TRUE(test::waitUntil([&] { return !probe.isFree(probe.keycodeOf(key)); }, 5s)) << char(key);
    }
    ASSERT_TRUE(test::waitUntil([&] { return alerts().size() == 1; }, 10s)) << log().toStdString();
    run("xdotool", {"windowactivate", "--sync", alerts().first()});
    run("xdotool", {"key", "Return"});
    ASSERT_TRUE(test::waitUntil([&] { return alerts().isEmpty(); }, 5s));

    other.letGo();
    ASSERT_TRUE(test::waitUntil(
        [&] { return logged(QStringLiteral("global shortcut grabbed again, its key is free id=3")); }, 10s))
        << log().toStdString();
    EXPECT_FALSE(probe.isFree(w));
    test::waitUntil([] { return false; }, 1s);
    EXPECT_TRUE(alerts().isEmpty());
}

// US and French, switched with Alt+Shift; another program holds Control+Shift on the key where
// French has W. The user types in a field of another program and switches layouts between the
// letters: every letter lands in the field, and the one alert comes only once they stop typing.
TEST_F(TavrolinShortcutsHeldTest, AKeyHeldInOneLayoutCostsTheUserNoLetterAsTheySwitchAndType) {
    // The key of Z in US is W in French.
    ASSERT_EQ(QProcess::execute("setxkbmap", {"-layout", "us", "-option", ""}), 0);
    KeyHolder other;
    const xcb_keycode_t frenchW = other.keycodeOf(XK_z);
    ASSERT_EQ(QProcess::execute("setxkbmap", {"-layout", "us,fr", "-option", "grp:alt_shift_toggle"}), 0);
    ASSERT_TRUE(other.hold(frenchW));
    startOnline();
    ASSERT_TRUE(test::waitUntil([&] { return logged(QStringLiteral("update check start mode=automatic")); }, 20s))
        << log().toStdString();
    test::TextFieldsApp app;
    ASSERT_TRUE(app.isReady());
    ASSERT_TRUE(app.focus(QStringLiteral("line")));
    ASSERT_TRUE(test::waitUntil([&] {
        return run("xdotool", {"getactivewindow", "getwindowpid"}) == QString::number(app.pid());
    }));
    test::UserKeyboard keyboard;
    ASSERT_TRUE(keyboard.isValid());

    // Letters on the same keys in both layouts; a switch after every two.
    const QString letters = QStringLiteral("ertyuiopertyuiop");
    for (qsizetype i = 0; i < letters.size(); ++i) {
        ASSERT_TRUE(keyboard.type(letters[i].toLatin1()));
        test::waitUntil([] { return false; }, 120ms);
        if (i % 2 == 1) {
            ASSERT_TRUE(keyboard.press({XK_Alt_L, XK_Shift_L}));
            test::waitUntil([] { return false; }, 120ms);
            EXPECT_TRUE(alerts().isEmpty()) << "an alert while the user types, after letter " << i;
        }
    }
    EXPECT_TRUE(test::waitUntil([&] { return app.text(QStringLiteral("line")) == letters; }, 3s))
        << app.text(QStringLiteral("line")).toStdString();
    // Told of once, when the user has stopped.
    ASSERT_TRUE(test::waitUntil([&] { return alerts().size() == 1; }, 10s)) << log().toStdString();
    test::waitUntil([] { return false; }, 1s);
    EXPECT_EQ(alerts().size(), 1);
    run("xdotool", {"windowactivate", "--sync", alerts().first()});
    run("xdotool", {"key", "Return"});
    EXPECT_TRUE(test::waitUntil([&] { return alerts().isEmpty(); }, 5s));
    EXPECT_EQ(app.text(QStringLiteral("line")), letters);
}

}  // namespace
}  // namespace tavrolin
