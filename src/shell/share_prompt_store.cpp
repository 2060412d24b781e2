#include "shell/share_prompt_store.h"

#include <algorithm>

namespace tavrolin {

namespace {
constexpr qint64 emptyScheduleStep = 10;
}

SharePromptStore::SharePromptStore(std::vector<int> schedule, DefaultsStore& defaults)
    : schedule_(std::move(schedule)), defaults_(defaults) {}

bool SharePromptStore::isDisabledForever() const {
    return defaults_.boolValue(disabledForeverKey, false);
}

void SharePromptStore::disableForever() {
    defaults_.setBool(disabledForeverKey, true);
}

qint64 SharePromptStore::totalSuccessCount() const {
    return std::max<qint64>(0, defaults_.integer(totalSuccessCountKey, 0));
}

qint64 SharePromptStore::index() const {
    return std::max<qint64>(0, defaults_.integer(indexKey, 0));
}

qint64 SharePromptStore::step(qint64 index) const {
    if (schedule_.empty()) {
        return emptyScheduleStep;
    }
    const auto position = std::clamp<qint64>(index, 0, qint64(schedule_.size()) - 1);
    return schedule_[size_t(position)];
}

qint64 SharePromptStore::nextPromptAt() const {
    const std::optional<QJsonValue> stored = defaults_.rawValue(nextAtKey);
    if (stored && stored->isDouble()) {
        return defaults_.integer(nextAtKey, 0);
    }
    return step(index());
}

bool SharePromptStore::recordSuccess() {
    if (isDisabledForever()) {
        return false;
    }
    const qint64 count = totalSuccessCount() + 1;
    defaults_.setInteger(totalSuccessCountKey, count);
    if (count < nextPromptAt()) {
        return false;
    }
    advanceSchedule();
    return true;
}

void SharePromptStore::advanceSchedule() {
    const qint64 next = index() + 1;
    defaults_.setInteger(indexKey, next);
    defaults_.setInteger(nextAtKey, totalSuccessCount() + step(next));
}

}  // namespace tavrolin
