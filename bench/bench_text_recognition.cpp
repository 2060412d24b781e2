// Text recognition of a painted 1280x800 application window (40 lines of 14 px interface
// text), with warm engines: in bands on all cores, in one piece on one thread, with one and
// two languages. Then the resident memory before and after the idle engines are freed, and
// source-language detection of single recognised lines.
//
// Run it in a desktop session (or with QT_QPA_PLATFORM=offscreen); for the two-core figures
// start it under `taskset -c 0,1`.
#include "platform/desktop_backend.h"
#include "platform/language_recognizer.h"
#include "platform/linux/modules/tesseract_text_recognition_engine.h"
#include "repeated_benchmark.h"
#include "support/fakes/fixed_preferred_languages.h"
#include "support/painted_screen.h"
#include "window_translation/source_language_detection.h"
#include "window_translation/text_recognition_service.h"

#include <QFile>
#include <QGuiApplication>
#include <QThread>

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <thread>

using namespace tavrolin;

namespace {

const test::PaintedScreen& screen() {
    static const test::PaintedScreen painted = test::paintUiScreen(14);
    return painted;
}

double processCpuMilliseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// The painted lines read word for word.
int exactLines(const RecognizedTextResult& result) {
    int exact = 0;
    for (const auto& line : screen().lines) {
        for (const auto& block : result.blocks) {
            if (block.text == line.text) {
                ++exact;
                break;
            }
        }
    }
    return exact;
}

void recognizeScreen(benchmark::State& state, int threads, std::set<AppLanguage> favoured) {
    auto engine = std::make_shared<TesseractTextRecognitionEngine>(TesseractEngineOptions{{}, threads});
    const TextRecognitionService service(engine, makeSystemLanguageRecognizer(),
                                         std::make_shared<test::FixedPreferredLanguages>(std::move(favoured)));
    // Warm: every pool thread loads its engine once.
    RecognizedTextResult result = service.recognizeText(screen().image, AppLanguage::automatic, false);
    const double cpuBefore = processCpuMilliseconds();
    for (auto _ : state) {
        result = service.recognizeText(screen().image, AppLanguage::automatic, false);
        benchmark::DoNotOptimize(result);
    }
    // The work of all threads, not only the waiting caller's.
    state.counters["work_ms"] = (processCpuMilliseconds() - cpuBefore) / double(state.iterations());
    state.counters["threads"] = engine->threadCount();
    state.counters["lines"] = double(result.blocks.size());
    state.counters["exact"] = exactLines(result);
    state.SetLabel(service.recognitionLanguages(AppLanguage::automatic).join(u'+').toStdString());
}

void BM_RecognizeScreen_English(benchmark::State& state) {
    recognizeScreen(state, 0, {AppLanguage::english});
}
void BM_RecognizeScreen_EnglishRussian(benchmark::State& state) {
    recognizeScreen(state, 0, {AppLanguage::english, AppLanguage::russian});
}
void BM_RecognizeScreen_English_OneBand(benchmark::State& state) {
    recognizeScreen(state, 1, {AppLanguage::english});
}

TAVROLIN_REPEATED_BENCHMARK(BM_RecognizeScreen_English, 15)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->ReportAggregatesOnly(true);
TAVROLIN_REPEATED_BENCHMARK(BM_RecognizeScreen_EnglishRussian, 15)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->ReportAggregatesOnly(true);
TAVROLIN_REPEATED_BENCHMARK(BM_RecognizeScreen_English_OneBand, 7)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->ReportAggregatesOnly(true);

// Single recognised lines of 20 to 60 characters, as detection meets them block by block.
void BM_DetectSourceLanguage_OneLine(benchmark::State& state) {
    const QStringList lines = {
        QStringLiteral("Changes apply to every device"),
        QStringLiteral("Die Einstellungen werden gespeichert"),
        QStringLiteral("Les modifications sont enregistrées"),
        QStringLiteral("Изменения применяются ко всем устройствам"),
        QStringLiteral("Los cambios se aplican a todos los dispositivos"),
        QStringLiteral("Le modifiche si applicano a tutti i dispositivi"),
    };
    std::vector<std::vector<RecognizedTextBlock>> blocks;
    for (const QString& text : lines) {
        blocks.push_back({{text, QRectF(0, 0, 300, 20), {}}});
    }
    const auto recognizer = makeSystemLanguageRecognizer();
    const std::set<AppLanguage> favoured = {AppLanguage::english, AppLanguage::german};
    std::size_t i = 0;
    for (auto _ : state) {
        auto detected =
            detectSourceLanguage(blocks[i++ % blocks.size()], AppLanguage::automatic, favoured, *recognizer);
        benchmark::DoNotOptimize(detected);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DetectSourceLanguage_OneLine);

long residentKilobytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').front().toLong();
        }
    }
    return -1;
}

// Resident memory with warm engines on every pool thread, and after the idle threads ended.
void reportIdleRelease() {
    const long before = residentKilobytes();
    long warm = 0;
    {
        auto engine = std::make_shared<TesseractTextRecognitionEngine>(
            TesseractEngineOptions{{}, 0, std::chrono::milliseconds(500)});
        const TextRecognitionService service(engine, makeSystemLanguageRecognizer(),
                                             std::make_shared<test::FixedPreferredLanguages>(
                                                 std::set<AppLanguage>{AppLanguage::english, AppLanguage::russian}));
        service.recognizeText(screen().image, AppLanguage::automatic, false);
        warm = residentKilobytes();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        const long released = residentKilobytes();
        std::printf("resident memory (eng+rus, %d threads): before %ld kB, warm %ld kB, after idle release %ld kB\n",
                    engine->threadCount(), before, warm, released);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    screen();
    reportIdleRelease();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
