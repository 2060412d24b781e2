#pragma once

#include "server/network_reachability.h"

#include <QCoroTimer>

#include <atomic>

namespace tavrolin::test {

// A network state the test sets. Waiting polls the flag every few milliseconds on the
// caller's event loop.
class FakeNetworkReachability final : public NetworkReachability {
public:
    explicit FakeNetworkReachability(bool disconnected) : disconnected_(disconnected) {}

    void setDisconnected(bool disconnected) { disconnected_ = disconnected; }
    int waits() const { return waits_; }

    bool isDisconnected() const override { return disconnected_; }

    QCoro::Task<bool> waitUntilConnected(std::chrono::milliseconds limit) override {
        ++waits_;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (disconnected_) {
            if (std::chrono::steady_clock::now() >= deadline) {
                co_return false;
            }
            co_await QCoro::sleepFor(std::chrono::milliseconds(5));
        }
        co_return true;
    }

private:
    std::atomic<bool> disconnected_;
    std::atomic<int> waits_{0};
};

}  // namespace tavrolin::test
