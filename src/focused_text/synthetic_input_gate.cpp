#include "focused_text/synthetic_input_gate.h"

#include "core/app_log.h"
#include "platform/scheduler_sleep.h"

#include <QCoreApplication>
#include <QHash>
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
        "mlterm",
        "org.gnome.Console",
        "org.gnome.Ptyxis",
        "com.raggesilver.BlackBox",
        "cool-retro-term",
    };
    return applications;
}

const QSet<QString>& SyntheticInputGate::otherKeyMeaningApplicationIdentifiers() {
    // gvim and Emacs as they name themselves; the Neovim front ends, and XEmacs, are the same
    // editors.
    static const QSet<QString> applications = {
        "Gvim", "gvim", "Emacs", "emacs", "XEmacs", "nvim-qt", "Nvim-qt", "neovide", "Neovide",
    };
    return applications;
}

bool SyntheticInputGate::keysMeanOtherThings(const std::optional<FrontApplication>& window) {
    return window && window->applicationIdentifier &&
           otherKeyMeaningApplicationIdentifiers().contains(*window->applicationIdentifier);
}

QCoro::Task<bool> SyntheticInputGate::isUnknownProgram(FrontApplication window) {
    const ProgramLook look = co_await lookAt(window);
    co_return look.unknown;
}

QCoro::Task<SyntheticInputGate::ProgramLook> SyntheticInputGate::lookAt(std::optional<FrontApplication> window) {
    ProgramLook look;
    if (!window) {
        co_return look;
    }
    look.unknown = window->processUnknown;
    if (window->applicationIdentifier && terminalApplicationIdentifiers().contains(*window->applicationIdentifier)) {
        look.terminalWindow = true;
        co_return look;
    }
    if (!environment_.processes || window->processId <= 0) {
        co_return look;
    }
    // The program's own process, and the processes right next to it (a walk through the whole
    // family of every window's program would cost each chord too much). A process whose open
    // files cannot be read (another user's, root's) may be a terminal emulator as well as
    // anything else: its program is unknown.
    const std::optional<bool> holds = co_await environment_.processes->holdsPseudoTerminalMaster(window->processId);
    look.terminalWindow = holds == true;
    look.unknown = look.unknown || !holds.has_value();
    if (!look.terminalWindow && holds.has_value()) {
        look.terminalWindow = co_await relativeHoldsTerminal(window->processId);
    }
    co_return look;
}

QCoro::Task<bool> SyntheticInputGate::relativeHoldsTerminal(qint64 processId) {
    // A terminal whose window a helper process makes while its parent holds the terminal, or the
    // other way round: the process next to it counts as its own. A browser has a dozen children
    // with a hundred open files each: the answer covers the chords of the next moment.
    const auto known = relativesLooked_.find(processId);
    if (known != relativesLooked_.end() &&
        std::chrono::steady_clock::now() - known->second.first < responsivenessLasts) {
        co_return known->second.second;
    }
    bool holds = false;
    const std::vector<qint64> relatives = co_await environment_.processes->parentAndChildren(processId);
    for (const qint64 relative : relatives) {
        if (co_await environment_.processes->holdsPseudoTerminalMaster(relative) == true) {
            holds = true;
            break;
        }
    }
    if (relativesLooked_.size() > 64) {
        relativesLooked_.clear();
    }
    relativesLooked_[processId] = {std::chrono::steady_clock::now(), holds};
    co_return holds;
}

bool SyntheticInputGate::isOtherProgramsWindow(const std::optional<FrontApplication>& window) {
    return window && window->processId > 0 && window->processId != QCoreApplication::applicationPid();
}

QCoro::Task<bool> SyntheticInputGate::isTerminalWindow(std::optional<FrontApplication> window) {
    const ProgramLook look = co_await lookAt(window);
    co_return look.terminalWindow;
}

bool SyntheticInputGate::isTerminal(bool terminalWindow, const std::optional<AccessibleRole>& focusedRole) {
    if (focusedRole == AccessibleRole::terminal) {
        return true;
    }
    // In a terminal emulator's window only a text field of its own (a search entry, an editor
    // beside its terminal panel) takes keys; anything else, or nothing known, is its terminal.
    return terminalWindow && !isTextFieldRole(focusedRole);
}

QCoro::Task<bool> SyntheticInputGate::isTerminal(std::optional<FrontApplication> window) {
    const bool terminalWindow = co_await isTerminalWindow(window);
    co_return co_await isTerminal(window, terminalWindow);
}

QCoro::Task<bool> SyntheticInputGate::isTerminal(std::optional<FrontApplication> window, bool keysOnlyAtTextField) {
    // A window whose process holds no terminal is one only while a terminal widget has its
    // focus; that answer covers the chords of the next moment to the same window, as the ping's
    // does (a burst: select-all and paste). A terminal emulator's window is asked every time: its
    // editor and its terminal panel may swap the focus between two chords.
    if (!keysOnlyAtTextField && window && notTerminalWindow_ == window->windowId && notTerminalCovers_ &&
        notTerminalCovers_->isActive()) {
        co_return false;
    }
    std::optional<AccessibleRole> focusedRole;
    if (environment_.focus && window) {
        // A terminal widget reports its focus; with no element known, a terminal emulator's
        // window counts as its terminal.
        const AccessibleElementHandle focused = co_await environment_.focus->lastFocusedElement(window);
        if (focused) {
            focusedRole = co_await environment_.focus->role(focused);
        }
    }
    const bool terminal = isTerminal(keysOnlyAtTextField, focusedRole);
    if (!terminal && !keysOnlyAtTextField && window) {
        notTerminalWindow_ = window->windowId;
        notTerminalCovers_ = environment_.scheduler.scheduleAfter(responsivenessLasts, [] {});
    }
    co_return terminal;
}

bool SyntheticInputGate::keysMeanTheUsual(ProgramToolkit toolkit) {
    switch (toolkit) {
    case ProgramToolkit::gtk:
    case ProgramToolkit::qt:
    case ProgramToolkit::libreOffice:
    case ProgramToolkit::gecko:
    case ProgramToolkit::chromium:
    case ProgramToolkit::javaAwt:
    case ProgramToolkit::zed:
        return true;
    case ProgramToolkit::tk:
    case ProgramToolkit::none:
        break;
    }
    return false;
}

std::optional<ProgramToolkit> SyntheticInputGate::toolkitNamed(const QString& name) {
    static const QHash<QString, ProgramToolkit> toolkits = {
        {QStringLiteral("GTK"), ProgramToolkit::gtk},
        {QStringLiteral("Qt"), ProgramToolkit::qt},
        {QStringLiteral("VCL"), ProgramToolkit::libreOffice},
        {QStringLiteral("Gecko"), ProgramToolkit::gecko},
        {QStringLiteral("Chromium"), ProgramToolkit::chromium},
        {QStringLiteral("J2SE-access-bridge"), ProgramToolkit::javaAwt},
    };
    const auto found = toolkits.constFind(name);
    return found == toolkits.constEnd() ? std::nullopt : std::optional<ProgramToolkit>(*found);
}

QCoro::Task<std::optional<QString>> SyntheticInputGate::programRefusal(std::optional<FrontApplication> window,
                                                                       QString* application) {
    if (application && window) {
        *application = window->applicationIdentifier.value_or(QStringLiteral("none"));
    }
    std::optional<QString> refused = co_await windowProgramRefusal(window);
    if (refused || !window) {
        co_return refused;
    }
    // The keys may reach another program through the window (one embedded in it, or holding the
    // input focus): each is judged on its own, by the same rules.
    for (const KeyReceiver& receiver : window->keyReceivers) {
        if (application) {
            *application = receiver.applicationIdentifier.value_or(QStringLiteral("none"));
        }
        const FrontApplication client{receiver.processId, receiver.applicationIdentifier, receiver.windowId,
                                      receiver.processUnknown};
        if (!isOtherProgramsWindow(client)) {
            co_return receiver.processId > 0 ? QStringLiteral("key_receiver_own_window")
                                             : QStringLiteral("key_receiver_unknown_program");
        }
        refused = co_await windowProgramRefusal(client);
        if (refused) {
            co_return QStringLiteral("key_receiver_") + *refused;
        }
    }
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> SyntheticInputGate::windowProgramRefusal(std::optional<FrontApplication> window) {
    if (keysMeanOtherThings(window)) {
        co_return QStringLiteral("keys_mean_other_things");
    }
    const ProgramLook look = co_await lookAt(window);
    const bool unknown = look.unknown && !look.terminalWindow;
    const bool terminal = co_await isTerminal(window, look.terminalWindow || unknown);
    if (terminal) {
        co_return unknown ? QStringLiteral("unknown_program") : QStringLiteral("terminal");
    }
    if (environment_.processes && window) {
        // Only where Control+A, C and V are known to select all, copy and paste: elsewhere (Tk
        // goes to the line's start and pastes beside the selection; a program on plain Xlib may
        // do anything) the keys would change the field or the program in ways nobody checks.
        std::optional<ProgramToolkit> toolkit = co_await environment_.processes->toolkitOf(window->processId);
        if ((!toolkit || toolkit == ProgramToolkit::none) && environment_.focus) {
            // Where its process cannot be read (another user's, root's), what its accessible
            // element says of its toolkit is all there is.
            const AccessibleElementHandle focused = co_await environment_.focus->lastFocusedElement(window);
            if (focused) {
                const std::optional<QString> name = co_await environment_.focus->toolkitName(focused);
                if (name) {
                    toolkit = toolkitNamed(*name);
                }
            }
        }
        if (!toolkit || !keysMeanTheUsual(*toolkit)) {
            co_return QStringLiteral("keys_meaning_unknown");
        }
    }
    co_return std::nullopt;
}

QCoro::Task<bool> SyntheticInputGate::acceptsKeys(std::optional<FrontApplication> window) {
    if (!isOtherProgramsWindow(window)) {
        co_return false;
    }
    QString application;
    const std::optional<QString> refused = co_await programRefusal(window, &application);
    if (refused && *refused != QLatin1String("terminal")) {
        AppLog::app().notice(
            QStringLiteral("focused field keys withheld reason=%1 application=%2").arg(*refused, application));
    }
    co_return !refused;
}

SyntheticInputGate::SyntheticInputGate(Environment environment) : environment_(std::move(environment)) {}

std::optional<FrontApplication> SyntheticInputGate::frontWindow() const {
    return environment_.frontApplications.frontApplication();
}

bool SyntheticInputGate::userTypedLately() const {
    const std::optional<std::chrono::milliseconds> since =
        environment_.keyActivity ? environment_.keyActivity->sinceLastUserKeyPress() : std::nullopt;
    return since && *since < typingLasts;
}

bool SyntheticInputGate::userTyping() const {
    const std::optional<SyntheticInput::HeldKeys> held = environment_.input.heldKeys();
    return userTypedLately() || (held && held->any());
}

bool SyntheticInputGate::keyboardTaken(const std::optional<SyntheticInput::HeldKeys>& held) const {
    const bool ours = environment_.ownKeyboardInUse && environment_.ownKeyboardInUse();
    return ours || (held && held->others) || userTypedLately();
}

QCoro::Task<bool> SyntheticInputGate::waitForFreeKeyboard() {
    std::chrono::milliseconds waited{0};
    for (;;) {
        const std::optional<SyntheticInput::HeldKeys> held = environment_.input.heldKeys();
        const bool ours = environment_.ownKeyboardInUse && environment_.ownKeyboardInUse();
        const bool typing = userTypedLately();
        const bool keysDown = held && held->any();
        if (!keysDown && !ours && !typing) {
            co_return true;
        }
        if (waited >= keyboardFreeBound) {
            if (ours || (held && held->others) || typing) {
                const QString reason = ours     ? QStringLiteral("own_keyboard_grab")
                                       : typing ? QStringLiteral("user_typing")
                                                : QStringLiteral("keys_down");
                AppLog::app().notice(
                    QStringLiteral("synthetic input withheld reason=%1 waited=%2ms").arg(reason).arg(waited.count()));
                co_return false;
            }
            co_return true;  // only modifiers: the chord lifts them first
        }
        co_await sleepFor(environment_.scheduler, keyboardFreePoll);
        waited += keyboardFreePoll;
    }
}

std::optional<QString> SyntheticInputGate::refusal(const FrontApplication& target,
                                                   const std::optional<FrontApplication>& front) {
    if (!front || front->processId != target.processId || front->windowId != target.windowId) {
        return QStringLiteral("window_not_in_front");
    }
    // The programs the keys were judged for must still be the ones that may get them.
    const auto clients = [](const FrontApplication& window) {
        std::vector<std::pair<qint64, quint64>> ids;
        for (const KeyReceiver& receiver : window.keyReceivers) {
            ids.emplace_back(receiver.processId, receiver.windowId);
        }
        return ids;
    };
    if (clients(*front) != clients(target)) {
        return QStringLiteral("key_receivers_changed");
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
    WindowPinging::Answer answer = co_await environment_.windowPing->ping(target.windowId, responsivenessBound);
    if (answer == WindowPinging::Answer::unanswered) {
        // One unanswered ping is no proof: the program may be busy for a moment.
        answer = co_await environment_.windowPing->ping(target.windowId, responsivenessSecondBound);
        AppLog::app().info(
            QStringLiteral("synthetic input: the window's program missed the first ping, "
                           "the second answered=%1")
                .arg(answer == WindowPinging::Answer::answered ? QStringLiteral("true") : QStringLiteral("false")));
    }
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
    co_return co_await sendChords(std::move(target), Qt::NoModifier, Qt::Key_unknown, modifiers, key);
}

QCoro::Task<bool> SyntheticInputGate::sendChords(FrontApplication target, Qt::KeyboardModifiers firstModifiers,
                                                 Qt::Key firstKey, Qt::KeyboardModifiers modifiers, Qt::Key key) {
    const bool two = firstKey != Qt::Key_unknown;
    std::optional<QString> refused;
    if (!isOtherProgramsWindow(target)) {
        refused = QStringLiteral("not_a_program_window");
    } else {
        const bool free = co_await waitForFreeKeyboard();
        if (!free) {
            co_return false;
        }
        refused = co_await unresponsiveness(target);
        if (!refused) {
            refused = co_await programRefusal(target);
        }
        if (!refused && keyboardTaken(environment_.input.heldKeys())) {
            // A key went down (or a grab of ours began) while the program was asked: the chord
            // would mix with it, or reach us.
            const bool freeAgain = co_await waitForFreeKeyboard();
            if (!freeAgain) {
                co_return false;
            }
        }
        if (!refused) {
            // Only now, right before the keys go, is it known which window would get them.
            const std::optional<FrontApplication> front =
                co_await environment_.frontApplications.frontApplicationOffThread();
            refused = refusal(target, front);
        }
    }
    if (refused) {
        const QString keys = QKeySequence(static_cast<int>(modifiers) | key).toString();
        AppLog::app().notice(
            QStringLiteral("synthetic input withheld reason=%1 keys=%2")
                .arg(*refused,
                     two ? QKeySequence(static_cast<int>(firstModifiers) | firstKey).toString() + ',' + keys : keys));
        co_return false;
    }
    const bool sent = (!two || sendNow(firstModifiers, firstKey)) && sendNow(modifiers, key);
    co_return sent;
}

bool SyntheticInputGate::sendNow(Qt::KeyboardModifiers modifiers, Qt::Key key) {
    const bool sent = environment_.input.sendKeyChord(modifiers, key);
    if (sent) {
        // Copied first: a watcher may end its own watch or start another.
        const auto watchers = sentChordWatchers_;
        for (const auto& watcher : watchers) {
            if (const auto onSent = watcher.lock()) {
                (*onSent)();
            }
        }
    }
    return sent;
}

std::shared_ptr<void> SyntheticInputGate::watchSentChords(std::function<void()> onSent) {
    std::erase_if(sentChordWatchers_, [](const auto& watcher) { return watcher.expired(); });
    auto watch = std::make_shared<std::function<void()>>(std::move(onSent));
    sentChordWatchers_.push_back(watch);
    return watch;
}

}  // namespace tavrolin
