#include "benchmark/benchmark_run.h"

#include "benchmark/benchmark_loop.h"
#include "benchmark/real_services.h"

namespace vantrel {

namespace {

std::uint64_t randomState = 0x2545F4914F6CDD1DULL;

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

BenchmarkResult RunBenchmark(BenchmarkProgress& progress)
{
    RealServices services;
    return RunBenchmarkWith(services, progress);
}

} // namespace vantrel
