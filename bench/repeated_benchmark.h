#pragma once

// Benchmarks run several times over (Repetitions), whose statistics the library computes.
#include <benchmark/benchmark.h>
#include <memory>
#include <utility>

namespace tavrolin::bench {

// Google Benchmark 1.7 takes the statistics of a repeated benchmark from its first repetition's
// report, which a repetition ended with SkipWithError leaves without them: when the first
// repetition fails and two later ones do not, the program calls through an address it never set
// (a jump to 0). So once a repetition fails, every later one fails too, and no statistics are
// computed from a failed first report: the benchmark reports its failure. The library also stops
// the program when a repetition counts other iterations than the first: one that failed before its
// timed loop (counting none) goes through the loop then, which runs no iteration and counts as
// every other does.
template <typename Run>
auto endingAtFirstFailedRepetition(Run run) {
    // Shared by the copies the library makes of the benchmark.
    auto failed = std::make_shared<bool>(false);
    return [run = std::move(run), failed](benchmark::State& state) {
        if (*failed) {
            state.SkipWithError("an earlier repetition failed");
        } else {
            run(state);
            *failed = state.error_occurred();
        }
        if (state.error_occurred() && state.iterations() == 0) {
            for (auto _ : state) {
            }
        }
    };
}

}  // namespace tavrolin::bench

// BENCHMARK(function)->Repetitions(repetitions), ended at its first failed repetition.
#define TAVROLIN_REPEATED_BENCHMARK(function, repetitions)                                                    \
    BENCHMARK_PRIVATE_DECLARE(function) =                                                                     \
        ::benchmark::RegisterBenchmark(#function, ::tavrolin::bench::endingAtFirstFailedRepetition(function)) \
            ->Repetitions(repetitions)

// BENCHMARK_CAPTURE(function, name, ...)->Repetitions(repetitions), ended at its first failed
// repetition.
#define TAVROLIN_REPEATED_BENCHMARK_CAPTURE(function, name, repetitions, ...)                                \
    BENCHMARK_PRIVATE_DECLARE(function) =                                                                    \
        ::benchmark::RegisterBenchmark(#function "/" #name,                                                  \
                                       ::tavrolin::bench::endingAtFirstFailedRepetition(                     \
                                           [](::benchmark::State& state) { function(state, __VA_ARGS__); })) \
            ->Repetitions(repetitions)
