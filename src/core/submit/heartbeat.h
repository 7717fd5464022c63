#pragma once

#include "core/submit/host_session.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vantrel {

// A submitter's sign of life: the name of its folder (while it prepares) or of its heartbeat in
// the lock (while it holds the turn), renamed every beat period on a session of its own, so that a
// long transfer on the main session never stops it. Others judge a submitter dead by a name that
// stands still; a beat whose heartbeat is gone means the turn was taken over.
class Heartbeat {
public:
    enum class Target { None, Claim, Lock };

    explicit Heartbeat(HostSession& session);

    // A new submission attempt with a new token: both names start at beat 0.
    void reset(const std::string& token);
    void start(Target target);
    // Runs from the session's tick: starts a beat when one is due, or looks at how one ended.
    void pump();
    // Lets a beat in flight end, so that the names are known, and beats no more.
    void stop();
    // The heartbeat was gone when a beat looked for it: the turn was taken over.
    bool lost() const { return m_lost; }

    std::string claimName() const; // compare.claim-T-k as it stands now
    std::string heartbeatName() const; // hb-T-n as it stands now

private:
    void afterCheck(const TransferOutcome& outcome);
    std::uint64_t& count() { return m_target == Target::Lock ? m_lockBeat : m_claimBeat; }

    HostSession& m_session;
    std::unique_ptr<clsFTPEngine> m_beat; // opened at the first beat that is due
    std::string m_token;
    Target m_target = Target::None;
    bool m_running = false;
    bool m_checking = false; // listing to learn what a beat with an unclear answer did
    std::uint64_t m_claimBeat = 0;
    std::uint64_t m_lockBeat = 0;
    Duration m_next {};
    bool m_lost = false;
};

} // namespace vantrel
