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
    // A program is the file it runs, so one upgraded while it runs still counts as the same
    // program as the processes it starts from the new file. Only the process's own children
    // are looked at (a paste asks, on the GUI thread), never the whole table. True where its
    // children cannot be listed; false for a process that is not there.
    virtual bool runsProcessesOfItsOwnProgram(qint64 processId) = 0;

    // Whether the process itself holds the master side of a pseudo-terminal open, as every
    // terminal emulator does for the programs running in it (their keyboard is that terminal).
    // One process's open files, no walk through the table: quick enough to ask before every
    // key. Absent when its open files cannot be read (no such process, another user's).
    virtual std::optional<bool> holdsPseudoTerminalMaster(qint64 processId) = 0;
};

}  // namespace tavrolin
