#pragma once

#include "core/benchmark/benchmark_run.h"

#include <cmath>
#include <cstdint>
#include <memory>

namespace vantrel {

inline constexpr int kMatrixSize = 11;
using BenchmarkMatrix = double[kMatrixSize][kMatrixSize];

// What the matrix tests leave behind, for callers that want to look.
// Each matrix starts on a cache line, wherever the run's stack lands. Packed right behind a, b
// began 8 bytes off a 16-byte boundary: its vector accesses split cache lines, and in about one
// stack placement in four one of them split a page, slowing Matrix Addition by about 15 %.
struct alignas(64) BenchmarkMatrices {
    alignas(64) BenchmarkMatrix a {};
    alignas(64) BenchmarkMatrix b {};
};

namespace detail {

inline constexpr double kSecondsPerDay = 86400;

// Hides a value from the optimiser so that a result nobody reads is still computed.
template <class T> inline void keepValue(const T& value)
{
    asm volatile("" : : "r,m"(value));
}

// Makes the compiler assume that everything behind p is read and written here, so stores
// to it really happen and later loads really read it.
inline void touchMemory(const void* p)
{
    asm volatile("" : : "r"(p) : "memory");
}

// The time check before every pass: both the clock reading and the end of the second are
// taken to single precision each time. A clock that restarts at midnight reads below the
// start; adding a day keeps the second about one second long.
template <class Services> inline bool withinSecond(Services& services, double start)
{
    double now = static_cast<float>(services.timer());
    // Keeps the end of the second from being hoisted out of the loop: it is worked out per check.
    asm volatile("" : "+m"(start));
    if (now < start)
        now += kSecondsPerDay;
    const float t = static_cast<float>(now);
    const float e = static_cast<float>(start + 1);
    return e > t;
}

} // namespace detail

namespace detail {

// The six tests, one function each. Every one is inlined into RunBenchmarkWith, so the shared
// count stays in a register across all six loops as if they were written out there; each adds
// its steps to count and returns how many it added.

// Test 1, "Matrix Addition".
template <class Services>
[[gnu::always_inline]] inline std::uint64_t matrixAddition(
    Services& services, BenchmarkMatrices& m, BenchmarkMatrix& a, BenchmarkMatrix& b, std::uint64_t& count)
{
    const std::uint64_t before = count;
    const double start = services.timer();
    while (withinSecond(services, start)) {
        for (int i = 0; i < kMatrixSize; ++i) {
            for (int j = 0; j < kMatrixSize; ++j) {
                b[i][j] = a[i][j] + b[i][j];
                ++count;
            }
        }
        touchMemory(&m);
    }
    return count - before;
}

// Test 2, "Matrix Multiplication": the product is stored, then replaced.
template <class Services>
[[gnu::always_inline]] inline std::uint64_t matrixMultiplication(
    Services& services, BenchmarkMatrices& m, BenchmarkMatrix& a, std::uint64_t& count)
{
    const std::uint64_t before = count;
    const double start = services.timer();
    while (withinSecond(services, start)) {
        for (int i = 0; i < kMatrixSize; ++i) {
            for (int j = 0; j < kMatrixSize; ++j) {
                a[i][j] = a[i][j] * 12;
                asm volatile("" : : "m"(a[i][j]));
                a[i][j] = static_cast<double>(services.random()) * 100000;
                ++count;
            }
        }
        touchMemory(&m);
    }
    return count - before;
}

// Test 3, "Array Resize": the old array goes, a zeroed one of n + 1 elements comes.
template <class Services>
[[gnu::always_inline]] inline std::uint64_t arrayResize(Services& services, std::uint64_t& count)
{
    const std::uint64_t before = count;
    std::unique_ptr<double[]> array;
    const double start = services.timer();
    while (withinSecond(services, start)) {
        const long n = std::lrint(static_cast<double>(services.random()) * 1000);
        array.reset();
        array.reset(new double[static_cast<std::size_t>(n) + 1]());
        touchMemory(array.get());
        ++count;
    }
    array.reset();
    return count - before;
}

// Test 4, "Complex Addition": nothing but the count and the time check.
template <class Services>
[[gnu::always_inline]] inline std::uint64_t complexAddition(Services& services, std::uint64_t& count)
{
    const std::uint64_t before = count;
    const double start = services.timer();
    while (withinSecond(services, start))
        ++count;
    return count - before;
}

// Test 5, "Complex Multiplication".
template <class Services>
[[gnu::always_inline]] inline std::uint64_t complexMultiplication(Services& services, std::uint64_t& count)
{
    const std::uint64_t before = count;
    const double start = services.timer();
    while (withinSecond(services, start)) {
        const double v = services.power(45, 2) * 135 * 303 * 34 * 26588;
        keepValue(v);
        ++count;
    }
    return count - before;
}

// Test 6, "Quadratics": both roots of 2x^2 + 12x + 4 = 0.
template <class Services>
[[gnu::always_inline]] inline std::uint64_t quadratics(Services& services, std::uint64_t& count)
{
    const std::uint64_t before = count;
    const double start = services.timer();
    while (withinSecond(services, start)) {
        double d = services.power(12, 2) - 32;
        double s = services.squareRoot(d);
        const double x1 = (s - 12) / 4;
        d = services.power(12, 2) - 32;
        s = services.squareRoot(d);
        const double x2 = (-12 - s) / 4;
        keepValue(x1);
        keepValue(x2);
        ++count;
    }
    return count - before;
}

} // namespace detail

// The six tests under the time rule, with the clock, random generator, power and square
// root taken from Services:
//   float timer();  float random();  double power(double, double);  double squareRoot(double);
// Yields happen only through progress, and only between tests.
template <class Services>
BenchmarkResult RunBenchmarkWith(
    Services& services, BenchmarkProgress& progress, BenchmarkMatrices* leftBehind = nullptr)
{
    BenchmarkMatrices local;
    BenchmarkMatrices& m = leftBehind ? *leftBehind : local;
    m = BenchmarkMatrices {};
    std::uint64_t count = 0;
    BenchmarkResult result;
    auto& a = m.a;
    auto& b = m.b;
    auto beginTest = [&](int test) {
        progress.ClearStatus();
        progress.markCurrent(test);
        progress.yield();
    };

    beginTest(1);
    for (int i = 0; i < kMatrixSize; ++i) {
        for (int j = 0; j < kMatrixSize; ++j)
            a[i][j] = static_cast<double>(services.random()) * 1000000;
    }
    result.steps[0] = detail::matrixAddition(services, m, a, b, count);
    beginTest(2);
    result.steps[1] = detail::matrixMultiplication(services, m, a, count);
    beginTest(3);
    result.steps[2] = detail::arrayResize(services, count);
    beginTest(4);
    result.steps[3] = detail::complexAddition(services, count);
    beginTest(5);
    result.steps[4] = detail::complexMultiplication(services, count);
    beginTest(6);
    result.steps[5] = detail::quadratics(services, count);
    progress.ClearStatus();

    // Kept exact in 64 bits: no machine counts anywhere near 2^64 steps in six seconds.
    result.count = count;
    result.score = ScoreFromCount(count);
    return result;
}

// Passes every progress call on, and samples the thread just after a test's yield and just before
// the ClearStatus that ends it: around the timed loop, never inside it, and without the
// window's own event handling.
class DisturbanceWatch : public BenchmarkProgress {
public:
    DisturbanceWatch(BenchmarkProgress& shown, ThreadMeter& meter)
        : m_shown(shown)
        , m_meter(meter)
    {
    }

    void ClearStatus() override
    {
        if (m_watching)
            m_tests[static_cast<std::size_t>(m_current - 1)] = disturbanceBetween(m_begin, m_meter.sample());
        m_watching = false;
        m_current = 0;
        m_shown.ClearStatus();
    }

    void markCurrent(int test) override
    {
        m_current = test >= 1 && test <= kTestCount ? test : 0;
        m_shown.markCurrent(test);
    }

    void yield() override
    {
        m_shown.yield();
        if (m_current != 0 && !m_watching) {
            m_begin = m_meter.sample();
            m_watching = true;
        }
    }

    const std::array<TestDisturbance, kTestCount>& tests() const { return m_tests; }

private:
    BenchmarkProgress& m_shown;
    ThreadMeter& m_meter;
    std::array<TestDisturbance, kTestCount> m_tests {};
    ThreadSample m_begin;
    int m_current = 0; // test marked current, 0 for none
    bool m_watching = false;
};

// Runs run(watchedProgress) with every test watched through meter; the figures land in the result.
template <class Run> BenchmarkResult RunWatched(BenchmarkProgress& progress, ThreadMeter& meter, Run&& run)
{
    DisturbanceWatch watch(progress, meter);
    BenchmarkResult result = run(static_cast<BenchmarkProgress&>(watch));
    result.disturbance = watch.tests();
    return result;
}

} // namespace vantrel
