#include "focused_text/synthetic_input_gate.h"

#include "core/app_log.h"
#include "platform/scheduler_sleep.h"

#include <QCoreApplication>
#include <QKeySequence>

namespace tavrolin {

const QSet<QString>& SyntheticInputGate::terminalApplicationIdentifiers() {
    static const QSet<QString> applications = {
        "XTerm",
        "UXTerm",
        "URxvt",
        "Rxvt",
        "Gnome-terminal",
        "gnome-terminal-server",
        "Gnome-terminal-server",
        "konsole",
        "Konsole",
        "Xfce4-terminal",
        "xfce4-terminal",
        "Mate-terminal",
        "mate-terminal",
        "kitty",
        "Alacritty",
        "Tilix",
        "tilix",
        "Terminator",
        "terminator",
        "foot",
        "footclient",
        "org.wezfurlong.wezterm",
        "st-256color",
        "St",
        "Lxterminal",
        "lxterminal",
        "Qterminal",
        "qterminal",
        "Terminology",
        "Guake",
        "Tilda",
        "Sakura",
        "Kgx",
        "Eterm",
        "Roxterm",
        "Termite",
        "Xiterm",
        "Ghostty",
        "com.mitchellh.ghostty",
    };
    return applications;
}

bool SyntheticInputGate::isTerminal(const std::optional<FrontApplication>& window) {
    return window && window->applicationIdentifier &&
           terminalApplicationIdentifiers().contains(*window->applicationIdentifier);
}

bool SyntheticInputGate::acceptsKeys(const std::optional<FrontApplication>& window) {
    return window && window->processId > 0 && window->processId != QCoreApplication::applicationPid() &&
           !isTerminal(window);
}

SyntheticInputGate::SyntheticInputGate(Environment environment) : environment_(std::move(environment)) {}

std::optional<FrontApplication> SyntheticInputGate::frontWindow() const {
    return environment_.frontApplications.frontApplication();
}

QCoro::Task<bool> SyntheticInputGate::waitForFreeKeyboard() {
    std::chrono::milliseconds waited{0};
    for (;;) {
        const std::optional<SyntheticInput::HeldKeys> held = environment_.input.heldKeys();
        const bool ours = environment_.ownKeyboardInUse && environment_.ownKeyboardInUse();
        const bool keysDown = held && held->any();
        if (!keysDown && !ours) {
            co_return true;
        }
        if (waited >= keyboardFreeBound) {
            if (ours || (held && held->others)) {
                AppLog::app().notice(QStringLiteral("synthetic input withheld reason=%1 waited=%2ms")
                                         .arg(ours ? QStringLiteral("own_keyboard_grab") : QStringLiteral("keys_down"))
                                         .arg(waited.count()));
                co_return false;
            }
            co_return true;  // only modifiers: the chord lifts them first
        }
        co_await sleepFor(environment_.scheduler, keyboardFreePoll);
        waited += keyboardFreePoll;
    }
}

std::optional<QString> SyntheticInputGate::refusal(const FrontApplication& target) const {
    if (!acceptsKeys(target)) {
        return isTerminal(target) ? QStringLiteral("terminal") : QStringLiteral("not_a_program_window");
    }
    const std::optional<FrontApplication> front = frontWindow();
    if (!front || front->processId != target.processId || front->windowId != target.windowId) {
        return QStringLiteral("window_not_in_front");
    }
    return std::nullopt;
}

QCoro::Task<std::optional<QString>> SyntheticInputGate::unresponsiveness(FrontApplication target) {
    if (!environment_.windowPing || target.windowId == 0) {
        co_return std::nullopt;
    }
    if (answeredWindow_ == target.windowId && answerCovers_ && answerCovers_->isActive()) {
        co_return std::nullopt;
    }
    answerCovers_.reset();
    const WindowPinging::Answer answer = co_await environment_.windowPing->ping(target.windowId, responsivenessBound);
    switch (answer) {
    case WindowPinging::Answer::answered:
    case WindowPinging::Answer::unsupported:
        answeredWindow_ = target.windowId;
        answerCovers_ = environment_.scheduler.scheduleAfter(responsivenessLasts, [] {});
        co_return std::nullopt;
    case WindowPinging::Answer::unanswered:
        co_return QStringLiteral("not_responding");
    case WindowPinging::Answer::windowGone:
        break;
    }
    co_return QStringLiteral("window_gone");
}

QCoro::Task<bool> SyntheticInputGate::sendChord(FrontApplication target, Qt::KeyboardModifiers modifiers, Qt::Key key) {
    std::optional<QString> refused;
    if (!acceptsKeys(target)) {
        refused = isTerminal(target) ? QStringLiteral("terminal") : QStringLiteral("not_a_program_window");
    } else {
        const bool free = co_await waitForFreeKeyboard();
        if (!free) {
            co_return false;
        }
        refused = co_await unresponsiveness(target);
        if (!refused) {
            // Only now, right before the keys go, is it known which window would get them.
            refused = refusal(target);
        }
    }
    if (refused) {
        AppLog::app().notice(QStringLiteral("synthetic input withheld reason=%1 keys=%2")
                                 .arg(*refused, QKeySequence(static_cast<int>(modifiers) | key).toString()));
        co_return false;
    }
    co_return environment_.input.sendKeyChord(modifiers, key);
}

}  // namespace tavrolin
