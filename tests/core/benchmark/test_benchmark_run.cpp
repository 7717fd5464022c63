#include "core/benchmark/benchmark_loop.h"
#include "core/benchmark/benchmark_run.h"
#include "core/benchmark/core_choice.h"
#include "core/benchmark/page_offset.h"
#include "core/benchmark/real_services.h"

#include <cmath>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using Passes = std::array<int, kTestCount>;

// Everything the run does to the outside, in order: progress calls and service calls.
struct EventLog {
    std::vector<std::string> events;
    void add(std::string e) { events.push_back(std::move(e)); }

    // Runs of equal events shortened to "name*n", joined by spaces.
    std::string compressed() const
    {
        std::ostringstream out;
        for (std::size_t i = 0; i < events.size();) {
            std::size_t j = i;
            while (j < events.size() && events[j] == events[i])
                ++j;
            out << (i ? " " : "") << events[i];
            if (j - i > 1)
                out << '*' << (j - i);
            i = j;
        }
        return out.str();
    }
};

class RecordingProgress : public BenchmarkProgress {
public:
    explicit RecordingProgress(EventLog& log)
        : m_log(log)
    {
    }
    void ClearStatus() override { m_log.add("clear"); }
    void markCurrent(int test) override { m_log.add("mark" + std::to_string(test)); }
    void yield() override { m_log.add("yield"); }

private:
    EventLog& m_log;
};

struct ScriptedServices {
    ScriptedServices(EventLog& log, std::function<float()> clock)
        : log(log)
        , clock(std::move(clock))
    {
    }

    EventLog& log;
    std::function<float()> clock;
    std::function<float()> randomSource = [] { return 0.5f; };
    std::vector<std::pair<double, double>> powerArgs;
    std::vector<double> sqrtArgs;

    float timer()
    {
        log.add("timer");
        return clock();
    }
    float random()
    {
        log.add("random");
        return randomSource();
    }
    double power(double x, double y)
    {
        log.add("pow");
        powerArgs.emplace_back(x, y);
        return std::pow(x, y);
    }
    double squareRoot(double x)
    {
        log.add("sqrt");
        sqrtArgs.push_back(x);
        return std::sqrt(x);
    }
};

// A clock under which test k runs exactly passes[k] passes: the start reading, then one
// reading inside the second per pass, then one at its end.
std::function<float()> clockForPasses(const Passes& passes)
{
    std::vector<float> readings;
    float base = 100;
    for (int p : passes) {
        readings.push_back(base);
        readings.insert(readings.end(), static_cast<std::size_t>(p), base + 0.5f);
        readings.push_back(base + 1);
        base += 2;
    }
    return [readings, next = std::size_t { 0 }]() mutable {
        return next < readings.size() ? readings[next++] : 1e6f;
    };
}

struct PassesCase {
    Passes passes;
    std::uint64_t count;
    double score;
};

class PassesTest : public testing::TestWithParam<PassesCase> { };

TEST_P(PassesTest, CountsEveryStepAndScoresTheQuotient)
{
    EventLog log;
    RecordingProgress progress(log);
    ScriptedServices services { log, clockForPasses(GetParam().passes) };
    const BenchmarkResult result = RunBenchmarkWith(services, progress);

    for (int k = 0; k < kTestCount; ++k) {
        const std::uint64_t perPass = k < 2 ? 121 : 1;
        EXPECT_EQ(result.steps[static_cast<std::size_t>(k)],
            perPass * static_cast<std::uint64_t>(GetParam().passes[k]))
            << "test " << k + 1;
    }
    EXPECT_EQ(result.count, GetParam().count);
    EXPECT_EQ(result.score, GetParam().score);
}

INSTANTIATE_TEST_SUITE_P(ScriptedClock, PassesTest,
    testing::Values(PassesCase { { 1, 1, 1, 1, 1, 1 }, 246, 0 }, // one pass each
        PassesCase { { 2, 2, 10, 10, 5, 2 }, 511, 1 }, PassesCase { { 2, 2, 10, 10, 5, 3 }, 512, 2 },
        PassesCase { { 3, 1, 1, 1, 1, 1 }, 488, 1 }, PassesCase { { 100, 50, 7, 1000, 20, 30 }, 19207, 75 }));

TEST(BenchmarkRun, YieldsOnlyBetweenTestsInOrder)
{
    EventLog log;
    RecordingProgress progress(log);
    ScriptedServices services { log, clockForPasses({ 1, 1, 1, 1, 1, 1 }) };
    RunBenchmarkWith(services, progress);

    // Test 1's fill comes after its yield and before its start time; every test reads the
    // clock for its start, before each pass and once more at its end.
    EXPECT_EQ(log.compressed(),
        "clear mark1 yield random*121 timer*3 "
        "clear mark2 yield timer*2 random*121 timer "
        "clear mark3 yield timer*2 random timer "
        "clear mark4 yield timer*3 "
        "clear mark5 yield timer*2 pow timer "
        "clear mark6 yield timer*2 pow sqrt pow sqrt timer "
        "clear");
}

TEST(BenchmarkRun, PowerAndSquareRootGetTheFixedArgumentsEveryStep)
{
    EventLog log;
    RecordingProgress progress(log);
    ScriptedServices services { log, clockForPasses({ 1, 1, 1, 1, 4, 3 }) };
    RunBenchmarkWith(services, progress);

    const std::vector<std::pair<double, double>> expectedPower(4 + 2 * 3, { 45, 2 });
    ASSERT_EQ(services.powerArgs.size(), expectedPower.size());
    for (std::size_t i = 4; i < services.powerArgs.size(); ++i)
        EXPECT_EQ(services.powerArgs[i], (std::pair<double, double> { 12, 2 }));
    EXPECT_EQ(services.sqrtArgs, std::vector<double>(6, 112));
}

// The end of the second is taken to single precision too: just below 65536, start + 1
// rounds (ties to even) down to 65536 exactly, so a reading of 65536 is already past it.
// Compared in double precision, every test would run one more pass.
TEST(BenchmarkRun, EndOfTheSecondIsRoundedToSinglePrecision)
{
    EventLog log;
    RecordingProgress progress(log);
    std::vector<float> readings;
    for (int test = 0; test < kTestCount; ++test) {
        readings.push_back(65535.00390625f);
        readings.push_back(65536.0f);
    }
    // Past the script the clock jumps ahead, so a faulty loop still ends.
    ScriptedServices services { log, [readings, next = std::size_t { 0 }]() mutable {
                                   const std::size_t i = next++;
                                   return i < readings.size() ? readings[i]
                                                              : 1e6f + 4.0f * static_cast<float>(i);
                               } };
    const BenchmarkResult result = RunBenchmarkWith(services, progress);
    EXPECT_EQ(result.count, 0u);
}

TEST(BenchmarkRun, MatrixTestsLeaveSumsAndLastRandomValues)
{
    EventLog log;
    RecordingProgress progress(log);
    ScriptedServices services { log, clockForPasses({ 3, 2, 1, 1, 1, 1 }) };
    int drawn = 0;
    auto randomValue = [](int k) { return static_cast<float>((k * 37) % 1000) / 1024.0f; };
    services.randomSource = [&] { return randomValue(drawn++); };

    BenchmarkMatrices matrices;
    matrices.b[4][4] = 99; // a fresh run starts from zero whatever it is handed
    RunBenchmarkWith(services, progress, &matrices);

    for (int i = 0; i < kMatrixSize; ++i) {
        for (int j = 0; j < kMatrixSize; ++j) {
            const int index = i * kMatrixSize + j;
            const double filled = static_cast<double>(randomValue(index)) * 1000000;
            double sum = 0;
            for (int pass = 0; pass < 3; ++pass)
                sum = filled + sum;
            EXPECT_EQ(matrices.b[i][j], sum) << i << "," << j;
            // Test 2's second pass drew the last values; its products were replaced.
            const double last = static_cast<double>(randomValue(121 + 121 + index)) * 100000;
            EXPECT_EQ(matrices.a[i][j], last) << i << "," << j;
        }
    }
    EXPECT_EQ(drawn, 121 * 3 + 1); // fill, two passes of test 2, one pass of test 3
}

// A clock of seconds since midnight that restarts at 0, advancing a fixed step per reading.
std::function<float()> wrappingClock(double start, double step)
{
    return [now = start, step]() mutable {
        const double reading = now;
        now = std::fmod(now + step, 86400.0);
        return static_cast<float>(reading);
    };
}

class MidnightTest : public testing::TestWithParam<double> { };

TEST_P(MidnightTest, TestsSpanningMidnightStillLastAboutOneSecond)
{
    EventLog log;
    RecordingProgress progress(log);
    // 1 ms per reading: tests 3 to 6 read once per step, so about 1000 steps make a second.
    ScriptedServices services { log, wrappingClock(GetParam(), 0.001) };
    const BenchmarkResult result = RunBenchmarkWith(services, progress);
    for (std::size_t k = 2; k < kTestCount; ++k) {
        EXPECT_GE(result.steps[k], 985u) << "test " << k + 1;
        EXPECT_LE(result.steps[k], 1015u) << "test " << k + 1;
    }
    EXPECT_GE(result.steps[0], 121u);
    EXPECT_EQ(result.steps[0] % 121, 0u);
}

// Just before midnight, a few tests in, and with the wrap inside test 1.
INSTANTIATE_TEST_SUITE_P(ScriptedClock, MidnightTest, testing::Values(86399.9, 86397.5, 86395.2, 43200.0));

struct ScoreCase {
    std::uint64_t count;
    double score;
};

class ScoreFromCountTest : public testing::TestWithParam<ScoreCase> { };

TEST_P(ScoreFromCountTest, DropsTheRemainderWithoutWrapping)
{
    EXPECT_EQ(ScoreFromCount(GetParam().count), GetParam().score);
}

INSTANTIATE_TEST_SUITE_P(Counts, ScoreFromCountTest,
    testing::Values(ScoreCase { 0, 0 }, ScoreCase { 255, 0 }, ScoreCase { 256, 1 },
        ScoreCase { 2147483647, 8388607 }, // the last signed 32-bit count
        ScoreCase { 2147483648, 8388608 }, ScoreCase { 4294967296 + 255, 16777216 },
        ScoreCase { 1ULL << 53, 35184372088832 }, ScoreCase { UINT64_MAX, 72057594037927935.0 }));

// Calls callAtPageOffset with `depth` more bytes of stack in use, and returns where within a
// page the called function's frame began.
[[gnu::noinline]] std::uintptr_t frameOffsetBelow(std::size_t depth)
{
    volatile char* used = static_cast<char*>(__builtin_alloca(depth + 1));
    used[0] = 0;
    return callAtPageOffset(
        0x700, [] { return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) % kPageSize; });
}

TEST(PageOffset, TheCalledFrameLandsAtTheSamePlaceWhateverTheCallersDepth)
{
    const std::uintptr_t first = frameOffsetBelow(0);
    for (std::size_t depth : { 8, 16, 200, 1000, 4000, 4096, 9000 })
        EXPECT_EQ(frameOffsetBelow(depth), first) << depth << " bytes deeper";
}

TEST(RealServices, RandomStaysInTheUnitIntervalAndVaries)
{
    float lowest = 1;
    float highest = 0;
    float previous = -1;
    int repeats = 0;
    for (int i = 0; i < 1000; ++i) {
        const float r = nextRandom();
        ASSERT_GE(r, 0.0f);
        ASSERT_LT(r, 1.0f);
        lowest = std::min(lowest, r);
        highest = std::max(highest, r);
        repeats += r == previous;
        previous = r;
    }
    EXPECT_LT(lowest, 0.01f);
    EXPECT_GT(highest, 0.99f);
    EXPECT_LT(repeats, 2);
}

TEST(RealServices, ClockReadsLocalSecondsSinceMidnight)
{
    const RealClock clock;
    const double reading = clock.timer();
    timespec wall {};
    clock_gettime(CLOCK_REALTIME, &wall);
    tm local {};
    localtime_r(&wall.tv_sec, &local);
    const double expected = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + wall.tv_nsec * 1e-9;
    // Modulo a day, in case midnight passed between the two readings.
    double difference = std::fmod(std::fabs(reading - expected), 86400.0);
    difference = std::min(difference, 86400.0 - difference);
    EXPECT_LT(difference, 0.05);
    EXPECT_GE(reading, 0);

    float previous = clock.timer();
    for (int i = 0; i < 1000; ++i) {
        const float now = clock.timer();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

// Records, at every yield, the cores the thread may run on: a yield comes just before each test.
class AffinityProgress : public RecordingProgress {
public:
    using RecordingProgress::RecordingProgress;
    void yield() override
    {
        RecordingProgress::yield();
        coresAtYield.push_back(allowedCores());
    }
    std::vector<std::vector<int>> coresAtYield;
};

TEST(RealRun, CountsWholePassesYieldsThirteenTimesAndWhenPinnedKeepsToOneCore)
{
    const std::vector<int> before = allowedCores();
    EventLog log;
    AffinityProgress progress(log);
    const BenchmarkResult result = RunBenchmark(progress, CorePlacement::Pinned);

    std::uint64_t sum = 0;
    for (std::size_t k = 0; k < kTestCount; ++k) {
        EXPECT_GE(result.steps[k], k < 2 ? 121u : 1u) << "test " << k + 1;
        sum += result.steps[k];
    }
    EXPECT_EQ(result.steps[0] % 121, 0u);
    EXPECT_EQ(result.steps[1] % 121, 0u);
    EXPECT_EQ(result.count, sum);
    EXPECT_EQ(result.score, ScoreFromCount(result.count));
    EXPECT_EQ(log.compressed(),
        "clear mark1 yield clear mark2 yield clear mark3 yield clear mark4 yield "
        "clear mark5 yield clear mark6 yield clear");

    // The thread may stay on the chosen core by chance; only its allowed cores show the pin.
    ASSERT_EQ(progress.coresAtYield.size(), std::size_t(kTestCount));
    for (std::size_t k = 0; k < kTestCount; ++k) {
        EXPECT_EQ(progress.coresAtYield[k].size(), 1u) << "test " << k + 1 << " was not kept to one core";
        EXPECT_EQ(progress.coresAtYield[k], progress.coresAtYield[0]) << "test " << k + 1 << " moved";
    }
    EXPECT_EQ(allowedCores(), before) << "the run did not give the thread its cores back";
}

} // namespace
} // namespace vantrel
