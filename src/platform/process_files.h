#pragma once

#include <QtGlobal>

#include <optional>

namespace tavrolin {

// What a process of this machine holds open. Answered from the kernel's own tables, without
// asking the process anything, so a look is quick enough for the GUI thread (one process, not
// a tree of them).
class ProcessFilesReading {
public:
    virtual ~ProcessFilesReading() = default;

    // Whether the process holds the master side of a pseudo-terminal open, as every terminal
    // emulator does for the programs running in it (their keyboard is that terminal). Absent
    // when its open files cannot be read: no such process, or another user's.
    virtual std::optional<bool> holdsPseudoTerminalMaster(qint64 processId) const = 0;
};

}  // namespace tavrolin
