#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace tavrolin {

// The application whose window is in front.
struct FrontApplication {
    // The process of the window's X client as the X server knows it (for a client on another
    // machine, the local process that speaks for it, such as ssh); where the server cannot tell
    // (no X-Resource extension), the window's own claim. 0 when neither names one.
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

    bool operator==(const FrontApplication&) const = default;
};

// Asks the desktop which application is in front. Safe to call from any thread.
class FrontApplicationProviding {
public:
    virtual ~FrontApplicationProviding() = default;
    // Absent when no window is active (or, without a window manager, none has the focus).
    virtual std::optional<FrontApplication> frontApplication() const = 0;
};

}  // namespace tavrolin
