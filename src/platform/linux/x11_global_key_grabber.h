#pragma once

#include "platform/global_key_grabbing.h"
#include "platform/linux/key_grab_plan.h"

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>

#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace tavrolin {

// Passive key grabs on the root window of the application's own X connection. Key events of
// the grabs are picked out of the Qt event stream by a native event filter; everything else
// passes through untouched.
//
// The server announces a new keyboard at every key from another device than the last one (a
// second keyboard, a key-sending program) and at every layout change. The grabs then stay as
// they are unless the shortcuts' keys moved: only the combinations that changed are grabbed,
// each before the one it replaces is let go, so that no chord ever finds its shortcut ungrabbed
// and reaches the program in front. A letter missing from every layout of the keyboard is taken
// where the US layout has it, by the XKB name of that place.
class X11GlobalKeyGrabber final : public GlobalKeyGrabbing, private QAbstractNativeEventFilter {
public:
    X11GlobalKeyGrabber();
    ~X11GlobalKeyGrabber() override;
    X11GlobalKeyGrabber(const X11GlobalKeyGrabber&) = delete;
    X11GlobalKeyGrabber& operator=(const X11GlobalKeyGrabber&) = delete;

    // False when the application does not run on an X11 display.
    bool isAvailable() const;

    GlobalKeyGrabStatus grab(quint32 id, quint32 keysym, GlobalKeyModifiers modifiers) override;
    void release(quint32 id) override;
    void releaseAll() override;
    void setPressedCallback(PressedCallback callback) override;
    void setGrabsLostCallback(GrabsLostCallback callback) override;

private:
    using ModifierMasks = x11::ModifierMasks;
    using KeyCombination = x11::KeyCombination;
    class KeyMap;

    struct Request {
        quint32 keysym = 0;
        GlobalKeyModifiers modifiers;
    };

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    bool isKeyboardMappingChange(const void* event) const;
    // Brings the grabs to the keyboard map of now: grabs what moved, then releases what no
    // longer makes a shortcut; touches nothing when nothing moved.
    void followKeyboardChange();
    // Which keys each shortcut takes on this keyboard map, or the first shortcut whose key another
    // shortcut of ours took.
    struct Placement {
        std::map<quint32, std::vector<KeyCombination>> wanted;
        std::map<std::pair<quint8, quint16>, quint32> idByCombination;
        std::optional<quint32> inUse;
    };
    Placement placeShortcuts(KeyMap& keys, const ModifierMasks& masks) const;
    // Logs each shortcut that newly has no key, and remembers which wait.
    void noteWaitingShortcuts(const std::map<quint32, std::vector<KeyCombination>>& wanted);
    // Everything released and the lost callback told, after a keyboard change gave a shortcut's
    // key to another program.
    void loseAll(quint32 id, GlobalKeyGrabStatus status);
    ModifierMasks readModifierMasks() const;
    // Grabs each combination; on a refusal, releases those it took and answers why.
    GlobalKeyGrabStatus grabCombinations(const std::vector<KeyCombination>& combinations);
    void ungrabCombinations(const std::vector<KeyCombination>& combinations);
    bool isOurKeycode(quint8 keycode) const;

    void* connection_ = nullptr;  // xcb_connection_t*, owned by Qt
    quint32 root_ = 0;
    ModifierMasks masks_;
    QObject context_;  // posted presses die with the grabber
    PressedCallback callback_;
    GrabsLostCallback lostCallback_;
    quint8 xkbFirstEvent_ = 0;  // 0: no XKB events on the connection
    QTimer followTimer_;        // one look at the keyboard for a burst of notices
    std::map<quint32, Request> requests_;
    // Shortcuts left ungrabbed by a keyboard without a key for them; grabbed at the next change
    // that brings one.
    std::set<quint32> waiting_;
    // The combinations the server holds for each id, lock states included.
    std::map<quint32, std::vector<KeyCombination>> grabsById_;
    // Keycode and modifier state without the locks, to the id whose shortcut it is.
    std::map<std::pair<quint8, quint16>, quint32> idByCombination_;
    // Keys of our combinations that are down: a press of a key that is already down is its
    // autorepeat. A press at the exact time of the key's release is the autorepeat of a client
    // that gets repeats as release/press pairs.
    std::set<quint8> keysDown_;
    std::map<quint8, quint32> lastReleaseTime_;
};

}  // namespace tavrolin
