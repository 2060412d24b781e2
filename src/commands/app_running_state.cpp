#include "commands/app_running_state.h"

#include <algorithm>
#include <utility>

namespace tavrolin {

AppRunningState::WorkflowRun::WorkflowRun(WorkflowRun&& other) noexcept
    : state_(std::exchange(other.state_, {})), workflow_(other.workflow_) {}

AppRunningState::WorkflowRun& AppRunningState::WorkflowRun::operator=(WorkflowRun&& other) noexcept {
    if (this != &other) {
        end();
        state_ = std::exchange(other.state_, {});
        workflow_ = other.workflow_;
    }
    return *this;
}

void AppRunningState::WorkflowRun::end() {
    if (AppRunningState* state = std::exchange(state_, {}).get()) {
        state->inProgress_[index(workflow_)] = false;
    }
}

AppRunningState::WorkflowRun AppRunningState::begin(Workflow workflow) {
    inProgress_[index(workflow)] = true;
    return WorkflowRun(lifetime_.weak(), workflow);
}

bool AppRunningState::isAnyInProgress() const {
    return std::any_of(inProgress_.begin(), inProgress_.end(), [](bool running) { return running; });
}

}  // namespace tavrolin
