#include "focused_text/selection_put_back.h"

#include "support/fakes/fake_accessibility.h"
#include "support/fakes/inline_accessibility_calls.h"
#include "support/virtual_time_task.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// A field left wholly selected by a select-all of ours gets the user's place back although its
// program, busy elsewhere, answers the first read with no text, or accepts a selection and does
// not apply it: a read is made again, and a place not shown is not taken as placed; the caret then
// goes where the user's selection ended. A selection the user made backward goes back backward.
TEST(SelectionPutBackTest, AFailedReadOrAnUnappliedSelectionNeverLeavesTheWholeTextSelected) {
    const QString text = QStringLiteral("I would like to meet you tomorrow.");
    const AccessibleTextRange whole{0, text.size()};
    struct Case {
        const char* name;
        int emptyReads;
        int selectionsNotApplied;
        bool backward;
        AccessibleTextRange expected;
        PutBackOutcome outcome;
    } cases[] = {
        {"first read unanswered", 1, 0, false, {8, 4}, PutBackOutcome::placed},
        {"selection accepted, not applied", 0, 1, false, {12, 0}, PutBackOutcome::collapsed},
        {"made backward", 0, 0, true, {8, 4, true}, PutBackOutcome::placed},
    };
    for (const Case& c : cases) {
        test::FakeClock clock;
        test::ManualScheduler scheduler{&clock};
        test::FakeAccessibility ax;
        test::InlineAccessibilityCalls calls{ax};
        auto field = test::makeField(text, whole);
        field->emptyReads = c.emptyReads;
        field->selectionsNotApplied = c.selectionsNotApplied;
        const PutBackOutcome outcome = test::runOnVirtualTime(
            putSelectionBackInField(calls, scheduler, field, text, TextRange{8, 4}, false, c.backward), scheduler);
        EXPECT_EQ(outcome, c.outcome) << c.name;
        EXPECT_EQ(field->selection, c.expected) << c.name;
    }
}

}  // namespace
}  // namespace tavrolin
