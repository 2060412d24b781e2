// The registration of repeated benchmarks: a failed repetition ends the benchmark, so the library
// never computes statistics from a failed first repetition's report.
#include "repeated_benchmark.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

class CollectedRuns final : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& reported) override {
        runs.insert(runs.end(), reported.begin(), reported.end());
    }
    std::vector<Run> runs;
};

TEST(RepeatedBenchmark, AFailedFirstRepetitionFailsTheLaterOnesWithoutStatistics) {
    int started = 0;
    // Fails within its timed loop, as a benchmark whose command failed does.
    const auto failingFirst = [&started](benchmark::State& state) {
        const bool fails = ++started == 1;
        for (auto _ : state) {
            if (fails) {
                state.SkipWithError("the field was not read");
                return;
            }
        }
    };
    benchmark::RegisterBenchmark("FailingFirst", tavrolin::bench::endingAtFirstFailedRepetition(failingFirst))
        ->Iterations(1)
        ->Repetitions(3);
    CollectedRuns reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::ClearRegisteredBenchmarks();

    EXPECT_EQ(started, 1);
    ASSERT_EQ(reporter.runs.size(), 3u);
    EXPECT_EQ(reporter.runs[0].error_message, "the field was not read");
    for (const auto& run : reporter.runs) {
        EXPECT_TRUE(run.error_occurred);
        EXPECT_EQ(run.run_type, benchmark::BenchmarkReporter::Run::RT_Iteration);  // no aggregate
    }
}

}  // namespace
