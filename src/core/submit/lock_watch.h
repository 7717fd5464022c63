#pragma once

#include "core/submit/submission.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

// What the waiter at the front of the queue has seen of the lock, by its own clock, and
// whether that makes the lock one to take over: nobody beat for staleAfter (a dead or paused
// holder), it has not been one heartbeat and its stage folder for invalidAfter (left half
// released, or filled with other things), or one token has held it past maxHold.
class LockWatch {
public:
    using Duration = std::chrono::nanoseconds;

    void clear() { *this = {}; }
    void observe(const std::vector<std::string>& names, Duration now);
    // The entry to rename aside first when the lock is to be taken over now; nullopt when not.
    std::optional<std::string> takeOverTarget(Duration now, const SubmitTiming& timing) const;

private:
    std::vector<std::string> m_names; // as last seen
    Duration m_since {}; // when they last changed
    std::optional<Duration> m_invalidSince; // not one heartbeat and its stage folder since then
    std::string m_token; // whose lock it is
    Duration m_tokenSince {};
    bool m_seen = false;
};

} // namespace vantrel
