#pragma once

#include "platform/global_mouse_monitoring.h"
#include "platform/keyboard_grabbing.h"

#include <functional>
#include <memory>
#include <vector>

namespace tavrolin::test {

// A mouse monitor the test fires by hand; counts the monitors alive.
class FakeGlobalMouseMonitoring final : public GlobalMouseMonitoring {
public:
    std::unique_ptr<GlobalMouseMonitor> addMouseDownMonitor(std::function<void()> handler) override {
        ++installed;
        if (refuse) {
            return nullptr;
        }
        auto entry = std::make_shared<Entry>(Entry{std::move(handler), true});
        entries_.push_back(entry);
        return std::make_unique<Handle>(entry);
    }
    // A press in another application: every live monitor hears it.
    void press() {
        const auto entries = entries_;
        for (const auto& entry : entries) {
            if (entry->alive) {
                entry->handler();
            }
        }
    }
    int liveMonitors() const {
        int count = 0;
        for (const auto& entry : entries_) {
            count += entry->alive ? 1 : 0;
        }
        return count;
    }
    int installed = 0;
    bool refuse = false;

private:
    struct Entry {
        std::function<void()> handler;
        bool alive;
    };
    struct Handle final : GlobalMouseMonitor {
        explicit Handle(std::shared_ptr<Entry> entry) : entry(std::move(entry)) {}
        ~Handle() override { entry->alive = false; }
        std::shared_ptr<Entry> entry;
    };
    std::vector<std::shared_ptr<Entry>> entries_;
};

// Records the keyboard grab.
class FakeKeyboardGrab final : public KeyboardGrabbing {
public:
    bool grab(quint64 window) override {
        grabbedWindow = window;
        ++grabs;
        return true;
    }
    void release() override { grabbedWindow = 0; }
    bool isGrabbing() const override { return grabbedWindow != 0; }
    quint64 grabbedWindow = 0;
    int grabs = 0;
};

}  // namespace tavrolin::test
