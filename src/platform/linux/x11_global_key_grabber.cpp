#include "platform/linux/x11_global_key_grabber.h"

#include "core/app_log.h"
#include "platform/desktop_backend.h"

#include <QGuiApplication>
#include <QMetaObject>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
// xkb.h names a struct member "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <X11/keysym.h>
#include <array>
#include <cstdlib>
#include <memory>

namespace tavrolin {

namespace {

constexpr quint8 kBadAccess = 10;

template <typename T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter<T>>;

xcb_connection_t* xcb(void* connection) {
    return static_cast<xcb_connection_t*>(connection);
}

}  // namespace

std::unique_ptr<GlobalKeyGrabbing> makeSystemGlobalKeyGrabber() {
    return std::make_unique<X11GlobalKeyGrabber>();
}

X11GlobalKeyGrabber::X11GlobalKeyGrabber() {
    auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!app || !app->connection()) {
        return;
    }
    connection_ = app->connection();
    int screenNumber = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screenNumber) == 0) {
        screenNumber = 0;
    }
    std::free(host);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(xcb(connection_)));
    for (int i = 0; i < screenNumber && it.rem > 1; ++i) {
        xcb_screen_next(&it);
    }
    root_ = it.rem > 0 ? it.data->root : 0;
    if (root_ == 0) {
        connection_ = nullptr;
        return;
    }
    // Qt selects the XKB keyboard notices on its connection; we only read them as they pass.
    if (const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(xcb(connection_), &xcb_xkb_id);
        xkb && xkb->present) {
        xkbFirstEvent_ = xkb->first_event;
    }
    regrabTimer_.setSingleShot(true);
    regrabTimer_.setInterval(30);
    QObject::connect(&regrabTimer_, &QTimer::timeout, &context_, [this] { regrabAll(); });
    qGuiApp->installNativeEventFilter(this);
}

X11GlobalKeyGrabber::~X11GlobalKeyGrabber() {
    releaseAll();
    if (connection_ && qGuiApp) {
        qGuiApp->removeNativeEventFilter(this);
    }
}

bool X11GlobalKeyGrabber::isAvailable() const {
    return connection_ != nullptr;
}

void X11GlobalKeyGrabber::setPressedCallback(PressedCallback callback) {
    callback_ = std::move(callback);
}

void X11GlobalKeyGrabber::setGrabsLostCallback(GrabsLostCallback callback) {
    lostCallback_ = std::move(callback);
}

// Alt, Super and Num Lock sit on whichever of Mod1..Mod5 the modifier map gives them.
X11GlobalKeyGrabber::ModifierMasks X11GlobalKeyGrabber::readModifierMasks() const {
    ModifierMasks masks{XCB_MOD_MASK_1, XCB_MOD_MASK_4, XCB_MOD_MASK_2};
    auto* c = xcb(connection_);
    XcbReply<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    if (!mapping || !symbols) {
        if (symbols) {
            xcb_key_symbols_free(symbols);
        }
        return masks;
    }
    const int perModifier = mapping->keycodes_per_modifier;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
    ModifierMasks found;
    // Index 0..2 are Shift, Lock and Control; 3..7 are Mod1..Mod5.
    for (int modifier = 3; modifier < 8; ++modifier) {
        const quint16 mask = quint16(1u << modifier);
        for (int k = 0; k < perModifier; ++k) {
            const xcb_keycode_t code = codes[modifier * perModifier + k];
            if (code == 0) {
                continue;
            }
            for (int column = 0; column < 4; ++column) {
                const xcb_keysym_t sym = xcb_key_symbols_get_keysym(symbols, code, column);
                if ((sym == XK_Alt_L || sym == XK_Alt_R || sym == XK_Meta_L || sym == XK_Meta_R) && !found.alt) {
                    found.alt = mask;
                } else if ((sym == XK_Super_L || sym == XK_Super_R) && !found.super) {
                    found.super = mask;
                } else if (sym == XK_Num_Lock && !found.numLock) {
                    found.numLock = mask;
                }
            }
        }
    }
    xcb_key_symbols_free(symbols);
    if (found.alt) {
        masks.alt = found.alt;
    }
    if (found.super) {
        masks.super = found.super;
    }
    masks.numLock = found.numLock;  // a keyboard without Num Lock has no variant for it
    return masks;
}

std::vector<quint16> X11GlobalKeyGrabber::lockVariants() const {
    std::vector<quint16> variants{0, XCB_MOD_MASK_LOCK};
    if (masks_.numLock) {
        variants.push_back(masks_.numLock);
        variants.push_back(quint16(masks_.numLock | XCB_MOD_MASK_LOCK));
    }
    return variants;
}

void X11GlobalKeyGrabber::ungrab(const Grab& grab) {
    for (quint16 variant : lockVariants()) {
        xcb_ungrab_key(xcb(connection_), grab.keycode, root_, quint16(grab.modifiers | variant));
    }
    idByCombination_.erase({grab.keycode, grab.modifiers});
    keysDown_.erase(grab.keycode);
}

GlobalKeyGrabStatus X11GlobalKeyGrabber::grab(quint32 id, quint32 keysym, GlobalKeyModifiers modifiers) {
    if (!connection_) {
        return GlobalKeyGrabStatus::failed;
    }
    release(id);
    auto* c = xcb(connection_);
    masks_ = readModifierMasks();
    quint16 mask = 0;
    if (modifiers.control) {
        mask |= XCB_MOD_MASK_CONTROL;
    }
    if (modifiers.shift) {
        mask |= XCB_MOD_MASK_SHIFT;
    }
    if (modifiers.alt) {
        mask |= masks_.alt;
    }
    if (modifiers.super) {
        mask |= masks_.super;
    }

    std::vector<Grab> grabs;
    if (xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c)) {
        if (xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym)) {
            for (xcb_keycode_t* code = codes; *code != XCB_NO_SYMBOL; ++code) {
                grabs.push_back({*code, mask});
            }
            std::free(codes);
        }
        xcb_key_symbols_free(symbols);
    }
    if (grabs.empty()) {
        return GlobalKeyGrabStatus::noKeyCode;
    }
    for (const Grab& grab : grabs) {
        if (idByCombination_.contains({grab.keycode, grab.modifiers})) {
            return GlobalKeyGrabStatus::alreadyInUse;
        }
    }

    std::vector<xcb_void_cookie_t> cookies;
    for (const Grab& grab : grabs) {
        for (quint16 variant : lockVariants()) {
            cookies.push_back(xcb_grab_key_checked(c, 1, root_, quint16(mask | variant), grab.keycode,
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        }
    }
    GlobalKeyGrabStatus status = GlobalKeyGrabStatus::grabbed;
    for (xcb_void_cookie_t cookie : cookies) {
        XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
        if (error && status == GlobalKeyGrabStatus::grabbed) {
            status = error->error_code == kBadAccess ? GlobalKeyGrabStatus::alreadyInUse : GlobalKeyGrabStatus::failed;
        }
    }
    if (xcb_connection_has_error(c)) {
        status = GlobalKeyGrabStatus::failed;
    }
    if (status != GlobalKeyGrabStatus::grabbed) {
        // Ungrabbing only ever releases our own grabs: the other client's stay as they are.
        for (const Grab& grab : grabs) {
            for (quint16 variant : lockVariants()) {
                xcb_ungrab_key(c, grab.keycode, root_, quint16(grab.modifiers | variant));
            }
        }
        xcb_flush(c);
        return status;
    }
    for (const Grab& grab : grabs) {
        idByCombination_[{grab.keycode, grab.modifiers}] = id;
    }
    grabsById_[id] = std::move(grabs);
    requests_[id] = Request{keysym, modifiers};
    xcb_flush(c);
    return status;
}

void X11GlobalKeyGrabber::release(quint32 id) {
    requests_.erase(id);
    auto it = grabsById_.find(id);
    if (it == grabsById_.end()) {
        return;
    }
    for (const Grab& grab : it->second) {
        ungrab(grab);
    }
    grabsById_.erase(it);
    xcb_flush(xcb(connection_));
}

void X11GlobalKeyGrabber::releaseAll() {
    while (!grabsById_.empty()) {
        release(grabsById_.begin()->first);
    }
    lastReleaseTime_.clear();
}

bool X11GlobalKeyGrabber::isKeyboardMappingChange(const void* message) const {
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const quint8 type = event->response_type & 0x7f;
    if (type == XCB_MAPPING_NOTIFY) {
        const auto request = reinterpret_cast<const xcb_mapping_notify_event_t*>(event)->request;
        return request == XCB_MAPPING_KEYBOARD || request == XCB_MAPPING_MODIFIER;
    }
    if (xkbFirstEvent_ != 0 && type == xkbFirstEvent_) {
        // Every XKB event carries its kind in the second byte.
        const quint8 xkbType = event->pad0;
        return xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY;
    }
    return false;
}

void X11GlobalKeyGrabber::regrabAll() {
    if (requests_.empty()) {
        return;
    }
    const std::map<quint32, Request> requests = requests_;
    // The old grabs go with the keycodes and lock masks they were made with.
    for (const auto& [id, grabs] : grabsById_) {
        for (const Grab& grab : grabs) {
            ungrab(grab);
        }
    }
    grabsById_.clear();
    idByCombination_.clear();
    keysDown_.clear();
    lastReleaseTime_.clear();
    requests_.clear();
    xcb_flush(xcb(connection_));
    for (const auto& [id, request] : requests) {
        const GlobalKeyGrabStatus status = grab(id, request.keysym, request.modifiers);
        if (status != GlobalKeyGrabStatus::grabbed) {
            releaseAll();
            AppLog::app().error(QStringLiteral("global shortcuts lost after a keyboard change id=%1").arg(id));
            if (lostCallback_) {
                lostCallback_(id, status);
            }
            return;
        }
    }
    AppLog::app().info(
        QStringLiteral("global shortcuts grabbed again after a keyboard change count=%1").arg(requests.size()));
}

bool X11GlobalKeyGrabber::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message || idByCombination_.empty()) {
        return false;
    }
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if (isKeyboardMappingChange(event)) {
        regrabTimer_.start();  // Qt still sees the notice and updates its own keymap
        return false;
    }
    const quint8 type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) {
        return false;
    }
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
    if (key->root != root_) {
        return false;
    }
    const quint8 keycode = key->detail;
    if (type == XCB_KEY_RELEASE) {
        // The modifiers may already be up when the key comes up: our key is known by its code.
        if (!keysDown_.erase(keycode)) {
            return false;
        }
        lastReleaseTime_[keycode] = key->time;
        return true;
    }

    const quint16 relevant = quint16(XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_2 |
                                     XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5) &
                             quint16(~masks_.numLock);
    auto found = idByCombination_.find({keycode, quint16(key->state & relevant)});
    if (found == idByCombination_.end()) {
        return false;
    }
    const bool repeat =
        keysDown_.contains(keycode) || (lastReleaseTime_.contains(keycode) && lastReleaseTime_[keycode] == key->time);
    keysDown_.insert(keycode);
    if (repeat) {
        return true;
    }
    const quint32 id = found->second;
    QMetaObject::invokeMethod(
        &context_,
        [this, id] {
            if (callback_ && grabsById_.contains(id)) {
                callback_(id);
            }
        },
        Qt::QueuedConnection);
    return true;
}

}  // namespace tavrolin
