#pragma once

#include "platform/global_key_grabbing.h"

#include <map>
#include <set>
#include <tuple>

namespace tavrolin::test {

// In-memory key grabs. `taken` combinations answer alreadyInUse, `unmapped` keysyms noKeyCode;
// press() plays the role of the event loop delivering a press.
class FakeGlobalKeyGrabber final : public GlobalKeyGrabbing {
public:
    struct Combination {
        quint32 keysym = 0;
        GlobalKeyModifiers modifiers;
        bool operator==(const Combination&) const = default;
        auto operator<=>(const Combination& other) const {
            return std::tuple(keysym, modifiers.control, modifiers.shift, modifiers.alt, modifiers.super) <=>
                   std::tuple(other.keysym, other.modifiers.control, other.modifiers.shift, other.modifiers.alt,
                              other.modifiers.super);
        }
    };

    GlobalKeyGrabStatus grab(quint32 id, quint32 keysym, GlobalKeyModifiers modifiers) override {
        release(id);
        ++grabCalls;
        const Combination combination{keysym, modifiers};
        if (failing.contains(combination)) {
            return GlobalKeyGrabStatus::failed;
        }
        if (unmapped.contains(keysym)) {
            return GlobalKeyGrabStatus::noKeyCode;
        }
        if (taken.contains(combination)) {
            return GlobalKeyGrabStatus::alreadyInUse;
        }
        for (const auto& [otherId, other] : grabs) {
            if (other == combination) {
                return GlobalKeyGrabStatus::alreadyInUse;
            }
        }
        grabs[id] = combination;
        return GlobalKeyGrabStatus::grabbed;
    }
    // Set aside as the display's grabber does: the lost callback is told once per combination
    // until it has been grabbed in between.
    GlobalKeyGrabStatus grabOrSetAside(quint32 id, quint32 keysym, GlobalKeyModifiers modifiers) override {
        const GlobalKeyGrabStatus status = grab(id, keysym, modifiers);
        const Combination combination{keysym, modifiers};
        if (status == GlobalKeyGrabStatus::grabbed) {
            reported.erase(combination);
        } else if (status == GlobalKeyGrabStatus::alreadyInUse) {
            setAside[id] = combination;
            if (reported.insert(combination).second && lostCallback) {
                lostCallback(id, status);
            }
        }
        return status;
    }
    bool isSetAside(quint32 id) const override { return setAside.contains(id); }
    void release(quint32 id) override {
        grabs.erase(id);
        setAside.erase(id);
    }
    void releaseAll() override {
        grabs.clear();
        setAside.clear();
    }
    void setPressedCallback(PressedCallback newCallback) override { callback = std::move(newCallback); }
    void setGrabsLostCallback(GrabsLostCallback newCallback) override { lostCallback = std::move(newCallback); }

    // A keyboard change after which `id` could not be grabbed again: only its grab goes.
    void loseGrabs(quint32 id, GlobalKeyGrabStatus status) {
        grabs.erase(id);
        if (lostCallback) {
            lostCallback(id, status);
        }
    }

    void press(quint32 id) {
        if (callback && grabs.contains(id)) {
            callback(id);
        }
    }

    std::map<quint32, Combination> grabs;
    std::map<quint32, Combination> setAside;
    std::set<Combination> reported;
    std::set<Combination> taken;
    std::set<Combination> failing;
    std::set<quint32> unmapped;
    PressedCallback callback;
    GrabsLostCallback lostCallback;
    int grabCalls = 0;
};

}  // namespace tavrolin::test
