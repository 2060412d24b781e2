// On-device translation, English to Spanish with the installed Apertium.
// Through the translation client: one call with a batch of ten short texts against ten calls
// of one text each. Through the engine: the kept-running pipeline ("Warm") next to one
// apertium process per call ("OneProcess") for a sentence, a 900-character paragraph and forty
// short lines (one call each, and as one batch), and the first call of a fresh pipeline. The
// warm figures carry the resident memory of the running pipeline's processes.
#include "language/system_translation_client.h"
#include "platform/desktop_backend.h"
#include "platform/linux/apertium_translation_engine.h"
#include "repeated_benchmark.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <benchmark/benchmark.h>
#include <exception>
#include <optional>

namespace {

using namespace tavrolin;

const QStringList kTexts{
    "The weather is nice today.",  "I have a red car.",         "Where is the station?",
    "The cat sleeps on the sofa.", "We are going to the park.", "Thank you very much.",
    "The house is very big.",      "I like to read books.",     "Good morning.",
    "The dog runs in the garden.",
};

template <typename T>
T run(QCoro::Task<T> task) {
    QEventLoop loop;
    std::optional<T> result;
    std::exception_ptr error;
    auto runner = [&]() -> QCoro::Task<> {
        try {
            result = co_await std::move(task);
        } catch (...) {
            error = std::current_exception();
        }
        loop.quit();
    };
    auto running = runner();
    if (!result && !error) {
        loop.exec();
    }
    if (error) {
        std::rethrow_exception(error);
    }
    return *result;
}

void BM_BatchOfTenTexts(benchmark::State& state) {
    SystemTranslationClient client(makeSystemTranslationEngine(), makeSystemLanguageRecognizer());
    for (auto _ : state) {
        const auto out = run(client.translate(kTexts, AppLanguage::english, AppLanguage::spanish));
        if (out.size() != kTexts.size() || out.contains(QString())) {
            state.SkipWithError("incomplete translation");
            break;
        }
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations() * kTexts.size());
}

void BM_TenSingleTextCalls(benchmark::State& state) {
    SystemTranslationClient client(makeSystemTranslationEngine(), makeSystemLanguageRecognizer());
    for (auto _ : state) {
        for (const auto& text : kTexts) {
            const auto out = run(client.translate({text}, AppLanguage::english, AppLanguage::spanish));
            if (out.size() != 1 || out.front().isEmpty()) {
                state.SkipWithError("incomplete translation");
                return;
            }
            benchmark::DoNotOptimize(out);
        }
    }
    state.SetItemsProcessed(state.iterations() * kTexts.size());
}

void BM_OneSingleTextCall(benchmark::State& state) {
    SystemTranslationClient client(makeSystemTranslationEngine(), makeSystemLanguageRecognizer());
    for (auto _ : state) {
        benchmark::DoNotOptimize(run(client.translate({kTexts.front()}, AppLanguage::english, AppLanguage::spanish)));
    }
}

const QString kSentence = QStringLiteral("The weather is nice today and we are going to the park.");

QString paragraph() {
    const QString sentences =
        "The small village lies between two green hills, and a narrow river runs through it. "
        "Every morning the baker opens his shop before the sun rises, and the smell of fresh bread "
        "fills the streets. Children walk to the old school near the church, while their parents "
        "work in the fields or in the little shops around the square. In the summer many visitors "
        "come to see the castle on the hill, which was built more than five hundred years ago. "
        "They walk along the walls, take photographs of the valley and eat in the restaurant by "
        "the bridge. In the winter the village is quiet again, and the people sit by the fire in "
        "the evening and tell stories about the old days. ";
    return sentences.left(900);
}

QStringList fortyLines() {
    QStringList lines;
    for (int i = 0; i < 40; ++i) {
        lines.append(kTexts[i % kTexts.size()]);
    }
    return lines;
}

std::vector<OnDeviceTranslationRequest> requestsFor(const QStringList& texts) {
    std::vector<OnDeviceTranslationRequest> requests;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        requests.push_back({texts[i], QString::number(i)});
    }
    return requests;
}

std::shared_ptr<ApertiumPipelinePool> warmPool() {
    static const auto pool = std::make_shared<ApertiumPipelinePool>();
    return pool;
}

// One engine for each way of running: pipelines kept running, or none at all.
ApertiumTranslationEngine& engine(bool warm) {
    static ApertiumTranslationEngine warmEngine({.pipelines = warmPool()});
    static ApertiumTranslationEngine oneProcessEngine(
        {.pipelines = std::make_shared<ApertiumPipelinePool>(ApertiumPipelinePoolOptions{.maximumPipelines = 0})});
    return warm ? warmEngine : oneProcessEngine;
}

bool translateAll(ApertiumTranslationEngine& apertium, const QStringList& texts) {
    const auto responses = run(apertium.translate("en", "es", requestsFor(texts)));
    if (responses.size() != static_cast<std::size_t>(texts.size())) {
        return false;
    }
    for (const auto& response : responses) {
        if (response.targetText.trimmed().isEmpty()) {
            return false;
        }
    }
    return true;
}

// Resident memory of every process of the running pipelines, in megabytes.
double pipelineResidentMegabytes(ApertiumPipelinePool& pool) {
    double kilobytes = 0;
    for (const QString& mode : pool.runningModes()) {
        for (const qint64 pid : pool.pipelineFor(mode)->processIds()) {
            QFile status(QStringLiteral("/proc/%1/status").arg(pid));
            if (!status.open(QIODevice::ReadOnly)) {
                continue;
            }
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("VmRSS:")) {
                    kilobytes += line.mid(6).trimmed().split(' ').front().toDouble();
                }
            }
        }
    }
    return kilobytes / 1024.0;
}

void BM_Engine(benchmark::State& state, bool warm, QStringList texts, bool oneByOne) {
    auto& apertium = engine(warm);
    if (!translateAll(apertium, {kSentence})) {  // the pipeline is started before timing
        state.SkipWithError("no translation");
        return;
    }
    for (auto _ : state) {
        const bool ok = [&] {
            if (!oneByOne) {
                return translateAll(apertium, texts);
            }
            for (const QString& text : texts) {
                if (!translateAll(apertium, {text})) {
                    return false;
                }
            }
            return true;
        }();
        if (!ok) {
            state.SkipWithError("incomplete translation");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * texts.size());
    if (warm) {
        state.counters["pipeline_rss_MB"] = pipelineResidentMegabytes(*warmPool());
    }
}

void BM_Warm_FirstCallAfterStart(benchmark::State& state) {
    for (auto _ : state) {
        auto pool = std::make_shared<ApertiumPipelinePool>();
        ApertiumTranslationEngine apertium({.pipelines = pool});
        if (!translateAll(apertium, {kSentence})) {
            state.SkipWithError("no translation");
            return;
        }
        state.PauseTiming();
        state.counters["pipeline_rss_MB"] = pipelineResidentMegabytes(*pool);
        pool->stopAll();
        state.ResumeTiming();
    }
}

BENCHMARK_CAPTURE(BM_Engine, OneProcess_Sentence, false, QStringList{kSentence}, false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
TAVROLIN_REPEATED_BENCHMARK_CAPTURE(BM_Engine, Warm_Sentence, 5, true, QStringList{kSentence}, false)
    ->Unit(benchmark::kMillisecond)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_Engine, OneProcess_Paragraph900, false, QStringList{paragraph()}, false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
TAVROLIN_REPEATED_BENCHMARK_CAPTURE(BM_Engine, Warm_Paragraph900, 5, true, QStringList{paragraph()}, false)
    ->Unit(benchmark::kMillisecond)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_Engine, OneProcess_FortyLinesOneByOne, false, fortyLines(), true)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
TAVROLIN_REPEATED_BENCHMARK_CAPTURE(BM_Engine, Warm_FortyLinesOneByOne, 5, true, fortyLines(), true)
    ->Unit(benchmark::kMillisecond)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_Engine, OneProcess_FortyLinesBatch, false, fortyLines(), false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
TAVROLIN_REPEATED_BENCHMARK_CAPTURE(BM_Engine, Warm_FortyLinesBatch, 5, true, fortyLines(), false)
    ->Unit(benchmark::kMillisecond)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Warm_FirstCallAfterStart)->Unit(benchmark::kMillisecond)->Iterations(5);

TAVROLIN_REPEATED_BENCHMARK(BM_BatchOfTenTexts, 5)->Unit(benchmark::kMillisecond)->ReportAggregatesOnly(true);
TAVROLIN_REPEATED_BENCHMARK(BM_TenSingleTextCalls, 5)->Unit(benchmark::kMillisecond)->ReportAggregatesOnly(true);
TAVROLIN_REPEATED_BENCHMARK(BM_OneSingleTextCall, 5)->Unit(benchmark::kMillisecond)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    warmPool()->stopAll();
    return 0;
}
