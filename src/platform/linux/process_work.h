#pragma once

#include <QtGlobal>

#include <vector>

namespace tavrolin {

// How much work processes have done so far: the processor time they used (in clock ticks) and
// the bytes they wrote. A process that loads its data or translates, however slowly a busy
// machine lets it, moves it; one that waits for input that never comes does not (reading its
// input, or waking to wait again, takes less than the two ticks counted as work). Processes that
// ended or cannot be read count nothing. Reads only /proc, which answers without waiting on the
// processes themselves.
struct ProcessWork {
    qint64 processorTicks = 0;
    qint64 bytesWritten = 0;

    // Whether `later`, taken of the same processes, shows work done since this was taken.
    bool workedUntil(const ProcessWork& later) const {
        return later.processorTicks >= processorTicks + 2 || later.bytesWritten > bytesWritten;
    }
};
ProcessWork workOfProcesses(const std::vector<qint64>& processIds);

// A process and every process it started, their children too.
std::vector<qint64> processTree(qint64 processId);

}  // namespace tavrolin
