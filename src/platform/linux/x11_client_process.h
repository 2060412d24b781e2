#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

// The name of the X server's socket that `connection` reached (an abstract one without its
// leading NUL): what every local client's connection to this display leads to.
// Absent when the connection is no local socket, or the kernel does not describe its sockets.
std::optional<std::string> displaySocketName(xcb_connection_t* connection);

// Whether the process holds a connection to the display whose socket is `serverSocket` among
// its open files. Absent when its open files cannot be read (another user's, root's) or the
// kernel here describes none of its sockets (a network namespace of its own); false for a
// process that is gone.
std::optional<bool> holdsDisplayConnection(std::int64_t processId, const std::string& serverSocket);

}  // namespace tavrolin::x11
