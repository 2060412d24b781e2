#pragma once

#include "platform/clock.h"
#include "platform/front_application.h"
#include "platform/synthetic_input.h"

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
// its grab takes every key, so a chord would reach us). Otherwise nothing is sent.
class SyntheticInputGate {
public:
    struct Environment {
        SyntheticInput& input;
        FrontApplicationProviding& frontApplications;
        Scheduler& scheduler;
        // Whether one of our keyboard grabs or windows has the keyboard now. Unset: never.
        std::function<bool()> ownKeyboardInUse = {};
    };

    // How long a chord waits for the user's keys to come up and our grabs to end.
    static constexpr std::chrono::milliseconds keyboardFreeBound{1000};
    static constexpr std::chrono::milliseconds keyboardFreePoll{10};

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

    Environment environment_;
};

}  // namespace tavrolin
