// The one gate of synthetic keys: where a chord may go at the moment it is sent, and when.
#include "focused_text/synthetic_input_gate.h"

#include "support/fakes/fake_accessibility.h"
#include "support/fakes/fake_clipboard.h"
#include "support/fakes/fake_front_application_provider.h"
#include "support/fakes/fake_process_table.h"
#include "support/fakes/fake_synthetic_input.h"
#include "support/fakes/fake_user_key_activity.h"
#include "support/fakes/inline_accessibility_calls.h"
#include "support/fakes/memory_log_sink.h"
#include "support/virtual_time_task.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using HeldKeys = SyntheticInput::HeldKeys;

class SyntheticInputGateTest : public ::testing::Test {
protected:
    SyntheticInputGateTest() { front.set(editor); }

    bool send(FrontApplication target, Qt::Key key = Qt::Key_V) {
        return test::runOnVirtualTime(gate.sendChord(target, Qt::ControlModifier, key), scheduler);
    }

    test::ManualScheduler scheduler;
    test::FakeClipboard clipboard;
    test::FakeKeyboardApplication keyboard{clipboard, test::makeField("text")};
    test::FakeFrontApplicationProvider front;
    bool ourGrab = false;
    SyntheticInputGate gate{{keyboard, front, scheduler, [this] { return ourGrab; }}};
    const FrontApplication editor{4242, QString("gedit"), 9001};
};

TEST_F(SyntheticInputGateTest, ChordsGoOnlyToTheCommandsWindowWhileItIsInFront) {
    test::ScopedLogCapture log;
    EXPECT_TRUE(send(editor));
    EXPECT_EQ(keyboard.chords, QStringList{"Ctrl+V"});
    EXPECT_EQ(scheduler.elapsed(), 0ms) << "no wait while the keyboard is free";

    const FrontApplication ownWindow{QCoreApplication::applicationPid(), QString("tavrolin"), 9002};
    const FrontApplication terminal{5151, QString("XTerm"), 9003};
    const FrontApplication sameProgramOtherWindow{4242, QString("gedit"), 9004};
    const struct {
        const char* name;
        std::optional<FrontApplication> inFront;
        FrontApplication target;
    } refused[] = {
        {"another window of the program", sameProgramOtherWindow, editor},
        {"no window", std::nullopt, editor},
        {"one of ours", ownWindow, ownWindow},
        {"a terminal", terminal, terminal},
    };
    for (const auto& c : refused) {
        front.set(c.inFront);
        EXPECT_FALSE(send(c.target)) << c.name;
    }
    EXPECT_EQ(keyboard.chords, QStringList{"Ctrl+V"});
    EXPECT_EQ(log.messages(LogCategory::app).filter("synthetic input withheld reason=terminal").size(), 1);
}

// The fake terminal is xterm as measured: its copy chord is an interrupt too.
TEST_F(SyntheticInputGateTest, TheFakeTerminalTakesControlShiftCAsAnInterrupt) {
    keyboard.terminal = true;
    keyboard.sendKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_C);
    keyboard.sendKeyChord(Qt::ControlModifier, Qt::Key_C);
    EXPECT_EQ(keyboard.interrupts, 2);
}

// A terminal is known by what it is: a terminal emulator's process holds a pseudo-terminal
// master, a terminal widget has the terminal role. Such a window gets keys only at a text field
// of its own (an editor beside its terminal panel); the chord and the callers' early look agree.
TEST_F(SyntheticInputGateTest, ATerminalIsKnownByWhatItIsWhateverItsName) {
    test::FakeAccessibility ax;
    test::InlineAccessibilityCalls calls{ax};
    FocusResolver focus{{calls, front, scheduler}};
    test::FakeProcessTable processes;
    SyntheticInputGate knowing{{keyboard, front, scheduler, {}, nullptr, &processes, &focus}};
    const FrontApplication unlisted{5151, QString("Pterm"), 9020};
    const FrontApplication withPanel{6161, QString("kate"), 9021};
    const FrontApplication sandboxed{7171, QString("Sandboxed-terminal"), 9022};
    processes.ptyHolders = {unlisted.processId, withPanel.processId};
    processes.unreadable = {sandboxed.processId};
    const struct {
        const char* name;
        FrontApplication window;
        std::optional<AccessibleRole> focused;  // absent: no accessible element
        bool takesKeys;
    } cases[] = {
        {"an unlisted terminal emulator", unlisted, std::nullopt, false},
        {"the same with a focused widget that is no text field", unlisted, AccessibleRole::other, false},
        {"an editor's own field beside its terminal panel", withPanel, AccessibleRole::textArea, true},
        {"that editor's terminal panel", withPanel, AccessibleRole::terminal, false},
        {"a terminal whose process cannot be read", sandboxed, AccessibleRole::terminal, false},
        {"an ordinary editor", editor, AccessibleRole::textArea, true},
    };
    for (const auto& c : cases) {
        front.set(c.window);
        std::shared_ptr<test::FakeField> field;
        if (c.focused) {
            field = test::makeField("text");
            field->role = c.focused;
            field->processId = c.window.processId;
        }
        ax.systemFocused = field;
        keyboard.chords.clear();
        EXPECT_EQ(test::runOnVirtualTime(knowing.acceptsKeys(c.window), scheduler), c.takesKeys) << c.name;
        EXPECT_EQ(test::runOnVirtualTime(knowing.sendChord(c.window, Qt::ControlModifier, Qt::Key_C), scheduler),
                  c.takesKeys)
            << c.name;
        EXPECT_EQ(keyboard.chords.size(), c.takesKeys ? 1 : 0) << c.name;
    }
}

// Where nothing vouches for a window's program (a sandbox's own process numbering, a process
// that cannot be read, a client on another machine) it may be a terminal as well as anything
// else: keys go to it only at an accessible text field. Programs whose Control+A, C and V mean
// other things (Vim, Emacs) get none even there, and the log says why.
TEST_F(SyntheticInputGateTest, AnUnknownProgramTakesKeysOnlyAtAnAccessibleTextFieldAndVimAndEmacsNone) {
    test::ScopedLogCapture log;
    test::FakeAccessibility ax;
    test::InlineAccessibilityCalls calls{ax};
    FocusResolver focus{{calls, front, scheduler}};
    test::FakeProcessTable processes;
    SyntheticInputGate knowing{{keyboard, front, scheduler, {}, nullptr, &processes, &focus}};
    const FrontApplication sandboxed = test::sandboxedWindow(5151, QString("Pterm"), 0x0a00001);
    const FrontApplication root{6161, QString("Sudo-editor"), 0x0c00001};
    const FrontApplication remote = test::remoteWindow(9191, QString("Gedit"), 0x0e00001);
    const FrontApplication gvim{7171, QString("Gvim"), 0x1000001};
    const FrontApplication emacs{8181, QString("Emacs"), 0x1200001};
    processes.unreadable = {root.processId};
    const struct {
        const char* name;
        FrontApplication window;
        std::optional<AccessibleRole> focused;  // absent: no accessible element
        bool takesKeys;
    } cases[] = {
        {"a sandboxed program without an accessible element", sandboxed, std::nullopt, false},
        {"a sandboxed program at a widget that is no text field", sandboxed, AccessibleRole::other, false},
        {"a sandboxed program at its terminal widget", sandboxed, AccessibleRole::terminal, false},
        {"a sandboxed program at an accessible text field", sandboxed, AccessibleRole::textField, true},
        {"a process that cannot be read, without an element", root, std::nullopt, false},
        {"a process that cannot be read, at a text area", root, AccessibleRole::textArea, true},
        {"a client on another machine", remote, std::nullopt, false},
        {"a client on another machine, at a text field", remote, AccessibleRole::textField, true},
        {"gvim", gvim, std::nullopt, false},
        {"gvim, even at something that says it is a text area", gvim, AccessibleRole::textArea, false},
        {"emacs", emacs, AccessibleRole::textField, false},
    };
    for (const auto& c : cases) {
        front.set(c.window);
        std::shared_ptr<test::FakeField> field;
        if (c.focused) {
            field = test::makeField("I have 3 red cars");
            field->role = c.focused;
            field->processId = c.window.processId;
        }
        ax.systemFocused = field;
        keyboard.chords.clear();
        for (const Qt::Key key : {Qt::Key_A, Qt::Key_C, Qt::Key_V}) {
            EXPECT_EQ(test::runOnVirtualTime(knowing.sendChord(c.window, Qt::ControlModifier, key), scheduler),
                      c.takesKeys)
                << c.name;
        }
        EXPECT_EQ(test::runOnVirtualTime(knowing.acceptsKeys(c.window), scheduler), c.takesKeys) << c.name;
        EXPECT_EQ(keyboard.chords.size(), c.takesKeys ? 3 : 0) << c.name;
        EXPECT_EQ(test::runOnVirtualTime(knowing.isUnknownProgram(c.window), scheduler),
                  c.window.processUnknown || c.window.processId == root.processId)
            << c.name;
    }
    const QStringList lines = log.messages(LogCategory::app);
    EXPECT_EQ(lines.filter("synthetic input withheld reason=unknown_program").size(), 3 * 5);
    EXPECT_EQ(lines.filter("synthetic input withheld reason=keys_mean_other_things").size(), 3 * 3);
    EXPECT_EQ(lines.filter("focused field keys withheld reason=keys_mean_other_things application=Gvim").size(), 2);
    EXPECT_EQ(lines.filter("focused field keys withheld reason=keys_mean_other_things application=Emacs").size(), 1);
}

TEST_F(SyntheticInputGateTest, AChordWaitsForTheUsersKeysAndOurGrabsToLetGo) {
    // The second press of a shortcut: its key is down and our grab takes every key meanwhile.
    keyboard.held = HeldKeys{true, true};
    const auto keysUp = scheduler.scheduleAfter(120ms, [this] { keyboard.held = HeldKeys{}; });
    EXPECT_TRUE(send(editor));
    EXPECT_EQ(scheduler.elapsed(), 120ms);

    ourGrab = true;
    const auto grabEnds = scheduler.scheduleAfter(50ms, [this] { ourGrab = false; });
    EXPECT_TRUE(send(editor));
    EXPECT_EQ(keyboard.chords.size(), 2);

    // The window changed while the keys were down: nothing goes.
    keyboard.held = HeldKeys{false, true};
    const auto switched = scheduler.scheduleAfter(30ms, [this] {
        keyboard.held = HeldKeys{};
        front.set(FrontApplication{77, QString("other"), 9010});
    });
    EXPECT_FALSE(send(editor));
    EXPECT_EQ(keyboard.chords.size(), 2);
}

// The program may take its time to answer the ping: a key the user presses meanwhile is seen
// right before the chord, which waits for it as for any other.
TEST_F(SyntheticInputGateTest, TheKeysAreLookedAtAgainRightBeforeTheChord) {
    test::ScopedLogCapture log;
    SyntheticInputGate pinging{{keyboard, front, scheduler, {}, &keyboard}};
    std::unique_ptr<ScheduledCall> keyUp;
    keyboard.whilePinged = [&] {
        keyboard.held = HeldKeys{false, true};
        keyUp = scheduler.scheduleAfter(60ms, [this] { keyboard.held = HeldKeys{}; });
    };
    const auto start = scheduler.elapsed();
    EXPECT_TRUE(test::runOnVirtualTime(pinging.sendChord(editor, Qt::ControlModifier, Qt::Key_V), scheduler));
    EXPECT_EQ(scheduler.elapsed() - start, 60ms);
    EXPECT_EQ(keyboard.chords, QStringList{"Ctrl+V"});

    // Held on past the bound: nothing goes.
    keyboard.whilePinged = [&] { keyboard.held = HeldKeys{false, true}; };
    scheduler.advance(SyntheticInputGate::responsivenessLasts);
    EXPECT_FALSE(test::runOnVirtualTime(pinging.sendChord(editor, Qt::ControlModifier, Qt::Key_V), scheduler));
    EXPECT_EQ(keyboard.chords, QStringList{"Ctrl+V"});
    EXPECT_EQ(log.messages(LogCategory::app).filter("synthetic input withheld reason=keys_down").size(), 1);
}

// A typist's keys are up most of the time: the user is typing when a key of theirs went down in
// the last second, wherever it went. No chord goes out then: it waits for a second without their
// keys, and is withheld while they go on. The shortcut that started the command, modifiers alone,
// keys that write nothing (one without a symbol, an arrow) and the keys we sent are not typing;
// capitals and AltGr letters are.
TEST_F(SyntheticInputGateTest, NoChordGoesOutWhileTheUserTypesAnywhere) {
    test::ScopedLogCapture log;
    using Source = test::FakeUserKeyActivity::Source;
    test::FakeUserKeyActivity keys{scheduler};
    SyntheticInputGate watching{
        {.input = keyboard, .frontApplications = front, .scheduler = scheduler, .keyActivity = &keys}};
    const auto sendNow = [&] {
        return test::runOnVirtualTime(watching.sendChord(editor, Qt::ControlModifier, Qt::Key_V), scheduler);
    };
    keys.chord({keys.controlL, keys.shiftL, 'w'});
    keys.chord({keys.altL, 'r'});
    keys.chord({keys.shiftL});
    keys.chord({0});
    keys.chord({0xff51 /* Left */});
    keys.chord({'x'}, Source::ours);
    EXPECT_FALSE(watching.userTyping());
    EXPECT_TRUE(sendNow());
    EXPECT_EQ(scheduler.elapsed(), 0ms) << "not typing: no wait";

    for (const auto& letter : {std::initializer_list<unsigned int>{'a'}, {keys.shiftL, 'a'}, {keys.altGr, 'e'}}) {
        keys.chord(letter);
        scheduler.advance(400ms);
        EXPECT_TRUE(watching.userTyping());
        const auto start = scheduler.elapsed();
        EXPECT_TRUE(sendNow());
        EXPECT_EQ(scheduler.elapsed() - start, SyntheticInputGate::typingLasts - 400ms);
        EXPECT_FALSE(watching.userTyping());
    }
    EXPECT_EQ(keyboard.chords.size(), 4);

    // A letter every 200 ms, on and on.
    std::unique_ptr<ScheduledCall> nextLetter;
    std::function<void()> typeOn = [&] {
        keys.chord({'k'});
        nextLetter = scheduler.scheduleAfter(200ms, typeOn);
    };
    typeOn();
    EXPECT_FALSE(sendNow());
    EXPECT_EQ(keyboard.chords.size(), 4);
    EXPECT_EQ(log.messages(LogCategory::app).filter("synthetic input withheld reason=user_typing").size(), 1);
    EXPECT_TRUE(watching.userTyping());
}

TEST_F(SyntheticInputGateTest, AKeyOrAGrabHeldPastTheBoundSendsNothingButModifiersAreLifted) {
    test::ScopedLogCapture log;
    keyboard.held = HeldKeys{false, true};
    const auto start = scheduler.elapsed();
    EXPECT_FALSE(send(editor));
    EXPECT_EQ(scheduler.elapsed() - start, SyntheticInputGate::keyboardFreeBound);
    keyboard.held = HeldKeys{};
    ourGrab = true;
    EXPECT_FALSE(send(editor));
    EXPECT_TRUE(keyboard.chords.isEmpty());
    EXPECT_EQ(log.messages(LogCategory::app).filter("synthetic input withheld").size(), 2);

    // Control and Shift still held by a slow hand: the chord lifts them itself.
    ourGrab = false;
    keyboard.held = HeldKeys{true, false};
    EXPECT_TRUE(send(editor));
    EXPECT_EQ(keyboard.chords, QStringList{"Ctrl+V"});
}

// Keys sent to a stopped program wait in its queue and act when it resumes, on whatever its
// field and the clipboard hold by then: a window whose program does not answer the ping gets
// none. One that is only slow, missing the first ping, answers the second and gets them. One
// answer covers a burst of chords; a program outside the ping protocol still gets keys.
TEST_F(SyntheticInputGateTest, AProgramThatDoesNotAnswerThePingGetsNoKeys) {
    test::ScopedLogCapture log;
    SyntheticInputGate pinging{{keyboard, front, scheduler, {}, &keyboard}};
    const auto sendVia = [&](Qt::Key key) {
        return test::runOnVirtualTime(pinging.sendChord(editor, Qt::ControlModifier, key), scheduler);
    };
    keyboard.stopped = true;
    EXPECT_FALSE(sendVia(Qt::Key_C));
    EXPECT_TRUE(keyboard.chords.isEmpty());
    EXPECT_EQ(log.messages(LogCategory::app).filter("synthetic input withheld reason=not_responding").size(), 1);

    keyboard.resume();
    keyboard.answersAfter = SyntheticInputGate::responsivenessBound + 500ms;
    EXPECT_TRUE(sendVia(Qt::Key_X));
    EXPECT_EQ(keyboard.chords, QStringList{"Ctrl+X"});
    keyboard.answersAfter = 0ms;
    scheduler.advance(SyntheticInputGate::responsivenessLasts);

    keyboard.pings = 0;
    EXPECT_TRUE(sendVia(Qt::Key_C));
    scheduler.advance(200ms);
    EXPECT_TRUE(sendVia(Qt::Key_A));
    EXPECT_TRUE(sendVia(Qt::Key_C));
    EXPECT_EQ(keyboard.pings, 1) << "one ping for the burst";
    // Stopped a while later: the next chord asks again.
    keyboard.stopped = true;
    scheduler.advance(SyntheticInputGate::responsivenessLasts);
    EXPECT_FALSE(sendVia(Qt::Key_V));
    EXPECT_EQ(keyboard.chords, (QStringList{"Ctrl+X", "Ctrl+C", "Ctrl+A", "Ctrl+C"}));

    keyboard.takesPing = false;
    EXPECT_TRUE(sendVia(Qt::Key_V));
    keyboard.takesPing = true;
    keyboard.windowGone = true;
    scheduler.advance(SyntheticInputGate::responsivenessLasts);
    EXPECT_FALSE(sendVia(Qt::Key_V));
    EXPECT_EQ(keyboard.chords.size(), 5);
}

}  // namespace
}  // namespace tavrolin

namespace tavrolin {
namespace {

// Keys go only where Control+A, C and V are known to mean select-all, copy and paste: by the
// toolkit the program's process has loaded, or, where its process cannot be read, the toolkit
// its accessible element reports; and never while another program that takes the window's keys
// (a terminal embedded in it, one whose parent holds the terminal) is judged no place for them.
TEST(SyntheticInputGateProgramsTest, KeysGoOnlyWhereEveryProgramTheyMayReachTakesThemAsUsual) {
    test::ScopedLogCapture log;
    test::ManualScheduler scheduler;
    test::FakeClipboard clipboard;
    test::FakeKeyboardApplication keyboard{clipboard, test::makeField("text")};
    test::FakeFrontApplicationProvider front;
    test::FakeAccessibility ax;
    test::InlineAccessibilityCalls calls{ax};
    FocusResolver focus{{calls, front, scheduler}};
    test::FakeProcessTable processes;
    SyntheticInputGate gate{{keyboard, front, scheduler, {}, nullptr, &processes, &focus}};

    const FrontApplication gtkHost{100, QString("Gtk-host"), 0x100001};
    FrontApplication hostWithTerminal = gtkHost;
    hostWithTerminal.keyReceivers = {KeyReceiver{200, QString("XTerm"), 0x200001, false}};
    FrontApplication hostWithEditor = gtkHost;
    hostWithEditor.keyReceivers = {KeyReceiver{300, QString("Plug"), 0x300001, false}};
    FrontApplication hostWithVanished = gtkHost;
    hostWithVanished.keyReceivers = {KeyReceiver{0, std::nullopt, 0x400001, true}};
    const FrontApplication tk{500, QString("Tk"), 0x500001};
    const FrontApplication xlib{600, QString("tabbed"), 0x600001};
    const FrontApplication rootGtk{700, QString("Gedit"), 0x700001};
    const FrontApplication rootTk{710, QString("Tk"), 0x710001};
    const FrontApplication helperWindow{800, QString("Helper"), 0x800001};
    processes.toolkits = {{100, ProgramToolkit::gtk},
                          {300, ProgramToolkit::gtk},
                          {500, ProgramToolkit::tk},
                          {600, ProgramToolkit::none},
                          {800, ProgramToolkit::gtk}};
    processes.ptyHolders = {200, 801};
    processes.unreadable = {700, 710};
    processes.relatives = {{800, {801}}};  // its parent, say

    const struct {
        const char* name;
        FrontApplication window;
        std::optional<QString> reportedToolkit;  // its focused element's, where it has one
        bool takesKeys;
        const char* reason;
        AccessibleRole focusedRole = AccessibleRole::textField;
    } cases[] = {
        {"a GTK program", gtkHost, std::nullopt, true, nullptr},
        {"a GTK program with a terminal inside", hostWithTerminal, std::nullopt, false, "key_receiver_terminal"},
        {"a GTK program with a GTK editor inside", hostWithEditor, std::nullopt, true, nullptr},
        {"a GTK program holding a window of a client gone", hostWithVanished, std::nullopt, false,
         "key_receiver_unknown_program"},
        {"Tk", tk, std::nullopt, false, "keys_meaning_unknown"},
        {"plain Xlib", xlib, std::nullopt, false, "keys_meaning_unknown"},
        {"another user's GTK program at its text field", rootGtk, QString("GTK"), true, nullptr},
        {"another user's program saying nothing of its toolkit", rootTk, std::nullopt, false, "keys_meaning_unknown"},
        {"a window whose helper process's parent holds the terminal", helperWindow, std::nullopt, false, nullptr,
         AccessibleRole::other},
        {"the same window, at a text field of its own", helperWindow, std::nullopt, true, nullptr},
    };
    for (const auto& c : cases) {
        front.set(c.window);
        auto field = test::makeField("I have 3 red cars");
        field->processId = c.window.processId;
        field->toolkit = c.reportedToolkit;
        field->role = c.focusedRole;
        ax.systemFocused = field;
        keyboard.chords.clear();
        log.sink().clear();
        EXPECT_EQ(test::runOnVirtualTime(gate.acceptsKeys(c.window), scheduler), c.takesKeys) << c.name;
        EXPECT_EQ(test::runOnVirtualTime(gate.sendChord(c.window, Qt::ControlModifier, Qt::Key_C), scheduler),
                  c.takesKeys)
            << c.name;
        EXPECT_EQ(keyboard.chords.size(), c.takesKeys ? 1u : 0u) << c.name;
        if (c.reason) {
            EXPECT_EQ(log.messages(LogCategory::app)
                          .filter(QStringLiteral("focused field keys withheld reason=%1 ").arg(c.reason))
                          .size(),
                      1)
                << c.name << "\n"
                << log.messages(LogCategory::app).join('\n').toStdString();
        }
    }

    // The program inside changes between the judgement and the key: nothing is sent.
    front.set(hostWithEditor);
    front.set(gtkHost);
    keyboard.chords.clear();
    EXPECT_FALSE(test::runOnVirtualTime(gate.sendChord(hostWithEditor, Qt::ControlModifier, Qt::Key_C), scheduler));
    EXPECT_TRUE(keyboard.chords.isEmpty());
}

}  // namespace
}  // namespace tavrolin
