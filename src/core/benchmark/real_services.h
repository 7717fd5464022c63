#pragma once

#include <cmath>
#include <cstdint>
#include <ctime>

namespace vantrel {

// Seconds since local midnight in single precision. Local midnight's offset is taken once,
// when the clock is made, so a reading costs one monotonic clock read: the time-zone code
// stays out of the measured loops. The reading keeps growing past midnight instead of
// restarting at 0, so a run that spans midnight sees no jump.
class RealClock {
public:
    RealClock();

    float timer() const
    {
        timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<float>(
            static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9 + m_offset);
    }

private:
    double m_offset = 0; // seconds since local midnight minus monotonic seconds, at construction
};

// The same uniform sequence in [0, 1) at every program start; it goes on from run to run.
float nextRandom();

// Everything a real run needs from outside. Power and square root see their arguments
// only through an optimiser barrier, so they are evaluated every time they are called.
class RealServices {
public:
    float timer() const { return m_clock.timer(); }
    float random() const { return nextRandom(); }

    double power(double x, double y) const
    {
        asm volatile("" : "+m"(x), "+m"(y));
        return std::pow(x, y);
    }

    double squareRoot(double x) const
    {
        asm volatile("" : "+m"(x));
        return std::sqrt(x);
    }

private:
    RealClock m_clock;
};

} // namespace vantrel
