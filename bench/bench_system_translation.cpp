// On-device translation: one call with a batch of ten short texts against ten calls of one
// text each (English to Spanish with the installed Apertium).
#include "language/system_translation_client.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <benchmark/benchmark.h>

#include <exception>
#include <optional>

namespace {

using namespace tavrolin;

const QStringList kTexts{
    "The weather is nice today.", "I have a red car.",         "Where is the station?",
    "The cat sleeps on the sofa.", "We are going to the park.", "Thank you very much.",
    "The house is very big.",      "I like to read books.",     "Good morning.",
    "The dog runs in the garden.",
};

QStringList run(QCoro::Task<QStringList> task) {
    QEventLoop loop;
    std::optional<QStringList> result;
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
    SystemTranslationClient client;
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
    SystemTranslationClient client;
    for (auto _ : state) {
        for (const auto& text : kTexts) {
            const auto out =
                run(client.translate({text}, AppLanguage::english, AppLanguage::spanish));
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
    SystemTranslationClient client;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            run(client.translate({kTexts.front()}, AppLanguage::english, AppLanguage::spanish)));
    }
}

BENCHMARK(BM_BatchOfTenTexts)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_TenSingleTextCalls)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OneSingleTextCall)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
