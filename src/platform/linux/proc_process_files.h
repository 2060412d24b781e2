#pragma once

#include "platform/process_files.h"

namespace tavrolin {

// Reads /proc/<pid>/fd: a pseudo-terminal master shows there as a link to the multiplexer,
// /dev/ptmx (or /dev/pts/ptmx where that is opened directly, as in containers).
class ProcProcessFiles final : public ProcessFilesReading {
public:
    std::optional<bool> holdsPseudoTerminalMaster(qint64 processId) const override;
};

}  // namespace tavrolin
