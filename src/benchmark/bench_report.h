#pragma once

#include "benchmark/benchmark_run.h"

#include <array>
#include <chrono>
#include <string>
#include <vector>

namespace vantrel {

// Progress that shows nothing and times every test with a monotonic clock, from the
// yield after the test is marked current to the next ClearStatus.
class MeasuringProgress : public BenchmarkProgress {
public:
    void ClearStatus() override;
    void markCurrent(int test) override;
    void yield() override;

    // Seconds each test took; 0 for a test that has not run.
    const std::array<double, kTestCount>& seconds() const { return m_seconds; }

private:
    using Clock = std::chrono::steady_clock;
    std::array<double, kTestCount> m_seconds {};
    int m_current = 0; // test marked current, 0 for none
    bool m_timing = false;
    Clock::time_point m_begin;
};

struct MeasuredRun {
    BenchmarkResult result;
    std::array<double, kTestCount> seconds {};
};

// One real run, timed.
MeasuredRun measureRun();

// "matrix_addition_steps" and the like: the test's name in lower case, words joined by '_'.
std::string testKey(int test);

// One "name: value" line per test's steps and seconds, then count and, last, score.
std::string formatRun(const MeasuredRun& run);

double medianOf(std::vector<double> values);
// Standard deviation over mean (population), 0 for fewer than two values or a zero mean.
double coefficientOfVariation(const std::vector<double>& values);

// Median score, its coefficient of variation in percent, and last "score: " the median.
std::string formatSummary(const std::vector<double>& scores);

} // namespace vantrel
