#include "core/submit/turn_queue.h"

#include <algorithm>

namespace vantrel {

namespace {

using namespace std::chrono_literals;

// Leftovers removed per look at the queue, so a waiter never spends long on others' mess.
constexpr int kRemovalsPerLook = 1;

} // namespace

TurnQueue::TurnQueue(HostSession& session, Heartbeat& heartbeat)
    : m_session(session)
    , m_heartbeat(heartbeat)
{
}

void TurnQueue::reset(const std::string& token)
{
    m_token = token;
    m_ticket.reset();
    m_why.clear();
}

bool TurnQueue::join()
{
    std::vector<std::string> names;
    const TransferOutcome listed = m_session.list({}, names);
    std::uint64_t last = 0;
    for (const std::string& name : names) {
        if (const std::optional<protocol::Ticket> ticket = protocol::parseTicket(name))
            last = std::max(last, ticket->number);
    }
    if (listed.ok()) {
        for (int tries = 0; tries < 20 && !m_session.stopRequested(); ++tries) {
            const protocol::Ticket ticket { last + 1 + static_cast<std::uint64_t>(tries), m_token, 0 };
            const TransferOutcome joined = m_session.rename(m_heartbeat.claimName(), ticket.name());
            if (joined.ok()) {
                m_ticket = ticket;
                return true;
            }
            if (!refused(joined))
                break;
        }
    }
    m_why = m_session.stopRequested()
        ? std::string()
        : m_session.failure("could not be joined in its queue", listed.ok() ? m_session.outcome() : listed);
    leave();
    return false;
}

// Renames the ticket to its next beat; on an unclear answer, looks which name it has now.
bool TurnQueue::beatTicket()
{
    protocol::Ticket next = *m_ticket;
    ++next.beat;
    if (m_session.rename(m_ticket->name(), next.name()).ok()) {
        m_ticket = next;
        return true;
    }
    std::vector<std::string> names;
    if (!m_session.list({}, names).ok())
        return true; // try again at the next beat
    for (const std::string& name : names) {
        const std::optional<protocol::Ticket> ticket = protocol::parseTicket(name);
        if (ticket && ticket->token == m_token) {
            m_ticket = ticket;
            return true;
        }
    }
    return false; // gone: claimed by a late answer, or removed by someone
}

// A claim whose answer was lost may still have happened: the lock then holds our stage folder.
bool TurnQueue::lockIsOurs()
{
    std::vector<std::string> inLock;
    return m_session.list(protocol::kLock, inLock).ok()
        && std::find(inLock.begin(), inLock.end(), m_token) != inLock.end();
}

TurnQueue::Wait TurnQueue::end(std::string why)
{
    m_why = std::move(why);
    leave();
    return Wait::Ended;
}

// Waits until no live ticket is ahead of this one and the lock can be claimed; the waiter at
// the front watches the lock and takes a dead one over.
TurnQueue::Wait TurnQueue::waitForTurn()
{
    const SubmitTiming& timing = m_session.timing();
    const Duration joined = m_session.now();
    struct Count {
        TurnQueue& queue;
        Duration since;
        ~Count() { queue.m_waited += queue.m_session.now() - since; }
    } count { *this, joined };
    Duration nextBeat = joined + timing.beatEvery;
    Duration nextLockList = joined;
    Duration nextQueueLook = joined;
    bool atFront = false;
    m_watch.clear();
    m_aheadSince.clear();
    std::uniform_int_distribution<long> jitter(0, std::max<long>(1, timing.pollMin.count()));

    while (true) {
        if (m_session.stopRequested())
            return end({});
        if (m_session.now() - joined > timing.maxWait)
            return end("the results host " + m_session.host().ftp
                + " is busy with other submissions; please try again later.");
        if (m_session.now() >= nextBeat) {
            nextBeat = m_session.now() + timing.beatEvery;
            if (!beatTicket()) {
                m_ticket.reset();
                return lockIsOurs() ? Wait::ClaimedUnanswered : Wait::Lost;
            }
        }

        // Each look costs the host as much as it costs the waiter: one far from the front, or far
        // from the host (a look takes its round trips), looks rarely; the front waiter most often.
        if (!atFront || m_session.now() >= nextQueueLook) {
            const Duration started = m_session.now();
            if (const std::optional<std::size_t> ahead = liveTicketsAhead()) {
                const Duration took = std::max<Duration>(m_session.now() - started, timing.pollMin);
                atFront = *ahead == 0;
                nextQueueLook = m_session.now()
                    + (atFront ? std::max<Duration>(1000ms, took * 4)
                               : std::clamp<Duration>(took * 2 * *ahead, timing.pollMin, timing.pollMax));
            }
        }

        Duration nextLook = nextQueueLook;
        if (atFront) {
            // The front waiter tries again at once: the turn passes as soon as the lock is free.
            bool again = false;
            if (const std::optional<Wait> ended = claimAtFront(nextLockList, again))
                return *ended;
            if (again)
                continue;
            nextLook = m_session.now() + timing.pollMin + std::chrono::milliseconds(jitter(m_jitter));
        }
        if (m_onWaiting)
            m_onWaiting();
        m_session.pause(std::max<Duration>(nextLook - m_session.now(), 0ms));
    }
}

// Tickets ahead of ours that have not been skipped as dead, from a listing of the starting
// folder (whose dead folders are cleared meanwhile); nullopt when the listing failed.
std::optional<std::size_t> TurnQueue::liveTicketsAhead()
{
    std::vector<std::string> names;
    if (!m_session.list({}, names).ok())
        return std::nullopt;
    lookAtQueue(names);
    std::size_t ahead = 0;
    for (const std::string& name : names) {
        const std::optional<protocol::Ticket> ticket = protocol::parseTicket(name);
        if (!ticket || !(*ticket < *m_ticket))
            continue;
        const auto first = m_aheadSince.try_emplace(ticket->token, m_session.now()).first->second;
        if (m_session.now() - first < m_session.timing().skipAfter)
            ++ahead;
    }
    return ahead;
}

// At the front of the queue: one try to claim the lock, and a look at its holder now and then.
// How the wait ended, or nullopt to go on waiting (at once when `again`: the stop, or a
// holder just taken over).
std::optional<TurnQueue::Wait> TurnQueue::claimAtFront(Duration& nextLockList, bool& again)
{
    const TransferOutcome claimed = m_session.rename(m_ticket->name(), protocol::kLock);
    if (claimed.ok()) {
        m_ticket.reset();
        return Wait::Claimed;
    }
    if (m_session.stopRequested()) {
        again = true;
        return std::nullopt;
    }
    if (!refused(claimed)) {
        // Unanswered: the rename may have happened. Look at the lock before anything else.
        if (lockIsOurs()) {
            m_ticket.reset();
            return Wait::ClaimedUnanswered;
        }
        // Renaming the ticket makes a late claim with its old name fail.
        if (!beatTicket()) {
            m_ticket.reset();
            return Wait::Lost;
        }
        if (unreachable(claimed))
            return end(m_session.failure("could not be reached", claimed));
    }
    if (m_session.now() >= nextLockList) {
        nextLockList = m_session.now() + m_session.timing().lockListEvery;
        std::vector<std::string> inLock;
        // A failed listing tells nothing: the watch goes on as it was.
        if (m_session.list(protocol::kLock, inLock).ok()) {
            m_watch.observe(inLock, m_session.now());
            if (takeOver()) {
                nextLockList = m_session.now();
                again = true;
            }
        }
    }
    return std::nullopt;
}

// Others' folders in the starting folder: a name that has stood still for staleAfter is a
// dead submitter's, and is moved aside and removed (one per look).
void TurnQueue::lookAtQueue(const std::vector<std::string>& names)
{
    std::map<std::string, Duration> seen;
    int removals = 0;
    for (const std::string& name : names) {
        if (name.find(m_token) != std::string::npos || !protocol::isSubmittersFolder(name))
            continue;
        const auto it = m_seen.find(name);
        const Duration first = it == m_seen.end() ? m_session.now() : it->second;
        seen[name] = first;
        if (m_session.now() - first < m_session.timing().staleAfter || removals >= kRemovalsPerLook)
            continue;
        ++removals;
        seen.erase(name);
        if (name.rfind(protocol::kStalePrefix, 0) == 0) {
            m_session.removeFolder(name);
            continue;
        }
        // Renaming proves the owner silent: a beat since would have changed the name.
        const std::string aside = newStaleName();
        if (m_session.rename(name, aside).ok())
            m_session.removeFolder(aside);
    }
    m_seen = std::move(seen);
}

// Takes a dead or stuck lock over: first a rename of the entry seen inside it, which
// succeeds for one waiter only and only if nothing changed, then the whole folder aside.
bool TurnQueue::takeOver()
{
    const std::optional<std::string> target = m_watch.takeOverTarget(m_session.now(), m_session.timing());
    if (!target)
        return false;
    m_watch.clear();
    if (!m_session.rename(protocol::inLock(*target), protocol::inLock("dead-" + m_token)).ok())
        return false;
    const std::string aside = newStaleName();
    if (m_session.rename(protocol::kLock, aside).ok())
        m_takenOver.push_back(aside);
    return true;
}

void TurnQueue::leave()
{
    m_heartbeat.stop();
    m_session.removeFolder(m_ticket ? m_ticket->name() : m_heartbeat.claimName());
    m_ticket.reset();
}

void TurnQueue::removeTakenOver()
{
    for (const std::string& aside : m_takenOver)
        m_session.removeFolder(aside);
    m_takenOver.clear();
}

} // namespace vantrel
