#include "core/benchmark/disturbance.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__linux__)
#include <sched.h>
#endif

namespace vantrel {

namespace {

double seconds(const timespec& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The steal column of every "cpuN" line of /proc/stat, in seconds, indexed by N.
std::vector<double> stealPerCore()
{
    std::vector<double> steal;
    FILE* stat = std::fopen("/proc/stat", "re");
    if (!stat)
        return steal;
    const long ticks = sysconf(_SC_CLK_TCK);
    char line[512];
    while (std::fgets(line, sizeof line, stat)) {
        unsigned core = 0;
        unsigned long long field[8] {};
        // cpuN user nice system idle iowait irq softirq steal
        if (std::strncmp(line, "cpu", 3) != 0
            || std::sscanf(line + 3, "%u %llu %llu %llu %llu %llu %llu %llu %llu", &core, &field[0],
                   &field[1], &field[2], &field[3], &field[4], &field[5], &field[6], &field[7])
                != 9)
            continue;
        if (core >= steal.size())
            steal.resize(core + 1);
        steal[core] = ticks > 0 ? static_cast<double>(field[7]) / static_cast<double>(ticks) : 0;
    }
    std::fclose(stat);
    return steal;
}

double stealOn(const ThreadSample& sample, int core)
{
    if (core < 0 || static_cast<std::size_t>(core) >= sample.stealSeconds.size())
        return 0;
    return sample.stealSeconds[static_cast<std::size_t>(core)];
}

} // namespace

ThreadSample KernelThreadMeter::sample()
{
    ThreadSample now;
    timespec t {};
    if (clock_gettime(CLOCK_MONOTONIC, &t) == 0)
        now.wallSeconds = seconds(t);
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) == 0)
        now.cpuSeconds = seconds(t);
#if defined(__linux__)
    rusage usage {};
    if (getrusage(RUSAGE_THREAD, &usage) == 0)
        now.involuntarySwitches = static_cast<std::uint64_t>(usage.ru_nivcsw);
    now.core = sched_getcpu();
#endif
    now.stealSeconds = stealPerCore();
    return now;
}

double TestDisturbance::processorShare() const
{
    if (!measured())
        return 1;
    // Where the kernel leaves stolen time out of the thread's clock the two overlap, so the
    // larger loss is the one to trust.
    const double share = std::min(cpuSeconds / wallSeconds, 1 - stealSeconds / wallSeconds);
    return std::clamp(share, 0.0, 1.0);
}

bool TestDisturbance::disturbed() const
{
    return measured() && processorShare() < kMinProcessorShare;
}

TestDisturbance disturbanceBetween(const ThreadSample& begin, const ThreadSample& end)
{
    TestDisturbance figures;
    figures.wallSeconds = end.wallSeconds - begin.wallSeconds;
    figures.cpuSeconds = end.cpuSeconds - begin.cpuSeconds;
    figures.involuntarySwitches = end.involuntarySwitches > begin.involuntarySwitches
        ? end.involuntarySwitches - begin.involuntarySwitches
        : 0;
    for (int core : { begin.core, end.core }) {
        if (core >= 0 && std::find(figures.cores.begin(), figures.cores.end(), core) == figures.cores.end())
            figures.cores.push_back(core);
    }
    // A thread that moved saw the steal of either core; the larger is the one it may have felt.
    for (int core : figures.cores)
        figures.stealSeconds = std::max(figures.stealSeconds, stealOn(end, core) - stealOn(begin, core));
    return figures;
}

std::string disturbanceLine(int test, const TestDisturbance& figures)
{
    if (!figures.disturbed())
        return {};
    const double share = figures.processorShare();
    // Whole percent, rounded down, so a disturbed test never reads as the threshold or more.
    const std::string got = "test " + std::to_string(test) + " got "
        + std::to_string(static_cast<int>(std::floor(share * 100))) + " % of the processor: ";
    if (figures.stealSeconds > (1 - share) * figures.wallSeconds / 2)
        return got + "the host ran another machine on its core";
    return got + "another program was running";
}

} // namespace vantrel
