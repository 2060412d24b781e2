#pragma once

#include <QCoroTask>
#include <QtGlobal>

#include <chrono>
#include <optional>
#include <vector>

namespace tavrolin {

// What a program's windows are built with, as far as it tells what the keys Control+A, C and V
// do there: the toolkits listed give them their usual meaning (select all, copy, paste), as do
// the editors listed one by one; Tk makes Control+A go to the line's start and pastes beside the
// selection; `none` is a program built on nothing known (plain Xlib, a toolkit not listed).
enum class ProgramToolkit { none, gtk, qt, libreOffice, gecko, chromium, javaAwt, zed, tk };

// What the system's process table tells of the program behind a window.
class ProcessTable {
public:
    // How long the look through one process's open files may take.
    static constexpr std::chrono::milliseconds openFilesReadBound{1000};

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
    // One process's open files, no walk through the table, but a link read per open file: a
    // browser holds thousands, so the look runs off the calling thread, and one that has not
    // ended within openFilesReadBound counts as unread. Absent when its open files cannot be
    // read (no such process, another user's).
    virtual QCoro::Task<std::optional<bool>> holdsPseudoTerminalMaster(qint64 processId) = 0;

    // The process's parent and its children (none where they cannot be read), read off the
    // calling thread: a terminal's window may be made by a helper process whose parent holds the
    // pseudo-terminal, or the other way round.
    virtual QCoro::Task<std::vector<qint64>> parentAndChildren(qint64 processId) = 0;

    // The toolkit the process's program is built on, known by the libraries it has loaded (what
    // the program is, never its name). Asked once per process (a process number used again is
    // another process); the first look reads its memory map, off the calling thread. Absent when
    // its memory map cannot be read (no such process, another user's).
    virtual QCoro::Task<std::optional<ProgramToolkit>> toolkitOf(qint64 processId) = 0;
};

}  // namespace tavrolin
