#pragma once

#include "platform/power_assertion.h"

#include <QStringList>

#include <set>
#include <vector>

namespace tavrolin::test {

// Power assertions in memory: ids count up from `firstId`; creation and release answer the
// status the test sets.
class FakePowerAssertions final : public PowerAssertionProviding {
public:
    explicit FakePowerAssertions(std::uint32_t firstId = 1) : nextId_(firstId) {}

    PowerAssertionCreation createAssertion(const QString& name) override {
        createdNames << name;
        if (createStatus != powerAssertionSuccess) {
            return {createStatus, 0, failureReason};
        }
        const std::uint32_t id = nextId_++;
        held.insert(id);
        return {powerAssertionSuccess, id, {}};
    }
    int releaseAssertion(std::uint32_t id) override {
        released.push_back(id);
        held.erase(id);
        return releaseStatus;
    }

    int createStatus = powerAssertionSuccess;
    QString failureReason;
    int releaseStatus = powerAssertionSuccess;

    std::set<std::uint32_t> held;
    QStringList createdNames;  // one entry per creation attempt
    std::vector<std::uint32_t> released;

private:
    std::uint32_t nextId_;
};

}  // namespace tavrolin::test
