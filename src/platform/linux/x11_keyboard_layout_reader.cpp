#include "platform/linux/x11_keyboard_layout_reader.h"

#include "platform/desktop_backend.h"

#include <xcb/xcb.h>
// xkb.h names a struct member "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace tavrolin {

namespace {

template <typename T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

class X11KeyboardLayoutReader final : public KeyboardLayoutReading {
public:
    ~X11KeyboardLayoutReader() override {
        std::lock_guard lock(mutex_);
        disconnectLocked();
    }

    std::optional<KeyboardLayouts> currentLayouts() override {
        std::lock_guard lock(mutex_);
        if (!connectLocked()) {
            return std::nullopt;
        }
        KeyboardLayouts result;
        if (!readRulesNamesLocked(result)) {
            return std::nullopt;
        }
        result.activeGroup = activeGroupLocked().value_or(0);
        if (connection_ && xcb_connection_has_error(connection_)) {
            disconnectLocked();
            return std::nullopt;
        }
        return result;
    }

    QList<quint32> unshiftedKeysyms(quint32 keycode) override { return keysymsAtLevel(keycode, 0); }
    QList<quint32> shiftedKeysyms(quint32 keycode) override { return keysymsAtLevel(keycode, 1); }

private:
    // The symbols of one level (0 unshifted, 1 shifted) of every group, the active group first.
    QList<quint32> keysymsAtLevel(quint32 keycode, int level) {
        std::lock_guard lock(mutex_);
        if (!connectLocked() || keycode < minKeycode_ || keycode > maxKeycode_) {
            return {};
        }
        const auto code = static_cast<xcb_keycode_t>(keycode);
        QList<quint32> result;
        auto add = [&](xcb_keysym_t sym) {
            if (sym != XCB_NO_SYMBOL && !result.contains(sym)) {
                result.append(sym);
            }
        };
        if (!hasXkb_) {
            // Without the extension only the core mapping is there: its first two columns are
            // the unshifted and shifted symbols of the first group.
            Reply<xcb_get_keyboard_mapping_reply_t> mapping(
                xcb_get_keyboard_mapping_reply(connection_, xcb_get_keyboard_mapping(connection_, code, 1), nullptr));
            if (!mapping) {
                dropIfBrokenLocked();
                return {};
            }
            if (xcb_get_keyboard_mapping_keysyms_length(mapping.get()) > level) {
                add(xcb_get_keyboard_mapping_keysyms(mapping.get())[level]);
            }
            return result;
        }

        Reply<xcb_xkb_get_map_reply_t> map(
            xcb_xkb_get_map_reply(connection_,
                                  xcb_xkb_get_map(connection_, XCB_XKB_ID_USE_CORE_KBD, 0, XCB_XKB_MAP_PART_KEY_SYMS, 0,
                                                  0, code, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
                                  nullptr));
        if (!map || !(map->present & XCB_XKB_MAP_PART_KEY_SYMS) || map->nKeySyms < 1) {
            dropIfBrokenLocked();
            return {};
        }
        xcb_xkb_get_map_map_t parts{};
        xcb_xkb_get_map_map_unpack(xcb_xkb_get_map_map(map.get()), map->nTypes, map->nKeySyms, map->nKeyActions,
                                   map->totalActions, map->totalKeyBehaviors, map->virtualMods, map->totalKeyExplicit,
                                   map->totalModMapKeys, map->totalVModMapKeys, map->present, &parts);
        xcb_xkb_key_sym_map_iterator_t it = xcb_xkb_get_map_map_syms_rtrn_iterator(map.get(), &parts);
        if (!it.rem) {
            return {};
        }
        const xcb_xkb_key_sym_map_t* keyMap = it.data;
        const int groups = keyMap->groupInfo & 0x0f;
        const int width = keyMap->width;
        const int symCount = xcb_xkb_key_sym_map_syms_length(keyMap);
        const xcb_keysym_t* syms = xcb_xkb_key_sym_map_syms(keyMap);
        // Symbols are stored group by group, `width` levels each; the first is the unshifted one.
        auto atLevel = [&](int group) {
            const int index = group * width + level;
            if (group < groups && level < width && index < symCount) {
                add(syms[index]);
            }
        };
        atLevel(activeGroupLocked().value_or(0));
        for (int group = 0; group < groups; ++group) {
            atLevel(group);
        }
        return result;
    }

    bool connectLocked() {
        if (connection_ && xcb_connection_has_error(connection_)) {
            disconnectLocked();
        }
        if (connection_) {
            return true;
        }
        int screenNumber = 0;
        xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
        if (!connection || xcb_connection_has_error(connection)) {
            if (connection) {
                xcb_disconnect(connection);
            }
            return false;
        }
        const xcb_setup_t* setup = xcb_get_setup(connection);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < screenNumber && it.rem; ++i) {
            xcb_screen_next(&it);
        }
        if (!it.rem) {
            xcb_disconnect(connection);
            return false;
        }
        connection_ = connection;
        root_ = it.data->root;
        minKeycode_ = setup->min_keycode;
        maxKeycode_ = setup->max_keycode;

        Reply<xcb_xkb_use_extension_reply_t> xkb(xcb_xkb_use_extension_reply(
            connection_, xcb_xkb_use_extension(connection_, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr));
        hasXkb_ = xkb && xkb->supported;

        Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 1, std::strlen("_XKB_RULES_NAMES"), "_XKB_RULES_NAMES"),
            nullptr));
        rulesNamesAtom_ = atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
        return true;
    }

    void disconnectLocked() {
        if (connection_) {
            xcb_disconnect(connection_);
            connection_ = nullptr;
        }
    }

    void dropIfBrokenLocked() {
        if (connection_ && xcb_connection_has_error(connection_)) {
            disconnectLocked();
        }
    }

    // The rules names property holds NUL-separated fields: rules, model, layouts, variants,
    // options; layouts and variants are comma-separated lists in group order.
    bool readRulesNamesLocked(KeyboardLayouts& result) {
        if (rulesNamesAtom_ == XCB_ATOM_NONE) {
            return false;
        }
        Reply<xcb_get_property_reply_t> property(xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, root_, rulesNamesAtom_, XCB_ATOM_STRING, 0, 4096), nullptr));
        if (!property || property->type != XCB_ATOM_STRING || property->format != 8) {
            dropIfBrokenLocked();
            return false;
        }
        const int length = xcb_get_property_value_length(property.get());
        const QByteArray bytes(static_cast<const char*>(xcb_get_property_value(property.get())), length);
        const QList<QByteArray> fields = bytes.split('\0');
        auto listAt = [&](int index) {
            QStringList items;
            if (index < fields.size()) {
                for (const QByteArray& item : fields.at(index).split(',')) {
                    items.append(QString::fromLatin1(item).trimmed());
                }
            }
            return items;
        };
        result.layouts = listAt(2);
        result.variants = listAt(3);
        if (result.layouts.size() == 1 && result.layouts.first().isEmpty()) {
            result.layouts.clear();
        }
        return true;
    }

    std::optional<int> activeGroupLocked() {
        if (!hasXkb_) {
            return std::nullopt;
        }
        Reply<xcb_xkb_get_state_reply_t> state(
            xcb_xkb_get_state_reply(connection_, xcb_xkb_get_state(connection_, XCB_XKB_ID_USE_CORE_KBD), nullptr));
        if (!state) {
            dropIfBrokenLocked();
            return std::nullopt;
        }
        return static_cast<int>(state->group);
    }

    std::mutex mutex_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    xcb_atom_t rulesNamesAtom_ = XCB_ATOM_NONE;
    quint32 minKeycode_ = 0;
    quint32 maxKeycode_ = 0;
    bool hasXkb_ = false;
};

}  // namespace

std::unique_ptr<KeyboardLayoutReading> createKeyboardLayoutReader() {
    return std::make_unique<X11KeyboardLayoutReader>();
}

std::shared_ptr<KeyboardLayoutReading> systemKeyboardLayoutReader() {
    static const std::shared_ptr<KeyboardLayoutReading> reader = createKeyboardLayoutReader();
    return reader;
}

bool lockKeyboardGroup(int group) {
    if (group < 0 || group > 3) {
        return false;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection) {
            xcb_disconnect(connection);
        }
        return false;
    }
    bool accepted = false;
    Reply<xcb_xkb_use_extension_reply_t> xkb(xcb_xkb_use_extension_reply(
        connection, xcb_xkb_use_extension(connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr));
    if (xkb && xkb->supported) {
        const xcb_void_cookie_t cookie = xcb_xkb_latch_lock_state_checked(
            connection, XCB_XKB_ID_USE_CORE_KBD, 0, 0, /*lockGroup=*/1, static_cast<uint8_t>(group), 0, 0, 0);
        Reply<xcb_generic_error_t> error(xcb_request_check(connection, cookie));
        accepted = !error && !xcb_connection_has_error(connection);
    }
    xcb_disconnect(connection);
    return accepted;
}

}  // namespace tavrolin
