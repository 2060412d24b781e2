#pragma once

#include "core/lifetime_token.h"

#include <array>
#include <cstddef>

namespace tavrolin {

// Which of the commands on the focused field and the selection is in progress. A workflow's flag
// is set only by holding a WorkflowRun, which clears it on every way out, so no run can leave a
// command busy for good. Main thread only.
class AppRunningState {
public:
    enum class Workflow {
        messageTranslation,
        textEditing,
        textWriting,
        selectionTranslation,
        flipLanguage,
        createPrompt,
    };

    // One workflow's hold on its flag, from begin() until end() or its destruction. Outliving
    // the state is harmless.
    class WorkflowRun {
    public:
        WorkflowRun() = default;
        WorkflowRun(WorkflowRun&& other) noexcept;
        WorkflowRun& operator=(WorkflowRun&& other) noexcept;
        WorkflowRun(const WorkflowRun&) = delete;
        WorkflowRun& operator=(const WorkflowRun&) = delete;
        ~WorkflowRun() { end(); }
        void end();

    private:
        friend class AppRunningState;
        WorkflowRun(LifetimeToken<AppRunningState>::Weak state, Workflow workflow)
            : state_(std::move(state)), workflow_(workflow) {}
        LifetimeToken<AppRunningState>::Weak state_;
        Workflow workflow_ = Workflow::messageTranslation;
    };

    AppRunningState() = default;
    AppRunningState(const AppRunningState&) = delete;
    AppRunningState& operator=(const AppRunningState&) = delete;

    // Sets the flag until the answer ends. The caller has checked that the workflow may start.
    [[nodiscard]] WorkflowRun begin(Workflow workflow);
    bool isInProgress(Workflow workflow) const { return inProgress_[index(workflow)]; }
    bool isAnyInProgress() const;

private:
    static constexpr std::size_t workflowCount = 6;
    static std::size_t index(Workflow workflow) { return static_cast<std::size_t>(workflow); }

    std::array<bool, workflowCount> inProgress_{};
    LifetimeToken<AppRunningState> lifetime_{this};
};

}  // namespace tavrolin
