#pragma once

#include "platform/process_table.h"

#include <set>

namespace tavrolin::test {

// The process table of a pretend machine: the processes holding a pseudo-terminal master
// (terminal emulators, and programs with a terminal inside) and those whose open files cannot
// be read (another user's, root's: such a window's program is unknown). None runs processes of
// its own program below it.
class FakeProcessTable final : public ProcessTable {
public:
    std::set<qint64> ptyHolders;
    std::set<qint64> unreadable;

    bool runsProcessesOfItsOwnProgram(qint64) override { return false; }
    std::optional<bool> holdsPseudoTerminalMaster(qint64 processId) override {
        if (processId <= 0 || unreadable.count(processId)) {
            return std::nullopt;
        }
        return ptyHolders.count(processId) > 0;
    }
};

}  // namespace tavrolin::test
