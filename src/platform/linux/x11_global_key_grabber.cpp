#include "platform/linux/x11_global_key_grabber.h"

#include "core/app_log.h"
#include "platform/desktop_backend.h"

#include <QGuiApplication>
#include <QMetaObject>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xcbext.h>  // xcb_poll_for_reply
// xkb.h names a struct member "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <X11/keysym.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>

namespace tavrolin {

namespace {

constexpr quint8 kBadAccess = 10;
// How often a shortcut set aside is tried again, and how soon the answer of a try is looked for.
constexpr auto kRetryInterval = std::chrono::seconds(3);
constexpr auto kRetryAnswerPoll = std::chrono::milliseconds(20);

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
    // Often enough to tell a release from the next press of a quick double tap.
    keyStateTimer_.setInterval(20);
    QObject::connect(&keyStateTimer_, &QTimer::timeout, &context_, [this] { checkKeysDown(); });
    QObject::connect(&retryTimer_, &QTimer::timeout, &context_, [this] { retrySetAside(); });
    qGuiApp->installNativeEventFilter(this);
}

X11GlobalKeyGrabber::~X11GlobalKeyGrabber() {
    releaseAll();
    if (retry_) {
        // Whatever the round took goes with us; ungrabbing what it did not take changes nothing.
        for (const auto& [id, grabs] : retry_->grabs) {
            for (const auto& [combination, sequence] : grabs) {
                xcb_discard_reply(xcb(connection_), sequence);
                ungrabCombinations({combination});
            }
        }
        xcb_discard_reply(xcb(connection_), retry_->fence);
    }
    if (keyStateRequest_) {
        xcb_discard_reply(xcb(connection_), *keyStateRequest_);
    }
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
    return grabRequest(id, keysym, modifiers, false);
}

GlobalKeyGrabStatus X11GlobalKeyGrabber::grabOrSetAside(quint32 id, quint32 keysym, GlobalKeyModifiers modifiers) {
    return grabRequest(id, keysym, modifiers, true);
}

GlobalKeyGrabStatus X11GlobalKeyGrabber::grabRequest(quint32 id, quint32 keysym, GlobalKeyModifiers modifiers,
                                                     bool setAside) {
    if (!connection_) {
        return GlobalKeyGrabStatus::failed;
    }
    release(id);
    requests_[id] = Request{keysym, modifiers};
    const Settled settled = settle();
    GlobalKeyGrabStatus status = GlobalKeyGrabStatus::grabbed;
    if (!settled.mapRead || settled.withoutKey.contains(id)) {
        status = GlobalKeyGrabStatus::noKeyCode;
    } else if (const auto refused = settled.refused.find(id); refused != settled.refused.end()) {
        status = refused->second;
    }
    if (status != GlobalKeyGrabStatus::grabbed && !(setAside && status == GlobalKeyGrabStatus::alreadyInUse)) {
        // Nothing of it is held: the refusal left its keys as they were.
        requests_.erase(id);
    }
    // A shortcut set aside is told of as one a keyboard change gave up.
    noteOutcome(settled, setAside ? std::nullopt : std::optional(id));
    return status;
}

void X11GlobalKeyGrabber::release(quint32 id) {
    requests_.erase(id);
    waiting_.erase(id);
    givenUp_.erase(id);
    setAsideCombinations_.erase(id);
    ++generation_;
    updateRetryTimer();
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
    givenUp_.clear();
    setAsideCombinations_.clear();
    lastReleaseTime_.clear();
    ++generation_;
    updateRetryTimer();
}

auto X11GlobalKeyGrabber::placeShortcuts(x11::KeyMap& keys, const ModifierMasks& masks) const -> Placement {
    Placement placed;
    // The shortcuts whose letter the layout in use has first; those placed where the US layout
    // has their letter take the keys left, so that no letter of the layout loses its own shortcut
    // to one of ours it does not have (two of ours never take one key).
    for (const bool byPosition : {false, true}) {
        for (const auto& [id, request] : requests_) {
            if (placed.wanted.contains(id)) {
                continue;
            }
            std::vector<quint8> keycodes = keys.inActiveGroup(request.keysym);
            if (byPosition != keycodes.empty()) {
                continue;
            }
            if (byPosition) {
                if (const std::optional<quint8> keycode = keys.atUsPosition(request.keysym)) {
                    keycodes.push_back(*keycode);
                } else {
                    placed.withoutKey.insert(id);
                    continue;
                }
            }
            const quint16 state = x11::modifierState(request.modifiers, masks);
            std::erase_if(keycodes, [&](quint8 keycode) { return placed.idByCombination.contains({keycode, state}); });
            if (keycodes.empty()) {
                continue;  // waits, ungrabbed, for a keyboard that has a key of its own for it
            }
            for (const quint8 keycode : keycodes) {
                placed.idByCombination.emplace(std::pair{keycode, state}, id);
            }
            placed.wanted[id] = x11::combinationsFor(keycodes, request.modifiers, masks);
        }
    }
    return placed;
}

auto X11GlobalKeyGrabber::settle() -> Settled {
    Settled settled;
    const ModifierMasks masks = readModifierMasks();
    x11::KeyMap keys(xcb(connection_));
    if (!keys.isValid()) {
        return settled;  // the map could not be read: the grabs of before are the best there are
    }
    settled.mapRead = true;
    ++generation_;
    group_ = keys.group();
    Placement placed = placeShortcuts(keys, masks);
    settled.withoutKey = std::move(placed.withoutKey);

    std::set<KeyCombination> held;
    for (const auto& [id, combinations] : grabsById_) {
        held.insert(combinations.begin(), combinations.end());
    }
    // The new grabs first: until the old ones go, a chord finds one or the other.
    for (auto it = placed.wanted.begin(); it != placed.wanted.end();) {
        const std::vector<KeyCombination> added =
            x11::keyGrabChanges(held, std::set<KeyCombination>(it->second.begin(), it->second.end())).grab;
        const GlobalKeyGrabStatus status = added.empty() ? GlobalKeyGrabStatus::grabbed : grabCombinations(added);
        if (status != GlobalKeyGrabStatus::grabbed) {
            const quint32 id = it->first;
            settled.refused[id] = status;
            settled.refusedCombinations[id] = it->second;
            std::erase_if(placed.idByCombination, [id](const auto& entry) { return entry.second == id; });
            it = placed.wanted.erase(it);
            continue;
        }
        settled.grabbed += added.empty() ? 0 : 1;
        ++it;
    }
    std::set<KeyCombination> all;
    for (const auto& [id, combinations] : placed.wanted) {
        all.insert(combinations.begin(), combinations.end());
    }
    const std::vector<KeyCombination> released = x11::keyGrabChanges(held, all).release;
    ungrabCombinations(released);
    settled.changed = settled.grabbed > 0 || !released.empty();
    masks_ = masks;
    grabsById_ = std::move(placed.wanted);
    idByCombination_ = std::move(placed.idByCombination);
    std::erase_if(keysDown_, [this](quint8 keycode) { return !isOurKeycode(keycode); });
    std::erase_if(lastReleaseTime_, [this](const auto& entry) { return !isOurKeycode(entry.first); });
    return settled;
}

auto X11GlobalKeyGrabber::reportedKeys(quint32 id, const std::vector<KeyCombination>& combinations) const
    -> std::vector<ReportedKey> {
    const auto request = requests_.find(id);
    if (request == requests_.end()) {
        return {};
    }
    const GlobalKeyModifiers& m = request->second.modifiers;
    const quint8 bits = quint8((m.control ? 1 : 0) | (m.shift ? 2 : 0) | (m.alt ? 4 : 0) | (m.super ? 8 : 0));
    std::set<ReportedKey> keys;  // one per key: the lock variants share it
    for (const KeyCombination& combination : combinations) {
        keys.emplace(request->second.keysym, bits, combination.keycode);
    }
    return {keys.begin(), keys.end()};
}

void X11GlobalKeyGrabber::noteOutcome(const Settled& settled, std::optional<quint32> registering) {
    if (!settled.mapRead) {
        return;
    }
    std::set<quint32> waiting;
    std::set<quint32> givenUp;
    for (const auto& [id, request] : requests_) {
        if (settled.refused.contains(id)) {
            givenUp.insert(id);
        } else if (!grabsById_.contains(id)) {
            waiting.insert(id);
        }
        if (const auto grabs = grabsById_.find(id); grabs != grabsById_.end()) {
            for (const ReportedKey& key : reportedKeys(id, grabs->second)) {
                reported_.erase(key);  // it worked on that key: a later loss of it is news again
            }
        }
        if (id == registering) {
            continue;
        }
        if (waiting.contains(id) && !waiting_.contains(id)) {
            AppLog::app().error(
                QStringLiteral("global shortcut waits for a key after a keyboard change id=%1 keysym=0x%2")
                    .arg(id)
                    .arg(request.keysym, 0, 16));
        }
        if (givenUp.contains(id)) {
            noteSetAside(id, settled.refused.at(id), settled.refusedCombinations.at(id));
        }
        if (grabsById_.contains(id) && (waiting_.contains(id) || givenUp_.contains(id))) {
            AppLog::app().info(QStringLiteral("global shortcut grabbed again after a keyboard change id=%1").arg(id));
        }
    }
    std::erase_if(setAsideCombinations_, [&](const auto& entry) { return !givenUp.contains(entry.first); });
    waiting_ = std::move(waiting);
    givenUp_ = std::move(givenUp);
    updateRetryTimer();
}

void X11GlobalKeyGrabber::noteSetAside(quint32 id, GlobalKeyGrabStatus status,
                                       const std::vector<KeyCombination>& combinations) {
    setAsideCombinations_[id] = combinations;
    if (!givenUp_.contains(id)) {
        AppLog::app().error(QStringLiteral("global shortcut set aside, another program holds its key id=%1").arg(id));
    }
    // Told once per key: a layout switched back and forth does not repeat it.
    const std::vector<ReportedKey> keys = reportedKeys(id, combinations);
    if (std::ranges::all_of(keys, [this](const ReportedKey& key) { return reported_.contains(key); })) {
        return;
    }
    reported_.insert(keys.begin(), keys.end());
    QMetaObject::invokeMethod(
        &context_,
        [this, id, status] {
            if (lostCallback_ && givenUp_.contains(id)) {
                lostCallback_(id, status);
            }
        },
        Qt::QueuedConnection);
}

void X11GlobalKeyGrabber::updateRetryTimer() {
    if (retry_) {
        if (!retryTimer_.isActive() || retryTimer_.intervalAsDuration() != kRetryAnswerPoll) {
            retryTimer_.start(kRetryAnswerPoll);
        }
    } else if (givenUp_.empty()) {
        retryTimer_.stop();
    } else if (!retryTimer_.isActive() || retryTimer_.intervalAsDuration() != kRetryInterval) {
        retryTimer_.start(kRetryInterval);
    }
}

void X11GlobalKeyGrabber::retrySetAside() {
    auto* c = xcb(connection_);
    if (retry_) {
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (!xcb_poll_for_reply(c, retry_->fence, &reply, &error)) {
            return;  // not answered yet
        }
        std::free(reply);
        std::free(error);
        const RetryRound round = std::move(*retry_);
        retry_.reset();
        takeRetryAnswer(round);
    } else if (!givenUp_.empty()) {
        RetryRound round;
        round.generation = generation_;
        for (const quint32 id : givenUp_) {
            const auto combinations = setAsideCombinations_.find(id);
            if (combinations == setAsideCombinations_.end()) {
                continue;
            }
            for (const KeyCombination& combination : combinations->second) {
                const xcb_void_cookie_t cookie = xcb_grab_key_checked(
                    c, 1, root_, combination.modifiers, combination.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
                round.grabs[id].emplace_back(combination, cookie.sequence);
            }
        }
        round.fence = xcb_get_input_focus(c).sequence;
        xcb_flush(c);
        retry_ = std::move(round);
    }
    updateRetryTimer();
}

// The fence is answered: so is every grab of the round, and checking them does not wait.
void X11GlobalKeyGrabber::takeRetryAnswer(const RetryRound& round) {
    auto* c = xcb(connection_);
    std::set<KeyCombination> held;
    for (const auto& [id, combinations] : grabsById_) {
        held.insert(combinations.begin(), combinations.end());
    }
    for (const auto& [id, grabs] : round.grabs) {
        std::vector<KeyCombination> combinations;
        std::vector<KeyCombination> taken;
        for (const auto& [combination, sequence] : grabs) {
            XcbReply<xcb_generic_error_t> error(xcb_request_check(c, xcb_void_cookie_t{sequence}));
            combinations.push_back(combination);
            if (!error) {
                taken.push_back(combination);
            }
        }
        // Placed anew since the round was sent: that placement stands, the round's keys go.
        const bool current = round.generation == generation_ && givenUp_.contains(id) && requests_.contains(id);
        if (current && taken.size() == combinations.size()) {
            const quint16 state = x11::modifierState(requests_.at(id).modifiers, masks_);
            for (const KeyCombination& combination : combinations) {
                idByCombination_.emplace(std::pair{combination.keycode, state}, id);
            }
            grabsById_[id] = combinations;
            for (const ReportedKey& key : reportedKeys(id, combinations)) {
                reported_.erase(key);
            }
            givenUp_.erase(id);
            setAsideCombinations_.erase(id);
            AppLog::app().info(QStringLiteral("global shortcut grabbed again, its key is free id=%1").arg(id));
            continue;
        }
        std::erase_if(taken, [&](const KeyCombination& combination) { return held.contains(combination); });
        ungrabCombinations(taken);
    }
}

void X11GlobalKeyGrabber::followKeyboardChange() {
    if (requests_.empty()) {
        return;
    }
    const Settled settled = settle();
    noteOutcome(settled, std::nullopt);
    if (settled.changed) {
        AppLog::app().info(
            QStringLiteral("global shortcuts grabbed again after a keyboard change count=%1").arg(settled.grabbed));
    }
}

bool X11GlobalKeyGrabber::isOurKeycode(quint8 keycode) const {
    for (const auto& [combination, id] : idByCombination_) {
        if (combination.first == keycode) {
            return true;
        }
    }
    return false;
}

bool X11GlobalKeyGrabber::isKeyboardChange(const void* message) const {
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const quint8 type = event->response_type & 0x7f;
    if (type == XCB_MAPPING_NOTIFY) {
        const auto request = reinterpret_cast<const xcb_mapping_notify_event_t*>(event)->request;
        return request == XCB_MAPPING_KEYBOARD || request == XCB_MAPPING_MODIFIER;
    }
    if (xkbFirstEvent_ != 0 && type == xkbFirstEvent_) {
        // Every XKB event carries its kind in the second byte.
        const quint8 xkbType = event->pad0;
        if (xkbType == XCB_XKB_STATE_NOTIFY) {
            // At every modifier too: only another layout moves the shortcuts.
            return reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event)->group != group_;
        }
        return xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY;
    }
    return false;
}

void X11GlobalKeyGrabber::checkKeysDown() {
    auto* c = xcb(connection_);
    if (keyStateRequest_) {
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (!xcb_poll_for_reply(c, *keyStateRequest_, &reply, &error)) {
            return;  // not answered yet
        }
        keyStateRequest_.reset();
        std::free(error);
        XcbReply<xcb_query_keymap_reply_t> state(static_cast<xcb_query_keymap_reply_t*>(reply));
        if (state) {
            std::erase_if(keysDown_, [&](quint8 keycode) {
                const bool up = !(state->keys[keycode / 8] & (1u << (keycode % 8)));
                if (up) {
                    upUnseen_.insert(keycode);
                }
                return up;
            });
        }
    }
    if (keysDown_.empty()) {
        keyStateTimer_.stop();
        return;
    }
    keyStateRequest_ = xcb_query_keymap(c).sequence;
    xcb_flush(c);
}

bool X11GlobalKeyGrabber::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message || requests_.empty()) {
        return false;
    }
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if (isKeyboardChange(event)) {
        followTimer_.start();  // Qt still sees the notice and updates its own keymap
        return false;
    }
    const quint8 type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) {
        return false;
    }
    return filterKey(type, event);
}

bool X11GlobalKeyGrabber::filterKey(quint8 type, const void* event) {
    const auto* key = static_cast<const xcb_key_press_event_t*>(event);
    if (key->root != root_) {
        return false;
    }
    const quint8 keycode = key->detail;
    if (type == XCB_KEY_RELEASE) {
        // The modifiers may already be up when the key comes up: our key is known by its code.
        if (!keysDown_.erase(keycode) && !upUnseen_.erase(keycode)) {
            return false;
        }
        lastReleaseTime_[keycode] = key->time;
        return true;
    }

    const quint16 relevant = quint16(XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_2 |
                                     XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5) &
                             quint16(~masks_.numLock);
    // A release still to come is this press's, whoever it is for.
    upUnseen_.erase(keycode);
    auto found = idByCombination_.find({keycode, quint16(key->state & relevant)});
    if (found == idByCombination_.end()) {
        return false;
    }
    if (keysDown_.contains(keycode) && keyStateRequest_) {
        checkKeysDown();  // an answer read with this press tells whether the key came up before it
        upUnseen_.erase(keycode);
    }
    const bool repeat =
        keysDown_.contains(keycode) || (lastReleaseTime_.contains(keycode) && lastReleaseTime_[keycode] == key->time);
    keysDown_.insert(keycode);
    if (!keyStateTimer_.isActive()) {
        keyStateTimer_.start();
    }
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
