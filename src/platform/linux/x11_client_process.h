#pragma once

#include <cstdint>
#include <optional>
#include <xcb/xcb.h>

namespace tavrolin::x11 {

// The process id of the local client that created `window`, as the X server knows it through
// the X-Resource extension. For windows of old clients that do not set _NET_WM_PID. Answers
// nothing when the extension is missing (asking anyway would close the connection), the client
// is remote, or the server does not answer.
std::optional<std::uint32_t> localClientProcessID(xcb_connection_t* connection, xcb_window_t window);

}  // namespace tavrolin::x11
