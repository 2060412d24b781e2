#pragma once

#include "platform/process_files.h"

#include <set>

namespace tavrolin::test {

// The processes of a pretend machine: those holding a pseudo-terminal master (terminal
// emulators, and programs with a terminal inside), and those whose open files cannot be read
// (another user's). Every other process holds none.
class FakeProcessFiles final : public ProcessFilesReading {
public:
    std::set<qint64> ptyHolders;
    std::set<qint64> unreadable;

    std::optional<bool> holdsPseudoTerminalMaster(qint64 processId) const override {
        if (processId <= 0 || unreadable.count(processId)) {
            return std::nullopt;
        }
        return ptyHolders.count(processId) > 0;
    }
};

}  // namespace tavrolin::test
