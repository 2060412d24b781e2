#include "platform/linux/proc_process_files.h"

#include "platform/desktop_backend.h"

#include <dirent.h>
#include <string>
#include <string_view>
#include <unistd.h>

namespace tavrolin {

std::optional<bool> ProcProcessFiles::holdsPseudoTerminalMaster(qint64 processId) const {
    if (processId <= 0) {
        return std::nullopt;
    }
    const std::string folder = "/proc/" + std::to_string(processId) + "/fd";
    DIR* const files = opendir(folder.c_str());
    if (!files) {
        return std::nullopt;  // gone, or another user's
    }
    bool holds = false;
    char target[32];
    while (const dirent* entry = readdir(files)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        // A file closed meanwhile has no link any more; a longer target is no multiplexer.
        const ssize_t length = readlinkat(dirfd(files), entry->d_name, target, sizeof target);
        if (length <= 0 || length >= ssize_t(sizeof target)) {
            continue;
        }
        const std::string_view link(target, std::size_t(length));
        if (link == "/dev/ptmx" || link == "/dev/pts/ptmx") {
            holds = true;
            break;
        }
    }
    closedir(files);
    return holds;
}

std::shared_ptr<ProcessFilesReading> systemProcessFiles() {
    return std::make_shared<ProcProcessFiles>();
}

}  // namespace tavrolin
