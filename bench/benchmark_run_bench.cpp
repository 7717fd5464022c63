// How close the six test loops run to the limit the clock sets: steps per second of one real
// run beside the cost of one bare timer read (and, for scale, of the reads it replaces).
#include "core/benchmark/bench_report.h"
#include "console/console_args.h"
#include "core/benchmark/real_services.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kReads = 2000000;
constexpr int kRepeats = 5;

// Best of several rounds, in nanoseconds per call.
template <class Read> double nanosecondsPerRead(Read read, int reads = kReads)
{
    double best = 1e30;
    for (int round = 0; round < kRepeats; ++round) {
        double sink = 0;
        const auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < reads; ++i)
            sink += read();
        const auto end = std::chrono::steady_clock::now();
        asm volatile("" : : "r,m"(sink));
        best = std::min(best, std::chrono::duration<double, std::nano>(end - begin).count() / reads);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app { "Steps per second of each test next to the cost of one timer read (about ten seconds).",
        "vantrel3-run-bench" };
    if (const auto exitCode = vantrel::parseCommandLine(app, argc, argv))
        return *exitCode;
    const vantrel::RealClock clock;
    const double timerNs = nanosecondsPerRead([&] { return clock.timer(); });
    const double gettimeNs = nanosecondsPerRead([] {
        timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<double>(now.tv_nsec);
    });
    // What a reading through the time-zone code would cost instead (localtime looks the zone up each time).
    const double localtimeNs = nanosecondsPerRead(
        [] {
            const std::time_t now = std::time(nullptr);
            return static_cast<double>(std::localtime(&now)->tm_sec);
        },
        kReads / 20);

    std::printf("timer read (seconds since midnight): %8.1f ns\n", timerNs);
    std::printf("bare clock_gettime(CLOCK_MONOTONIC): %8.1f ns\n", gettimeNs);
    std::printf("time() + localtime per read:         %8.1f ns\n\n", localtimeNs);

    std::printf("running the six tests (about six seconds)...\n\n");
    const vantrel::MeasuredRun run = vantrel::measureRun();

    std::printf("%-24s %14s %10s %14s %12s\n", "test", "steps/s", "ns/step", "clock limit/s", "clock share");
    for (int k = 0; k < vantrel::kTestCount; ++k) {
        const auto i = static_cast<std::size_t>(k);
        const double stepsPerCheck = k < 2 ? 121 : 1; // tests 1 and 2 check the clock once a pass
        const double seconds = run.seconds[i] > 0 ? run.seconds[i] : 1;
        const double stepsPerSecond = static_cast<double>(run.result.steps[i]) / seconds;
        const double nsPerStep = 1e9 / stepsPerSecond;
        // Steps a second if the step itself cost nothing and only the time check remained.
        const double clockLimit = stepsPerCheck * 1e9 / timerNs;
        const double share = timerNs / stepsPerCheck / nsPerStep;
        std::printf("%-24s %14.0f %10.2f %14.0f %11.1f%%\n", vantrel::kTestNames[i], stepsPerSecond,
            nsPerStep, clockLimit, share * 100);
    }
    std::printf(
        "\ncount: %llu\nscore: %.0f\n", static_cast<unsigned long long>(run.result.count), run.result.score);
    return 0;
}
