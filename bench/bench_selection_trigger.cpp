// The selection trigger against the real desktop: a Spanish sentence in the foreign test
// application's read-only text is selected by an XTest drag, and the time from the button's
// release until the button row's window is exposed is measured (the counter over_settle_ms is
// that time less the 250 ms the trigger waits for a selection to settle). A second benchmark
// reports the CPU time the process spends in 10 idle seconds with the trigger started (the
// monitor sleeps in poll(); nothing may wake it up).
// Runs inside the desktop session (`make bench`) against the test build's foreign application.
#include "bench_support.h"
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "platform/desktop_backend.h"
#include "platform/front_application.h"
#include "selection_popup/selection_popup_trigger_controller.h"
#include "shell/desktop_focused_text_platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <ctime>
#include <memory>
#include <vector>

namespace {

using namespace tavrolin;
using tavrolin::bench::FieldsApp;
using tavrolin::bench::spinUntil;

const QString sentence = QStringLiteral("Me gustaría verte mañana en la estación de tren con tus amigos.");

double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

struct Session {
    InMemoryDefaultsStore defaults;
    std::unique_ptr<AppSettingsStore> settings;
    std::unique_ptr<DesktopFocusedTextPlatform> platform;
    std::unique_ptr<FocusResolver> focus;
    std::unique_ptr<DesktopSelectionPopupTriggerController> trigger;
    FieldsApp app;
    Display* display = XOpenDisplay(nullptr);
    QRect field;
    bool ready = false;

    Session() {
        settings = std::make_unique<AppSettingsStore>(defaults);
        AppSettings s = settings->settings();
        s.targetLanguage = AppLanguage::english;
        s.onlineFeaturesEnabled = false;
        settings->persist(s);
        platform = std::make_unique<DesktopFocusedTextPlatform>();
        const auto p = platform->platform();
        focus = std::make_unique<FocusResolver>(
            FocusResolver::Environment{p.accessibility, p.frontApplications, p.scheduler});
        trigger = std::make_unique<DesktopSelectionPopupTriggerController>(
            *settings, nullptr, defaults,
            DesktopSelectionPopupTriggerController::systemDependencies(
                p.accessibility, p.frontApplications, *focus, makeSystemGlobalInputMonitoring(), markAsOverlayWindow,
                makeSystemLanguageRecognizer(), nullptr),
            nullptr, nullptr, nullptr);
        trigger->start();
        if (!display || !app.ready() || !trigger->isStarted()) {
            return;
        }
        app.setText("readtext", sentence);
        app.command("focus readtext");
        const QJsonObject r = app.command("rect readtext");
        field = QRect(r.value("x").toInt(), r.value("y").toInt(), r.value("width").toInt(), r.value("height").toInt());
        auto front = defaultFrontApplicationProvider();
        ready = spinUntil(
            [&] {
                const auto f = front->frontApplication();
                return f && f->processId == app.pid();
            },
            5000);
    }
    ~Session() {
        trigger.reset();
        if (display) {
            XCloseDisplay(display);
        }
    }

    bool rowExposed() {
        const QWidget* row = trigger->floatingButton().panel();
        return row && row->windowHandle() && row->windowHandle()->isExposed();
    }

    // Milliseconds from the release that ends a drag over the sentence until the row is exposed.
    double dragAndWait() {
        const int y = field.y() + 12;
        XTestFakeMotionEvent(display, -1, field.x() + 6, y, 0);
        XTestFakeButtonEvent(display, 1, True, 0);
        XFlush(display);
        spinUntil([] { return false; }, 30);
        for (int x = 40; x <= 300; x += 40) {
            XTestFakeMotionEvent(display, -1, field.x() + x, y, 0);
            XFlush(display);
            spinUntil([] { return false; }, 10);
        }
        QElapsedTimer timer;
        XTestFakeButtonEvent(display, 1, False, 0);
        XFlush(display);
        timer.start();
        const bool shown = spinUntil([&] { return rowExposed(); }, 5000);
        const double elapsed = double(timer.nsecsElapsed()) / 1e6;
        trigger->floatingButton().dismiss();
        // Far apart from the next drag's press: never a double click.
        spinUntil([] { return false; }, 600);
        return shown ? elapsed : -1;
    }
};

Session& session() {
    static Session shared;
    return shared;
}

void BM_MouseUpToButtonRow(benchmark::State& state) {
    Session& s = session();
    if (!s.ready) {
        state.SkipWithError("needs the test application, XTest, XInput 2 and the desktop session");
        return;
    }
    std::vector<double> overSettle;
    for (auto _ : state) {
        const double ms = s.dragAndWait();
        if (ms < 0) {
            state.SkipWithError("no button row came up");
            return;
        }
        overSettle.push_back(ms - 250.0);
        state.SetIterationTime(ms / 1000.0);
    }
    std::sort(overSettle.begin(), overSettle.end());
    state.counters["over_settle_ms"] = overSettle[overSettle.size() / 2];
}
BENCHMARK(BM_MouseUpToButtonRow)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(15);

void BM_IdleCpuWithTriggerStarted(benchmark::State& state) {
    Session& s = session();
    if (!s.trigger->isStarted()) {
        state.SkipWithError("the trigger could not start");
        return;
    }
    for (auto _ : state) {
        const double before = processCpuMs();
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        state.counters["cpu_ms_per_10s"] = processCpuMs() - before;
    }
}
BENCHMARK(BM_IdleCpuWithTriggerStarted)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    return tavrolin::bench::runBenchmarks(argc, argv);
}
