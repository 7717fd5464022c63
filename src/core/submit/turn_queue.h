#pragma once

#include "core/submit/heartbeat.h"
#include "core/submit/host_session.h"
#include "core/submit/lock_watch.h"
#include "core/submit/protocol_names.h"

#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace vantrel {

// A submitter's place in the queue for the turn: its ticket, kept alive while it waits, the
// claim of the lock once no live ticket is ahead, and, at the front, taking a dead or stuck lock
// over. Along the way it clears away what dead submitters left.
class TurnQueue {
public:
    enum class Wait {
        Claimed, // the lock is this submission's, claimed on this session
        ClaimedUnanswered, // the lock became this submission's, but the claim's answer was lost
        Lost, // the ticket is gone (removed as dead, or claimed by a late answer and then lost)
        Ended, // cancelled, or given up: why() says
    };

    TurnQueue(HostSession& session, Heartbeat& heartbeat);

    // Runs each time the waiter finds itself waiting (the window shows it).
    void setOnWaiting(std::function<void()> onWaiting) { m_onWaiting = std::move(onWaiting); }
    // A new attempt, with the token of its folder.
    void reset(const std::string& token);
    // Renames the submitter's claim folder to the next free ticket; false and why() when it cannot.
    bool join();
    Wait waitForTurn();
    // Removes the submitter's own folder (its ticket, or its claim before it joined).
    void leave();
    // Removes the locks this waiter took over, once its own turn is over.
    void removeTakenOver();
    // Why the queue was left, in the words the user reads; empty after a cancel.
    const std::string& why() const { return m_why; }
    std::chrono::nanoseconds waited() const { return m_waited; }

private:
    bool beatTicket();
    bool lockIsOurs();
    void lookAtQueue(const std::vector<std::string>& names);
    bool takeOver();
    Wait end(std::string why);
    std::string newStaleName() { return protocol::staleName(m_token, m_staleCount++); }

    HostSession& m_session;
    Heartbeat& m_heartbeat;
    std::function<void()> m_onWaiting;
    std::string m_token;
    std::optional<protocol::Ticket> m_ticket;
    LockWatch m_watch;
    std::map<std::string, Duration> m_seen; // others' folders, by exact name: first seen
    std::map<std::string, Duration> m_aheadSince; // tickets ahead of ours, by token
    std::vector<std::string> m_takenOver; // locks moved aside, to remove after the turn
    int m_staleCount = 0;
    std::string m_why;
    std::chrono::nanoseconds m_waited {};
    std::mt19937 m_jitter { std::random_device {}() };
};

} // namespace vantrel
