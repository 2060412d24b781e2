// From an XTest press of Control+Shift+W to the shortcut's handler running on the main thread.
#include "platform/linux/x11_global_key_grabber.h"
#include "platform/linux/xtest_synthetic_input.h"
#include "shell/hot_key_manager.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <vector>

namespace {

using namespace tavrolin;

void BM_HotKeyPressToMainThreadHandler(benchmark::State& state) {
    auto grabber = std::make_shared<X11GlobalKeyGrabber>();
    if (!grabber->isAvailable()) {
        state.SkipWithError("no X11 display");
        return;
    }
    HotKeyManager manager(grabber);
    QElapsedTimer clock;
    clock.start();
    qint64 handledAt = -1;
    registerHotKeys(manager, AppSettings{}, [&](HotKeyAction action) {
        return [&, action] {
            if (action == HotKeyAction::translateMessage) {
                handledAt = clock.nsecsElapsed();
            }
        };
    });
    XTestSyntheticInput input;
    std::vector<double> samples;
    for (auto _ : state) {
        // A press in the same millisecond as the last release is taken for autorepeat: leave the
        // gap a person's fingers always leave.
        const qint64 settleUntil = clock.nsecsElapsed() + 5'000'000;
        while (clock.nsecsElapsed() < settleUntil) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
        handledAt = -1;
        const qint64 pressedAt = clock.nsecsElapsed();
        input.sendKeyChord(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_W);
        while (handledAt < 0 && clock.nsecsElapsed() - pressedAt < 2'000'000'000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
        if (handledAt < 0) {
            state.SkipWithError("the handler did not run within 2 s");
            break;
        }
        const double seconds = double(handledAt - pressedAt) / 1e9;
        samples.push_back(seconds);
        state.SetIterationTime(seconds);
    }
    if (!samples.empty()) {
        std::sort(samples.begin(), samples.end());
        state.counters["median_ms"] = samples[samples.size() / 2] * 1e3;
        state.counters["max_ms"] = samples.back() * 1e3;
    }
}
BENCHMARK(BM_HotKeyPressToMainThreadHandler)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(100);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "DISPLAY is not set: run inside scripts/desktop-session.sh\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
