#pragma once

#include <QMargins>
#include <QRect>

#include <optional>

namespace tavrolin::x11 {

// Where the front window's content lies on the screen, in device pixels of the root window: for
// toolkits that give accessibility positions relative to their own window (GTK 4).
struct FrontWindowContent {
    // The process the window names as its own (as the front application provider tells it).
    qint64 processId = 0;
    // The client window: its root position and size.
    QRect client;
    // The margins a client-side decorated window draws around its content inside the client
    // window (_GTK_FRAME_EXTENTS: shadows), when it announces them.
    std::optional<QMargins> drawnFrame;
};

// Absent without a display or a front window, or when the window cannot be measured. Asks only
// the X server (never another client); callable from any thread.
std::optional<FrontWindowContent> frontWindowContent();

}  // namespace tavrolin::x11
