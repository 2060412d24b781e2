// The registration of repeated benchmarks: a failed repetition ends the benchmark, so the library
// never computes statistics from a failed first repetition's report, nor finds repetitions that
// counted different numbers of iterations.
#include "repeated_benchmark.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Report = benchmark::BenchmarkReporter::Run;

class CollectedRuns final : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Report>& reported) override {
        runs.insert(runs.end(), reported.begin(), reported.end());
    }
    std::vector<Report> of(const std::string& name) const {
        std::vector<Report> found;
        for (const Report& run : runs) {
            if (run.run_name.function_name == name) {
                found.push_back(run);
            }
        }
        return found;
    }
    std::vector<Report> runs;
};

TEST(RepeatedBenchmark, AFailedRepetitionFailsTheLaterOnes) {
    // The first repetition fails within its timed loop, as a benchmark whose command failed does.
    int firstStarts = 0;
    const auto failingFirst = [&firstStarts](benchmark::State& state) {
        const bool fails = ++firstStarts == 1;
        for (auto _ : state) {
            if (fails) {
                state.SkipWithError("the field was not read");
                break;
            }
        }
    };
    // The third fails before its timed loop, as a benchmark whose program did not start does.
    int thirdStarts = 0;
    const auto failingThird = [&thirdStarts](benchmark::State& state) {
        if (++thirdStarts == 3) {
            state.SkipWithError("test application not in front");
            return;
        }
        for (auto _ : state) {
        }
    };
    benchmark::RegisterBenchmark("FailingFirst", tavrolin::bench::endingAtFirstFailedRepetition(failingFirst))
        ->Iterations(2)
        ->Repetitions(3);
    benchmark::RegisterBenchmark("FailingThird", tavrolin::bench::endingAtFirstFailedRepetition(failingThird))
        ->Iterations(2)
        ->Repetitions(4);
    CollectedRuns reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::ClearRegisteredBenchmarks();

    EXPECT_EQ(firstStarts, 1);
    const std::vector<Report> first = reporter.of("FailingFirst");
    ASSERT_EQ(first.size(), 3u);  // no statistics
    EXPECT_EQ(first[0].error_message, "the field was not read");
    EXPECT_EQ(first[2].error_message, "an earlier repetition failed");

    EXPECT_EQ(thirdStarts, 3);
    const std::vector<Report> third = reporter.of("FailingThird");
    ASSERT_GE(third.size(), 4u);  // the statistics of the first two follow
    EXPECT_FALSE(third[1].error_occurred);
    EXPECT_EQ(third[2].error_message, "test application not in front");
    EXPECT_EQ(third[3].error_message, "an earlier repetition failed");
}

}  // namespace
