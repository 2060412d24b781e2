#pragma once

#include "platform/screen_capturing.h"
#include "platform/window_list.h"

#include <QByteArray>
#include <QRect>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// The X11 desktop seen through XCB and the EWMH properties the window manager maintains.
// Each object keeps its own connection to the display named by DISPLAY, opened on first use;
// without a display the window list is empty, no application is in front and a capture fails.
namespace tavrolin::x11 {

// Windows front to back from _NET_CLIENT_LIST_STACKING (or the root's children when no window
// manager runs); bounds are root coordinates including the frame (_NET_FRAME_EXTENTS).
std::shared_ptr<WindowListProviding> sharedWindowList();

// A window property as the server answers it: its type atom, its format (bits per item) and
// its value. Any client can write any type, format and length under any name.
struct WindowProperty {
    std::uint32_t type = 0;  // none: the window has no such property
    std::uint8_t format = 0;
    QByteArray bytes;

    bool present() const;
    // The 32-bit items of a format-32 property (a trailing partial item dropped); empty for
    // any other format.
    std::vector<std::uint32_t> cardinals() const;
    std::optional<std::uint32_t> cardinal() const;
};

// A process ID as a window announces it: 1 to INT32_MAX, anything else is none.
std::optional<std::int32_t> validProcessID(std::optional<std::uint32_t> value);
// The window list's readings of a window's own properties, each none when the property is
// missing or not of the form it should have.
// _NET_WM_PID.
std::optional<std::int32_t> windowProcessID(const WindowProperty& pid);
// The class half of WM_CLASS ("instance\0class\0"): the application's name.
std::optional<QString> windowClassName(const WindowProperty& wmClass);
// _NET_WM_NAME, else WM_NAME, decoded by decodeWindowText.
std::optional<QString> windowTitle(const WindowProperty& netName, const WindowProperty& wmName,
                                   std::uint32_t utf8StringAtom);
// _NET_WM_WINDOW_OPACITY: 0 (transparent) to 1 (opaque).
std::optional<double> windowOpacity(const WindowProperty& opacity);

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
