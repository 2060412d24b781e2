// The accessibility thread's creator never waits on the accessibility bus: the back end is built
// on the thread, and what is asked meanwhile waits there for it.
#include "platform/linux/accessibility_thread.h"

#include "support/async.h"
#include "support/fakes/fake_accessibility.h"

#include <QElapsedTimer>

#include <future>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

// A back end whose building waits until the test lets it go, at most `longest`, as the
// accessibility bus does when it is slow to answer.
class HeldBackEnd {
public:
    AccessibilityThread::BackendFactory factory(std::chrono::milliseconds longest) const {
        return [released = released_, longest] {
            released.wait_for(longest);
            return std::make_unique<test::FakeAccessibility>();
        };
    }
    void release() { release_.set_value(); }

private:
    std::promise<void> release_;
    std::shared_future<void> released_ = release_.get_future().share();
};

const auto isTrusted = [](Accessibility& accessibility) { return accessibility.isTrusted(); };

TEST(AccessibilityThreadTest, TheCreatorGoesOnWhileTheBackEndIsBuiltAndWhatItAskedRunsOnceItIsThere) {
    HeldBackEnd backEnd;
    QElapsedTimer timer;
    timer.start();
    AccessibilityThread thread(backEnd.factory(5s));
    EXPECT_LT(timer.elapsed(), 1000);

    auto asked = ask(thread, isTrusted, false, 10s);
    backEnd.release();
    EXPECT_TRUE(test::await(std::move(asked)));
}

TEST(AccessibilityThreadTest, WhileTheBackEndIsOverdueCallsAnswerAtOnceAsUnanswered) {
    HeldBackEnd backEnd;
    AccessibilityThread thread(backEnd.factory(5s));
    ASSERT_TRUE(test::waitUntil([&] { return thread.isStalled(); }, 3s));

    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(test::await(ask(thread, isTrusted, false, 10s)));
    EXPECT_LT(timer.elapsed(), 1000);

    backEnd.release();
    EXPECT_TRUE(test::waitUntil([&] { return !thread.isStalled(); }));
    EXPECT_TRUE(test::await(ask(thread, isTrusted, false, 10s)));
}

TEST(AccessibilityThreadTest, AThreadEndedBeforeItsBackEndWasBuiltStillEnds) {
    HeldBackEnd backEnd;
    QElapsedTimer timer;
    timer.start();
    { AccessibilityThread thread(backEnd.factory(200ms)); }
    // The building's own 200 ms and the thread's last call bound of draining, not forever.
    EXPECT_LT(timer.elapsed(), 5000);
}

}  // namespace
}  // namespace tavrolin
