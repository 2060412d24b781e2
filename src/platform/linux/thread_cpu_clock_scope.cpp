#include "platform/linux/thread_cpu_clock_scope.h"

#include <ctime>

namespace tavrolin {

namespace {

thread_local int activeScopes = 0;

}  // namespace

ThreadCpuClockScope::ThreadCpuClockScope() {
    ++activeScopes;
}

ThreadCpuClockScope::~ThreadCpuClockScope() {
    --activeScopes;
}

bool ThreadCpuClockScope::isActive() {
    return activeScopes > 0;
}

}  // namespace tavrolin

// Replaces the C library's clock() for the whole program (the executable's definition comes
// first in symbol lookup, so shared libraries such as Hunspell call this one). Outside a scope it
// computes exactly what the C library does: the process's CPU time in CLOCKS_PER_SEC units.
// This file is linked whenever the spell checker is, because the checker uses the scope.
extern "C" clock_t clock() noexcept {
    const clockid_t source =
        tavrolin::ThreadCpuClockScope::isActive() ? CLOCK_THREAD_CPUTIME_ID : CLOCK_PROCESS_CPUTIME_ID;
    timespec now{};
    if (clock_gettime(source, &now) != 0) {
        return clock_t(-1);
    }
    return clock_t(now.tv_sec) * CLOCKS_PER_SEC + clock_t(now.tv_nsec / (1000000000 / CLOCKS_PER_SEC));
}
