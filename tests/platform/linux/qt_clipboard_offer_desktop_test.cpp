// A text offered to one program while the user's clipboard stays everyone else's, with real X
// clients: a program that nothing vouches for (a sandbox numbers its processes its own way) is
// known by its window's X client, never by a process number.
#include "platform/linux/qt_clipboard.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <xcb/xcb.h>

namespace tavrolin {
namespace {

// An X client of its own, in this process, that asks for the clipboard the way a program
// pasting does: ConvertSelection into a property of its window, then SelectionNotify.
class PastingClient {
public:
    PastingClient() : connection_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(connection_) != 0) {
            return;
        }
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        clipboard_ = atom("CLIPBOARD");
        utf8_ = atom("UTF8_STRING");
        property_ = atom("TAVROLIN_TEST_PASTE");
        xcb_flush(connection_);
    }
    ~PastingClient() { xcb_disconnect(connection_); }
    PastingClient(const PastingClient&) = delete;
    PastingClient& operator=(const PastingClient&) = delete;

    quint64 window() const { return window_; }
    void paste() {
        xcb_convert_selection(connection_, window_, clipboard_, utf8_, property_, XCB_CURRENT_TIME);
        xcb_flush(connection_);
    }
    // What the paste got; absent when the owner refused it or nothing came. The owner answers
    // from this process's event loop, so the loop runs meanwhile.
    std::optional<QString> result() {
        const QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(xcb_poll_for_event(connection_),
                                                                             &std::free);
            if (!event) {
                continue;
            }
            if ((event->response_type & ~0x80) != XCB_SELECTION_NOTIFY) {
                continue;
            }
            const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(event.get());
            if (notify->property == XCB_NONE) {
                return std::nullopt;
            }
            std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
                xcb_get_property_reply(
                    connection_,
                    xcb_get_property(connection_, 1, window_, property_, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20),
                    nullptr),
                &std::free);
            if (!reply) {
                return std::nullopt;
            }
            return QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                     xcb_get_property_value_length(reply.get()));
        }
        return std::nullopt;
    }

private:
    xcb_atom_t atom(const char* name) {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(
                connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr),
            &std::free);
        return reply ? reply->atom : XCB_NONE;
    }

    xcb_connection_t* connection_;
    xcb_window_t window_ = XCB_NONE;
    xcb_atom_t clipboard_ = XCB_NONE;
    xcb_atom_t utf8_ = XCB_NONE;
    xcb_atom_t property_ = XCB_NONE;
};

// Two programs of one process, as the server sees it: the offer made to one's window with no
// process (the paste into a program nothing vouches for) reaches that client alone. Matched by
// process number instead, the target would get the user's clipboard (and paste it over the
// message), or, numbered by the process, both clients would get the text.
TEST(QtClipboardOfferTest, AnOfferToAProgramNothingVouchesForGoesByItsXClientAlone) {
    QtClipboard clipboard;
    clipboard.setContents({{"text/plain", "the user's text"}});
    PastingClient target;
    PastingClient other;
    ASSERT_NE(target.window(), 0u);
    ASSERT_NE(other.window(), 0u);
    const quint64 offer = clipboard.offerTextTo(0, target.window(), "the message");
    other.paste();
    EXPECT_EQ(other.result(), "the user's text");
    target.paste();
    EXPECT_EQ(target.result(), "the message");
    EXPECT_EQ(clipboard.ownDataFetchesBy(0, target.window()), 1u) << "the target's fetch counts for the paste";

    clipboard.withdrawOffer(offer);
    target.paste();
    EXPECT_EQ(target.result(), "the user's text");
}

}  // namespace
}  // namespace tavrolin
