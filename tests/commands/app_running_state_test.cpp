#include "commands/app_running_state.h"

#include <gtest/gtest.h>
#include <memory>
#include <utility>

using namespace tavrolin;
using Workflow = AppRunningState::Workflow;

TEST(AppRunningState, AFlagIsSetWhileItsRunLivesAndClearedOnceWhenItEnds) {
    AppRunningState state;
    EXPECT_FALSE(state.isAnyInProgress());
    {
        AppRunningState::WorkflowRun run = state.begin(Workflow::textWriting);
        EXPECT_TRUE(state.isInProgress(Workflow::textWriting));
        EXPECT_FALSE(state.isInProgress(Workflow::textEditing));
        EXPECT_TRUE(state.isAnyInProgress());

        // Moving the run (into a task) moves the hold: the moved-from run clears nothing.
        AppRunningState::WorkflowRun moved = std::move(run);
        run.end();
        EXPECT_TRUE(state.isInProgress(Workflow::textWriting));
    }
    EXPECT_FALSE(state.isInProgress(Workflow::textWriting));

    AppRunningState::WorkflowRun ended = state.begin(Workflow::flipLanguage);
    ended.end();
    EXPECT_FALSE(state.isAnyInProgress());
    // A second run of another workflow is not cleared by the end of the first.
    AppRunningState::WorkflowRun other = state.begin(Workflow::createPrompt);
    ended.end();
    EXPECT_TRUE(state.isInProgress(Workflow::createPrompt));
}

TEST(AppRunningState, ARunThatOutlivesTheStateEndsQuietly) {
    auto state = std::make_unique<AppRunningState>();
    AppRunningState::WorkflowRun run = state->begin(Workflow::selectionTranslation);
    state.reset();
    run.end();  // AddressSanitizer catches a write into the freed state
}
