#pragma once

#include <functional>
#include <vector>

namespace vantrel {

// The cores the calling thread may run on, in ascending order; empty where that cannot be told.
std::vector<int> allowedCores();

// Keeps the calling thread on one core while it lives, then gives it back the cores it had.
class CorePin {
public:
    explicit CorePin(int core);
    ~CorePin();
    CorePin(const CorePin&) = delete;
    CorePin& operator=(const CorePin&) = delete;

    // Whether the thread is on that core now.
    bool pinned() const { return m_pinned; }

private:
    bool m_pinned = false;
    std::vector<int> m_before;
};

// The core on which probe returns the highest speed: each core is tried `rounds` times in
// turn, and counts with its best try, so a moment's interruption does not rule it out.
// -1 when there is no core to choose from.
int fastestCore(const std::vector<int>& cores, const std::function<double()>& probe, int rounds = 2);

} // namespace vantrel
