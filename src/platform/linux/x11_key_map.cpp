#include "platform/linux/x11_key_map.h"

#include "platform/linux/key_grab_plan.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>
// xkb.h names a struct member "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace tavrolin::x11 {

namespace {

template <typename T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

// The keycode of each key by its XKB name ("AD02"): where a key sits, whatever it makes.
std::map<std::string, quint8> readKeyPositions(xcb_connection_t* c) {
    std::map<std::string, quint8> positions;
    XcbReply<xcb_xkb_get_names_reply_t> reply(
        xcb_xkb_get_names_reply(c, xcb_xkb_get_names(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_NAME_DETAIL_KEY_NAMES),
                                nullptr),
        &std::free);
    if (!reply) {
        return positions;
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

// A Latin letter's other case; any other keysym itself.
quint32 otherCase(quint32 keysym) {
    if (keysym >= 'a' && keysym <= 'z') {
        return keysym - 'a' + 'A';
    }
    if (keysym >= 'A' && keysym <= 'Z') {
        return keysym - 'A' + 'a';
    }
    return keysym;
}

}  // namespace

KeyMap::KeyMap(xcb_connection_t* connection) : connection_(connection) {
    auto* c = connection;
    const xcb_setup_t* setup = xcb_get_setup(c);
    const auto stateCookie = xcb_xkb_get_state(c, XCB_XKB_ID_USE_CORE_KBD);
    const auto mapCookie =
        xcb_xkb_get_map(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_MAP_PART_KEY_SYMS, 0, 0, 0, setup->min_keycode,
                        quint8(setup->max_keycode - setup->min_keycode + 1), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    XcbReply<xcb_xkb_get_state_reply_t> state(xcb_xkb_get_state_reply(c, stateCookie, nullptr), &std::free);
    XcbReply<xcb_xkb_get_map_reply_t> map(xcb_xkb_get_map_reply(c, mapCookie, nullptr), &std::free);
    if (!state || !map) {
        return;
    }
    group_ = state->group;
    xcb_xkb_get_map_map_t parts{};
    xcb_xkb_get_map_map_unpack(xcb_xkb_get_map_map(map.get()), map->nTypes, map->nKeySyms, map->nKeyActions,
                               map->totalActions, map->totalKeyBehaviors, map->virtualMods, map->totalKeyExplicit,
                               map->totalModMapKeys, map->totalVModMapKeys, map->present, &parts);
    xcb_xkb_key_sym_map_iterator_t it = xcb_xkb_get_map_map_syms_rtrn_iterator(map.get(), &parts);
    for (int i = 0; i < map->nKeySyms && it.rem > 0; ++i, xcb_xkb_key_sym_map_next(&it)) {
        const xcb_keysym_t* syms = xcb_xkb_key_sym_map_syms(it.data);
        keys_.push_back(Key{quint8(map->firstKeySym + i), it.data->groupInfo, it.data->width,
                            std::vector<quint32>(syms, syms + xcb_xkb_key_sym_map_syms_length(it.data))});
    }
    valid_ = true;
}

// A key with fewer groups than the one in use wraps it, clamps it to its last group or redirects
// it to a group of its own, as its group information says.
quint8 KeyMap::effectiveGroup(const Key& key, quint8 group) {
    const quint8 groups = key.groupInfo & 0x0f;
    if (group < groups) {
        return group;
    }
    switch (key.groupInfo & 0xc0) {
    case 0x40:  // clamp
        return quint8(groups - 1);
    case 0x80: {  // redirect
        const quint8 target = (key.groupInfo >> 4) & 0x03;
        return target < groups ? target : 0;
    }
    default:  // wrap
        return quint8(group % groups);
    }
}

bool KeyMap::makes(const Key& key, quint8 group, quint32 keysym) {
    if ((key.groupInfo & 0x0f) == 0) {
        return false;
    }
    const std::size_t first = std::size_t(effectiveGroup(key, group)) * key.width;
    for (std::size_t level = 0; level < 2 && level < key.width && first + level < key.syms.size(); ++level) {
        const quint32 sym = key.syms[first + level];
        if (sym != 0 && (sym == keysym || sym == otherCase(keysym))) {
            return true;
        }
    }
    return false;
}

std::vector<quint8> KeyMap::inActiveGroup(quint32 keysym) const {
    std::vector<quint8> keycodes;
    for (const Key& key : keys_) {
        if (makes(key, group_, keysym)) {
            keycodes.push_back(key.keycode);
        }
    }
    return keycodes;
}

std::optional<quint8> KeyMap::atUsPosition(quint32 keysym) {
    const std::optional<std::string> place = usKeyPosition(keysym);
    if (!place) {
        return std::nullopt;
    }
    if (!positions_) {
        positions_ = readKeyPositions(connection_);
    }
    const auto found = positions_->find(*place);
    return found == positions_->end() ? std::nullopt : std::optional<quint8>(found->second);
}

}  // namespace tavrolin::x11
