#pragma once

#include "platform/global_mouse_monitoring.h"

#include <functional>
#include <memory>
#include <vector>

namespace tavrolin::test {

// Raw input and active-window changes the test sends by hand to every live monitor.
class FakeGlobalInputMonitoring final : public GlobalInputMonitoring {
public:
    std::unique_ptr<GlobalMouseMonitor> addRawInputMonitor(std::function<void(const RawInputEvent&)> handler) override {
        if (refuseRaw) {
            return nullptr;
        }
        auto entry = std::make_shared<Entry>();
        entry->raw = std::move(handler);
        entries_.push_back(entry);
        return std::make_unique<Handle>(entry);
    }
    std::unique_ptr<GlobalMouseMonitor> addActiveApplicationMonitor(std::function<void()> handler) override {
        auto entry = std::make_shared<Entry>();
        entry->active = std::move(handler);
        entries_.push_back(entry);
        return std::make_unique<Handle>(entry);
    }

    void send(const RawInputEvent& event) {
        const auto entries = entries_;
        for (const auto& entry : entries) {
            if (entry->alive && entry->raw) {
                entry->raw(event);
            }
        }
    }
    void activeApplicationChanged() {
        const auto entries = entries_;
        for (const auto& entry : entries) {
            if (entry->alive && entry->active) {
                entry->active();
            }
        }
    }
    // Helpers for the common events.
    void click(unsigned int button = 1, QPoint at = {500, 500}, std::chrono::milliseconds time = {},
               bool overOwnWindow = false) {
        send({RawInputEvent::Kind::buttonPress, button, time, at, false, false, overOwnWindow});
        send({RawInputEvent::Kind::buttonRelease, button, time, at, false, false, overOwnWindow});
    }
    void key(unsigned int keysym, bool shiftOrControlHeld, bool isModifier = false) {
        send({RawInputEvent::Kind::keyPress, keysym, {}, {}, shiftOrControlHeld, isModifier, false});
        send({RawInputEvent::Kind::keyRelease, keysym, {}, {}, shiftOrControlHeld, isModifier, false});
    }
    int liveRawMonitors() const {
        int n = 0;
        for (const auto& entry : entries_) {
            n += entry->alive && entry->raw ? 1 : 0;
        }
        return n;
    }
    int liveActiveMonitors() const {
        int n = 0;
        for (const auto& entry : entries_) {
            n += entry->alive && entry->active ? 1 : 0;
        }
        return n;
    }
    bool refuseRaw = false;

private:
    struct Entry {
        std::function<void(const RawInputEvent&)> raw;
        std::function<void()> active;
        bool alive = true;
    };
    struct Handle final : GlobalMouseMonitor {
        explicit Handle(std::shared_ptr<Entry> entry) : entry(std::move(entry)) {}
        ~Handle() override { entry->alive = false; }
        std::shared_ptr<Entry> entry;
    };
    std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace tavrolin::test
