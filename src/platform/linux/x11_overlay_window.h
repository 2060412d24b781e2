#pragma once

#include <QtGlobal>

// Window-manager hints of our overlay windows.
namespace tavrolin::x11 {

// Keeps a window that is not mapped yet out of the taskbar and the pager and on every desktop.
// Does nothing without an X11 display.
void markAsOverlayWindow(quint64 window);

}  // namespace tavrolin::x11

namespace tavrolin::x11 {

// Waits until the X server has handled every request Qt sent so far (an unmapped menu, say), so
// that another connection sees the screen as Qt left it. Does nothing without an X11 display.
void syncQtConnection();

}  // namespace tavrolin::x11

namespace tavrolin::x11 {

// Whether a compositing manager owns _NET_WM_CM_S<screen> of Qt's display (one request the
// server answers itself). False without an X11 display.
bool compositingManagerRunning();

}  // namespace tavrolin::x11
