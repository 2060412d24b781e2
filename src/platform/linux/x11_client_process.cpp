#include "platform/linux/x11_client_process.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrolin::x11 {

namespace {

// The kernel's description of one local socket (sock_diag), asked by its inode.
struct UnixSocket {
    std::optional<std::string> name;
    std::optional<std::uint32_t> peer;
};

class SocketDiagnostics {
public:
    SocketDiagnostics() : fd_(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {
        if (fd_ >= 0) {
            // The kernel answers at once; a bound keeps a wedged answer from holding us.
            timeval bound{0, 200000};
            setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        }
    }
    ~SocketDiagnostics() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    SocketDiagnostics(const SocketDiagnostics&) = delete;
    SocketDiagnostics& operator=(const SocketDiagnostics&) = delete;

    bool usable() const { return fd_ >= 0; }

    // Absent for an inode that is no local socket (or is gone), or when the kernel does not say.
    std::optional<UnixSocket> describe(std::uint32_t inode) {
        std::optional<UnixSocket> socket;
        if (ask(NLM_F_REQUEST, inode)) {
            answers([&](const nlmsghdr* header) {
                socket = parse(header);
                return false;
            });
        }
        return socket;
    }

    // Every local socket of this network namespace, each by its inode: one question, however many
    // sockets there are (asking by inode makes the kernel search them all each time). Absent when
    // the kernel does not answer in full.
    std::optional<std::map<std::uint32_t, UnixSocket>> describeAll() {
        std::map<std::uint32_t, UnixSocket> sockets;
        const bool whole = ask(NLM_F_REQUEST | NLM_F_DUMP, 0) && answers([&](const nlmsghdr* header) {
                               sockets[static_cast<const unix_diag_msg*>(NLMSG_DATA(header))->udiag_ino] =
                                   parse(header);
                               return true;
                           });
        return whole ? std::optional(std::move(sockets)) : std::nullopt;
    }

private:
    // Asks after the local socket `inode`, or with NLM_F_DUMP after every one.
    bool ask(std::uint16_t flags, std::uint32_t inode) {
        struct {
            nlmsghdr header;
            unix_diag_req request;
        } message{};
        message.header.nlmsg_len = sizeof message;
        message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
        message.header.nlmsg_flags = flags;
        message.header.nlmsg_seq = ++sequence_;
        message.request.sdiag_family = AF_UNIX;
        message.request.udiag_states = ~0U;
        message.request.udiag_ino = inode;
        message.request.udiag_show = UDIAG_SHOW_NAME | UDIAG_SHOW_PEER;
        message.request.udiag_cookie[0] = message.request.udiag_cookie[1] = ~0U;  // any socket with this inode
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        return sendto(fd_, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) >= 0;
    }

    // Hands each answer to the last question to `take` until it answers false or the answers end;
    // false when the kernel answered with an error (no such socket) or not at all.
    template <typename Take>
    bool answers(Take take) {
        // A dump comes in parts of up to 32 KiB each. The buffer lives on the heap for this
        // object's questions only: a thread-local one would be placed in every thread the
        // program starts, and a stack this size is more than some threads are given.
        if (!buffer_) {
            buffer_ = std::make_unique_for_overwrite<char[]>(bufferSize);
        }
        char* const buffer = buffer_.get();
        for (;;) {
            const ssize_t length = recv(fd_, buffer, bufferSize, 0);
            if (length <= 0) {
                return false;
            }
            auto* header = reinterpret_cast<nlmsghdr*>(buffer);
            int remaining = static_cast<int>(length);
            for (; NLMSG_OK(header, remaining); header = NLMSG_NEXT(header, remaining)) {
                if (header->nlmsg_seq != sequence_) {
                    continue;  // the late answer to an earlier question
                }
                if (header->nlmsg_type == NLMSG_DONE) {
                    return true;
                }
                if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY) {
                    return false;
                }
                if (!take(header)) {
                    return true;
                }
            }
        }
    }

    static UnixSocket parse(const nlmsghdr* header) {
        UnixSocket socket;
        const auto* diag = static_cast<const unix_diag_msg*>(NLMSG_DATA(header));
        int remaining = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof *diag));
        for (auto* attribute = reinterpret_cast<const rtattr*>(diag + 1); RTA_OK(attribute, remaining);
             attribute = RTA_NEXT(attribute, remaining)) {
            const auto* data = static_cast<const char*>(RTA_DATA(attribute));
            const std::size_t size = RTA_PAYLOAD(attribute);
            if (attribute->rta_type == UNIX_DIAG_NAME) {
                // An abstract name starts with a NUL; the X server listens under the same name
                // both ways, and a sandboxed client reaches it only through the file.
                socket.name = std::string(data, size);
                if (!socket.name->empty() && socket.name->front() == '\0') {
                    socket.name->erase(0, 1);
                }
            } else if (attribute->rta_type == UNIX_DIAG_PEER && size >= sizeof(std::uint32_t)) {
                std::uint32_t peer = 0;
                std::memcpy(&peer, data, sizeof peer);
                socket.peer = peer;
            }
        }
        return socket;
    }

    static constexpr std::size_t bufferSize = 65536;

    int fd_;
    std::uint32_t sequence_ = 0;
    // Aligned for nlmsghdr as every allocation is.
    std::unique_ptr<char[]> buffer_;
};

// What the socket at the other end of `inode` is called: a client's end has no name, the
// server's end of the same connection has the name of the socket the server listens on.
std::optional<std::string> peerName(SocketDiagnostics& diagnostics, std::uint32_t inode) {
    const std::optional<UnixSocket> own = diagnostics.describe(inode);
    if (!own || !own->peer) {
        return std::nullopt;
    }
    const std::optional<UnixSocket> peer = diagnostics.describe(*own->peer);
    return peer ? peer->name : std::nullopt;
}

}  // namespace

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

std::optional<std::string> displaySocketName(xcb_connection_t* connection) {
    const int fd = connection != nullptr ? xcb_get_file_descriptor(connection) : -1;
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode)) {
        return std::nullopt;
    }
    SocketDiagnostics diagnostics;
    if (!diagnostics.usable()) {
        return std::nullopt;
    }
    std::optional<std::string> name = peerName(diagnostics, static_cast<std::uint32_t>(status.st_ino));
    if (name && name->empty()) {
        return std::nullopt;
    }
    return name;
}

std::optional<bool> holdsDisplayConnection(std::int64_t processId, const std::string& serverSocket) {
    if (processId <= 0) {
        return false;
    }
    const std::string folder = "/proc/" + std::to_string(processId) + "/fd";
    DIR* const files = opendir(folder.c_str());
    if (!files) {
        return errno == ENOENT ? std::optional<bool>(false) : std::nullopt;  // gone; or another user's
    }
    SocketDiagnostics diagnostics;
    const std::optional<std::map<std::uint32_t, UnixSocket>> sockets =
        diagnostics.usable() ? diagnostics.describeAll() : std::nullopt;
    if (!sockets) {
        closedir(files);
        return std::nullopt;
    }
    // The clients' ends of the display's connections: the peers of the sockets that bear the
    // server's name.
    std::set<std::uint32_t> clientEnds;
    for (const auto& [inode, socket] : *sockets) {
        if (socket.peer && socket.name == serverSocket) {
            clientEnds.insert(*socket.peer);
        }
    }
    bool holds = false;
    bool anySocket = false;
    bool anyDescribed = false;
    char target[64];
    while (!holds) {
        const dirent* entry = readdir(files);
        if (entry == nullptr) {
            break;
        }
        const ssize_t length = readlinkat(dirfd(files), entry->d_name, target, sizeof target);
        if (length <= 0 || length >= ssize_t(sizeof target)) {
            continue;
        }
        // "socket:[12345]"
        const std::string_view link(target, std::size_t(length));
        static constexpr std::string_view prefix = "socket:[";
        if (link.substr(0, prefix.size()) != prefix || link.back() != ']') {
            continue;
        }
        const std::uint32_t inode =
            static_cast<std::uint32_t>(std::strtoul(std::string(link.substr(prefix.size())).c_str(), nullptr, 10));
        anySocket = true;
        // Not among them: no local socket, or one of another network namespace.
        anyDescribed = anyDescribed || sockets->contains(inode);
        holds = clientEnds.contains(inode);
    }
    closedir(files);
    // Sockets of which the kernel here says nothing (a network namespace of the program's own)
    // tell nothing either way.
    if (!holds && anySocket && !anyDescribed) {
        return std::nullopt;
    }
    return holds;
}

}  // namespace tavrolin::x11
