// Start to tray icon and idle footprint of the program as built in this folder (the optimised
// build under `make bench`), side by side with CopyQ, a Qt tray utility, when `copyq` is
// installed. Runs inside the desktop session. The two programs start in turn, each time with
// fresh home and XDG folders (Tavrolin with the onboarding done and online features off); a
// start counts as done when the tray host shows the program's icon; five seconds later the
// program's resident and proportional memory and the libraries it maps are read.
// PSS divides each shared page among the processes that map it, so it falls while other programs
// of the same toolkit run (tests of this project on a busy machine) and rises when they end; the
// private dirty pages (heap, stacks, relocated data: what no other process can share) do not
// depend on them.
// usage: bench_startup [STARTS_PER_PROGRAM [TAVROLIN_EXECUTABLE]]  (7 starts of this build's program
// by default; another build's program to compare builds)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Connection {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ~Connection() { xcb_disconnect(c); }
};

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    free(reply);
    return a;
}

// Finds a program's tray icon the way the user sees it: a viewable window carrying the
// program's _NET_WM_PID inside a window of the tray host (the X client that owns the system
// tray selection). Both programs are found the same way.
class TrayIconFinder {
public:
    explicit TrayIconFinder(xcb_connection_t* c) : c_(c) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        pidAtom_ = atom(c, "_NET_WM_PID");
        clientMask_ = ~xcb_get_setup(c)->resource_id_mask;
        const xcb_atom_t selection = atom(c, "_NET_SYSTEM_TRAY_S0");
        auto* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
        if (owner && owner->owner != XCB_WINDOW_NONE) {
            trayClient_ = owner->owner & clientMask_;
        }
        free(owner);
    }

    bool hasTrayHost() const { return trayClient_ != 0; }
    bool iconShown(uint32_t pid) { return search(root_, false, pid); }

private:
    bool search(xcb_window_t window, bool insideTray, uint32_t pid) {
        auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, window), nullptr);
        if (!tree) {
            return false;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree);
        const int count = xcb_query_tree_children_length(tree);
        bool found = false;
        for (int i = 0; i < count && !found; ++i) {
            const xcb_window_t child = children[i];
            auto* attributes = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, child), nullptr);
            const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            free(attributes);
            if (!viewable) {
                continue;
            }
            const bool inside = insideTray || (child & clientMask_) == trayClient_;
            if (inside && windowPid(child) == pid) {
                found = true;
            } else {
                found = search(child, inside, pid);
            }
        }
        free(tree);
        return found;
    }

    std::optional<uint32_t> windowPid(xcb_window_t window) {
        auto* property =
            xcb_get_property_reply(c_, xcb_get_property(c_, 0, window, pidAtom_, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        std::optional<uint32_t> pid;
        if (property && xcb_get_property_value_length(property) == 4) {
            pid = *static_cast<uint32_t*>(xcb_get_property_value(property));
        }
        free(property);
        return pid;
    }

    xcb_connection_t* c_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    xcb_atom_t pidAtom_ = XCB_ATOM_NONE;
    uint32_t clientMask_ = 0;
    uint32_t trayClient_ = 0;
};

// A value in kB from a /proc file of `pid` ("VmRSS:" of status, "Pss:" of smaps_rollup).
long procKilobytes(pid_t pid, const char* file, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::atol(line.c_str() + key.size());
        }
    }
    return -1;
}

// The shared libraries mapped into `pid`, each counted once.
int mappedLibraries(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
    std::set<std::string> libraries;
    std::string line;
    while (std::getline(in, line)) {
        const auto slash = line.find('/');
        if (slash == std::string::npos) {
            continue;
        }
        const std::string path = line.substr(slash);
        const std::string name = fs::path(path).filename();
        if (name.find(".so") != std::string::npos) {
            libraries.insert(path);
        }
    }
    return static_cast<int>(libraries.size());
}

// The proportional memory of every process in the process group `group` (a program and the
// helper processes it started).
long groupPssKilobytes(pid_t group) {
    long total = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        // pid (comm) state ppid pgrp ...: comm may hold spaces, so read after its ')'.
        const auto close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        char state = 0;
        int parent = 0;
        int pgrp = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &parent, &pgrp) == 3 && pgrp == group) {
            total += std::max(0L, procKilobytes(static_cast<pid_t>(std::stol(name)), "smaps_rollup", "Pss:"));
        }
    }
    return total;
}

struct Program {
    std::string name;
    std::string executable;
    // Writes what the start needs into the fresh home (its XDG config folder is home/config).
    std::function<void(const fs::path& home)> prepare;
};

struct Sample {
    double trayMs = 0;
    double rssMB = 0;
    double pssMB = 0;
    double dirtyMB = 0;
    double groupPssMB = 0;
    int libraries = 0;
};

// Starts `program` in a fresh home, in a process group of its own (so that helpers it starts
// end with it); answers its pid.
pid_t start(const Program& program, const fs::path& home) {
    for (const char* sub : {"config", "data", "state", "cache", "runtime"}) {
        fs::create_directories(home / sub);
    }
    fs::permissions(home / "runtime", fs::perms::owner_all);
    program.prepare(home);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        setenv("XDG_STATE_HOME", (home / "state").c_str(), 1);
        setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (home / "runtime").c_str(), 1);
        setenv("TAVROLIN_LOG_BACKEND", "file", 1);
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        execl(program.executable.c_str(), program.executable.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(pid, pid);
    return pid;
}

void stop(pid_t pid) {
    kill(-pid, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!ended) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    }
    if (!ended) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    // Helpers of the group that outlive the program.
    kill(-pid, SIGKILL);
}

std::optional<Sample> measure(TrayIconFinder& tray, const Program& program, const fs::path& home) {
    const auto started = Clock::now();
    const pid_t pid = start(program, home);
    std::optional<Sample> sample;
    while (Clock::now() - started < std::chrono::seconds(10)) {
        if (tray.iconShown(static_cast<uint32_t>(pid))) {
            sample = Sample{std::chrono::duration<double, std::milli>(Clock::now() - started).count()};
            break;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            std::fprintf(stderr, "bench_startup: %s ended before showing its tray icon\n", program.name.c_str());
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (sample) {
        std::this_thread::sleep_for(std::chrono::seconds(5));
        sample->rssMB = procKilobytes(pid, "status", "VmRSS:") / 1024.0;
        sample->pssMB = procKilobytes(pid, "smaps_rollup", "Pss:") / 1024.0;
        sample->dirtyMB = procKilobytes(pid, "smaps_rollup", "Private_Dirty:") / 1024.0;
        sample->groupPssMB = groupPssKilobytes(pid) / 1024.0;
        sample->libraries = mappedLibraries(pid);
    } else {
        std::fprintf(stderr, "bench_startup: no tray icon of %s within 10 s\n", program.name.c_str());
    }
    stop(pid);
    return sample;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Summary {
    double trayMs, trayMin, trayMax, rssMB, pssMB, dirtyMB, groupPssMB, libraries;
};

Summary summarize(const std::vector<Sample>& samples) {
    std::vector<double> tray, rss, pss, dirty, groupPss, libraries;
    for (const Sample& s : samples) {
        tray.push_back(s.trayMs);
        rss.push_back(s.rssMB);
        pss.push_back(s.pssMB);
        dirty.push_back(s.dirtyMB);
        groupPss.push_back(s.groupPssMB);
        libraries.push_back(s.libraries);
    }
    return {median(tray),
            *std::min_element(tray.begin(), tray.end()),
            *std::max_element(tray.begin(), tray.end()),
            median(rss),
            median(pss),
            median(dirty),
            median(groupPss),
            median(libraries)};
}

// Onboarding done, online features and launch at login off: the tray icon is all that shows.
// Written by hand rather than through the program's settings store, so that this process maps
// none of the libraries whose pages it would then share with the program it measures.
void prepareTavrolin(const fs::path& home) {
    fs::create_directories(home / "config/tavrolin");
    std::ofstream(home / "config/tavrolin/defaults.json")
        << R"({"appSettings": {"captureAndTranslateShortcut": {"key": "T", "command": false, "option": false,)"
        << R"( "shift": true, "control": true}, "onlineFeaturesEnabled": false, "launchAtLoginEnabled": false},)"
        << R"( "onboardingCompletedVersion": 1})";
}

std::optional<std::string> findInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin";
    size_t begin = 0;
    while (begin <= folders.size()) {
        const size_t end = std::min(folders.find(':', begin), folders.size());
        const fs::path candidate = fs::path(folders.substr(begin, end - begin)) / name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
        begin = end + 1;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    const int starts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    Connection x;
    if (xcb_connection_has_error(x.c)) {
        std::fprintf(stderr, "bench_startup: no X display (run it inside the desktop session)\n");
        return 1;
    }
    TrayIconFinder tray(x.c);
    if (!tray.hasTrayHost()) {
        std::fprintf(stderr, "bench_startup: no system tray host on the display\n");
        return 1;
    }

    std::vector<Program> programs{{"Tavrolin", argc > 2 ? argv[2] : TAVROLIN_EXECUTABLE, prepareTavrolin}};
    if (const auto copyq = findInPath("copyq")) {
        programs.push_back({"CopyQ", *copyq, [](const fs::path&) {}});
    } else {
        std::printf("copyq is not installed: Tavrolin alone (apt-get install copyq for the comparison)\n");
    }

    const fs::path base = fs::temp_directory_path() / ("tavrolin-bench-startup-" + std::to_string(getpid()));
    std::vector<std::vector<Sample>> samples(programs.size());
    int failures = 0;
    // In turn, so that a change of the machine's load reaches both programs alike.
    for (int i = 0; i < starts; ++i) {
        for (size_t p = 0; p < programs.size(); ++p) {
            const fs::path home = base / (programs[p].name + std::to_string(i));
            if (const auto sample = measure(tray, programs[p], home)) {
                samples[p].push_back(*sample);
            } else {
                ++failures;
            }
            fs::remove_all(home);
        }
    }
    fs::remove_all(base);
    if (failures > 0) {
        return 1;
    }

    std::printf("%-9s %28s %9s %9s %11s %10s %17s\n", "", "start to tray icon (ms)", "RSS (MB)", "PSS (MB)",
                "dirty (MB)", "libraries", "PSS with helpers");
    std::vector<Summary> summaries;
    for (size_t p = 0; p < programs.size(); ++p) {
        const Summary s = summarize(samples[p]);
        summaries.push_back(s);
        std::printf("%-9s %9.1f (%6.1f - %6.1f) %9.1f %9.1f %11.1f %10.0f %17.1f\n", programs[p].name.c_str(), s.trayMs,
                    s.trayMin, s.trayMax, s.rssMB, s.pssMB, s.dirtyMB, s.libraries, s.groupPssMB);
    }
    std::printf(
        "medians of %d starts each; memory and libraries of the program's own process 5 s after its icon\n"
        "showed; PSS with helpers adds the processes it started (CopyQ's clipboard monitor)\n",
        starts);
    if (summaries.size() == 2) {
        const Summary& t = summaries[0];
        const Summary& c = summaries[1];
        std::printf("ratios Tavrolin / CopyQ: start to tray %.2f, RSS %.2f, PSS %.2f, dirty %.2f, libraries %.2f\n",
                    t.trayMs / c.trayMs, t.rssMB / c.rssMB, t.pssMB / c.pssMB, t.dirtyMB / c.dirtyMB,
                    t.libraries / c.libraries);
    }
    return 0;
}
