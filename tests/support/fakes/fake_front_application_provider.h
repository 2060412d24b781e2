#pragma once

#include "platform/front_application.h"

#include <atomic>
#include <mutex>

namespace tavrolin::test {

// Windows as the X11 provider reports them where nothing vouches for their program: a sandbox
// with its own process numbering (its window claims 1 or 2; the X server knows `serverProcess`),
// and a client on another machine (over ssh -X the X server's local client, `localClient`, is
// ssh).
inline FrontApplication sandboxedWindow(qint64 serverProcess, const QString& identifier, quint64 windowId) {
    return FrontApplication{serverProcess, identifier, windowId, true};
}
inline FrontApplication remoteWindow(qint64 localClient, const QString& identifier, quint64 windowId) {
    return FrontApplication{localClient, identifier, windowId, true};
}

// A front application the test sets; counts how often it was asked.
class FakeFrontApplicationProvider final : public FrontApplicationProviding {
public:
    std::optional<FrontApplication> frontApplication() const override {
        ++queries_;
        std::lock_guard lock(mutex_);
        return front_;
    }
    void set(std::optional<FrontApplication> front) {
        std::lock_guard lock(mutex_);
        front_ = std::move(front);
    }
    void setIdentifier(const QString& identifier, qint64 processId = 4242, quint64 windowId = 0) {
        set(FrontApplication{processId, identifier, windowId});
    }
    int queries() const { return queries_.load(); }

private:
    mutable std::mutex mutex_;
    std::optional<FrontApplication> front_;
    mutable std::atomic<int> queries_{0};
};

}  // namespace tavrolin::test
