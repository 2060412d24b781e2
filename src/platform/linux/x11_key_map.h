#pragma once

#include <QtGlobal>

#include <map>
#include <optional>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace tavrolin::x11 {

// The keyboard map of one moment as XKB holds it: every key's symbols group by group, and the
// group in use. Read on a connection where the XKB extension is in use.
class KeyMap {
public:
    explicit KeyMap(xcb_connection_t* connection);

    // False when the server has no XKB or did not answer.
    bool isValid() const { return valid_; }
    // The group in use when the map was read (0 for the first layout).
    quint8 group() const { return group_; }

    // The keys that make `keysym` (unshifted or shifted; a letter in either case) in the group in
    // use, each key's own rule applied where it has fewer groups.
    std::vector<quint8> inActiveGroup(quint32 keysym) const;
    // The key where the US layout has `keysym` (a letter, a digit, F1 to F12), by its XKB name:
    // the key the toolkits take for a Latin shortcut when no layout of the map has the letter.
    // Absent where the keyboard has no key named for that place.
    std::optional<quint8> atUsPosition(quint32 keysym);

private:
    struct Key {
        quint8 keycode = 0;
        quint8 groupInfo = 0;
        quint8 width = 0;
        std::vector<quint32> syms;  // width per group
    };
    static quint8 effectiveGroup(const Key& key, quint8 group);
    static bool makes(const Key& key, quint8 group, quint32 keysym);

    xcb_connection_t* connection_;
    bool valid_ = false;
    quint8 group_ = 0;
    std::vector<Key> keys_;
    std::optional<std::map<std::string, quint8>> positions_;  // read when first needed
};

}  // namespace tavrolin::x11
