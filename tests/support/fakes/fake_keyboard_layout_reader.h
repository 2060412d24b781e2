#pragma once

#include "platform/keyboard_layout_reading.h"

#include <QHash>

#include <mutex>

namespace tavrolin::test {

// A keyboard held in memory: set its layouts (or none, as without a display) and the unshifted
// and shifted symbols of its keys. Counts reads, so tests can tell whether the keyboard was consulted.
class FakeKeyboardLayoutReader final : public KeyboardLayoutReading {
public:
    void setLayouts(std::optional<KeyboardLayouts> layouts) {
        std::lock_guard lock(mutex_);
        layouts_ = std::move(layouts);
    }
    void setLayouts(const QStringList& layouts, int activeGroup) {
        setLayouts(KeyboardLayouts{layouts, {}, activeGroup});
    }
    void setKey(quint32 keycode, QList<quint32> keysyms, QList<quint32> shifted = {}) {
        std::lock_guard lock(mutex_);
        keys_.insert(keycode, std::move(keysyms));
        shiftedKeys_.insert(keycode, std::move(shifted));
    }
    int layoutReads() const {
        std::lock_guard lock(mutex_);
        return layoutReads_;
    }

    std::optional<KeyboardLayouts> currentLayouts() override {
        std::lock_guard lock(mutex_);
        ++layoutReads_;
        return layouts_;
    }
    QList<quint32> unshiftedKeysyms(quint32 keycode) override {
        std::lock_guard lock(mutex_);
        return keys_.value(keycode);
    }
    QList<quint32> shiftedKeysyms(quint32 keycode) override {
        std::lock_guard lock(mutex_);
        return shiftedKeys_.value(keycode);
    }

private:
    mutable std::mutex mutex_;
    std::optional<KeyboardLayouts> layouts_;
    QHash<quint32, QList<quint32>> keys_;
    QHash<quint32, QList<quint32>> shiftedKeys_;
    int layoutReads_ = 0;
};

}  // namespace tavrolin::test
