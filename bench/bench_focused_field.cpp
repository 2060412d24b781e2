// Reading the focused field of another application: through AT-SPI (a 5,000-character text
// edit), through the clipboard fallback (a widget without accessible text), from a program
// with 5,000 accessible objects whose focus event we never saw, and from a stopped program.
// The last two also report the longest stall of the GUI thread during a read (a 10 ms timer
// that should never wait much longer). Runs inside the desktop session (`make bench`) against
// the foreign test applications of the test build.
#include "bench_support.h"
#include "core/capture_workflow_error.h"
#include "focused_text/focused_text_field_accessor.h"
#include "platform/desktop_backend.h"
#include "repeated_benchmark.h"
#include "shell/desktop_focused_text_platform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

using namespace tavrolin;
using tavrolin::bench::FieldsApp;
using tavrolin::bench::finish;
using tavrolin::bench::spinUntil;

QString sampleText(int length) {
    const QString words = QString::fromUtf8("Grüße aus Köln, 😀 wie geht es dir heute? Привет, мир. ");
    QString text;
    while (text.size() < length) {
        text += words;
    }
    text.truncate(length);
    if (text.at(text.size() - 1).isHighSurrogate()) {
        text.chop(1);
        text += 'x';
    }
    return text;
}

bool bringToFront(FieldsApp& app, const QString& field) {
    app.command("focus " + field);
    auto front = defaultFrontApplicationProvider();
    spinUntil(
        [&] {
            const auto f = front->frontApplication();
            return f && f->processId == app.pid();
        },
        5000);
    const auto f = front->frontApplication();
    return f && f->processId == app.pid();
}

struct Session {
    DesktopFocusedTextPlatform platform;
    FocusedTextFieldAccessor accessor = platform.makeAccessor(0.3);
    FieldsApp app;

    bool focus(const QString& field) { return bringToFront(app, field); }
};

// The longest time the GUI thread's event loop went without running a 10 ms timer.
class Heartbeat {
public:
    Heartbeat() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { longest_ = std::max(longest_, since_.restart()); });
        since_.start();
        timer_.start();
    }
    qint64 longestMs() const { return std::max(longest_, since_.elapsed()); }

private:
    QTimer timer_;
    QElapsedTimer since_;
    qint64 longest_ = 0;
};

// Runs first, so that the program takes the focus before this process listens for focus
// events: the field must be found by asking the program, not from an event.
void BM_ReadOf5000ObjectProgramWithoutFocusEvent(benchmark::State& state) {
    FieldsApp app(QStringLiteral("tavrolin_test_gtk_text_fields"), {QStringLiteral("5000")});
    if (!app.ready()) {
        state.SkipWithError("GTK test application not built (configure with tests)");
        return;
    }
    app.setText("line", "the field");
    if (!bringToFront(app, "line")) {
        state.SkipWithError("test application not in front");
        return;
    }
    DesktopFocusedTextPlatform platform;
    FocusedTextFieldAccessor accessor = platform.makeAccessor(0.3);
    // A program that has only just started may not have published its objects yet: a read that
    // finds no field then is expected, and looked at again.
    const auto findsField = [&accessor]() -> QCoro::Task<bool> {
        try {
            co_await accessor.readFocusedField();
        } catch (const CaptureWorkflowError&) {
            co_return false;
        }
        co_return true;
    };
    QElapsedTimer warmUp;
    warmUp.start();
    while (finish(findsField()) != true && warmUp.elapsed() < 10000) {
    }
    qint64 longestStall = 0;
    for (auto _ : state) {
        Heartbeat heartbeat;
        const std::optional<FocusedTextFieldSnapshot> snapshot = finish(accessor.readFocusedField());
        longestStall = std::max(longestStall, heartbeat.longestMs());
        if (!snapshot || snapshot->fullText != "the field") {
            state.SkipWithError("the field was not found");
            return;
        }
    }
    state.counters["gui_stall_ms"] = static_cast<double>(longestStall);
}
BENCHMARK(BM_ReadOf5000ObjectProgramWithoutFocusEvent)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// Whether the read was refused: what a stopped program must get, so no failure to report.
QCoro::Task<bool> refusesToRead(FocusedTextFieldAccessor& accessor) {
    try {
        co_await accessor.readFocusedField();
    } catch (const CaptureWorkflowError&) {
        co_return true;
    }
    co_return false;
}

void BM_ReadOfStoppedProgram(benchmark::State& state) {
    Session session;
    if (!session.app.ready()) {
        state.SkipWithError("test application not built (configure with tests)");
        return;
    }
    session.app.setText("line", "words");
    if (!session.focus("line")) {
        state.SkipWithError("test application not in front");
        return;
    }
    const auto pid = static_cast<pid_t>(session.app.pid());
    ::kill(pid, SIGSTOP);
    qint64 longestStall = 0;
    for (auto _ : state) {
        Heartbeat heartbeat;
        const std::optional<bool> refused = finish(refusesToRead(session.accessor));
        longestStall = std::max(longestStall, heartbeat.longestMs());
        if (refused == false) {
            state.SkipWithError("read a stopped program");
            break;
        }
    }
    ::kill(pid, SIGCONT);
    state.counters["gui_stall_ms"] = static_cast<double>(longestStall);
}
BENCHMARK(BM_ReadOfStoppedProgram)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_AtspiReadOf5000CharacterField(benchmark::State& state) {
    Session session;
    if (!session.app.ready()) {
        state.SkipWithError("test application not built (configure with tests)");
        return;
    }
    const QString text = sampleText(5000);
    session.app.setText("text", text);
    if (!session.focus("text")) {
        state.SkipWithError("test application not in front");
        return;
    }
    for (auto _ : state) {
        const std::optional<FocusedTextFieldSnapshot> snapshot = finish(session.accessor.readFocusedField());
        if (!snapshot || snapshot->fullText != text) {
            state.SkipWithError("the field was not read");
            return;
        }
    }
}
TAVROLIN_REPEATED_BENCHMARK(BM_AtspiReadOf5000CharacterField, 5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ReportAggregatesOnly(true);

void BM_ClipboardFallbackRead(benchmark::State& state) {
    Session session;
    if (!session.app.ready()) {
        state.SkipWithError("test application not built (configure with tests)");
        return;
    }
    const QString text = sampleText(5000);
    if (!session.focus("pad")) {
        state.SkipWithError("test application not in front");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        session.app.setText("pad", text);  // nothing selected: copy, select all, copy again
        state.ResumeTiming();
        const std::optional<FocusedTextFieldSnapshot> snapshot = finish(session.accessor.readFocusedField());
        if (!snapshot || snapshot->fullText != text) {
            state.SkipWithError("the field was not read");
            return;
        }
    }
}
TAVROLIN_REPEATED_BENCHMARK(BM_ClipboardFallbackRead, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->ReportAggregatesOnly(true);

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
