#pragma once

#include <array>
#include <cstdint>

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
};

// floor(count / 256), exact for any count.
inline double ScoreFromCount(std::uint64_t count) { return static_cast<double>(count / 256); }

// One run with the real clock, random generator, pow and sqrt.
BenchmarkResult RunBenchmark(BenchmarkProgress& progress);

} // namespace vantrel
