#pragma once

#include <chrono>
#include <ctime>

namespace tavrolin::test {

// The processor time this thread has used: a bound on how much work a call does that holds on a
// loaded machine, where a wall clock also counts the time the thread waited for a core.
inline std::chrono::milliseconds threadCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::seconds(now.tv_sec) +
                                                                 std::chrono::nanoseconds(now.tv_nsec));
}

}  // namespace tavrolin::test
