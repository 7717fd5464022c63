#include "core/benchmark/core_choice.h"

#include <algorithm>

#if defined(__linux__)
#include <sched.h>
#endif

namespace vantrel {

#if defined(__linux__)

namespace {

std::vector<int> coresIn(const cpu_set_t& set)
{
    std::vector<int> cores;
    for (int core = 0; core < CPU_SETSIZE; ++core) {
        if (CPU_ISSET(core, &set))
            cores.push_back(core);
    }
    return cores;
}

bool runOn(const std::vector<int>& cores)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int core : cores) {
        if (core >= 0 && core < CPU_SETSIZE)
            CPU_SET(core, &set);
    }
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

} // namespace

std::vector<int> allowedCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return {};
    return coresIn(set);
}

CorePin::CorePin(int core)
    : m_before(allowedCores())
{
    m_pinned = core >= 0 && !m_before.empty() && runOn({ core });
}

CorePin::~CorePin()
{
    if (m_pinned)
        runOn(m_before);
}

#else

std::vector<int> allowedCores() { return {}; }
CorePin::CorePin(int) { }
CorePin::~CorePin() = default;

#endif

int fastestCore(const std::vector<int>& cores, const std::function<double()>& probe, int rounds)
{
    std::vector<double> best(cores.size(), 0);
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < cores.size(); ++i) {
            const CorePin pin(cores[i]);
            if (pin.pinned())
                best[i] = std::max(best[i], probe());
        }
    }
    int chosen = -1;
    double fastest = 0;
    for (std::size_t i = 0; i < cores.size(); ++i) {
        if (chosen < 0 || best[i] > fastest) {
            chosen = cores[i];
            fastest = best[i];
        }
    }
    return chosen;
}

} // namespace vantrel
