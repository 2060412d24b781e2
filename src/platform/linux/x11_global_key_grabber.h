#pragma once

#include "platform/global_key_grabbing.h"

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>

#include <map>
#include <set>
#include <utility>
#include <vector>

namespace tavrolin {

// Passive key grabs on the root window of the application's own X connection. Key events of
// the grabs are picked out of the Qt event stream by a native event filter; everything else
// passes through untouched.
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
    struct Grab {
        quint8 keycode = 0;
        quint16 modifiers = 0;  // without Lock and Num Lock
    };
    struct ModifierMasks {
        quint16 alt = 0;
        quint16 super = 0;
        quint16 numLock = 0;
    };

    struct Request {
        quint32 keysym = 0;
        GlobalKeyModifiers modifiers;
    };

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    bool isKeyboardMappingChange(const void* event) const;
    // Grabs every requested combination again with the current keyboard map.
    void regrabAll();
    ModifierMasks readModifierMasks() const;
    std::vector<quint16> lockVariants() const;
    void ungrab(const Grab& grab);

    void* connection_ = nullptr;  // xcb_connection_t*, owned by Qt
    quint32 root_ = 0;
    ModifierMasks masks_;
    QObject context_;  // posted presses die with the grabber
    PressedCallback callback_;
    GrabsLostCallback lostCallback_;
    quint8 xkbFirstEvent_ = 0;  // 0: no XKB events on the connection
    QTimer regrabTimer_;        // one re-grab for a burst of mapping notices
    std::map<quint32, Request> requests_;
    std::map<quint32, std::vector<Grab>> grabsById_;
    std::map<std::pair<quint8, quint16>, quint32> idByCombination_;
    // Keys of our combinations that are down: a press of a key that is already down is its
    // autorepeat. A press at the exact time of the key's release is the autorepeat of a client
    // that gets repeats as release/press pairs.
    std::set<quint8> keysDown_;
    std::map<quint8, quint32> lastReleaseTime_;
};

}  // namespace tavrolin
