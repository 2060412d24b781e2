// Start to tray icon and idle memory of the program as built in this folder (the optimised build
// under `make bench`). Runs inside the desktop session: each start gets fresh XDG folders, the
// tray icon counts as shown once a viewable window carries the program's _NET_WM_PID.
#include <xcb/xcb.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

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

// True when a viewable window below `window` belongs to `pid`.
bool hasViewableWindow(xcb_connection_t* c, xcb_window_t window, xcb_atom_t pidAtom, uint32_t pid) {
    auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
    if (!tree) {
        return false;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree);
    const int count = xcb_query_tree_children_length(tree);
    bool found = false;
    for (int i = 0; i < count && !found; ++i) {
        auto* attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        free(attributes);
        if (!viewable) {
            continue;
        }
        auto* property =
            xcb_get_property_reply(c, xcb_get_property(c, 0, children[i], pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        if (property && xcb_get_property_value_length(property) == 4 &&
            *static_cast<uint32_t*>(xcb_get_property_value(property)) == pid) {
            found = true;
        }
        free(property);
        found = found || hasViewableWindow(c, children[i], pidAtom, pid);
    }
    free(tree);
    return found;
}

long statusKilobytes(pid_t pid, const char* file, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::atol(line.c_str() + key.size());
        }
    }
    return -1;
}

struct Run {
    pid_t pid = -1;
    std::filesystem::path home;
};

Run start(const std::filesystem::path& base, int index) {
    Run run;
    run.home = base / ("run" + std::to_string(index));
    for (const char* sub : {"config", "data", "state", "runtime"}) {
        std::filesystem::create_directories(run.home / sub);
    }
    std::filesystem::permissions(run.home / "runtime", std::filesystem::perms::owner_all);
    run.pid = fork();
    if (run.pid == 0) {
        setenv("XDG_CONFIG_HOME", (run.home / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (run.home / "data").c_str(), 1);
        setenv("XDG_STATE_HOME", (run.home / "state").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (run.home / "runtime").c_str(), 1);
        setenv("TAVROLIN_LOG_BACKEND", "file", 1);
        execl(TAVROLIN_EXECUTABLE, TAVROLIN_EXECUTABLE, static_cast<char*>(nullptr));
        _exit(127);
    }
    return run;
}

void stop(const Run& run) {
    kill(run.pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (waitpid(run.pid, &status, WNOHANG) == run.pid) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    kill(run.pid, SIGKILL);
    waitpid(run.pid, &status, 0);
}

std::optional<double> millisecondsToTrayIcon(Connection& x, xcb_window_t root, xcb_atom_t pidAtom, const Run& run,
                                             Clock::time_point started) {
    while (Clock::now() - started < std::chrono::seconds(10)) {
        if (hasViewableWindow(x.c, root, pidAtom, static_cast<uint32_t>(run.pid))) {
            return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::nullopt;
}

}  // namespace

int main() {
    Connection x;
    if (xcb_connection_has_error(x.c)) {
        std::fprintf(stderr, "bench_startup: no X display (run it inside the desktop session)\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x.c)).data->root;
    const xcb_atom_t pidAtom = atom(x.c, "_NET_WM_PID");
    const auto base = std::filesystem::temp_directory_path() / ("tavrolin-bench-startup-" + std::to_string(getpid()));

    constexpr int runs = 7;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto started = Clock::now();
        const Run run = start(base, i);
        const auto ms = millisecondsToTrayIcon(x, root, pidAtom, run, started);
        if (!ms) {
            std::fprintf(stderr, "bench_startup: no tray icon within 10 s\n");
            stop(run);
            std::filesystem::remove_all(base);
            return 1;
        }
        times.push_back(*ms);
        if (i + 1 < runs) {
            stop(run);
            continue;
        }
        // The last start stays up: resident memory after five seconds of idling.
        std::this_thread::sleep_for(std::chrono::seconds(5));
        const long rss = statusKilobytes(run.pid, "status", "VmRSS:");
        const long pss = statusKilobytes(run.pid, "smaps_rollup", "Pss:");
        stop(run);
        std::sort(times.begin(), times.end());
        std::printf("start to tray icon (%d starts): median %.1f ms, min %.1f ms, max %.1f ms\n", runs,
                    times[times.size() / 2], times.front(), times.back());
        std::printf("after 5 s idle: RSS %.1f MB, PSS %.1f MB\n", rss / 1024.0, pss / 1024.0);
    }
    std::filesystem::remove_all(base);
    return 0;
}
