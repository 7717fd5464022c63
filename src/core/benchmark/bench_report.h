#pragma once

#include "core/benchmark/benchmark_run.h"

#include <array>
#include <chrono>
#include <istream>
#include <optional>
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

// What ended a "--runs auto" series.
enum class RunsEnd {
    Steady, // the coefficient of variation reached kAutoRunsCv
    MaxRuns, // kAutoRunsMax runs without that
};

// A lone score on a busy machine is noise: "--runs auto" repeats until the scores agree.
inline constexpr int kAutoRunsMin = 3;
inline constexpr int kAutoRunsMax = 15;
inline constexpr double kAutoRunsCv = 0.01;

// Whether a "--runs auto" series stops after these scores, and why; nullopt to go on.
std::optional<RunsEnd> autoRunsEnd(const std::vector<double>& scores);
// "cv_at_most_1_percent" or "max_15_runs", in the text and the JSON output alike.
std::string runsEndName(RunsEnd end);

// Median score, its coefficient of variation in percent, what ended an automatic series,
// and last "score: " the median.
std::string formatSummary(const std::vector<double>& scores, std::optional<RunsEnd> end = std::nullopt);

struct MachineInfo {
    std::string processor; // model name, empty when unknown
    unsigned logicalCores = 0;
    std::string kernel; // "Linux 6.1.0-18-amd64 x86_64"
    std::string compiler; // the compiler that built this program
};

// The first "model name" in the text of /proc/cpuinfo; empty when there is none.
std::string processorModelFrom(std::istream& cpuinfo);
MachineInfo describeMachine();

} // namespace vantrel
