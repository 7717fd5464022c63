#pragma once

#include "core/benchmark/disturbance.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

// What the main window does to show progress; a test can record the calls.
class BenchmarkProgress {
public:
    virtual ~BenchmarkProgress() = default;
    // Shows no test as current, then yields once.
    virtual void ClearStatus() = 0;
    // Shows test 1..6 as the current one (bold label).
    virtual void markCurrent(int test) = 0;
    // Processes pending user-interface events once.
    virtual void yield() = 0;
};

inline constexpr int kTestCount = 6;

// The tests in run order, as their status labels read.
inline constexpr std::array<const char*, kTestCount> kTestNames = {
    "Matrix Addition",
    "Matrix Multiplication",
    "Array Resize",
    "Complex Addition",
    "Complex Multiplication",
    "Quadratics",
};

struct BenchmarkResult {
    double score = 0; // floor(count / 256)
    std::uint64_t count = 0; // every completed step of all six tests
    std::array<std::uint64_t, kTestCount> steps {}; // steps of each test
    // What other work on the machine took from each test; all 0 where it was not watched.
    std::array<TestDisturbance, kTestCount> disturbance {};

    // Whether another program, or another machine on the host, kept any test from its full second.
    bool disturbed() const;
};

// For each disturbed test, in order, why its count is too low (disturbanceLine).
std::vector<std::string> disturbanceLines(const BenchmarkResult& result);

// floor(count / 256), exact for any count.
inline double ScoreFromCount(std::uint64_t count)
{
    return static_cast<double>(count / 256);
}

// Where a run's thread may go once the fastest core has been found. Runs are started there: kept
// there, a run could not leave work that arrives on that core later, as the scheduler would
// move it (README, "Pinned or left to the scheduler").
enum class CorePlacement {
    Pinned, // kept on the fastest core for the whole run
    Started, // moved to the fastest core, then left to the scheduler
    Free, // left to the scheduler from the start, no core probed
};

// One run with the real clock, random generator, pow and sqrt, each test watched for disturbance.
BenchmarkResult RunBenchmark(BenchmarkProgress& progress, CorePlacement placement = CorePlacement::Started);

} // namespace vantrel
