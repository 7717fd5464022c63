#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

// What the thread has had from the machine so far, at one moment.
struct ThreadSample {
    double wallSeconds = 0; // monotonic clock
    double cpuSeconds = 0; // the thread's own processor time
    std::vector<double> stealSeconds; // per core since boot: time the host ran another machine on it
    std::uint64_t involuntarySwitches = 0; // times the thread had to give its core to someone else
    int core = -1; // the core it is on, -1 when unknown
};

class ThreadMeter {
public:
    virtual ~ThreadMeter() = default;
    // The calling thread's figures now.
    virtual ThreadSample sample() = 0;
};

// The kernel's figures: the thread's CPU-time clock, getrusage(RUSAGE_THREAD), /proc/stat and
// sched_getcpu. What cannot be read stays 0 (or -1 for the core).
class KernelThreadMeter : public ThreadMeter {
public:
    ThreadSample sample() override;
};

// A test was disturbed when its thread had the processor for less of its second than this;
// chosen from quiet and deliberately disturbed runs (README, "Disturbed runs").
inline constexpr double kMinProcessorShare = 0.98;

// What the machine did to one test's thread between the test's start and its end.
struct TestDisturbance {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double stealSeconds = 0; // on the core(s) it was on
    std::uint64_t involuntarySwitches = 0;
    std::vector<int> cores; // where it was at the start and at the end, each once

    bool measured() const { return wallSeconds > 0; }
    // Share of the test's time the thread really had its processor, 0 to 1: time the host
    // stole counts as lost even where the kernel charges it to the thread.
    double processorShare() const;
    bool disturbed() const;
};

TestDisturbance disturbanceBetween(const ThreadSample& begin, const ThreadSample& end);

// For a disturbed test, why its count is too low, as one plain sentence without a full stop:
// "test 3 got 71 % of the processor: another program was running". Empty for an undisturbed one.
std::string disturbanceLine(int test, const TestDisturbance& figures);

} // namespace vantrel
