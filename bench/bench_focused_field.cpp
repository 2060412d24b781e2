// Reading the focused field of another application: through AT-SPI (a 5,000-character text
// edit) and through the clipboard fallback (a widget without accessible text). Runs inside the
// desktop session (`make bench`) against the foreign test application of the test build.
#include "focused_text/focused_text_field_accessor.h"
#include "shell/linux_focused_text_platform.h"

#include "bench_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <benchmark/benchmark.h>

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

struct Session {
    LinuxFocusedTextPlatform platform;
    FocusedTextFieldAccessor accessor{platform.platform(), 0.3};
    FieldsApp app;

    bool focus(const QString& field) {
        app.command("focus " + field);
        auto front = defaultFrontApplicationProvider();
        spinUntil([&] {
            const auto f = front->frontApplication();
            return f && f->processId == app.pid();
        }, 5000);
        const auto f = front->frontApplication();
        return f && f->processId == app.pid();
    }
};

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
BENCHMARK(BM_AtspiReadOf5000CharacterField)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

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
BENCHMARK(BM_ClipboardFallbackRead)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "DISPLAY is not set: run inside tests/support/desktop-session.sh\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
