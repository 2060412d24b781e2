#pragma once

#include "platform/global_key_grabbing.h"
#include "platform/linux/key_grab_plan.h"
#include "platform/linux/x11_key_map.h"

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>

#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace tavrolin {

// Passive key grabs on the root window of the application's own X connection. Key events of
// the grabs are picked out of the Qt event stream by a native event filter; everything else
// passes through untouched.
//
// Each shortcut is the key that makes its letter in the layout in use (the XKB group), as the
// toolkits read a chord: a key that makes the letter only in another layout of the keyboard is
// that layout's other letter for the program in front, and stays its own. A letter the layout in
// use does not have is taken where the US layout has it, by the XKB name of that place. The
// server announces a new keyboard at every key from another device than the last one, at every
// map change, and a state change at every switch of layout: the grabs then stay as they are
// unless the shortcuts' keys moved, and only the combinations that changed are grabbed, each
// before the one it replaces is let go, so that no chord ever finds its shortcut ungrabbed and
// reaches the program in front. A shortcut whose key another program holds is set aside, the
// others keep theirs: it is tried again at every change and every few seconds (X11 tells nobody
// when another client's grab ends), with one round of grab requests whose answer is read from the
// event loop, never waited for.
class X11GlobalKeyGrabber final : public GlobalKeyGrabbing, private QAbstractNativeEventFilter {
public:
    X11GlobalKeyGrabber();
    ~X11GlobalKeyGrabber() override;
    X11GlobalKeyGrabber(const X11GlobalKeyGrabber&) = delete;
    X11GlobalKeyGrabber& operator=(const X11GlobalKeyGrabber&) = delete;

    // False when the application does not run on an X11 display.
    bool isAvailable() const;

    GlobalKeyGrabStatus grab(quint32 id, quint32 keysym, GlobalKeyModifiers modifiers) override;
    GlobalKeyGrabStatus grabOrSetAside(quint32 id, quint32 keysym, GlobalKeyModifiers modifiers) override;
    bool isSetAside(quint32 id) const override { return givenUp_.contains(id); }
    void release(quint32 id) override;
    void releaseAll() override;
    void setPressedCallback(PressedCallback callback) override;
    void setGrabsLostCallback(GrabsLostCallback callback) override;

private:
    using ModifierMasks = x11::ModifierMasks;
    using KeyCombination = x11::KeyCombination;

    struct Request {
        quint32 keysym = 0;
        GlobalKeyModifiers modifiers;
    };
    // Which keys each shortcut takes on one keyboard map, and which have none.
    struct Placement {
        std::map<quint32, std::vector<KeyCombination>> wanted;
        std::map<std::pair<quint8, quint16>, quint32> idByCombination;
        std::set<quint32> withoutKey;  // no key makes the letter nor sits at its US place
    };
    // What bringing the grabs to the keyboard of now did.
    struct Settled {
        bool mapRead = false;
        std::set<quint32> withoutKey;
        std::map<quint32, GlobalKeyGrabStatus> refused;  // by the server: another client's grab
        std::map<quint32, std::vector<KeyCombination>> refusedCombinations;
        int grabbed = 0;  // shortcuts given new keys
        bool changed = false;
    };

    // A shortcut set aside on one key, as the lost callback was told of it.
    using ReportedKey = std::tuple<quint32, quint8, quint8>;  // keysym, modifier bits, keycode
    // One round of grab requests for the shortcuts set aside; `fence` is a request with a reply
    // sent after them: once it is answered, so are they.
    struct RetryRound {
        quint64 generation = 0;
        unsigned int fence = 0;
        std::map<quint32, std::vector<std::pair<KeyCombination, unsigned int>>> grabs;
    };

    GlobalKeyGrabStatus grabRequest(quint32 id, quint32 keysym, GlobalKeyModifiers modifiers, bool setAside);
    std::vector<ReportedKey> reportedKeys(quint32 id, const std::vector<KeyCombination>& combinations) const;
    // Sends a retry round, or reads the answer of the one under way.
    void retrySetAside();
    void takeRetryAnswer(const RetryRound& round);
    // Remembers what a shortcut set aside wants and tells the lost callback, once per key.
    void noteSetAside(quint32 id, GlobalKeyGrabStatus status, const std::vector<KeyCombination>& combinations);
    void updateRetryTimer();
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    bool isKeyboardChange(const void* event) const;
    bool filterKey(quint8 type, const void* event);
    // Brings the grabs to the keyboard of now after a change, and tells which shortcut another
    // program's grab took.
    void followKeyboardChange();
    // Places every request on the keyboard of now, grabs what moved, then releases what no longer
    // makes a shortcut; touches nothing when nothing moved. A shortcut the server refuses is left
    // out, the others stay.
    Settled settle();
    Placement placeShortcuts(x11::KeyMap& keys, const ModifierMasks& masks) const;
    // Logs each shortcut that newly waits or was set aside, and the lost callback is told of each
    // set aside but `registering`, once per key.
    void noteOutcome(const Settled& settled, std::optional<quint32> registering);
    ModifierMasks readModifierMasks() const;
    // Grabs each combination; on a refusal, releases those it took and answers why.
    GlobalKeyGrabStatus grabCombinations(const std::vector<KeyCombination>& combinations);
    void ungrabCombinations(const std::vector<KeyCombination>& combinations);
    bool isOurKeycode(quint8 keycode) const;
    // Forgets the keys of ours the server has up, whose release went to another window: a grab
    // of ours that held the keyboard ended before they came up.
    void checkKeysDown();

    void* connection_ = nullptr;  // xcb_connection_t*, owned by Qt
    quint32 root_ = 0;
    ModifierMasks masks_;
    QObject context_;  // posted presses die with the grabber
    PressedCallback callback_;
    GrabsLostCallback lostCallback_;
    quint8 xkbFirstEvent_ = 0;  // 0: no XKB events on the connection
    quint8 group_ = 0;          // the layout the grabs were placed for
    QTimer followTimer_;        // one look at the keyboard for a burst of notices
    std::map<quint32, Request> requests_;
    // Shortcuts left ungrabbed by a keyboard without a key for them, and those whose key another
    // program holds; both are tried again at every change.
    std::set<quint32> waiting_;
    std::set<quint32> givenUp_;
    // The keys each shortcut set aside wants, as last placed; what a retry round grabs.
    std::map<quint32, std::vector<KeyCombination>> setAsideCombinations_;
    std::set<ReportedKey> reported_;
    QTimer retryTimer_;
    std::optional<RetryRound> retry_;
    quint64 generation_ = 0;  // grows whenever the grabs are placed anew: a retry answer is stale
    // The combinations the server holds for each id, lock states included.
    std::map<quint32, std::vector<KeyCombination>> grabsById_;
    // Keycode and modifier state without the locks, to the id whose shortcut it is.
    std::map<std::pair<quint8, quint16>, quint32> idByCombination_;
    // Keys of our combinations that are down: a press of a key that is already down is its
    // autorepeat. A press at the exact time of the key's release is the autorepeat of a client
    // that gets repeats as release/press pairs. While one is down the server's key state is read
    // now and then: a release that went elsewhere is known by it.
    std::set<quint8> keysDown_;
    std::set<quint8> upUnseen_;  // up by the server's state, their release not seen yet
    std::map<quint8, quint32> lastReleaseTime_;
    QTimer keyStateTimer_;
    std::optional<unsigned int> keyStateRequest_;  // sequence of a key state query under way
};

}  // namespace tavrolin
