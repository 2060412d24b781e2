#include "platform/linux/qt_clipboard.h"

#include "platform/desktop_backend.h"
#include "platform/linux/x11_client_process.h"
#include "platform/linux/x11_clipboard_reader.h"

#include <QAbstractNativeEventFilter>
#include <QClipboard>
#include <QCoroFuture>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <xcb/xcb.h>

namespace tavrolin {

namespace {

QClipboard* systemClipboard() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}

bool isSelectionProtocolTarget(const QString& format) {
    return format == QLatin1String("TARGETS") || format == QLatin1String("MULTIPLE") ||
           format == QLatin1String("TIMESTAMP") || format == QLatin1String("SAVE_TARGETS");
}

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// A text offered to one program: its formats as the X targets they answer.
struct Offer {
    quint64 id = 0;
    qint64 processId = 0;
    quint32 client = 0;
    std::vector<std::pair<xcb_atom_t, QByteArray>> formats;
};

// Sees the other programs' requests for our clipboard data before Qt answers them, and notes
// whose they are: the process of the requestor window's client (X-Resource), else that client.
// A request by a program that has a text offered is answered here, with that text, and kept
// from Qt; everyone else gets Qt's answer, the clipboard's contents.
class RequestFilter final : public QAbstractNativeEventFilter {
public:
    RequestFilter() {
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (!x11 || !x11->connection()) {
            return;
        }
        connection_ = x11->connection();
        clientMask_ = xcb_get_setup(connection_)->resource_id_mask;
        clipboard_ = internAtom(connection_, "CLIPBOARD");
        targets_ = internAtom(connection_, "TARGETS");
        timestamp_ = internAtom(connection_, "TIMESTAMP");
        multiple_ = internAtom(connection_, "MULTIPLE");
        QCoreApplication::instance()->installNativeEventFilter(this);
        installed_ = true;
    }
    ~RequestFilter() override {
        if (installed_ && QCoreApplication::instance()) {
            QCoreApplication::instance()->removeNativeEventFilter(this);
        }
    }
    RequestFilter(const RequestFilter&) = delete;
    RequestFilter& operator=(const RequestFilter&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t") {
            return false;
        }
        const auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & ~0x80) != XCB_SELECTION_REQUEST) {
            return false;
        }
        const auto* request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
        if (request->selection != clipboard_) {
            return false;
        }
        // Answered by the server itself, never by another program: the requestor's window may be
        // gone a moment later (xclip), so it is asked now.
        const std::optional<std::uint32_t> pid = x11::localClientProcessID(connection_, request->requestor);
        const quint32 client = request->requestor & ~clientMask_;
        requests_.add(pid, client);
        // Asking which formats there are is not fetching the data.
        if (request->target != targets_ && request->target != timestamp_ && request->target != multiple_) {
            fetches_.add(pid, client);
        }
        const auto offer = std::find_if(offers_.begin(), offers_.end(), [&](const auto& entry) {
            const Offer& o = entry.second;
            return (o.client != 0 && o.client == client) || (o.processId > 0 && pid && *pid == o.processId);
        });
        if (offer == offers_.end() || request->target == timestamp_) {
            return false;  // Qt answers with the clipboard's contents
        }
        answer(*request, offer->second);
        return true;
    }

    // Qt takes the clipboard with the time of the last X event it has seen. A program that took it
    // with a later time (that of a synthetic key of ours, an event this process never sees) keeps
    // it: X refuses the take without a word, Qt goes on as the owner, and what the program copied
    // stays on the clipboard for everyone else. Taken again then, with the server's present time.
    void takeIfRefused() {
        if (!connection_) {
            return;
        }
        const xcb_window_t owner = selectionOwner();
        if (isOurs(owner)) {
            ownerWindow_ = owner;  // Qt's, the one window of ours that takes the clipboard
            return;
        }
        if (ownerWindow_ == XCB_NONE) {
            ownerWindow_ = qtOwnerWindow();
        }
        if (ownerWindow_ != XCB_NONE) {
            xcb_set_selection_owner(connection_, ownerWindow_, clipboard_, XCB_CURRENT_TIME);
            xcb_flush(connection_);
        }
    }

    // Whether a window of this process's client owns the clipboard now.
    bool ownedByUs() const { return connection_ && isOurs(selectionOwner()); }

    quint64 fetchesBy(qint64 processId, quint64 window) const { return fetches_.of(processId, window, clientMask_); }
    quint64 requestsBy(qint64 processId, quint64 window) const { return requests_.of(processId, window, clientMask_); }

    quint64 offer(qint64 processId, quint64 window, const QString& text) {
        const quint64 id = ++lastOffer_;
        if (!connection_) {
            return id;
        }
        Offer offer{id, processId, static_cast<quint32>(window) & ~clientMask_, {}};
        const QByteArray utf8 = text.toUtf8();
        for (const char* name : {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain"}) {
            offer.formats.emplace_back(internAtom(connection_, name), utf8);
        }
        // STRING is Latin-1: offered only where the text can be written in it.
        const QByteArray latin1 = text.toLatin1();
        if (QString::fromLatin1(latin1) == text) {
            offer.formats.emplace_back(XCB_ATOM_STRING, latin1);
        }
        if (const auto older = offers_.find(window); older != offers_.end()) {
            replaced_.insert(older->second.id);
        }
        offers_[window] = std::move(offer);
        return id;
    }
    // False where a newer offer to the same window replaced it: that one stays.
    bool withdraw(quint64 id) {
        if (replaced_.erase(id) > 0) {
            return false;
        }
        std::erase_if(offers_, [id](const auto& entry) { return entry.second.id == id; });
        return true;
    }
    bool hasOffers() const { return !offers_.empty(); }

private:
    // The offered text for `request`, or a refusal (property None) for what it cannot have:
    // another format, several at once, or more than one request can carry.
    void answer(const xcb_selection_request_event_t& request, const Offer& offer) {
        // Clients from before ICCCM 2 name no property: the target is the property then.
        const xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
        bool given = false;
        if (request.target == targets_) {
            std::vector<xcb_atom_t> atoms{targets_, timestamp_};
            for (const auto& [atom, data] : offer.formats) {
                atoms.push_back(atom);
            }
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32,
                                static_cast<std::uint32_t>(atoms.size()), atoms.data());
            given = true;
        } else {
            const auto format = std::find_if(offer.formats.begin(), offer.formats.end(),
                                             [&](const auto& f) { return f.first == request.target; });
            // The request's own header takes 24 bytes of the most the server accepts.
            const qsizetype oneRequest = static_cast<qsizetype>(xcb_get_maximum_request_length(connection_)) * 4 - 24;
            if (format != offer.formats.end() && format->second.size() <= oneRequest) {
                xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request.requestor, property, format->first, 8,
                                    static_cast<std::uint32_t>(format->second.size()), format->second.constData());
                given = true;
            }
        }
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = given ? property : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        xcb_send_event(connection_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(connection_);
    }

    bool installed_ = false;
    xcb_connection_t* connection_ = nullptr;
    quint32 clientMask_ = 0;
    xcb_atom_t clipboard_ = XCB_ATOM_NONE;
    xcb_atom_t targets_ = XCB_ATOM_NONE;
    xcb_atom_t timestamp_ = XCB_ATOM_NONE;
    xcb_atom_t multiple_ = XCB_ATOM_NONE;
    xcb_window_t ownerWindow_ = XCB_NONE;

    quint32 clientBase() const { return xcb_get_setup(connection_)->resource_id_base & ~clientMask_; }
    bool isOurs(xcb_window_t window) const { return window != XCB_NONE && (window & ~clientMask_) == clientBase(); }

    xcb_window_t selectionOwner() const {
        xcb_get_selection_owner_reply_t* reply =
            xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, clipboard_), nullptr);
        const xcb_window_t owner = reply ? reply->owner : static_cast<xcb_window_t>(XCB_NONE);
        std::free(reply);
        return owner;
    }

    // The window Qt takes the clipboard with ("Qt Selection Owner for ..."), a child of the root of
    // this process's own client; none until Qt has made it.
    xcb_window_t qtOwnerWindow() const {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root), nullptr);
        if (!tree) {
            return XCB_NONE;
        }
        xcb_window_t found = XCB_NONE;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && found == XCB_NONE; ++i) {
            if ((children[i] & ~clientMask_) != clientBase()) {
                continue;
            }
            xcb_get_property_reply_t* name = xcb_get_property_reply(
                connection_,
                xcb_get_property(connection_, 0, children[i], XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                nullptr);
            if (name) {
                const QByteArray title(static_cast<const char*>(xcb_get_property_value(name)),
                                       xcb_get_property_value_length(name));
                if (title.startsWith("Qt Selection Owner")) {
                    found = children[i];
                }
                std::free(name);
            }
        }
        std::free(tree);
        return found;
    }
    std::map<quint64, Offer> offers_;  // GUI thread only
    quint64 lastOffer_ = 0;
    std::set<quint64> replaced_;  // offers a newer one to their window replaced, not yet withdrawn
    // Requests for the clipboard, by the process that made them (where the server knows it) and
    // by X client.
    struct Counts {
        mutable std::mutex mutex;
        std::map<std::uint32_t, quint64> byProcess;
        std::map<quint32, quint64> byClient;
        std::map<quint32, quint64> byClientWithoutProcess;

        void add(const std::optional<std::uint32_t>& pid, quint32 client) {
            const std::lock_guard lock(mutex);
            ++byClient[client];
            if (pid) {
                ++byProcess[*pid];
            } else {
                ++byClientWithoutProcess[client];
            }
        }
        quint64 of(qint64 processId, quint64 window, quint32 clientMask) const {
            const std::lock_guard lock(mutex);
            const quint32 client = static_cast<quint32>(window) & ~clientMask;
            const auto count = [](const auto& map, auto key) -> quint64 {
                const auto it = map.find(key);
                return it == map.end() ? 0 : it->second;
            };
            if (processId <= 0) {
                return window == 0 ? 0 : count(byClient, client);
            }
            return count(byProcess, static_cast<std::uint32_t>(processId)) +
                   (window == 0 ? 0 : count(byClientWithoutProcess, client));
        }
    };
    Counts fetches_;   // of the data
    Counts requests_;  // of anything, the formats offered included
};

}  // namespace

struct QtClipboard::State {
    SkippedFormatCallback onSkippedFormat;
    qsizetype maximumFormatSize = 0;
    std::unique_ptr<RequestFilter> requests;
    // What this object put on the clipboard last. Qt deletes it when anything replaces it, in
    // this process too (the copy window's Copy, a link copied from the share alert).
    QPointer<const QMimeData> lastWritten;
    // Its formats, and which write of this process's it was: the last one's are put back where
    // Qt drops them while this process still owns the clipboard (see QtClipboard()).
    std::vector<std::pair<QString, QByteArray>> lastFormats;
    quint64 writeNumber = 0;
    QObject context;                             // the connection to QClipboard::changed goes with this state
    QThreadPool readerThread;                    // one thread: reads of other owners, in order
    std::unique_ptr<X11ClipboardReader> reader;  // used on readerThread only

    X11ClipboardReader& foreignReader() {
        if (!reader) {
            reader = std::make_unique<X11ClipboardReader>();
        }
        return *reader;
    }

    ~State() { readerThread.waitForDone(); }
};

namespace {

// The number of the last write to the clipboard by any QtClipboard of this process.
quint64 lastWriteNumber = 0;

}  // namespace

QtClipboard::QtClipboard(SkippedFormatCallback onSkippedFormat, qsizetype maximumFormatSize)
    : d_(std::make_shared<State>()) {
    d_->onSkippedFormat = std::move(onSkippedFormat);
    d_->maximumFormatSize = maximumFormatSize;
    d_->readerThread.setMaxThreadCount(1);
    d_->readerThread.setExpiryTimeout(-1);
    d_->requests = std::make_unique<RequestFilter>();
    QClipboard* clipboard = systemClipboard();
    if (!clipboard || QGuiApplication::platformName() != QLatin1String("xcb")) {
        return;
    }
    // A program that took the clipboard while Qt was the owner leaves Qt a SelectionClear that
    // may be handled only after a refused take was taken again (takeIfRefused()): Qt then drops
    // its data, and this process owns the clipboard with nothing in it, so that every paste
    // anywhere gets nothing and the copy that was just held is lost. What was written last is
    // put back then; a clipboard another program owns stays theirs.
    const std::weak_ptr<State> weak = d_;
    QObject* context = &d_->context;
    QObject::connect(clipboard, &QClipboard::changed, context, [weak, context](QClipboard::Mode mode) {
        if (mode != QClipboard::Clipboard) {
            return;
        }
        // After Qt's own handling of the clear is over.
        QMetaObject::invokeMethod(
            context,
            [weak] {
                const std::shared_ptr<State> now = weak.lock();
                QClipboard* clipboard = systemClipboard();
                if (!now || !clipboard || now->lastWritten || now->writeNumber != lastWriteNumber ||
                    now->lastFormats.empty() || clipboard->ownsClipboard() || !now->requests->ownedByUs()) {
                    return;
                }
                auto* again = new QMimeData;
                for (const auto& [format, bytes] : now->lastFormats) {
                    again->setData(format, bytes);
                }
                clipboard->setMimeData(again, QClipboard::Clipboard);
                now->lastWritten = again;
                now->requests->takeIfRefused();
            },
            Qt::QueuedConnection);
    });
}

void QtClipboard::remember(const QMimeData* written) {
    d_->lastWritten = written;
    d_->lastFormats.clear();
    if (written) {
        for (const QString& format : written->formats()) {
            d_->lastFormats.emplace_back(format, written->data(format));
        }
    }
    d_->writeNumber = ++lastWriteNumber;
}

QtClipboard::~QtClipboard() = default;

quint64 QtClipboard::ownDataFetchesBy(qint64 processId, quint64 window) const {
    return d_->requests->fetchesBy(processId, window);
}

quint64 QtClipboard::requestsBy(qint64 processId, quint64 window) const {
    return d_->requests->requestsBy(processId, window);
}

namespace {

// Only on X11 can another program own the clipboard (the offscreen platform keeps it in this
// process): everything else is read from Qt.
bool ownsClipboard() {
    QClipboard* clipboard = systemClipboard();
    if (!clipboard) {
        return false;
    }
    return QGuiApplication::platformName() != QLatin1String("xcb") || clipboard->ownsClipboard();
}

// This program's own clipboard data, straight from Qt (no round trip through the server).
const QMimeData* ownData() {
    QClipboard* clipboard = systemClipboard();
    return clipboard ? clipboard->mimeData(QClipboard::Clipboard) : nullptr;
}

X11ClipboardReader::Deadline readDeadline() {
    return std::chrono::steady_clock::now() + Clipboard::foreignReadBound;
}

}  // namespace

bool QtClipboard::holdsOwnContents() const {
    return ownsClipboard() && d_->lastWritten && ownData() == d_->lastWritten.data();
}

quint64 QtClipboard::offerTextTo(qint64 processId, quint64 window, const QString& text) {
    return d_->requests->offer(processId, window, text);
}

void QtClipboard::withdrawOffer(quint64 offer) {
    if (!d_->requests->withdraw(offer)) {
        return;  // the window's next paste has its own offer, fetched or not yet
    }
    QClipboard* clipboard = systemClipboard();
    if (!clipboard || !holdsOwnContents()) {
        return;
    }
    // Some programs keep what they fetched until the clipboard changes hands (Chromium learns of
    // that through XFixes): taken anew with the same contents, it is fetched again, no longer the
    // offered text.
    const QMimeData* held = ownData();
    auto* again = new QMimeData;
    for (const QString& format : held->formats()) {
        again->setData(format, held->data(format));
    }
    clipboard->setMimeData(again, QClipboard::Clipboard);
    remember(again);
    d_->requests->takeIfRefused();
}

QCoro::Task<std::optional<ClipboardContents>> QtClipboard::readContents() {
    if (!systemClipboard()) {
        co_return ClipboardContents{};
    }
    if (!ownsClipboard()) {
        const std::shared_ptr<State> state = d_;
        const auto read = [state] {
            return state->foreignReader().readAll(readDeadline(), state->maximumFormatSize,
                                                  [state](const QString& f, qsizetype s) {
                                                      // Reported on the GUI thread, where the callback's owner lives.
                                                      QMetaObject::invokeMethod(qApp, [state, f, s] {
                                                          if (state->onSkippedFormat) {
                                                              state->onSkippedFormat(f, s);
                                                          }
                                                      });
                                                  });
        };
        QFuture<std::optional<ClipboardContents>> future = QtConcurrent::run(&state->readerThread, read);
        co_return co_await future;
    }
    ClipboardContents saved;
    const QMimeData* data = ownData();
    if (!data) {
        co_return saved;
    }
    const QStringList formats = data->formats();
    for (const QString& format : formats) {
        if (isSelectionProtocolTarget(format)) {
            continue;
        }
        QByteArray bytes = data->data(format);
        if (bytes.size() > d_->maximumFormatSize) {
            if (d_->onSkippedFormat) {
                d_->onSkippedFormat(format, bytes.size());
            }
            continue;
        }
        if (bytes.isNull()) {
            continue;  // offered but not delivered
        }
        saved.push_back({format, std::move(bytes)});
    }
    co_return saved;
}

void QtClipboard::setContents(const ClipboardContents& contents) {
    QClipboard* clipboard = systemClipboard();
    if (!clipboard) {
        return;
    }
    if (contents.empty()) {
        clear();
        return;
    }
    auto* data = new QMimeData;
    for (const ClipboardFormat& format : contents) {
        data->setData(format.name, format.data);
    }
    clipboard->setMimeData(data, QClipboard::Clipboard);
    remember(data);
    d_->requests->takeIfRefused();
}

void QtClipboard::clear() {
    QClipboard* clipboard = systemClipboard();
    if (!clipboard) {
        return;
    }
    // Owned with nothing in it, not given up: an offered text can only be given by the clipboard's
    // owner, whatever another program held is gone (giving up a clipboard we do not own does
    // nothing), and a copy made afterwards shows as the clipboard changing hands.
    auto* empty = new QMimeData;
    clipboard->setMimeData(empty, QClipboard::Clipboard);
    remember(empty);
    d_->requests->takeIfRefused();
}

void QtClipboard::setText(const QString& text) {
    if (QClipboard* clipboard = systemClipboard()) {
        clipboard->setText(text, QClipboard::Clipboard);
        remember(ownData());
        d_->requests->takeIfRefused();
    }
}

QCoro::Task<std::optional<QString>> QtClipboard::readText() {
    return readString(false);
}

QCoro::Task<std::optional<QString>> QtClipboard::readHtml() {
    return readString(true);
}

QCoro::Task<std::optional<QString>> QtClipboard::readString(bool html) {
    if (!systemClipboard()) {
        co_return std::nullopt;
    }
    if (!ownsClipboard()) {
        const std::shared_ptr<State> state = d_;
        const auto read = [state, html] {
            X11ClipboardReader& reader = state->foreignReader();
            return html ? reader.readHtml(readDeadline()) : reader.readText(readDeadline());
        };
        QFuture<std::optional<QString>> future = QtConcurrent::run(&state->readerThread, read);
        const std::optional<QString> foreign = co_await future;
        co_return foreign;
    }
    const QMimeData* data = ownData();
    if (!data || !(html ? data->hasHtml() : data->hasText())) {
        co_return std::nullopt;
    }
    co_return html ? data->html() : data->text();
}

std::unique_ptr<Clipboard> makeSystemClipboard(
    std::function<void(const QString& format, qsizetype size)> onFormatSkipped) {
    return std::make_unique<QtClipboard>(std::move(onFormatSkipped));
}

}  // namespace tavrolin
