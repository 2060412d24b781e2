#include "platform/linux/x11_clipboard_reader.h"

#include "platform/linux/x11_client_process.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <poll.h>
#include <set>
#include <string>
#include <xcb/xcb.h>

namespace tavrolin {

namespace {

using Clock = std::chrono::steady_clock;

template <typename T>
struct Freed {
    T* ptr = nullptr;
    ~Freed() { std::free(ptr); }
};

// Targets that name the protocol or X resources rather than data worth keeping.
bool isKeptTarget(const std::string& name) {
    static const std::set<std::string> textTargets = {"UTF8_STRING", "STRING", "TEXT", "COMPOUND_TEXT"};
    return textTargets.count(name) || name.find('/') != std::string::npos;
}

bool isPlainTextTarget(const std::string& name) {
    return name == "UTF8_STRING" || name == "STRING" || name == "TEXT" || name == "COMPOUND_TEXT" ||
           name == "text/plain" || name == "text/plain;charset=utf-8";
}

}  // namespace

QString decodeClipboardHtml(const QByteArray& data) {
    if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(QStringDecoder::Utf16, QStringDecoder::Flag::ConvertInitialBom);
        return decoder.decode(data);
    }
    return QString::fromUtf8(data);
}

struct X11ClipboardReader::State {
    xcb_connection_t* connection = nullptr;
    xcb_window_t window = 0;
    xcb_window_t root = 0;
    std::string selection;
    std::map<std::string, xcb_atom_t> atoms;
    std::map<xcb_atom_t, std::string> names;

    ~State() {
        if (connection) {
            xcb_disconnect(connection);
        }
    }

    xcb_atom_t atom(const std::string& name) {
        const auto it = atoms.find(name);
        if (it != atoms.end()) {
            return it->second;
        }
        Freed<xcb_intern_atom_reply_t> reply{xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr)};
        const xcb_atom_t value = reply.ptr ? reply.ptr->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        atoms[name] = value;
        names[value] = name;
        return value;
    }

    std::string nameOf(xcb_atom_t value) {
        const auto it = names.find(value);
        if (it != names.end()) {
            return it->second;
        }
        Freed<xcb_get_atom_name_reply_t> reply{
            xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, value), nullptr)};
        if (!reply.ptr) {
            return {};
        }
        std::string name(xcb_get_atom_name_name(reply.ptr), xcb_get_atom_name_name_length(reply.ptr));
        names[value] = name;
        atoms[name] = value;
        return name;
    }

    // The next event that satisfies `wanted`, or null at the deadline. Other events are dropped:
    // this connection exists for the transfer alone.
    template <typename Predicate>
    xcb_generic_event_t* waitFor(Deadline deadline, Predicate wanted) {
        const int fd = xcb_get_file_descriptor(connection);
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                if (wanted(event)) {
                    return event;
                }
                std::free(event);
            }
            if (xcb_connection_has_error(connection)) {
                return nullptr;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                return nullptr;
            }
            pollfd pfd{fd, POLLIN, 0};
            ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left, 100)));
        }
    }

    // Deletes the property and gives its whole value; follows INCR transfers.
    std::optional<QByteArray> takeProperty(xcb_atom_t property, Deadline deadline, qsizetype limit, bool& tooLarge) {
        Freed<xcb_get_property_reply_t> reply{xcb_get_property_reply(
            connection, xcb_get_property(connection, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0x1fffffff),
            nullptr)};
        if (!reply.ptr) {
            return std::nullopt;
        }
        xcb_flush(connection);
        if (reply.ptr->type != atom("INCR")) {
            return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.ptr)),
                              xcb_get_property_value_length(reply.ptr));
        }
        // Large data comes in pieces: each new value of the property is the next piece, an
        // empty one ends it.
        QByteArray data;
        for (;;) {
            xcb_generic_event_t* event = waitFor(deadline, [&](xcb_generic_event_t* e) {
                if ((e->response_type & ~0x80) != XCB_PROPERTY_NOTIFY) {
                    return false;
                }
                const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(e);
                return notify->window == window && notify->atom == property && notify->state == XCB_PROPERTY_NEW_VALUE;
            });
            if (!event) {
                return std::nullopt;
            }
            std::free(event);
            Freed<xcb_get_property_reply_t> piece{xcb_get_property_reply(
                connection, xcb_get_property(connection, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0x1fffffff),
                nullptr)};
            xcb_flush(connection);
            if (!piece.ptr) {
                return std::nullopt;
            }
            const int length = xcb_get_property_value_length(piece.ptr);
            if (length == 0) {
                return tooLarge ? QByteArray() : data;
            }
            if (!tooLarge) {
                data.append(static_cast<const char*>(xcb_get_property_value(piece.ptr)), length);
                if (data.size() > limit) {
                    tooLarge = true;
                    data.clear();
                }
            }
        }
    }

    // One target of the CLIPBOARD; absent when the owner refused it or did not answer in time.
    std::optional<QByteArray> convert(xcb_atom_t target, Deadline deadline, qsizetype limit, bool& tooLarge) {
        const xcb_atom_t property = atom("TAVROLIN_CLIPBOARD");
        xcb_delete_property(connection, window, property);
        xcb_convert_selection(connection, window, atom(selection), target, property, XCB_CURRENT_TIME);
        xcb_flush(connection);
        xcb_generic_event_t* event = waitFor(deadline, [&](xcb_generic_event_t* e) {
            if ((e->response_type & ~0x80) != XCB_SELECTION_NOTIFY) {
                return false;
            }
            const auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(e);
            return notify->requestor == window && notify->target == target;
        });
        if (!event) {
            return std::nullopt;
        }
        const auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event);
        const bool refused = notify->property == XCB_ATOM_NONE;
        std::free(event);
        if (refused) {
            return QByteArray();  // answered, but without data
        }
        return takeProperty(property, deadline, limit, tooLarge);
    }

    xcb_window_t owner() {
        Freed<xcb_get_selection_owner_reply_t> reply{
            xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom(selection)), nullptr)};
        return reply.ptr ? reply.ptr->owner : static_cast<xcb_window_t>(XCB_WINDOW_NONE);
    }

    bool hasOwner() { return owner() != XCB_WINDOW_NONE; }

    // A window property's bytes; empty when it is missing.
    QByteArray property(xcb_window_t of, xcb_atom_t name, std::uint32_t longs) {
        Freed<xcb_get_property_reply_t> reply{xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, of, name, XCB_GET_PROPERTY_TYPE_ANY, 0, longs), nullptr)};
        if (!reply.ptr) {
            return {};
        }
        return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.ptr)),
                          xcb_get_property_value_length(reply.ptr));
    }

    // The owner's targets; absent when it did not answer in time.
    std::optional<std::vector<xcb_atom_t>> targets(Deadline deadline) {
        bool tooLarge = false;
        const std::optional<QByteArray> data = convert(atom("TARGETS"), deadline, 1 << 20, tooLarge);
        if (!data) {
            return std::nullopt;
        }
        std::vector<xcb_atom_t> list(static_cast<size_t>(data->size()) / sizeof(xcb_atom_t));
        if (!list.empty()) {  // an owner may offer no targets at all
            std::memcpy(list.data(), data->constData(), list.size() * sizeof(xcb_atom_t));
        }
        return list;
    }

    std::optional<QString> readText(Deadline deadline) {
        if (!hasOwner()) {
            return std::nullopt;
        }
        const std::optional<std::vector<xcb_atom_t>> offered = targets(deadline);
        if (!offered) {
            return std::nullopt;
        }
        const auto offers = [&](xcb_atom_t a) {
            return std::find(offered->begin(), offered->end(), a) != offered->end();
        };
        bool tooLarge = false;
        for (const char* name : {"UTF8_STRING", "text/plain;charset=utf-8"}) {
            if (offers(atom(name))) {
                const std::optional<QByteArray> data = convert(atom(name), deadline, 1 << 30, tooLarge);
                return data ? std::optional<QString>(QString::fromUtf8(*data)) : std::nullopt;
            }
        }
        if (offers(XCB_ATOM_STRING)) {
            const std::optional<QByteArray> data = convert(XCB_ATOM_STRING, deadline, 1 << 30, tooLarge);
            return data ? std::optional<QString>(QString::fromLatin1(*data)) : std::nullopt;
        }
        return std::nullopt;
    }
};

X11ClipboardReader::X11ClipboardReader(const char* selection) : d_(std::make_unique<State>()) {
    d_->selection = selection;
    int screenNumber = 0;
    d_->connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(d_->connection)) {
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(d_->connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i) {
        xcb_screen_next(&screens);
    }
    if (!screens.rem) {
        return;
    }
    d_->root = screens.data->root;
    d_->window = xcb_generate_id(d_->connection);
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(d_->connection, XCB_COPY_FROM_PARENT, d_->window, screens.data->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    xcb_flush(d_->connection);
}

X11ClipboardReader::~X11ClipboardReader() = default;

bool X11ClipboardReader::isConnected() const {
    return d_->connection && !xcb_connection_has_error(d_->connection) && d_->window != 0;
}

std::optional<ClipboardContents> X11ClipboardReader::readAll(Deadline deadline, qsizetype maximumFormatSize,
                                                             const SkippedFormatCallback& onSkipped) {
    if (!isConnected()) {
        return std::nullopt;
    }
    if (!d_->hasOwner()) {
        return ClipboardContents{};
    }
    const std::optional<std::vector<xcb_atom_t>> offered = d_->targets(deadline);
    if (!offered) {
        return std::nullopt;
    }
    ClipboardContents saved;
    bool haveText = false;
    // The owner's best text target first, so "text/plain" holds UTF-8 whatever else it offers.
    std::vector<std::string> order;
    for (const xcb_atom_t target : *offered) {
        const std::string name = d_->nameOf(target);
        if (!name.empty() && isKeptTarget(name)) {
            order.push_back(name);
        }
    }
    std::stable_partition(order.begin(), order.end(), [](const std::string& n) { return n == "UTF8_STRING"; });
    for (const std::string& name : order) {
        const bool text = isPlainTextTarget(name);
        if (text && haveText) {
            continue;
        }
        bool tooLarge = false;
        std::optional<QByteArray> data = d_->convert(d_->atom(name), deadline, maximumFormatSize, tooLarge);
        if (!data) {
            return std::nullopt;
        }
        if (tooLarge || data->size() > maximumFormatSize) {
            if (onSkipped) {
                onSkipped(QString::fromStdString(name), tooLarge ? maximumFormatSize + 1 : data->size());
            }
            continue;
        }
        if (data->isEmpty() && !text) {
            continue;  // offered but not delivered
        }
        if (text) {
            if (name == "STRING") {
                *data = QString::fromLatin1(*data).toUtf8();
            } else if (name == "TEXT" || name == "COMPOUND_TEXT") {
                continue;  // encodings of their own: only as a last resort, never kept raw
            }
            haveText = true;
            saved.push_back({QStringLiteral("text/plain"), std::move(*data)});
        } else {
            saved.push_back({QString::fromStdString(name), std::move(*data)});
        }
    }
    return saved;
}

std::optional<QString> X11ClipboardReader::readText(Deadline deadline) {
    return isConnected() ? d_->readText(deadline) : std::nullopt;
}

std::optional<QString> X11ClipboardReader::readHtml(Deadline deadline) {
    if (!isConnected() || !d_->hasOwner()) {
        return std::nullopt;
    }
    const std::optional<std::vector<xcb_atom_t>> offered = d_->targets(deadline);
    const xcb_atom_t html = d_->atom("text/html");
    if (!offered || std::find(offered->begin(), offered->end(), html) == offered->end()) {
        return std::nullopt;
    }
    bool tooLarge = false;
    const std::optional<QByteArray> data = d_->convert(html, deadline, 1 << 30, tooLarge);
    return data ? std::optional<QString>(decodeClipboardHtml(*data)) : std::nullopt;
}

std::optional<X11ClipboardReader::OwnedText> X11ClipboardReader::readOwnedText(Deadline deadline) {
    if (!isConnected()) {
        return std::nullopt;
    }
    const xcb_window_t owner = d_->owner();
    if (owner == XCB_WINDOW_NONE) {
        return std::nullopt;
    }
    OwnedText owned;
    const QByteArray active = d_->property(d_->root, d_->atom("_NET_ACTIVE_WINDOW"), 1);
    if (active.size() == 4) {
        std::uint32_t activeWindow = 0;
        std::memcpy(&activeWindow, active.constData(), 4);
        // Every resource of one client shares the bits outside the server's resource-id mask.
        const std::uint32_t mask = xcb_get_setup(d_->connection)->resource_id_mask;
        owned.ownerIsActiveWindowClient = activeWindow != 0 && (activeWindow & ~mask) == (owner & ~mask);
    }
    owned.ownerProcessId = x11::localClientProcessID(d_->connection, owner);
    owned.ownerWindowName = QString::fromUtf8(d_->property(owner, XCB_ATOM_WM_NAME, 64));
    bool tooLarge = false;
    const std::optional<QByteArray> stamp = d_->convert(d_->atom("TIMESTAMP"), deadline, 64, tooLarge);
    if (!stamp) {
        return std::nullopt;
    }
    if (stamp->size() >= 4) {
        std::uint32_t time = 0;
        std::memcpy(&time, stamp->constData(), 4);
        owned.acquiredAt = time;
    }
    const std::optional<QByteArray> text = d_->convert(d_->atom("UTF8_STRING"), deadline, 1 << 24, tooLarge);
    if (!text || tooLarge) {
        return std::nullopt;
    }
    owned.text = QString::fromUtf8(*text);
    return owned;
}

}  // namespace tavrolin
