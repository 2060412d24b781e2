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
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

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
    // At once: a layout that moved a shortcut's key leaves it ungrabbed until then. A burst of
    // notices is read once, after the last of the burst already queued.
    followTimer_.setSingleShot(true);
    followTimer_.setInterval(0);
    QObject::connect(&followTimer_, &QTimer::timeout, &context_, [this] { followKeyboardChange(); });
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

namespace {

// The keys that produce `keysym` in the keyboard map `symbols` was read from.
std::vector<quint8> keycodesOf(xcb_key_symbols_t* symbols, quint32 keysym) {
    std::vector<quint8> keycodes;
    if (xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym)) {
        for (xcb_keycode_t* code = codes; *code != XCB_NO_SYMBOL; ++code) {
            keycodes.push_back(*code);
        }
        std::free(codes);
    }
    return keycodes;
}

// The keycode of each key by its XKB name ("AD02"): where a key sits, whatever it makes.
std::map<std::string, quint8> readKeyPositions(xcb_connection_t* c) {
    std::map<std::string, quint8> positions;
    XcbReply<xcb_xkb_get_names_reply_t> reply(xcb_xkb_get_names_reply(
        c, xcb_xkb_get_names(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_NAME_DETAIL_KEY_NAMES), nullptr));
    if (!reply) {
        return positions;  // no XKB on the connection
    }
    xcb_xkb_get_names_value_list_t names{};
    xcb_xkb_get_names_value_list_unpack(xcb_xkb_get_names_value_list(reply.get()), reply->nTypes, reply->indicators,
                                        reply->virtualMods, reply->groupNames, reply->nKeys, reply->nKeyAliases,
                                        reply->nRadioGroups, reply->which, &names);
    for (int i = 0; names.keyNames && i < reply->nKeys; ++i) {
        const char* name = names.keyNames[i].name;
        positions.emplace(std::string(name, strnlen(name, sizeof names.keyNames[i].name)), quint8(reply->firstKey + i));
    }
    return positions;
}

}  // namespace

// The keyboard map of one moment, to find the keys of the shortcuts in.
class X11GlobalKeyGrabber::KeyMap {
public:
    explicit KeyMap(xcb_connection_t* connection)
        : connection_(connection), symbols_(xcb_key_symbols_alloc(connection)) {}
    ~KeyMap() {
        if (symbols_) {
            xcb_key_symbols_free(symbols_);
        }
    }
    KeyMap(const KeyMap&) = delete;
    KeyMap& operator=(const KeyMap&) = delete;

    bool isValid() const { return symbols_ != nullptr; }

    // The keys that make `keysym` in any group of the map: a shortcut follows its letter to
    // wherever the layout puts it (Control+Shift+Z is the key labelled Z on a German keyboard).
    std::vector<quint8> producing(quint32 keysym) const { return keycodesOf(symbols_, keysym); }

    // A letter no layout of the map has (Russian alone) is the key where it sits in the US
    // layout, as the toolkits' own shortcuts do: Control+Shift+W is then the key labelled W and
    // Ц. Absent where the keyboard has no key named for that place.
    std::optional<quint8> atUsPosition(quint32 keysym) {
        const std::optional<std::string> place = x11::usKeyPosition(keysym);
        if (!place) {
            return std::nullopt;
        }
        if (!positions_) {
            positions_ = readKeyPositions(connection_);
        }
        const auto found = positions_->find(*place);
        return found == positions_->end() ? std::nullopt : std::optional<quint8>(found->second);
    }

private:
    xcb_connection_t* connection_;
    xcb_key_symbols_t* symbols_;
    std::optional<std::map<std::string, quint8>> positions_;  // read when first needed
};

GlobalKeyGrabStatus X11GlobalKeyGrabber::grabCombinations(const std::vector<KeyCombination>& combinations) {
    auto* c = xcb(connection_);
    std::vector<xcb_void_cookie_t> cookies;
    for (const KeyCombination& combination : combinations) {
        cookies.push_back(xcb_grab_key_checked(c, 1, root_, combination.modifiers, combination.keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
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
        ungrabCombinations(combinations);
    }
    return status;
}

void X11GlobalKeyGrabber::ungrabCombinations(const std::vector<KeyCombination>& combinations) {
    for (const KeyCombination& combination : combinations) {
        xcb_ungrab_key(xcb(connection_), combination.keycode, root_, combination.modifiers);
    }
    xcb_flush(xcb(connection_));
}

GlobalKeyGrabStatus X11GlobalKeyGrabber::grab(quint32 id, quint32 keysym, GlobalKeyModifiers modifiers) {
    if (!connection_) {
        return GlobalKeyGrabStatus::failed;
    }
    release(id);
    masks_ = readModifierMasks();
    std::vector<quint8> keycodes;
    KeyMap keys(xcb(connection_));
    if (keys.isValid()) {
        keycodes = keys.producing(keysym);
        if (keycodes.empty()) {
            if (const std::optional<quint8> keycode = keys.atUsPosition(keysym)) {
                keycodes.push_back(*keycode);
            }
        }
    }
    if (keycodes.empty()) {
        return GlobalKeyGrabStatus::noKeyCode;
    }
    const quint16 state = x11::modifierState(modifiers, masks_);
    for (const quint8 keycode : keycodes) {
        if (idByCombination_.contains({keycode, state})) {
            return GlobalKeyGrabStatus::alreadyInUse;
        }
    }
    std::vector<KeyCombination> combinations = x11::combinationsFor(keycodes, modifiers, masks_);
    const GlobalKeyGrabStatus status = grabCombinations(combinations);
    if (status != GlobalKeyGrabStatus::grabbed) {
        return status;
    }
    for (const quint8 keycode : keycodes) {
        idByCombination_[{keycode, state}] = id;
    }
    grabsById_[id] = std::move(combinations);
    requests_[id] = Request{keysym, modifiers};
    return status;
}

void X11GlobalKeyGrabber::release(quint32 id) {
    requests_.erase(id);
    waiting_.erase(id);
    auto it = grabsById_.find(id);
    if (it == grabsById_.end()) {
        return;
    }
    ungrabCombinations(it->second);
    for (const KeyCombination& combination : it->second) {
        keysDown_.erase(combination.keycode);
    }
    std::erase_if(idByCombination_, [id](const auto& entry) { return entry.second == id; });
    grabsById_.erase(it);
}

void X11GlobalKeyGrabber::releaseAll() {
    while (!grabsById_.empty()) {
        release(grabsById_.begin()->first);
    }
    requests_.clear();
    waiting_.clear();
    lastReleaseTime_.clear();
}

void X11GlobalKeyGrabber::loseAll(quint32 id, GlobalKeyGrabStatus status) {
    releaseAll();
    AppLog::app().error(QStringLiteral("global shortcuts lost after a keyboard change id=%1").arg(id));
    if (lostCallback_) {
        lostCallback_(id, status);
    }
}

auto X11GlobalKeyGrabber::placeShortcuts(KeyMap& keys, const ModifierMasks& masks) const -> Placement {
    Placement placed;
    // The shortcuts whose letter has a key first; those placed where the US layout has their
    // letter take the keys left, so that no letter of the layout loses its own shortcut.
    for (const bool byPosition : {false, true}) {
        for (const auto& [id, request] : requests_) {
            if (placed.wanted.contains(id)) {
                continue;
            }
            std::vector<quint8> keycodes = keys.producing(request.keysym);
            if (byPosition != keycodes.empty()) {
                continue;
            }
            if (byPosition) {
                if (const std::optional<quint8> keycode = keys.atUsPosition(request.keysym)) {
                    keycodes.push_back(*keycode);
                }
            }
            const quint16 state = x11::modifierState(request.modifiers, masks);
            const bool taken = std::any_of(keycodes.begin(), keycodes.end(), [&](quint8 keycode) {
                return placed.idByCombination.contains({keycode, state});
            });
            if (taken && !byPosition) {
                placed.inUse = id;
                return placed;
            }
            if (taken || keycodes.empty()) {
                continue;  // waits, ungrabbed, for a keyboard that has a key for it
            }
            for (const quint8 keycode : keycodes) {
                placed.idByCombination.emplace(std::pair{keycode, state}, id);
            }
            placed.wanted[id] = x11::combinationsFor(keycodes, request.modifiers, masks);
        }
    }
    return placed;
}

void X11GlobalKeyGrabber::noteWaitingShortcuts(const std::map<quint32, std::vector<KeyCombination>>& wanted) {
    std::set<quint32> waiting;
    for (const auto& [id, request] : requests_) {
        if (!wanted.contains(id)) {
            waiting.insert(id);
            if (!waiting_.contains(id)) {
                AppLog::app().error(
                    QStringLiteral("global shortcut waits for a key after a keyboard change id=%1 keysym=0x%2")
                        .arg(id)
                        .arg(request.keysym, 0, 16));
            }
        }
    }
    waiting_ = std::move(waiting);
}

void X11GlobalKeyGrabber::followKeyboardChange() {
    if (requests_.empty()) {
        return;
    }
    const ModifierMasks masks = readModifierMasks();
    KeyMap keys(xcb(connection_));
    if (!keys.isValid()) {
        return;  // the map could not be read: the grabs of before are the best there are
    }
    Placement placed = placeShortcuts(keys, masks);
    if (placed.inUse) {
        loseAll(*placed.inUse, GlobalKeyGrabStatus::alreadyInUse);
        return;
    }
    std::map<quint32, std::vector<KeyCombination>>& wanted = placed.wanted;
    noteWaitingShortcuts(wanted);

    std::set<KeyCombination> held;
    for (const auto& [id, combinations] : grabsById_) {
        held.insert(combinations.begin(), combinations.end());
    }
    std::set<KeyCombination> all;
    for (const auto& [id, combinations] : wanted) {
        all.insert(combinations.begin(), combinations.end());
    }
    const x11::KeyGrabChanges changes = x11::keyGrabChanges(held, all);
    masks_ = masks;
    if (changes.empty()) {
        return;
    }
    // The new grabs first: until the old ones go, a chord finds one or the other.
    int moved = 0;
    for (const auto& [id, combinations] : wanted) {
        const std::vector<KeyCombination> added =
            x11::keyGrabChanges(held, std::set<KeyCombination>(combinations.begin(), combinations.end())).grab;
        if (added.empty()) {
            continue;
        }
        const GlobalKeyGrabStatus status = grabCombinations(added);
        if (status != GlobalKeyGrabStatus::grabbed) {
            // What this change grabbed so far is ours to release with the rest.
            for (const auto& [earlier, theirs] : wanted) {
                if (earlier == id) {
                    break;
                }
                ungrabCombinations(
                    x11::keyGrabChanges(held, std::set<KeyCombination>(theirs.begin(), theirs.end())).grab);
            }
            loseAll(id, status);
            return;
        }
        ++moved;
    }
    ungrabCombinations(changes.release);
    grabsById_ = std::move(wanted);
    idByCombination_ = std::move(placed.idByCombination);
    std::erase_if(keysDown_, [this](quint8 keycode) { return !isOurKeycode(keycode); });
    std::erase_if(lastReleaseTime_, [this](const auto& entry) { return !isOurKeycode(entry.first); });
    AppLog::app().info(QStringLiteral("global shortcuts grabbed again after a keyboard change count=%1").arg(moved));
}

bool X11GlobalKeyGrabber::isOurKeycode(quint8 keycode) const {
    for (const auto& [combination, id] : idByCombination_) {
        if (combination.first == keycode) {
            return true;
        }
    }
    return false;
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

bool X11GlobalKeyGrabber::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message || requests_.empty()) {
        return false;
    }
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if (isKeyboardMappingChange(event)) {
        followTimer_.start();  // Qt still sees the notice and updates its own keymap
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
