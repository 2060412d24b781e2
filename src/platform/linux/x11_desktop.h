#pragma once

#include "platform/screen_capturing.h"
#include "platform/window_list.h"

#include <QByteArray>
#include <QRect>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

// The X11 desktop seen through XCB and the EWMH properties the window manager maintains.
// Each object keeps its own connection to the display named by DISPLAY, opened on first use;
// without a display the window list is empty, no application is in front and a capture fails.
namespace tavrolin::x11 {

// Windows front to back from _NET_CLIENT_LIST_STACKING (or the root's children when no window
// manager runs); bounds are root coordinates including the frame (_NET_FRAME_EXTENTS).
std::shared_ptr<WindowListProviding> sharedWindowList();

// The text of a title property as another client wrote it: UTF-8 (for UTF8_STRING; sequences
// that are not UTF-8 become U+FFFD) or Latin-1 (STRING), up to the first NUL.
QString decodeWindowText(const QByteArray& bytes, bool utf8);

// The rectangle a managed window covers on the root: the client's root position and size as the
// server reports them, grown by the frame extents its window manager announces. Any client can
// write those extents, so each is limited to the client's own size on its axis, and the result
// to X's largest window size (65535 a side). The frame may still lie partly off the root.
QRect frameBounds(QPoint clientOrigin, QSize clientSize, const std::vector<std::uint32_t>& extents);

// The largest capture, in pixels, that is ever allocated (a side, and in all): far beyond any
// real screen, far below what would exhaust memory.
inline constexpr int maximumCaptureSide = 32767;
inline constexpr qint64 maximumCapturePixels = qint64(1) << 26;

// Pixels of the root window through xcb_get_image.
std::shared_ptr<ScreenCapturing> sharedScreenCapture();

}  // namespace tavrolin::x11
