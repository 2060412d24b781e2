#pragma once

#include "platform/accessibility_calls.h"
#include "platform/clock.h"
#include "platform/front_application.h"

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>

namespace tavrolin {

// Whether a role is that of a text field (an entry, a multi-line text, an editable combo box, a
// search field); a password entry is none.
bool isTextFieldRole(const std::optional<AccessibleRole>& role);

// Which element of which program has the keyboard focus: the one answer behind every reader
// of another program's text (the field commands, the paste checks, the Translate probe, the
// selection buttons). It answers only with an element of the program whose window is in front
// at that moment: a program keeps its focused element when another one comes to the front, so
// the desktop's last focus event may name a field behind the front window, and a window may
// change while the answer is awaited.
class FocusResolver {
public:
    struct Environment {
        // Every query goes through the accessibility thread; both must outlive the resolver.
        AccessibilityCalls& accessibility;
        FrontApplicationProviding& frontApplications;
        Scheduler& scheduler;
    };

    static constexpr std::chrono::milliseconds focusPollInterval{200};
    static constexpr int focusPollCount = 5;
    // A program whose window gets the keyboard back (when the grab of the shortcut that started
    // the command ends) may report a container without text focused for a moment before its
    // field again: such a container is looked past every step until the bound has passed. A
    // program that shows no focus at all is watched for focus events at the same step.
    static constexpr std::chrono::milliseconds focusSettleStep{20};
    static constexpr std::chrono::milliseconds focusSettleBound{300};

    explicit FocusResolver(Environment environment);
    FocusResolver(const FocusResolver&) = delete;
    FocusResolver& operator=(const FocusResolver&) = delete;

    // The window in front now; absent when none (or none with a known process).
    std::optional<FrontApplication> frontWindow() const;
    // The same, asked off the GUI thread: what a command starts from.
    QCoro::Task<std::optional<FrontApplication>> frontWindowOffThread() const;
    // Whether `window` is still the one in front (same process and window).
    bool isInFront(const std::optional<FrontApplication>& window) const;
    // Runs `start` once a window of another program than ours is in front (one of our alerts
    // gives the keyboard back through the window manager, a moment after it closed), looked at
    // every focusSettleStep; after `bound` on whatever is in front. At once when one is already;
    // otherwise destroying the answer cancels it.
    std::unique_ptr<ScheduledCall> startOnceAnotherProgramIsInFront(std::function<void()> start,
                                                                    std::chrono::milliseconds bound);

    // The focused element of `front`'s program, at once: the desktop's last focused element
    // when that program owns it, else the program's own focus. Null when `front` is absent or
    // no longer in front once the answer is in.
    QCoro::Task<AccessibleElementHandle> focusedElement(std::optional<FrontApplication> front);
    // The desktop's last focused element alone, when that program owns it: no search through
    // the program, so quick enough to ask before every key. Null otherwise, or once `front` is
    // no longer in front.
    QCoro::Task<AccessibleElementHandle> lastFocusedElement(std::optional<FrontApplication> front);
    // As focusedElement(); a program that shows none is asked once for its tree (programs that
    // build it only on request) and looked at every focusPollInterval, focusPollCount times,
    // then its active window's focused element is taken. Between those looks the desktop's focus
    // events are watched every focusSettleStep: GTK 4 takes the focus off its field while the
    // grab of the shortcut that started the command lasts and reports it back only by an event,
    // some 50 ms later, which no look at its tree would find.
    QCoro::Task<AccessibleElementHandle> focusedElementWaitingForTree(std::optional<FrontApplication> front);
    // The focused element of the program's active window (some programs report their focus
    // only there); null when none or once `front` is no longer in front.
    QCoro::Task<AccessibleElementHandle> focusedElementOfActiveWindow(std::optional<FrontApplication> front);
    // The focused element once it is one with text: looked for every focusSettleStep up to
    // focusSettleBound while the focus rests on a container without text (or on nothing); null
    // when none turned up in time.
    QCoro::Task<AccessibleElementHandle> focusedElementWithText(std::optional<FrontApplication> front);
    // Whether an element shows text: a text role, or an accessible text (even an empty one).
    QCoro::Task<bool> hasText(AccessibleElementHandle element);
    // The element's role; absent when it tells none (or no answer came).
    QCoro::Task<std::optional<AccessibleRole>> role(AccessibleElementHandle element);
    // The toolkit the element's program reports; absent when it tells none.
    QCoro::Task<std::optional<QString>> toolkitName(AccessibleElementHandle element);

    // Asks the program once in its life (by process) to publish its accessibility tree, within
    // `bound`. Answers whether it was asked now (false: asked before, or no process).
    QCoro::Task<bool> requestTreeOnce(qint64 processId, std::chrono::milliseconds bound);

private:
    // The desktop's last focused element when it still has the focus and `pid` owns it; null
    // otherwise. Two calls, however large the program's tree.
    QCoro::Task<AccessibleElementHandle> focusFromEvents(qint64 pid);

    Environment environment_;
    // Programs (by process) asked once to publish their tree.
    std::set<qint64> treesRequested_;
};

}  // namespace tavrolin
