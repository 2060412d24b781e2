#pragma once

#include <QtGlobal>

#include <memory>
#include <optional>

namespace tavrolin {

// Remembers the window in front and brings it back later (after one of our alerts took the
// focus, for example).
class FrontWindowActivating {
public:
    virtual ~FrontWindowActivating() = default;
    // The active window; absent when the window manager names none.
    virtual std::optional<quint32> activeWindow() = 0;
    // Asks the window manager to activate the window; false when the request could not be sent.
    virtual bool activate(quint32 window) = 0;
};

}  // namespace tavrolin
