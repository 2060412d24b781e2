#pragma once

#include <QtGlobal>

#include <optional>

namespace tavrolin {

// What the system's process table tells of the program behind a window.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;

    // Whether the process runs, below it, further processes of its own program (a browser's page
    // processes, an Electron program's renderers). Such a program answers the desktop's ping
    // from the process that owns its windows while another of its processes may still have the
    // keys sent to the window waiting: the answer is then no proof that the keys were handled.
    // False when nothing can be told.
    virtual bool runsProcessesOfItsOwnProgram(qint64 processId) = 0;

    // Whether the process itself holds the master side of a pseudo-terminal open, as every
    // terminal emulator does for the programs running in it (their keyboard is that terminal).
    // One process's open files, no walk through the table: quick enough to ask before every
    // key. Absent when its open files cannot be read (no such process, another user's).
    virtual std::optional<bool> holdsPseudoTerminalMaster(qint64 processId) = 0;
};

}  // namespace tavrolin
