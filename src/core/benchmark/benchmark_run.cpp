#include "core/benchmark/benchmark_run.h"

#include "core/benchmark/benchmark_loop.h"
#include "core/benchmark/core_choice.h"
#include "core/benchmark/page_offset.h"
#include "core/benchmark/real_services.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace vantrel {

namespace {

std::uint64_t randomState = 0x2545F4914F6CDD1DULL;

// Where the run's frame begins within a page. Its loops' stack slots and the matrices then lie
// between about 0x500 and 0xF00, away from the start of a page, where the kernel keeps the data
// that every clock read loads (vvar).
constexpr std::uintptr_t kRunPageOffset = 0xF00;

// Test 1's shape, a clock read and then 121 additions, for about 5 ms; passes per second.
double probeSpeed()
{
    using Clock = std::chrono::steady_clock;
    BenchmarkMatrices m;
    std::uint64_t passes = 0;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::milliseconds(5);
    Clock::time_point now;
    while ((now = Clock::now()) < end) {
        for (int i = 0; i < kMatrixSize; ++i) {
            for (int j = 0; j < kMatrixSize; ++j)
                m.b[i][j] = m.a[i][j] + m.b[i][j];
        }
        detail::touchMemory(&m);
        ++passes;
    }
    return static_cast<double>(passes) / std::chrono::duration<double>(now - start).count();
}

} // namespace

RealClock::RealClock()
{
    timespec wall {};
    timespec mono {};
    clock_gettime(CLOCK_REALTIME, &wall);
    clock_gettime(CLOCK_MONOTONIC, &mono);
    tm local {};
    localtime_r(&wall.tv_sec, &local);
    const double sinceMidnight = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec
        + static_cast<double>(wall.tv_nsec) * 1e-9;
    m_offset = sinceMidnight - (static_cast<double>(mono.tv_sec) + static_cast<double>(mono.tv_nsec) * 1e-9);
}

float nextRandom()
{
    // A 64-bit linear congruential step; the top 24 bits make an exact float below 1.
    randomState = randomState * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<float>(randomState >> 40) * 0x1p-24f;
}

bool BenchmarkResult::disturbed() const
{
    return std::any_of(
        disturbance.begin(), disturbance.end(), [](const TestDisturbance& t) { return t.disturbed(); });
}

std::vector<std::string> disturbanceLines(const BenchmarkResult& result)
{
    std::vector<std::string> lines;
    for (int test = 1; test <= kTestCount; ++test) {
        std::string line = disturbanceLine(test, result.disturbance[static_cast<std::size_t>(test - 1)]);
        if (!line.empty())
            lines.push_back(std::move(line));
    }
    return lines;
}

BenchmarkResult RunBenchmark(BenchmarkProgress& progress, CorePlacement placement)
{
    // A core can be slowed for many seconds by work beside it (another program on its sibling
    // hyperthread, or another guest's on the host's), and hybrid processors mix fast and slow
    // cores: the run starts on whichever core is fastest just before it starts, instead of the
    // one the scheduler happened to pick.
    std::optional<CorePin> pin;
    if (placement != CorePlacement::Free)
        pin.emplace(fastestCore(allowedCores(), probeSpeed));
    // A thread stays on the core it was moved to until the scheduler has a reason to move it.
    if (placement == CorePlacement::Started)
        pin.reset();
    KernelThreadMeter meter;
    return RunWatched(progress, meter, [&](BenchmarkProgress& watched) {
        // The same place in every start, with or without a window, so the score does not depend
        // on where the stack happened to land.
        return callAtPageOffset(kRunPageOffset, [&] {
            RealServices services;
            return RunBenchmarkWith(services, watched);
        });
    });
}

} // namespace vantrel
