// What a chord reads of /proc, timed on processes of many open files: whether
// the window's process holds a pseudo-terminal master (a link read per open file), its parent
// and children and whether they hold one, and whether the process the X server names holds a
// connection to the display (its open files, with a netlink question per socket). A test process
// holding thousands of files (half of them local sockets, none a terminal or the display's) is
// the worst case of each read; Firefox on the tests' page is the browser as it is.
#include "bench_support.h"
#include "platform/desktop_backend.h"
#include "platform/linux/x11_client_process.h"
#include "support/many_open_files.h"
#include "support/test_browser.h"

#include <QElapsedTimer>

#include <benchmark/benchmark.h>
#include <memory>
#include <optional>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

using namespace tavrolin;

// The display's socket, as the front application provider finds it.
std::optional<std::string> displaySocket() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    std::optional<std::string> name = x11::displaySocketName(connection);
    xcb_disconnect(connection);
    return name;
}

// Times `read` per iteration; the longest one is reported beside the mean.
template <typename Read>
void timeReads(benchmark::State& state, Read read) {
    double longest = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        read();
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        longest = std::max(longest, seconds);
        state.SetIterationTime(seconds);
    }
    state.counters["longest_ms"] = longest * 1e3;
}

void BM_PseudoTerminalMasterAmongOpenFiles(benchmark::State& state) {
    const test::ManyOpenFiles process(int(state.range(0)));
    const std::shared_ptr<ProcessTable> processes = makeSystemProcessTable();
    if (process.pid() <= 0 || test::await(processes->holdsPseudoTerminalMaster(process.pid())) != false) {
        state.SkipWithError("the process of many files did not start");
        return;
    }
    timeReads(state,
              [&] { benchmark::DoNotOptimize(test::await(processes->holdsPseudoTerminalMaster(process.pid()))); });
}
BENCHMARK(BM_PseudoTerminalMasterAmongOpenFiles)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_DisplayConnectionAmongOpenFiles(benchmark::State& state) {
    const test::ManyOpenFiles process(int(state.range(0)));
    const std::optional<std::string> socket = displaySocket();
    if (process.pid() <= 0 || !socket || x11::holdsDisplayConnection(process.pid(), *socket) != false ||
        x11::holdsDisplayConnection(getpid(), *socket) != true) {
        state.SkipWithError("no process of many files, no display socket, or a wrong answer");
        return;
    }
    // It holds no connection: every socket is asked after (a "no" is never remembered).
    timeReads(state, [&] { benchmark::DoNotOptimize(x11::holdsDisplayConnection(process.pid(), *socket)); });
}
BENCHMARK(BM_DisplayConnectionAmongOpenFiles)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseManualTime();

std::unique_ptr<test::TestBrowser>& firefox() {
    static std::unique_ptr<test::TestBrowser> browser;
    if (!browser && test::TestBrowser::program(test::TestBrowser::Kind::firefox)) {
        browser = std::make_unique<test::TestBrowser>(test::TestBrowser::Kind::firefox);
    }
    return browser;
}

// Each of a chord's reads of Firefox's main process, uncached: its terminal, its relatives' (a
// dozen page processes) and its connection to the display.
void BM_FirefoxChordReads(benchmark::State& state) {
    test::TestBrowser* browser = firefox().get();
    const std::optional<std::string> socket = displaySocket();
    if (!browser || !browser->isReady() || !socket) {
        state.SkipWithError("Firefox did not start on the page, or no display socket");
        return;
    }
    const qint64 pid = browser->pid();
    const std::shared_ptr<ProcessTable> processes = makeSystemProcessTable();
    const int kind = int(state.range(0));
    state.SetLabel(kind == 0 ? "terminal" : kind == 1 ? "relatives' terminals" : "display connection");
    timeReads(state, [&] {
        if (kind == 0) {
            benchmark::DoNotOptimize(test::await(processes->holdsPseudoTerminalMaster(pid)));
        } else if (kind == 1) {
            for (const qint64 relative : test::await(processes->parentAndChildren(pid))) {
                benchmark::DoNotOptimize(test::await(processes->holdsPseudoTerminalMaster(relative)));
            }
        } else {
            benchmark::DoNotOptimize(x11::holdsDisplayConnection(pid, *socket));
        }
    });
}
BENCHMARK(BM_FirefoxChordReads)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
    return tavrolin::bench::runBenchmarks(argc, argv, [] { firefox().reset(); });
}
