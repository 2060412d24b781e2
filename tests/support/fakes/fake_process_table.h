#pragma once

#include "platform/process_table.h"

#include <map>
#include <set>
#include <vector>

namespace tavrolin::test {

// The process table of a pretend machine: the processes holding a pseudo-terminal master
// (terminal emulators, and programs with a terminal inside) and those whose open files cannot
// be read (another user's, root's: such a window's program is unknown), each process's parent and
// children, and what each program is built on (Qt unless told). None runs processes of its own
// program below it.
class FakeProcessTable final : public ProcessTable {
public:
    std::set<qint64> ptyHolders;
    std::set<qint64> unreadable;

    bool runsProcessesOfItsOwnProgram(qint64) override { return false; }
    QCoro::Task<std::optional<bool>> holdsPseudoTerminalMaster(qint64 processId) override {
        if (processId <= 0 || unreadable.count(processId)) {
            co_return std::nullopt;
        }
        co_return ptyHolders.count(processId) > 0;
    }
    std::map<qint64, std::vector<qint64>> relatives;
    QCoro::Task<std::vector<qint64>> parentAndChildren(qint64 processId) override {
        const auto found = relatives.find(processId);
        co_return found == relatives.end() ? std::vector<qint64>{} : found->second;
    }
    std::map<qint64, ProgramToolkit> toolkits;
    QCoro::Task<std::optional<ProgramToolkit>> toolkitOf(qint64 processId) override {
        if (processId <= 0 || unreadable.count(processId)) {
            co_return std::nullopt;
        }
        const auto found = toolkits.find(processId);
        co_return found == toolkits.end() ? ProgramToolkit::qt : found->second;
    }
};

}  // namespace tavrolin::test
