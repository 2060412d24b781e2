#pragma once

#include <QtGlobal>

#include <memory>

namespace tavrolin {

// Sends every key press to one of our windows without activating it, so that the application
// under an overlay stays the active one while the overlay still hears the keyboard.
class KeyboardGrabbing {
public:
    virtual ~KeyboardGrabbing() = default;
    // Starts (or moves) the grab to the native window. A window that is not viewable yet is
    // grabbed as soon as it is. Answers false when the grab cannot be asked for at all.
    virtual bool grab(quint64 window) = 0;
    // Ends the grab, if any.
    virtual void release() = 0;
    virtual bool isGrabbing() const = 0;
};

}  // namespace tavrolin
