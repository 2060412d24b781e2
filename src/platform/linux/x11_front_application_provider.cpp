#include "platform/linux/x11_front_application_provider.h"

#include "platform/desktop_backend.h"
#include "platform/linux/x11_client_process.h"

#include <QCoroFuture>
#include <QFile>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unistd.h>
#include <utility>
#include <vector>
#include <xcb/xcb.h>

namespace tavrolin {

namespace {

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
ReplyPtr<Reply> own(Reply* reply) {
    return ReplyPtr<Reply>(reply, &std::free);
}

class X11FrontApplicationProvider final : public FrontApplicationProviding {
public:
    ~X11FrontApplicationProvider() override {
        asking_.waitForDone();  // a question still being asked uses the connection
        if (connection_ != nullptr) {
            xcb_disconnect(connection_);
        }
    }

    std::optional<FrontApplication> frontApplication() const override {
        std::unique_lock lock(mutex_);
        unvetted_.clear();
        std::optional<FrontApplication> front = askServer();
        // The processes the server named that were not vetted before: their open files are read
        // without the lock, so that a caller on another thread never waits for them.
        const std::vector<qint64> unvetted = std::exchange(unvetted_, {});
        if (!front || unvetted.empty()) {
            return front;
        }
        const std::optional<std::string> socket = displaySocket_;
        lock.unlock();
        std::map<qint64, std::pair<std::optional<qint64>, bool>> vetted;
        for (const qint64 pid : unvetted) {
            vetted[pid] = {processStart(pid), madeTheConnection(pid, *socket)};
        }
        lock.lock();
        // Forgotten now and then, so that the numbers of ended processes do not pile up.
        if (madeConnection_.size() > 256) {
            madeConnection_.clear();
        }
        for (const auto& [pid, answer] : vetted) {
            // A process that holds none yet may still be connecting: only a yes is remembered.
            if (answer.first && answer.second) {
                madeConnection_[pid] = {*answer.first, true};
            }
        }
        const auto stale = [&](qint64 pid) {
            const auto found = vetted.find(pid);
            return found != vetted.end() && !found->second.second;
        };
        if (stale(front->processId)) {
            front->processUnknown = true;
        }
        for (KeyReceiver& receiver : front->keyReceivers) {
            if (stale(receiver.processId)) {
                receiver.processUnknown = true;
            }
        }
        return front;
    }

    QCoro::Task<std::optional<FrontApplication>> frontApplicationOffThread() const override {
        // Named, not a temporary inside the co_await expression: g++ 12 destroys such temporaries twice.
        QFuture<std::optional<FrontApplication>> asking =
            QtConcurrent::run(&asking_, [this] { return frontApplication(); });
        co_return co_await asking;
    }

private:
    // The front window as the server tells it. Caller holds the mutex; the processes whose
    // connection is still to be vetted are left in unvetted_.
    std::optional<FrontApplication> askServer() const {
        if (!connect()) {
            return std::nullopt;
        }
        // Asked often (before every synthetic key, by every focus lookup): the requests that do
        // not depend on each other go out together, two round trips in all.
        const xcb_get_property_cookie_t checkCookie = windowPropertyRequest(root_, supportingWmCheck_);
        const xcb_get_property_cookie_t activeCookie = windowPropertyRequest(root_, activeWindow_);
        const xcb_get_input_focus_cookie_t focusCookie = xcb_get_input_focus(connection_);
        const xcb_window_t checkWindow = windowPropertyReply(checkCookie);
        const xcb_window_t named = windowPropertyReply(activeCookie);
        std::optional<xcb_get_property_cookie_t> checkAgainCookie;
        if (checkWindow != XCB_NONE) {
            checkAgainCookie = windowPropertyRequest(checkWindow, supportingWmCheck_);
        }
        std::optional<Identity> namedIdentity;
        if (named != XCB_NONE) {
            namedIdentity = identityRequest(named);
        }
        const bool managed = checkAgainCookie && windowPropertyReply(*checkAgainCookie) == checkWindow;
        xcb_window_t inputFocus = XCB_NONE;
        if (auto focus = own(xcb_get_input_focus_reply(connection_, focusCookie, nullptr))) {
            inputFocus = focus->focus;
        }
        FrontApplication result;
        if (managed) {
            if (!namedIdentity) {
                return std::nullopt;
            }
            result = identityReply(named, *namedIdentity);
        } else {
            if (namedIdentity) {
                discard(*namedIdentity);
            }
            // Without a window manager nobody maintains _NET_ACTIVE_WINDOW: the window holding
            // the input focus, walked up to the root's child, is the front one.
            const xcb_window_t focused = topLevelWindowOf(inputFocus);
            if (focused == XCB_NONE) {
                return std::nullopt;
            }
            result = identityReply(focused, identityRequest(focused));
        }
        const xcb_window_t active = static_cast<xcb_window_t>(result.windowId);
        if (!result.applicationIdentifier && result.processId == 0 && !windowExists(active)) {
            return std::nullopt;
        }
        result.keyReceivers = keyReceivers(inputFocus, active);
        return result;
    }

    // Caller holds the mutex. Reconnects after the server went away.
    bool connect() const {
        if (connection_ != nullptr && xcb_connection_has_error(connection_) == 0) {
            return true;
        }
        if (connection_ != nullptr) {
            xcb_disconnect(connection_);
            connection_ = nullptr;
        }
        if (std::getenv("DISPLAY") == nullptr) {
            return false;
        }
        int screenNumber = 0;
        xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection) != 0) {
            xcb_disconnect(connection);
            return false;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && it.rem > 0; ++i) {
            xcb_screen_next(&it);
        }
        if (it.rem == 0) {
            xcb_disconnect(connection);
            return false;
        }
        connection_ = connection;
        root_ = it.data->root;
        supportingWmCheck_ = atom("_NET_SUPPORTING_WM_CHECK");
        activeWindow_ = atom("_NET_ACTIVE_WINDOW");
        wmPid_ = atom("_NET_WM_PID");
        resourceIdMask_ = xcb_get_setup(connection)->resource_id_mask;
        displaySocket_ = x11::displaySocketName(connection);
        madeConnection_.clear();
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) == 0) {
            hostName_ = QByteArray(host);
        }
        return supportingWmCheck_ != XCB_NONE && activeWindow_ != XCB_NONE;
    }

    xcb_atom_t atom(const char* name) const {
        auto reply = own(xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
        return reply ? reply->atom : XCB_NONE;
    }

    xcb_get_property_cookie_t windowPropertyRequest(xcb_window_t window, xcb_atom_t property) const {
        return xcb_get_property(connection_, 0, window, property, XCB_ATOM_WINDOW, 0, 1);
    }
    xcb_window_t windowPropertyReply(xcb_get_property_cookie_t cookie) const {
        auto reply = own(xcb_get_property_reply(connection_, cookie, nullptr));
        if (!reply || reply->type != XCB_ATOM_WINDOW || reply->format != 32 ||
            xcb_get_property_value_length(reply.get()) < 4) {
            return XCB_NONE;
        }
        return *static_cast<xcb_window_t*>(xcb_get_property_value(reply.get()));
    }

    // The requests for a window's class, machine and process, sent together.
    struct Identity {
        xcb_get_property_cookie_t wmClass;
        xcb_get_property_cookie_t clientMachine;
        std::optional<xcb_get_property_cookie_t> pid;
        std::optional<xcb_res_query_client_ids_cookie_t> serverPid;
    };
    Identity identityRequest(xcb_window_t window) const {
        Identity identity{xcb_get_property(connection_, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
                          xcb_get_property(connection_, 0, window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 0, 64),
                          std::nullopt, x11::localClientProcessRequest(connection_, window)};
        if (wmPid_ != XCB_NONE) {
            identity.pid = xcb_get_property(connection_, 0, window, wmPid_, XCB_ATOM_CARDINAL, 0, 1);
        }
        return identity;
    }
    void discard(const Identity& identity) const {
        xcb_discard_reply(connection_, identity.wmClass.sequence);
        xcb_discard_reply(connection_, identity.clientMachine.sequence);
        if (identity.pid) {
            xcb_discard_reply(connection_, identity.pid->sequence);
        }
        if (identity.serverPid) {
            xcb_discard_reply(connection_, identity.serverPid->sequence);
        }
    }
    FrontApplication identityReply(xcb_window_t window, const Identity& identity) const {
        FrontApplication result;
        result.windowId = window;
        // WM_CLASS is "instance\0class\0", as the program wrote it: read without trusting it to
        // end in a NUL (a program may set any bytes there).
        if (auto reply = own(xcb_get_property_reply(connection_, identity.wmClass, nullptr));
            reply && reply->format == 8 && xcb_get_property_value_length(reply.get()) > 0) {
            const QByteArray value(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                   xcb_get_property_value_length(reply.get()));
            const qsizetype instanceEnd = value.indexOf('\0');
            if (instanceEnd >= 0) {
                QByteArray className = value.mid(instanceEnd + 1);
                const qsizetype classEnd = className.indexOf('\0');
                if (classEnd >= 0) {
                    className.truncate(classEnd);
                }
                if (!className.isEmpty()) {
                    result.applicationIdentifier = QString::fromUtf8(className);
                }
            }
        }
        const bool remote = isOtherMachine(stringReply(identity.clientMachine));
        std::optional<qint64> claimed;
        if (identity.pid) {
            auto reply = own(xcb_get_property_reply(connection_, *identity.pid, nullptr));
            if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) >= 4) {
                claimed = *static_cast<uint32_t*>(xcb_get_property_value(reply.get()));
            }
        }
        std::optional<qint64> known;
        if (identity.serverPid) {
            known = x11::localClientProcessReply(connection_, *identity.serverPid);
        }
        ProcessIdentity process = judgeProcess(remote, identity.serverPid.has_value(), known, claimed);
        if (!remote && known && process.id == *known && displaySocket_) {
            const std::optional<bool> made = rememberedConnection(*known);
            if (!made) {
                unvetted_.push_back(*known);
            } else if (!*made) {
                process.unknown = true;
            }
        }
        result.processId = process.id;
        result.processUnknown = process.unknown;
        return result;
    }

    // Whether the process the server names for a client is still the one that connected: the
    // server keeps the number it learnt at the connection, and a program that connects, forks
    // and ends (`tabbed -d`) leaves a number that names nothing, or whichever process takes it
    // next. It counts while it holds a connection to this display. Where that cannot be told
    // (another user's process, sockets the kernel does not describe) the number stands, and the
    // rest of the judgement (its open files unread) applies. Remembered per process start.
    // Absent when its open files are still to be read (madeTheConnection()). Caller holds the mutex.
    std::optional<bool> rememberedConnection(qint64 pid) const {
        const std::optional<qint64> start = processStart(pid);
        if (!start) {
            return false;  // gone
        }
        const auto known = madeConnection_.find(pid);
        if (known != madeConnection_.end() && known->second.first == *start) {
            return known->second.second;
        }
        return std::nullopt;
    }
    // The same from its open files, read with no lock held.
    static bool madeTheConnection(qint64 pid, const std::string& serverSocket) {
        return x11::holdsDisplayConnection(pid, serverSocket).value_or(true);
    }
    static std::optional<qint64> processStart(qint64 pid) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly)) {
            return std::nullopt;
        }
        const QByteArray line = stat.read(1024);
        const qsizetype close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 1).trimmed().split(' ');
        bool ok = false;
        const qint64 start = close >= 0 && fields.size() >= 20 ? fields.at(19).toLongLong(&ok) : 0;
        return ok ? std::optional<qint64>(start) : std::nullopt;
    }

    // The other clients that may get the keys typed into the front window: the one holding the
    // input focus, where that is another's (not the window manager's frame around the window),
    // and every client with a window inside the front one (an embedded program: xterm -into
    // listens to the keys of the window around it, and the server gives a key to the window
    // under the pointer inside the focus). Windows of one client share the high bits of their
    // ids (the client's resource base), so the usual case, a toolkit that draws everything in
    // its own window, costs one request. The walk is bounded: a few levels, a few dozen windows.
    std::vector<KeyReceiver> keyReceivers(xcb_window_t inputFocus, xcb_window_t active) const {
        std::vector<KeyReceiver> receivers;
        if (active == XCB_NONE) {
            return receivers;
        }
        const auto clientOf = [this](xcb_window_t window) { return window & ~resourceIdMask_; };
        std::vector<xcb_window_t> others;  // one window of each other client, its outermost
        const auto add = [&](xcb_window_t window) {
            const bool known = std::any_of(others.begin(), others.end(),
                                           [&](xcb_window_t other) { return clientOf(other) == clientOf(window); });
            if (!known && others.size() < 4) {
                others.push_back(window);
            }
        };
        if (inputFocus != XCB_NONE && inputFocus != XCB_INPUT_FOCUS_POINTER_ROOT && inputFocus != root_ &&
            clientOf(inputFocus) != clientOf(active)) {
            if (const std::optional<std::vector<xcb_window_t>> fromFocus = pathToRoot(inputFocus)) {
                const bool inside = std::find(fromFocus->begin(), fromFocus->end(), active) != fromFocus->end();
                bool frame = false;
                if (!inside) {
                    const std::optional<std::vector<xcb_window_t>> fromActive = pathToRoot(active);
                    frame = !fromActive ||
                            std::find(fromActive->begin(), fromActive->end(), inputFocus) != fromActive->end();
                }
                if (!frame) {
                    xcb_window_t outermost = inputFocus;
                    for (const xcb_window_t window : *fromFocus) {
                        if (clientOf(window) != clientOf(inputFocus)) {
                            break;
                        }
                        outermost = window;
                    }
                    add(outermost);
                }
            }
        }
        std::vector<xcb_window_t> level{active};
        int asked = 0;
        for (int depth = 0; depth < 4 && !level.empty() && asked < 48; ++depth) {
            std::vector<xcb_query_tree_cookie_t> cookies;
            for (const xcb_window_t window : level) {
                cookies.push_back(xcb_query_tree(connection_, window));
            }
            asked += static_cast<int>(level.size());
            std::vector<xcb_window_t> next;
            for (const xcb_query_tree_cookie_t cookie : cookies) {
                auto tree = own(xcb_query_tree_reply(connection_, cookie, nullptr));
                if (!tree) {
                    continue;
                }
                const xcb_window_t* children = xcb_query_tree_children(tree.get());
                for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
                    if (clientOf(children[i]) != clientOf(active)) {
                        add(children[i]);
                    } else {
                        next.push_back(children[i]);
                    }
                }
            }
            level = std::move(next);
        }
        for (const xcb_window_t window : others) {
            const FrontApplication client = identityReply(window, identityRequest(window));
            receivers.push_back(
                KeyReceiver{client.processId, client.applicationIdentifier, client.windowId, client.processUnknown});
        }
        return receivers;
    }
    // The window and its ancestors below the root.
    std::optional<std::vector<xcb_window_t>> pathToRoot(xcb_window_t window) const {
        std::vector<xcb_window_t> path{window};
        for (int depth = 0; depth < 64; ++depth) {
            auto tree = own(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, path.back()), nullptr));
            if (!tree) {
                return std::nullopt;
            }
            if (tree->parent == root_ || tree->parent == XCB_NONE) {
                return path;
            }
            path.push_back(tree->parent);
        }
        return std::nullopt;
    }

    struct ProcessIdentity {
        qint64 id = 0;
        bool unknown = true;
    };
    // The server's number where it has one; the window's claim only where the server cannot
    // tell (no X-Resource extension). A client on another machine is unknown whatever it
    // claims (its number is another machine's); the server's number for it is the local
    // process that speaks for it (ssh, over ssh -X), none for a client over the network.
    static ProcessIdentity judgeProcess(bool remote, bool serverAsked, std::optional<qint64> knownReply,
                                        std::optional<qint64> claimedReply) {
        // 0: no number (none given, or not a process's).
        const qint64 claimed = std::max<qint64>(claimedReply.value_or(0), 0);
        const qint64 known = std::max<qint64>(knownReply.value_or(0), 0);
        if (remote) {
            return {known, true};
        }
        if (!serverAsked) {
            return claimed > 0 ? ProcessIdentity{claimed, false} : ProcessIdentity{};
        }
        if (known == 0) {
            return {};
        }
        // A sandbox with its own process numbering claims its own number (1, 2), which on this
        // machine names another process or none.
        return {known, claimed > 0 && claimed != known};
    }

    std::optional<QByteArray> stringReply(xcb_get_property_cookie_t cookie) const {
        auto reply = own(xcb_get_property_reply(connection_, cookie, nullptr));
        if (!reply || reply->format != 8 || xcb_get_property_value_length(reply.get()) <= 0) {
            return std::nullopt;
        }
        const auto* bytes = static_cast<const char*>(xcb_get_property_value(reply.get()));
        QByteArray value(bytes, xcb_get_property_value_length(reply.get()));
        const qsizetype end = value.indexOf('\0');
        return end < 0 ? value : value.left(end);
    }
    // Whether a window's WM_CLIENT_MACHINE names another machine than this one; a window without
    // one says nothing. A short and a full name of this host both name it.
    bool isOtherMachine(const std::optional<QByteArray>& machine) const {
        if (!machine || machine->isEmpty()) {
            return false;
        }
        const auto shortName = [](const QByteArray& name) {
            const qsizetype dot = name.indexOf('.');
            return (dot < 0 ? name : name.first(dot)).toLower();
        };
        return *machine != "localhost" && shortName(*machine) != shortName(hostName_);
    }
    xcb_window_t topLevelWindowOf(xcb_window_t focus) const {
        if (focus == XCB_NONE || focus == XCB_INPUT_FOCUS_POINTER_ROOT || focus == root_) {
            return XCB_NONE;
        }
        xcb_window_t window = focus;
        for (int depth = 0; depth < 64; ++depth) {
            auto tree = own(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
            if (!tree) {
                return XCB_NONE;
            }
            if (tree->parent == root_ || tree->parent == XCB_NONE) {
                return window;
            }
            window = tree->parent;
        }
        return XCB_NONE;
    }

    bool windowExists(xcb_window_t window) const {
        auto reply =
            own(xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr));
        return reply != nullptr;
    }

    mutable std::mutex mutex_;
    mutable xcb_connection_t* connection_ = nullptr;
    mutable xcb_window_t root_ = XCB_NONE;
    mutable xcb_atom_t supportingWmCheck_ = XCB_NONE;
    mutable xcb_atom_t activeWindow_ = XCB_NONE;
    mutable xcb_atom_t wmPid_ = XCB_NONE;
    mutable std::uint32_t resourceIdMask_ = 0;
    // The name of the server's socket; absent where the kernel does not tell.
    mutable std::optional<std::string> displaySocket_;
    // Process id -> (its start, whether it held a connection to the display).
    mutable std::map<qint64, std::pair<qint64, bool>> madeConnection_;
    // The processes of the answer being made whose connection is still to be vetted.
    mutable std::vector<qint64> unvetted_;
    mutable QByteArray hostName_;
    // The questions asked off the calling thread.
    mutable QThreadPool asking_;
};

}  // namespace

std::shared_ptr<FrontApplicationProviding> makeX11FrontApplicationProvider() {
    return std::make_shared<X11FrontApplicationProvider>();
}

std::shared_ptr<FrontApplicationProviding> defaultFrontApplicationProvider() {
    static const std::shared_ptr<FrontApplicationProviding> instance = makeX11FrontApplicationProvider();
    return instance;
}

}  // namespace tavrolin
