#pragma once

#include "platform/clock.h"
#include "platform/front_application.h"
#include "platform/synthetic_input.h"
#include "platform/window_ping.h"

#include <QCoroTask>
#include <QSet>

#include <chrono>
#include <functional>
#include <optional>

namespace tavrolin {

// The one way a key chord reaches another program. Keys go to whatever has the keyboard when
// they arrive, so each chord is checked at the moment it is sent: the window in front must be
// the one the command works on, must not be ours and must not be a terminal (Control+C and even
// Control+Shift+C interrupt the program running there); and it waits, within a bound, until the
// user's keys are up and none of our grabs holds the keyboard (while a shortcut's key is down
// its grab takes every key, so a chord would reach us). The window's program must also show that
// it reads its events (it answers the desktop's ping): keys sent to a stopped or hung program
// wait in its queue and act, when it resumes, on whatever it and the clipboard hold by then.
// Otherwise nothing is sent.
class SyntheticInputGate {
public:
    struct Environment {
        SyntheticInput& input;
        FrontApplicationProviding& frontApplications;
        Scheduler& scheduler;
        // Whether one of our keyboard grabs or windows has the keyboard now. Unset: never.
        std::function<bool()> ownKeyboardInUse = {};
        // Whether a window's program reads its events; none: every program is taken to.
        WindowPinging* windowPing = nullptr;
    };

    // How long a chord waits for the user's keys to come up and our grabs to end.
    static constexpr std::chrono::milliseconds keyboardFreeBound{1000};
    static constexpr std::chrono::milliseconds keyboardFreePoll{10};
    // How long a program may take to answer the ping before its window gets no keys.
    static constexpr std::chrono::milliseconds responsivenessBound{1000};
    // How long an answer covers the chords that follow to the same window (one burst: a copy,
    // a paste), so that a command pings once rather than once per key.
    static constexpr std::chrono::milliseconds responsivenessLasts{1000};

    // Terminal emulators (WM_CLASS class names).
    static const QSet<QString>& terminalApplicationIdentifiers();
    static bool isTerminal(const std::optional<FrontApplication>& window);

    explicit SyntheticInputGate(Environment environment);
    SyntheticInputGate(const SyntheticInputGate&) = delete;
    SyntheticInputGate& operator=(const SyntheticInputGate&) = delete;

    // Whether keys may go to this window at all: it names a process, not ours, not a terminal.
    static bool acceptsKeys(const std::optional<FrontApplication>& window);
    // The window in front now.
    std::optional<FrontApplication> frontWindow() const;

    // Waits until no key is down and our grabs and windows have let the keyboard go, at most
    // keyboardFreeBound; no wait when that is so already. Answers false when a key other than a
    // modifier is still down or we still have the keyboard (modifiers alone are lifted by the
    // chord itself).
    QCoro::Task<bool> waitForFreeKeyboard();
    // Sends `modifiers` with `key` to `target` once the keyboard is free, and only
    // while `target` is the window in front and accepts keys. Answers whether it was sent.
    QCoro::Task<bool> sendChord(FrontApplication target, Qt::KeyboardModifiers modifiers, Qt::Key key);

private:
    // Why keys may not go to `target` now; absent when they may.
    std::optional<QString> refusal(const FrontApplication& target) const;
    // Why `target`'s program may not get keys now although its window is fine: it did not answer
    // the ping, or the window is gone; absent when it answered lately, or takes no part in the
    // ping (nothing then says it is stopped).
    QCoro::Task<std::optional<QString>> unresponsiveness(FrontApplication target);

    Environment environment_;
    // The window whose program last answered, while that answer still covers its chords.
    quint64 answeredWindow_ = 0;
    std::unique_ptr<ScheduledCall> answerCovers_;
};

}  // namespace tavrolin
