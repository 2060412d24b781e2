#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace tavrolin {

// The application whose window is in front.
struct FrontApplication {
    // 0 when the window names no process.
    qint64 processId = 0;
    // The application identifier: the class part of the front window's WM_CLASS. Absent when the
    // window carries none.
    std::optional<QString> applicationIdentifier;
    // The front window itself (its X11 id); 0 when unknown.
    quint64 windowId = 0;

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
