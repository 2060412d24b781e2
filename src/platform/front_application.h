#pragma once

#include <QCoroTask>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

// Another X client than the front window's own that may get the keys typed into it: a program
// whose window is embedded in the front one (XEmbed: a terminal inside `tabbed`, in a GtkSocket;
// it may listen to the keys of the window around it), or the client holding the input focus. Its
// fields mean what FrontApplication's do; its window is that client's outermost window there.
struct KeyReceiver {
    qint64 processId = 0;
    std::optional<QString> applicationIdentifier;
    quint64 windowId = 0;
    bool processUnknown = false;

    bool operator==(const KeyReceiver&) const = default;
};

// The application whose window is in front.
struct FrontApplication {
    // The process of the window's X client as the X server knows it (for a client on another
    // machine, the local process that speaks for it, such as ssh); where the server cannot tell
    // (no X-Resource extension), the window's own claim. 0 when neither names one. The server
    // knows the process that made the connection: when that process is gone, or no longer holds
    // a connection to the display (it forked a child that kept it, and ended; its number may
    // name another process since), the number says nothing and the program is unknown.
    qint64 processId = 0;
    // The application identifier: the class part of the front window's WM_CLASS. Absent when the
    // window carries none.
    std::optional<QString> applicationIdentifier;
    // The front window itself (its X11 id); 0 when unknown.
    quint64 windowId = 0;
    // Nothing vouches for the window's program: its client runs on another machine
    // (WM_CLIENT_MACHINE), its claimed process (_NET_WM_PID) is not the one the X server knows (a
    // sandbox with its own process numbering), or no process is known at all. Such a program
    // is never taken to be safe for keys, and its fetches of our clipboard are counted by its
    // X client rather than by `processId`.
    bool processUnknown = false;
    // The other programs that may get the keys typed into the window; none when only its own X
    // client does (the frame the window manager drew around it does not count).
    std::vector<KeyReceiver> keyReceivers;

    bool operator==(const FrontApplication&) const = default;
};

// Asks the desktop which application is in front. Safe to call from any thread.
class FrontApplicationProviding {
public:
    virtual ~FrontApplicationProviding() = default;
    // Absent when no window is active (or, without a window manager, none has the focus).
    virtual std::optional<FrontApplication> frontApplication() const = 0;
    // The same, asked off the calling thread, where it resumes: the first look at a process reads
    // its open files (a browser holds thousands). What a command and each of its chords start from,
    // so that the GUI thread finds the answer for the window's process already known.
    virtual QCoro::Task<std::optional<FrontApplication>> frontApplicationOffThread() const {
        co_return frontApplication();
    }
};

}  // namespace tavrolin
