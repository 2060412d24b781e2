// From the Settings command (AppDelegate::openSettings()) to the settings window exposed and its
// content painted, with the real delegate over a fresh configuration folder. Each round closes
// the window, so every command builds a new one, as after a Cancel.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "settings_window/settings_window_controller.h"
#include "shell/app_delegate.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace tavrolin;

// Notes when the watched widget has painted.
class PaintWatcher final : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted = true;
        }
        return QObject::eventFilter(watched, event);
    }
};

void BM_SettingsCommandToPaintedWindow(benchmark::State& state) {
    AppDelegate delegate(AppDelegate::defaultFactories());
    QElapsedTimer clock;
    clock.start();
    std::vector<double> samples;
    for (auto _ : state) {
        const qint64 started = clock.nsecsElapsed();
        delegate.openSettings();
        SettingsWindowController* controller = delegate.settingsWindowController();
        if (!controller) {
            state.SkipWithError("no settings window");
            break;
        }
        PaintWatcher watcher;
        controller->view()->installEventFilter(&watcher);
        while (!(watcher.painted && controller->window()->isVisible()) &&
               clock.nsecsElapsed() - started < 5'000'000'000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
        const qint64 finished = clock.nsecsElapsed();
        controller->view()->removeEventFilter(&watcher);
        if (!watcher.painted) {
            state.SkipWithError("the window did not paint within 5 s");
            break;
        }
        const double seconds = double(finished - started) / 1e9;
        samples.push_back(seconds);
        state.SetIterationTime(seconds);
        controller->window()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (!samples.empty()) {
        std::sort(samples.begin(), samples.end());
        state.counters["median_ms"] = samples[samples.size() / 2] * 1e3;
        state.counters["max_ms"] = samples.back() * 1e3;
    }
}
BENCHMARK(BM_SettingsCommandToPaintedWindow)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(30);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "DISPLAY is not set: run inside scripts/desktop-session.sh\n");
        return 1;
    }
    // A configuration of its own, offline, so nothing is sent and the user's files stay untouched.
    QTemporaryDir home;
    for (const char* folder : {"config/tavrolin", "data", "state", "runtime"}) {
        QDir().mkpath(home.filePath(QString::fromLatin1(folder)));
    }
    QFile::setPermissions(home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", home.filePath("data").toLocal8Bit().constData(), 1);
    setenv("XDG_STATE_HOME", home.filePath("state").toLocal8Bit().constData(), 1);
    setenv("XDG_RUNTIME_DIR", home.filePath("runtime").toLocal8Bit().constData(), 1);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    {
        JsonFileDefaultsStore defaults(home.filePath("config/tavrolin/defaults.json"));
        AppSettingsStore store(defaults);
        AppSettings settings = store.settings();
        settings.onlineFeaturesEnabled = false;
        settings.telemetryEnabled = false;
        settings.launchAtLoginEnabled = false;
        store.persist(settings);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
