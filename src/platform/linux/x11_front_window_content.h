#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

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

// Where content of `size` (what the toolkit says its window measures) begins on the root, when
// the front window is that window: inside its announced margins, else centred in the client
// window (a toolkit without announced margins keeps the same on every side, at most 64 pixels).
// Absent when the size does not fit the client window that way: another window's content.
std::optional<QPoint> contentOrigin(const FrontWindowContent& front, QSize size);

}  // namespace tavrolin::x11
