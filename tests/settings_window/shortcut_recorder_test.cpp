// The shortcut texts and the recorder field's states, with key events carrying X keycodes.
#include "settings_window/shortcut_recorder.h"

#include "support/fakes/fake_keyboard_layout_reader.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QVBoxLayout>

#include <X11/keysym.h>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

const QString kControl = QStringLiteral("\u2303");
const QString kAlt = QStringLiteral("\u2387");
const QString kShift = QStringLiteral("\u21E7");
const QString kSuper = QStringLiteral("\u2756");

TEST(ShortcutTexts, FieldAndCapsUseTheirOwnOrders) {
    const HotKeyShortcut controlShiftT{.key = HotKeyKey::t, .shift = true, .control = true};
    EXPECT_EQ(compactShortcutText(controlShiftT), kControl + kShift + QStringLiteral("T"));
    EXPECT_EQ(shortcutTokens(controlShiftT), (QStringList{kShift, kControl, QStringLiteral("T")}));

    const HotKeyShortcut all{.key = HotKeyKey::f12, .command = true, .option = true, .shift = true, .control = true};
    EXPECT_EQ(compactShortcutText(all), kControl + kAlt + kShift + kSuper + QStringLiteral("F12"));
    EXPECT_EQ(shortcutTokens(all), (QStringList{kSuper, kAlt, kShift, kControl, QStringLiteral("F12")}));

    const HotKeyShortcut superOne{.key = HotKeyKey::digit1, .command = true};
    EXPECT_EQ(shortcutTokens(superOne), (QStringList{kSuper, QStringLiteral("1")}));
}

// Keycodes of a pc105 keyboard with the "us" and "ru" groups.
constexpr quint32 kKeycode1 = 10;
constexpr quint32 kKeycodeT = 28;
constexpr quint32 kKeycodeK = 45;
constexpr quint32 kKeycodeSpace = 65;
constexpr quint32 kKeycodeKP1 = 87;
constexpr quint32 kKeycodeF5 = 71;
constexpr quint32 kKeycodeEscape = 9;

struct Recorder {
    std::shared_ptr<test::FakeKeyboardLayoutReader> keyboard = std::make_shared<test::FakeKeyboardLayoutReader>();
    QWidget window;
    HotKeyEditorRow* first;
    HotKeyEditorRow* second;
    std::vector<bool> recordingChanges;

    Recorder() {
        keyboard->setKey(kKeycode1, {XK_1});
        // Russian active: the Cyrillic letter first, the Latin key of the other group after it.
        keyboard->setKey(kKeycodeT, {XK_Cyrillic_ie, XK_t});
        keyboard->setKey(kKeycodeK, {XK_k});
        keyboard->setKey(kKeycodeSpace, {XK_space});
        keyboard->setKey(kKeycodeKP1, {XK_KP_End});
        keyboard->setKey(kKeycodeF5, {XK_F5});
        keyboard->setKey(kKeycodeEscape, {XK_Escape});
        auto* column = new QVBoxLayout(&window);
        first = new HotKeyEditorRow(HotKeyAction::flipLanguage, defaultShortcut(HotKeyAction::flipLanguage), keyboard,
                                    &window);
        second =
            new HotKeyEditorRow(HotKeyAction::editText, defaultShortcut(HotKeyAction::editText), keyboard, &window);
        column->addWidget(first);
        column->addWidget(second);
        QObject::connect(first, &HotKeyEditorRow::recordingChanged,
                         [this](bool on) { recordingChanges.push_back(on); });
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        QApplication::setActiveWindow(&window);
    }

    ShortcutRecorderField& field() const { return *first->field(); }

    void startRecording(ShortcutRecorderField& target) {
        QTest::mouseClick(&target, Qt::LeftButton);
        EXPECT_TRUE(target.isRecording());
    }

    // A press as the X11 platform delivers it: keycode, keysym, Qt key and modifiers.
    static bool press(QWidget& target, int qtKey, Qt::KeyboardModifiers modifiers, quint32 keycode, quint32 keysym,
                      const QString& text = {}) {
        QKeyEvent override(QEvent::ShortcutOverride, qtKey, modifiers, keycode, keysym, 0, text);
        QApplication::sendEvent(&target, &override);
        QKeyEvent event(QEvent::KeyPress, qtKey, modifiers, keycode, keysym, 0, text);
        QApplication::sendEvent(&target, &event);
        return override.isAccepted();
    }
};

TEST(ShortcutRecorderField, RefusedKeysKeepRecordingAndACombinationEndsIt) {
    Recorder r;
    ShortcutRecorderField& field = r.field();
    EXPECT_EQ(field.displayText(), compactShortcutText(defaultShortcut(HotKeyAction::flipLanguage)));
    r.startRecording(field);
    EXPECT_EQ(field.displayText(), QStringLiteral("Type shortcut\u2026"));

    // No modifier, a key outside the 48, a keypad digit: refused, still recording.
    Recorder::press(field, Qt::Key_T, Qt::NoModifier, kKeycodeT, XK_Cyrillic_ie);
    Recorder::press(field, Qt::Key_F5, Qt::NoModifier, kKeycodeF5, XK_F5);
    Recorder::press(field, Qt::Key_Space, Qt::AltModifier, kKeycodeSpace, XK_space);
    Recorder::press(field, Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier, kKeycodeKP1, XK_KP_1);
    EXPECT_TRUE(field.isRecording());
    EXPECT_EQ(field.shortcut(), defaultShortcut(HotKeyAction::flipLanguage));
    // The preview keeps the old shortcut while recording.
    EXPECT_EQ(r.first->preview()->tokens(), shortcutTokens(defaultShortcut(HotKeyAction::flipLanguage)));

    // Shift+1 is the key 1, whatever symbol Shift gives it.
    Recorder::press(field, Qt::Key_Exclam, Qt::ShiftModifier | Qt::ControlModifier, kKeycode1, XK_exclam, "!");
    EXPECT_FALSE(field.isRecording());
    EXPECT_EQ(field.shortcut(), (HotKeyShortcut{.key = HotKeyKey::digit1, .shift = true, .control = true}));
    EXPECT_EQ(r.first->preview()->tokens(), (QStringList{kShift, kControl, QStringLiteral("1")}));
    EXPECT_TRUE(field.hasFocus());

    // Still focused: the next combination replaces it without a click; under the Russian
    // layout the T key records T.
    Recorder::press(field, Qt::Key_T, Qt::ControlModifier | Qt::AltModifier, kKeycodeT, XK_Cyrillic_ie);
    EXPECT_EQ(field.shortcut(), (HotKeyShortcut{.key = HotKeyKey::t, .option = true, .control = true}));
    EXPECT_EQ(r.recordingChanges, (std::vector{true, false}));
}

TEST(ShortcutRecorderField, EscapeAndFocusLossEndRecordingUnchanged) {
    Recorder r;
    ShortcutRecorderField& field = r.field();
    r.startRecording(field);
    EXPECT_TRUE(Recorder::press(field, Qt::Key_Escape, Qt::MetaModifier, kKeycodeEscape, XK_Escape))
        << "while recording every key is the field's, Escape too";
    EXPECT_FALSE(field.isRecording());
    EXPECT_EQ(field.shortcut(), defaultShortcut(HotKeyAction::flipLanguage));
    EXPECT_TRUE(Recorder::press(field, Qt::Key_Escape, Qt::NoModifier, kKeycodeEscape, XK_Escape))
        << "idle but focused, Escape still stays with the field";
    EXPECT_FALSE(field.isRecording());

    // Clicking the second row ends the first one's recording, its shortcut unchanged.
    r.startRecording(field);
    r.startRecording(*r.second->field());
    EXPECT_FALSE(field.isRecording());
    EXPECT_EQ(field.shortcut(), defaultShortcut(HotKeyAction::flipLanguage));
    EXPECT_EQ(r.recordingChanges, (std::vector{true, false, true, false}));

    // While recording, application-wide filters are told to leave the keys alone.
    EXPECT_TRUE(r.second->field()->property(ShortcutRecorderField::recordsEveryKeyProperty).toBool());
    r.second->field()->clearFocus();
    EXPECT_FALSE(r.second->field()->isRecording());
    EXPECT_FALSE(r.second->field()->property(ShortcutRecorderField::recordsEveryKeyProperty).toBool());
}

}  // namespace
}  // namespace tavrolin
