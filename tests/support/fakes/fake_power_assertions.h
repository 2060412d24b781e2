#pragma once

#include "platform/power_assertion.h"

#include <QCoroFuture>
#include <QPromise>
#include <QStringList>

#include <memory>
#include <set>
#include <vector>

namespace tavrolin::test {

// Power assertions in memory: ids count up from `firstId`; creation and release answer the
// status the test sets, at once, or (with `holdCreations`) when the test calls
// answerHeldCreations(), as a slow service would.
class FakePowerAssertions final : public PowerAssertionProviding {
public:
    explicit FakePowerAssertions(std::uint32_t firstId = 1) : nextId_(firstId) {}

    QCoro::Task<PowerAssertionCreation> createAssertion(QString name) override {
        createdNames << name;
        if (holdCreations) {
            auto promise = std::make_shared<QPromise<void>>();
            promise->start();
            held_.push_back(promise);
            co_await promise->future();
        }
        if (createStatus != powerAssertionSuccess) {
            co_return PowerAssertionCreation{createStatus, 0, failureReason};
        }
        const std::uint32_t id = nextId_++;
        held.insert(id);
        co_return PowerAssertionCreation{powerAssertionSuccess, id, {}};
    }
    QCoro::Task<int> releaseAssertion(std::uint32_t id) override {
        released.push_back(id);
        held.erase(id);
        co_return releaseStatus;
    }

    // Lets every held creation answer (the answers arrive through the event loop).
    void answerHeldCreations() {
        for (const auto& promise : std::exchange(held_, {})) {
            promise->finish();
        }
    }
    std::size_t heldCreations() const { return held_.size(); }

    int createStatus = powerAssertionSuccess;
    QString failureReason;
    int releaseStatus = powerAssertionSuccess;
    bool holdCreations = false;

    std::set<std::uint32_t> held;
    QStringList createdNames;  // one entry per creation attempt
    std::vector<std::uint32_t> released;

private:
    std::uint32_t nextId_;
    std::vector<std::shared_ptr<QPromise<void>>> held_;
};

}  // namespace tavrolin::test
