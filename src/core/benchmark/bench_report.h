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
MeasuredRun measureRun(CorePlacement placement = CorePlacement::Started);

// "matrix_addition_steps" and the like: the test's name in lower case, words joined by '_'.
std::string testKey(int test);

// One "name: value" line per test's steps and seconds, then whether it was disturbed, count
// and, last, score.
std::string formatRun(const MeasuredRun& run);

double medianOf(std::vector<double> values);
// Standard deviation over mean (population), 0 for fewer than two values or a zero mean.
double coefficientOfVariation(const std::vector<double>& values);

// What ended a "--runs auto" series.
enum class RunsEnd {
    Steady, // enough undisturbed runs agree within kAutoRunsCv
    MaxRuns, // kAutoRunsMax runs without that
    TooBusy, // too many runs disturbed for kAutoRunsMin undisturbed ones within kAutoRunsMax
};

// A lone score on a busy machine is noise: "--runs auto" repeats until the undisturbed scores agree.
inline constexpr int kAutoRunsMin = 3;
inline constexpr int kAutoRunsMax = 15;
inline constexpr double kAutoRunsCv = 0.01;

// The figures a series of runs gives: disturbed runs are set aside, unless every run was.
struct RunsSummary {
    std::size_t runs = 0;
    std::size_t setAside = 0; // disturbed runs left out of the median
    double median = 0;
    double cv = 0; // of the scores the median is taken over
    bool disturbed = false; // no undisturbed run: the median is of disturbed ones
};
RunsSummary summarizeRuns(const std::vector<MeasuredRun>& runs);

// Whether a "--runs auto" series stops after these runs, and why; nullopt to go on.
std::optional<RunsEnd> autoRunsEnd(const std::vector<MeasuredRun>& runs);
// "cv_at_most_1_percent", "max_15_runs" or "too_busy", in the text and the JSON output alike.
std::string runsEndName(RunsEnd end);
// Whether the score of these runs may be trusted: some run was undisturbed, and an automatic
// series found agreement.
bool scoreTrusted(const RunsSummary& summary, std::optional<RunsEnd> end);

// Runs, how many were set aside, median score, its coefficient of variation in percent, what
// ended an automatic series, whether the score is disturbed, and last "score: " the median.
std::string formatSummary(const std::vector<MeasuredRun>& runs, std::optional<RunsEnd> end = std::nullopt);

// Plain sentences for the user about the runs, one a line: each disturbed test (with "run N: "
// before it when there are several runs), how many runs were set aside, and when an automatic
// series could not find agreement, that the machine is too busy to measure.
std::string formatDisturbance(
    const std::vector<MeasuredRun>& runs, std::optional<RunsEnd> end = std::nullopt);

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
