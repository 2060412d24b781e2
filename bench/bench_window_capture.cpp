// Front window detection plus capture of a window of another process as large as the 1280x800
// screen, as the Translate command does it. Run inside scripts/desktop-session.sh
// (`make bench`); on a scaled desktop (QT_SCALE_FACTOR=2, Xft.dpi: 192) the same screen is
// smaller in logical pixels and captured in all its device pixels.
#include "platform/desktop_backend.h"
#include "platform/linux/x11_desktop.h"
#include "repeated_benchmark.h"
#include "support/async.h"
#include "window_translation/active_window_detector.h"
#include "window_translation/screen_capture_service.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

using namespace tavrolin;

QProcess* patternProgram = nullptr;

// The detector over this process's X11 desktop, as the application builds it.
ActiveWindowDetector desktopDetector() {
    return ActiveWindowDetector(defaultFrontApplicationProvider(), x11::sharedWindowList(),
                                static_cast<std::int32_t>(QCoreApplication::applicationPid()));
}

QRectF screenBounds() {
    return QRectF(QGuiApplication::primaryScreen()->geometry());
}

void BM_DetectAndCaptureFrontWindow(benchmark::State& state) {
    ActiveWindowDetector detector = desktopDetector();
    const ScreenCaptureService service(x11::sharedScreenCapture());
    for (auto _ : state) {
        const ActiveWindowSnapshot snapshot = detector.detectActiveWindow();
        const WindowCapture capture = test::await(service.capture(CaptureTarget::window(snapshot)));
        benchmark::DoNotOptimize(capture.image.constBits());
    }
    const ActiveWindowSnapshot snapshot = detector.detectActiveWindow();
    state.counters["window_width"] = snapshot.bounds.width();
    state.counters["window_height"] = snapshot.bounds.height();
}
TAVROLIN_REPEATED_BENCHMARK(BM_DetectAndCaptureFrontWindow, 15)
    ->Unit(benchmark::kMillisecond)
    ->ReportAggregatesOnly(true);

void BM_DetectFrontWindow(benchmark::State& state) {
    ActiveWindowDetector detector = desktopDetector();
    for (auto _ : state) {
        benchmark::DoNotOptimize(detector.detectActiveWindow());
    }
}
TAVROLIN_REPEATED_BENCHMARK(BM_DetectFrontWindow, 15)->Unit(benchmark::kMillisecond)->ReportAggregatesOnly(true);

// The grab alone: the whole 1280x800 screen through xcb_get_image, converted to a QImage.
void BM_GrabScreen(benchmark::State& state) {
    const auto capturing = x11::sharedScreenCapture();
    const ShareableDisplay screen{1, screenBounds()};
    const CaptureConfiguration configuration =
        ScreenCaptureService::makeConfiguration(capturing->contentInfo(DisplayCaptureFilter{screen}), false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(capturing->captureImage(DisplayCaptureFilter{screen}, configuration));
    }
    state.counters["image_width"] = configuration.width;
}
TAVROLIN_REPEATED_BENCHMARK(BM_GrabScreen, 15)->Unit(benchmark::kMillisecond)->ReportAggregatesOnly(true);

// Starts the pattern program with a 1280x800 window and waits until it is the front window.
bool startPatternProgram() {
    patternProgram = new QProcess;
    patternProgram->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QSizeF screen = screenBounds().size();
    patternProgram->start(QStringLiteral(TAVROLIN_PATTERN_PROGRAM),
                          {QStringLiteral("--size"), QString::number(screen.width()), QString::number(screen.height()),
                           QStringLiteral("--pos"), QStringLiteral("0"), QStringLiteral("0")});
    const bool shown = test::waitUntil(
        [] { return patternProgram->canReadLine() && patternProgram->readLine().startsWith("window "); },
        std::chrono::seconds(10));
    ActiveWindowDetector detector = desktopDetector();
    std::optional<ActiveWindowSnapshot> front;
    const auto detectPattern = [&](QSizeF wanted) {
        return test::waitUntil(
            [&] {
                try {
                    front = detector.detectActiveWindow();
                    // Within a pixel: a scaled frame may end on half a logical pixel.
                    const QSizeF size = front->bounds.size();
                    return front->ownerPID == patternProgram->processId() &&
                           (wanted.isEmpty() || (std::abs(size.width() - wanted.width()) <= 1 &&
                                                 std::abs(size.height() - wanted.height()) <= 1));
                } catch (const std::exception&) {
                    return false;
                }
            },
            std::chrono::seconds(10));
    };
    if (!shown || !detectPattern({})) {
        return false;
    }
    // Shrink the painted area by the window manager's frame so the whole window fills the screen.
    const QSizeF frame = front->bounds.size() - screen;
    patternProgram->write(QStringLiteral("resize %1 %2\n")
                              .arg(qRound(screen.width() - frame.width()))
                              .arg(qRound(screen.height() - frame.height()))
                              .toUtf8());
    patternProgram->write("move 0 0\n");
    return detectPattern(screen);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (!startPatternProgram()) {
        std::fprintf(stderr, "the pattern window did not come to the front (run inside desktop-session.sh)\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    patternProgram->write("quit\n");
    patternProgram->waitForFinished(3000);
    delete patternProgram;
    return 0;
}
