#pragma once

#include <cstdint>
#include <optional>
#include <xcb/res.h>
#include <xcb/xcb.h>

namespace tavrolin::x11 {

// The process id of the local client that created `window`, as the X server knows it through
// the X-Resource extension: the server's own knowledge, unlike the window's _NET_WM_PID, which
// is the program's claim (a sandbox with its own process numbering claims its own numbers).
// Answers nothing when the extension is missing (asking anyway would close the connection), the
// client is remote, or the server does not answer.
std::optional<std::uint32_t> localClientProcessID(xcb_connection_t* connection, xcb_window_t window);

// The same in two halves, so that the question can go out with others: the request (absent when
// it cannot be asked), then its answer.
std::optional<xcb_res_query_client_ids_cookie_t> localClientProcessRequest(xcb_connection_t* connection,
                                                                           xcb_window_t window);
std::optional<std::uint32_t> localClientProcessReply(xcb_connection_t* connection,
                                                     xcb_res_query_client_ids_cookie_t cookie);

}  // namespace tavrolin::x11
