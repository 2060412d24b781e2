#include "platform/linux/x11_client_process.h"

#include <cstdlib>
#include <memory>

namespace tavrolin::x11 {

std::optional<xcb_res_query_client_ids_cookie_t> localClientProcessRequest(xcb_connection_t* connection,
                                                                           xcb_window_t window) {
    if (connection == nullptr || window == XCB_NONE) {
        return std::nullopt;
    }
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_res_id);
    if (extension == nullptr || !extension->present) {
        return std::nullopt;
    }
    xcb_res_client_id_spec_t query{};
    query.client = window;
    query.mask = XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID;
    return xcb_res_query_client_ids(connection, 1, &query);
}

std::optional<std::uint32_t> localClientProcessReply(xcb_connection_t* connection,
                                                     xcb_res_query_client_ids_cookie_t cookie) {
    std::unique_ptr<xcb_res_query_client_ids_reply_t, decltype(&std::free)> reply(
        xcb_res_query_client_ids_reply(connection, cookie, nullptr), &std::free);
    if (!reply) {
        return std::nullopt;
    }
    // Only the one kind of id was asked for, so every value the server lists is a process id.
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem > 0; xcb_res_client_id_value_next(&it)) {
        if (xcb_res_client_id_value_value_length(it.data) >= 1) {
            return *xcb_res_client_id_value_value(it.data);
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> localClientProcessID(xcb_connection_t* connection, xcb_window_t window) {
    const std::optional<xcb_res_query_client_ids_cookie_t> cookie = localClientProcessRequest(connection, window);
    return cookie ? localClientProcessReply(connection, *cookie) : std::nullopt;
}

}  // namespace tavrolin::x11
