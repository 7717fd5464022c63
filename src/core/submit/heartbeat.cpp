#include "core/submit/heartbeat.h"

#include "core/submit/protocol_names.h"

namespace vantrel {

using namespace std::chrono_literals;

Heartbeat::Heartbeat(HostSession& session)
    : m_session(session)
{
}

void Heartbeat::reset(const std::string& token)
{
    m_token = token;
    m_claimBeat = 0;
    m_lockBeat = 0;
    m_lost = false;
}

void Heartbeat::start(Target target)
{
    m_target = target;
    m_next = m_session.now() + m_session.timing().beatEvery;
}

std::string Heartbeat::claimName() const
{
    return protocol::claimName(m_token, m_claimBeat);
}

std::string Heartbeat::heartbeatName() const
{
    return protocol::heartbeatName(m_token, m_lockBeat);
}

void Heartbeat::pump()
{
    if (m_target == Target::None)
        return;
    const Duration now = m_session.now();
    if (m_running) {
        if (m_beat->StillExecuting())
            return;
        m_running = false;
        const TransferOutcome& outcome = m_beat->Outcome();
        if (m_checking) {
            afterCheck(outcome);
        } else if (outcome.ok()) {
            ++count();
            m_next = now + m_session.timing().beatEvery;
        } else {
            // An unclear answer: the rename may have happened. Look which name there is now.
            m_checking = m_beat->ListFolder(m_target == Target::Lock ? protocol::kLock : "");
            m_running = m_checking;
            if (!m_running)
                m_next = now + 1s;
        }
        return;
    }
    if (now < m_next)
        return;
    if (!m_beat)
        m_beat = m_session.openSecondSession();
    m_running = m_target == Target::Lock
        ? m_beat->RenameFile(protocol::inLock(heartbeatName()),
            protocol::inLock(protocol::heartbeatName(m_token, m_lockBeat + 1)))
        : m_beat->RenameFile(claimName(), protocol::claimName(m_token, m_claimBeat + 1));
    if (!m_running)
        m_next = now + 1s;
}

// What a beat whose answer was unclear did, judged by what the host holds.
void Heartbeat::afterCheck(const TransferOutcome& outcome)
{
    m_checking = false;
    if (!outcome.ok()) {
        // A lock that cannot be listed at all is gone, and the heartbeat with it.
        if (m_target == Target::Lock && refused(outcome))
            m_lost = true;
        m_next = m_session.now() + 1s;
        return;
    }
    const std::string stem = m_target == Target::Lock ? "hb-" + m_token + "-"
                                                      : std::string(protocol::kClaimPrefix) + m_token + "-";
    bool found = false;
    for (const std::string& name : protocol::listedNames(m_beat->Listing())) {
        if (name.rfind(stem, 0) != 0)
            continue;
        if (const std::optional<std::uint64_t> beat = protocol::number(name.substr(stem.size()))) {
            count() = *beat;
            found = true;
        }
    }
    if (!found)
        m_lost = true; // the heartbeat is gone: a waiter took the turn over
    m_next = m_session.now() + (found ? m_session.timing().beatEvery : 1s);
}

void Heartbeat::stop()
{
    while (m_running) {
        m_session.yield();
        pump();
    }
    m_target = Target::None;
}

} // namespace vantrel
