#include "platform/linux/thread_cpu_clock_scope.h"

#include <ctime>
#include <gtest/gtest.h>
#include <thread>

using namespace tavrolin;

namespace {

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Another thread burns this much CPU time while the calling thread waits for it (using none).
void burnOnAnotherThread(double seconds) {
    std::thread([seconds] {
        const double start = threadCpuSeconds();
        volatile unsigned sink = 0;
        while (threadCpuSeconds() - start < seconds) {
            sink = sink + 1;
        }
    }).join();
}

double elapsedSeconds(clock_t from, clock_t to) {
    return double(to - from) / CLOCKS_PER_SEC;
}

}  // namespace

// clock() inside a scope counts only the calling thread's work, outside it the whole process's,
// and scopes nest.
TEST(ThreadCpuClock, ChargesOnlyTheCallingThreadInsideAScope) {
    constexpr double burn = 0.03;
    const clock_t outsideBefore = clock();
    burnOnAnotherThread(burn);
    EXPECT_GE(elapsedSeconds(outsideBefore, clock()), burn * 0.9);

    {
        const ThreadCpuClockScope outer;
        { const ThreadCpuClockScope inner; }
        EXPECT_TRUE(ThreadCpuClockScope::isActive());
        const clock_t insideBefore = clock();
        burnOnAnotherThread(burn);
        EXPECT_LT(elapsedSeconds(insideBefore, clock()), burn / 3);
    }
    EXPECT_FALSE(ThreadCpuClockScope::isActive());

    // Another thread's scope does not change this thread's clock.
    std::thread([] {
        const ThreadCpuClockScope elsewhere;
        EXPECT_TRUE(ThreadCpuClockScope::isActive());
    }).join();
    EXPECT_FALSE(ThreadCpuClockScope::isActive());
}
