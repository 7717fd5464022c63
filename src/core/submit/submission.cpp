#include "core/submit/submission.h"

#include "core/remote/curl_inet.h"
#include "core/remote/ftp_engine.h"
#include "core/remote/transfer_cause.h"
#include "core/submit/ftp_account.h"
#include "core/results/local_copy.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace vantrel {

std::optional<SubmissionProblem> checkSubmission(const ResultRecord& record)
{
    if (record.name.empty())
        return SubmissionProblem { "You must specify your name (or nickname).", "Blah" };
    if (std::find(kOsNames.begin(), kOsNames.end(), record.os) == kOsNames.end())
        return SubmissionProblem { "You must specify your OS.", "w00t" };
    if (record.processor.empty())
        return SubmissionProblem { "You must give your processor's description.",
            "All your base are belong to us" };
    for (const std::string* text : { &record.name, &record.email, &record.processor }) {
        if (Utf8ToWindows1252(*text).size() > kMaxRecordText)
            return SubmissionProblem {
                "Your name, e-mail address and processor's description may each be at most "
                    + std::to_string(kMaxRecordText) + " characters long.",
                "Error"
            };
    }
    return std::nullopt;
}

namespace {

using namespace std::chrono_literals;
using Duration = std::chrono::nanoseconds;

constexpr const char* kLock = "compare.lock";
constexpr const char* kClaimPrefix = "compare.claim-";
constexpr const char* kTicketPrefix = "compare.q-";
constexpr const char* kStalePrefix = "compare.stale-";
// What the project's results host lists in its FEAT answer: it applies an APPE only while
// the session that sends it holds the turn.
constexpr std::string_view kFencedAppendFeature = "VANTREL-APPE-IN-TURN";

// Why a submitter that stood still gave up, should it happen on every try.
constexpr const char* kAwayCause = "this program stopped answering for a while (it was paused, or the "
                                   "computer slept), so the results host gave its turn to others; "
                                   "please submit again.";

constexpr auto kConnectTimeout = 10s;
// Releasing the turn after a failure or a cancel must not hold the window for long.
constexpr auto kCleanupTimeout = 10s;
// A transfer slower than this for stallAfter is cut off.
constexpr long kStallBytesPerSecond = 1024;
// Leftovers removed per look at the queue, so a waiter never spends long on others' mess.
constexpr int kRemovalsPerLook = 1;
// How many files a leftover folder may hold before its removal is left to the next waiter.
constexpr int kMaxRemovedEntries = 64;

// CLOCK_BOOTTIME: a holder that slept through a suspend sees the time it lost.
Duration bootTime()
{
    timespec now {};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

std::string randomToken()
{
    std::random_device device;
    char text[17];
    std::snprintf(
        text, sizeof text, "%08x%08x", static_cast<unsigned>(device()), static_cast<unsigned>(device()));
    return text;
}

// The names a listing holds, without the folder some servers put before each.
std::vector<std::string> listedNames(const std::string& listing)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos)
            end = listing.size();
        std::string line = listing.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        line = line.substr(line.find_last_of('/') + 1);
        if (!line.empty() && line != "." && line != "..")
            names.push_back(line);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::uint64_t> number(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// A queue ticket "compare.q-N-T-k": its place (N, then T) and its beat count k.
struct Ticket {
    std::uint64_t number = 0;
    std::string token;
    std::uint64_t beat = 0;
    bool operator<(const Ticket& other) const
    {
        return number != other.number ? number < other.number : token < other.token;
    }
    std::string name() const
    {
        return std::string(kTicketPrefix) + std::to_string(number) + "-" + token + "-" + std::to_string(beat);
    }
};

std::optional<Ticket> parseTicket(const std::string& name)
{
    if (name.rfind(kTicketPrefix, 0) != 0)
        return std::nullopt;
    const std::string_view rest = std::string_view(name).substr(std::string_view(kTicketPrefix).size());
    const std::size_t first = rest.find('-');
    const std::size_t last = rest.rfind('-');
    if (first == std::string_view::npos || last == first)
        return std::nullopt;
    const auto place = number(rest.substr(0, first));
    const auto beat = number(rest.substr(last + 1));
    if (!place || !beat || *place > (1ull << 60))
        return std::nullopt;
    return Ticket { *place, std::string(rest.substr(first + 1, last - first - 1)), *beat };
}

// "226 Appended 73 bytes at 7300000." gives where the record landed.
std::optional<std::uint64_t> appendedAt(const std::vector<std::string>& replies)
{
    const std::optional<std::string> text = replyText(replies, 226);
    if (!text)
        return std::nullopt;
    const std::size_t at = text->rfind(" at ");
    if (at == std::string::npos)
        return std::nullopt;
    std::string digits;
    for (std::size_t i = at + 4; i < text->size() && std::isdigit(static_cast<unsigned char>((*text)[i]));
         ++i)
        digits += (*text)[i];
    return number(digits);
}

bool unreachable(const TransferOutcome& outcome)
{
    return outcome.status == TransferStatus::Unreachable || outcome.serverReply.rfind("421", 0) == 0;
}

bool refused(const TransferOutcome& outcome)
{
    return outcome.status == TransferStatus::CommandFailed && outcome.ftpReply / 100 == 5;
}

// What the waiter at the front of the queue has seen of the lock, by its own clock.
struct LockWatch {
    std::string names; // the whole listing, as last seen
    Duration since {}; // when it last changed
    std::optional<Duration> invalidSince; // not one heartbeat and its stage folder since then
    std::string token; // whose lock it is
    Duration tokenSince {};
    bool seen = false;
};

// One submission: its folder in the queue, its turn, and the heartbeat that keeps both alive.
class Submission {
public:
    Submission(const ResultRecord& record, const SubmitOptions& options, std::stop_token stop)
        : m_record(record)
        , m_options(options)
        , m_timing(options.timing)
        , m_stop(std::move(stop))
        , m_ftp(std::make_shared<CurlInet>())
        , m_engine([this] { tick(); })
    {
    }
    ~Submission()
    {
        if (!m_privateFolder.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_privateFolder, ec);
        }
    }

    SubmitResult run();

private:
    enum class Step { Done, Again }; // Again: the turn was lost or given up; start over
    enum class BeatTarget { None, Claim, Lock };

    Duration now() const { return m_timing.clock ? m_timing.clock() : bootTime(); }
    void report(SubmitStage stage);
    bool stopRequested() const { return m_honourStop && m_stop.stop_requested(); }
    // One turn of every wait: the window's events, the heartbeat, and ending the running
    // transfer when the user cancels or the turn is lost.
    void tick();
    void pause(Duration length);
    // Runs the request that start() began to its end; a host that cannot be reached is tried
    // again (start() anew) for a while, since a restart takes seconds.
    TransferOutcome finish(const std::function<bool()>& start);
    TransferOutcome quote(std::vector<std::string> commands);
    TransferOutcome list(const std::string& folder, std::vector<std::string>& names);
    std::optional<std::uint64_t> hostSize(bool& missing);
    bool updateCopy(SubmitResult& failure);

    Step attempt(SubmitResult& result);
    bool prepare(SubmitResult& result);
    bool joinQueue(SubmitResult& result);
    // After a failure before the turn: a submitter that was away (paused, asleep) lost its
    // place to others, which is no fault of the host's; it starts again.
    Step afterFailure(SubmitResult& result);
    enum class Wait { Claimed, Ended, Again };
    Wait waitForTurn(SubmitResult& result);
    void observeLock(const std::vector<std::string>& names);
    bool takeOver();
    bool beatTicket();
    void lookAtQueue(const std::vector<std::string>& names);
    Step hold(SubmitResult& result);
    std::optional<Step> fitStage(std::uint64_t hostSize, SubmitResult& result);
    SubmitResult confirm(std::uint64_t at, std::string causeIfAbsent);

    void startBeats(BeatTarget target);
    void pumpBeats();
    void stopBeats();
    void releaseTurn(bool stagedLeft);
    void removeOwnFolder();
    void removeFolder(const std::string& name);
    // While one lives, a cancel is not honoured and commands get short time-outs: a clean-up
    // runs to its end, briefly, whatever came before it.
    class CleanUp {
    public:
        explicit CleanUp(Submission& submission)
            : m_submission(submission)
            , m_honoured(submission.m_honourStop)
        {
            submission.m_honourStop = false;
            submission.m_ftp->setTimeouts(kConnectTimeout, kCleanupTimeout);
        }
        ~CleanUp()
        {
            m_submission.m_ftp->setTimeouts(kConnectTimeout, m_submission.m_timing.commandTimeout);
            m_submission.m_honourStop = m_honoured;
        }
        CleanUp(const CleanUp&) = delete;
        CleanUp& operator=(const CleanUp&) = delete;

    private:
        Submission& m_submission;
        bool m_honoured;
    };

    SubmitResult failed(std::string cause) const
    {
        return { SubmitStatus::Failed, std::move(cause), false, m_dataSent, false };
    }
    SubmitResult cancelled();
    std::string claimName() const { return kClaimPrefix + m_token + "-" + std::to_string(m_claimBeat); }
    std::string heartbeat() const { return "hb-" + m_token + "-" + std::to_string(m_lockBeat); }
    std::string lockPath(const std::string& name) const { return std::string(kLock) + "/" + name; }
    std::string stagedPath() const { return lockPath(m_token + "/next"); }
    std::string newStaleName() { return kStalePrefix + m_token + "-" + std::to_string(m_staleCount++); }

    const ResultRecord& m_record;
    const SubmitOptions& m_options;
    const SubmitTiming& m_timing;
    std::stop_token m_stop;
    bool m_honourStop = true;
    std::optional<SubmitStage> m_stage;

    std::shared_ptr<CurlInet> m_ftp; // the submission's FTP session
    clsFTPEngine m_engine;
    CurlInet m_web;
    std::string m_copyPath;
    // The copy as the last update left it: other programs of the user may move the copy on
    // meanwhile, but these bytes stay as they were.
    FileDescriptor m_copy;
    std::uint64_t m_copySize = 0;
    // On a plain host: the size and the last bytes of the copy staged with the record.
    std::uint64_t m_stagedSize = 0;
    std::string m_stagedTail;
    std::string m_privateFolder; // holds the copy when the caller keeps none
    std::string m_encoded; // the record as it goes into the file
    bool m_fencedAppend = false;
    bool m_featuresKnown = false;

    std::string m_token;
    std::uint64_t m_claimBeat = 0;
    std::optional<Ticket> m_ticket;
    bool m_holding = false;
    Duration m_turnStart {};
    Duration m_waited {};
    Duration m_held {};
    std::vector<std::string> m_staleToRemove;
    int m_staleCount = 0;

    // The heartbeat, on a session of its own, opened only when a beat is due while the
    // main session is busy with a transfer.
    std::unique_ptr<CurlInet> m_beat;
    BeatTarget m_beatTarget = BeatTarget::None;
    bool m_beatRunning = false;
    bool m_beatChecking = false; // listing to learn what a failed beat did
    std::uint64_t m_lockBeat = 0;
    Duration m_nextBeat {};
    bool m_lost = false;
    // The process stood still (stopped, suspended) long enough for others to count it dead.
    bool m_away = false;
    std::optional<Duration> m_lastTick;

    LockWatch m_watch;
    std::map<std::string, Duration> m_seen; // others' folders, by exact name: first seen
    std::map<std::string, Duration> m_aheadSince; // tickets ahead of ours, by token

    bool m_dataSent = false;
    std::mt19937 m_jitter { std::random_device {}() };
};

void Submission::report(SubmitStage stage)
{
    if (m_stage == stage)
        return;
    m_stage = stage;
    if (m_options.progress)
        m_options.progress(stage);
}

void Submission::tick()
{
    const Duration at = now();
    if (m_lastTick && at - *m_lastTick >= m_timing.staleAfter / 2)
        m_away = true; // long enough that others may have counted this submitter dead
    m_lastTick = at;
    if (m_options.yield)
        m_options.yield();
    pumpBeats();
    if (m_holding && now() - m_turnStart >= m_timing.turnLimit)
        m_lost = true; // given up: this turn has lasted longer than any should
    if (stopRequested() || (m_holding && m_lost))
        m_ftp->Cancel();
}

void Submission::pause(Duration length)
{
    const auto until = now() + length;
    while (!stopRequested()) {
        tick();
        const auto left = until - now();
        if (left <= 0s)
            return;
        std::this_thread::sleep_for(std::min<Duration>(left, 10ms));
    }
}

TransferOutcome Submission::finish(const std::function<bool()>& start)
{
    const Duration firstFailure = now();
    Duration backoff = 500ms;
    while (true) {
        if (start()) {
            while (m_ftp->StillExecuting())
                tick();
        }
        const TransferOutcome outcome = m_ftp->outcome();
        if (!unreachable(outcome) || !m_honourStop || stopRequested()
            || now() - firstFailure + backoff > m_timing.outageGrace)
            return outcome;
        pause(backoff);
        backoff = std::min<Duration>(backoff * 2, 4s);
    }
}

TransferOutcome Submission::quote(std::vector<std::string> commands)
{
    return finish([&] { return m_ftp->quote(commands); });
}

TransferOutcome Submission::list(const std::string& folder, std::vector<std::string>& names)
{
    const TransferOutcome outcome = finish([&] { return m_ftp->list(folder); });
    names = outcome.ok() ? listedNames(m_ftp->listing()) : std::vector<std::string>();
    return outcome;
}

std::optional<std::uint64_t> Submission::hostSize(bool& missing)
{
    missing = false;
    const TransferOutcome outcome = quote({ "TYPE I", "SIZE " + std::string(kSharedFileName) });
    if (outcome.ok()) {
        if (const std::optional<std::string> text = replyText(m_ftp->replies(), 213))
            return number(*text);
        return std::nullopt;
    }
    missing = refused(outcome) && outcome.ftpReply == 550;
    return missing ? std::optional<std::uint64_t>(0) : std::nullopt;
}

SubmitResult Submission::cancelled()
{
    return { SubmitStatus::Cancelled, "the submission was cancelled", false, m_dataSent, false };
}

bool Submission::updateCopy(SubmitResult& failure)
{
    LocalCopyUpdate update = updateLocalCopy(
        m_web, m_options.host.web, m_copyPath, [this] { tick(); }, [this] { return stopRequested(); });
    if (update.ok && update.leftOut > 0)
        update = { .cause = kDamagedSharedFile }; // a record added after that would be unreadable
    if (!update.ok) {
        failure = update.cancelled ? cancelled() : this->failed(update.cause + ".");
        return false;
    }
    m_copy = std::move(update.copy);
    m_copySize = update.size;
    return true;
}

SubmitResult Submission::run()
{
    report(SubmitStage::Contacting);
    m_encoded = EncodeResultRecord(m_record);
    if (m_options.localCopyPath.empty()) {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "vantrel3-copy-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            return failed("no private folder could be made for the results file.");
        m_privateFolder = pattern;
        m_copyPath = pattern + "/" + kSharedFileName;
    } else {
        m_copyPath = m_options.localCopyPath;
    }
    m_web.setTimeouts(kConnectTimeout, std::chrono::hours(1));
    m_web.setLowSpeedLimit(kStallBytesPerSecond, m_timing.stallAfter);
    m_engine.SetEncryptionPassword(kEncryptionKey);
    m_engine.SetInetObject(m_ftp);
    m_engine.SetFTPServer(m_options.host.ftp);
    m_engine.SetFTPUsername(kFtpUserName);
    m_engine.SetFTPEncryptedPassword(kFtpEncryptedPassword);
    if (!m_engine.LogonInet())
        return failed("the logon to the results host failed (" + m_engine.errorString() + ").");

    SubmitResult result;
    int round = 0;
    while (round < std::max(1, m_timing.tries) && attempt(result) == Step::Again)
        ++round;
    if (round == std::max(1, m_timing.tries) && result.cause.empty())
        result = failed("the results host was taken over from this submission again and again.");
    result.waited = m_waited;
    result.held = m_held;
    return result;
}

// One go: bring the copy up to date, prepare, queue, take the turn, add the record.
Submission::Step Submission::attempt(SubmitResult& result)
{
    m_honourStop = true;
    m_lost = false;
    m_away = false;
    m_holding = false;
    m_ticket.reset();
    m_ftp->setTimeouts(kConnectTimeout, m_timing.commandTimeout);
    m_ftp->setLowSpeedLimit(kStallBytesPerSecond, m_timing.stallAfter);
    report(SubmitStage::Contacting);
    if (!updateCopy(result))
        return Step::Done;
    // Anything but whole records before it would swallow the new record.
    if (wholeRecordsEnd(m_copy.get(), m_copySize) != m_copySize) {
        result = failed(std::string(kDamagedSharedFile) + ".");
        return Step::Done;
    }
    if (!m_featuresKnown) {
        const TransferOutcome features = quote({ "FEAT" });
        if (stopRequested()) {
            result = cancelled();
            return Step::Done;
        }
        if (unreachable(features) || features.status == TransferStatus::LogonRefused
            || features.status == TransferStatus::TimedOut) {
            result = failed("the results host " + m_options.host.ftp
                + " could not be reached for the upload (" + describeTransferFailure(features) + ").");
            return Step::Done;
        }
        for (const std::string& line : m_ftp->replies()) {
            if (line.find(kFencedAppendFeature) != std::string::npos)
                m_fencedAppend = !m_options.plainHost;
        }
        m_featuresKnown = true;
    }
    if (!prepare(result) || !joinQueue(result))
        return afterFailure(result);
    switch (waitForTurn(result)) {
    case Wait::Ended:
        return afterFailure(result);
    case Wait::Again:
        return Step::Again;
    case Wait::Claimed:
        break;
    }
    return hold(result);
}

Submission::Step Submission::afterFailure(SubmitResult& result)
{
    if (!m_away || result.status == SubmitStatus::Cancelled)
        return Step::Done;
    result = failed(kAwayCause);
    return Step::Again;
}

// The submitter's own folder, made before it joins the queue: its first heartbeat and its
// stage folder, which come along when the folder becomes the lock. On a plain host the new
// file is staged now, outside any turn, since it is the long transfer.
bool Submission::prepare(SubmitResult& result)
{
    m_token = randomToken();
    m_claimBeat = 0;
    m_lockBeat = 0;
    const std::string folder = claimName();
    TransferOutcome made = quote({ "MKD " + folder, "MKD " + folder + "/" + m_token });
    if (made.ok())
        made = finish(
            [&] { return m_ftp->store(folder + "/" + heartbeat(), { .tail = m_token }, UploadMode::Store); });
    if (made.ok() && !m_fencedAppend) {
        report(SubmitStage::Uploading);
        m_ftp->setTimeouts(kConnectTimeout, std::chrono::hours(24)); // the stall limit bounds it
        startBeats(BeatTarget::Claim);
        m_stagedSize = m_copySize;
        const std::uint64_t overlap = std::min<std::uint64_t>(m_stagedSize, 512);
        m_stagedTail = readRange(m_copy.get(), m_stagedSize - overlap, overlap);
        made = finish([&] {
            return m_ftp->store(claimName() + "/" + m_token + "/next",
                { .fd = m_copy.get(), .length = m_stagedSize, .tail = m_encoded }, UploadMode::Store);
        });
        stopBeats();
        m_ftp->setTimeouts(kConnectTimeout, m_timing.commandTimeout);
    }
    if (made.ok() && !stopRequested())
        return true;
    result = stopRequested() ? cancelled()
                             : failed("the results host " + m_options.host.ftp + " refused the upload ("
                                 + describeTransferFailure(made) + ").");
    removeOwnFolder();
    return false;
}

bool Submission::joinQueue(SubmitResult& result)
{
    std::vector<std::string> names;
    const TransferOutcome listed = list({}, names);
    std::uint64_t last = 0;
    for (const std::string& name : names) {
        if (const std::optional<Ticket> ticket = parseTicket(name))
            last = std::max(last, ticket->number);
    }
    if (listed.ok()) {
        for (int tries = 0; tries < 20 && !stopRequested(); ++tries) {
            const Ticket ticket { last + 1 + static_cast<std::uint64_t>(tries), m_token, 0 };
            const TransferOutcome joined = quote({ "RNFR " + claimName(), "RNTO " + ticket.name() });
            if (joined.ok()) {
                m_ticket = ticket;
                return true;
            }
            if (!refused(joined))
                break;
        }
    }
    result = stopRequested()
        ? cancelled()
        : failed("the results host " + m_options.host.ftp + " could not be joined in its queue ("
            + describeTransferFailure(listed.ok() ? m_ftp->outcome() : listed) + ").");
    removeOwnFolder();
    return false;
}

// Renames the ticket to its next beat; on an unclear answer, looks which name it has now.
bool Submission::beatTicket()
{
    Ticket next = *m_ticket;
    ++next.beat;
    const TransferOutcome renamed = quote({ "RNFR " + m_ticket->name(), "RNTO " + next.name() });
    if (renamed.ok()) {
        m_ticket = next;
        return true;
    }
    std::vector<std::string> names;
    if (!list({}, names).ok())
        return true; // try again at the next beat
    for (const std::string& name : names) {
        const std::optional<Ticket> ticket = parseTicket(name);
        if (ticket && ticket->token == m_token) {
            m_ticket = ticket;
            return true;
        }
    }
    return false; // gone: claimed by a late answer, or removed by someone
}

// Waits at the queue until this submission's ticket is at its front and the lock can be
// claimed; the waiter at the front watches the lock and takes a dead one over.
Submission::Wait Submission::waitForTurn(SubmitResult& result)
{
    const Duration joined = now();
    struct Count {
        Duration& total;
        Duration since;
        std::function<Duration()> clock;
        ~Count() { total += clock() - since; }
    } count { m_waited, joined, [this] { return now(); } };
    Duration nextBeat = joined + m_timing.beatEvery;
    Duration nextLook = joined;
    Duration nextLockList = joined;
    Duration nextQueueLook = joined;
    bool atFront = false;
    m_watch = {};
    m_aheadSince.clear();
    std::uniform_int_distribution<long> jitter(0, std::max<long>(1, m_timing.pollMin.count()));

    while (true) {
        if (stopRequested()) {
            result = cancelled();
            removeOwnFolder();
            return Wait::Ended;
        }
        if (now() - joined > m_timing.maxWait) {
            result = failed("the results host " + m_options.host.ftp
                + " is busy with other submissions; please try again later.");
            removeOwnFolder();
            return Wait::Ended;
        }
        if (now() >= nextBeat) {
            nextBeat = now() + m_timing.beatEvery;
            if (!beatTicket()) {
                // Our ticket is gone. If a claim's answer was lost, it may be the lock now.
                std::vector<std::string> inLock;
                list(kLock, inLock);
                if (std::find(inLock.begin(), inLock.end(), m_token) != inLock.end()) {
                    m_holding = true;
                    m_turnStart = now();
                    if (!m_fencedAppend)
                        return Wait::Claimed;
                    releaseTurn(false); // the host ties appends to the session that claimed
                    return Wait::Again;
                }
                // Someone removed it as dead: we were away too long, or they were wrong.
                result
                    = failed(m_away ? kAwayCause : "the results host's queue lost this submission's place.");
                return Wait::Again;
            }
        }

        if (!atFront || now() >= nextQueueLook) {
            std::vector<std::string> names;
            if (list({}, names).ok()) {
                lookAtQueue(names);
                std::size_t ahead = 0;
                for (const std::string& name : names) {
                    const std::optional<Ticket> ticket = parseTicket(name);
                    if (!ticket || !(*ticket < *m_ticket))
                        continue;
                    const auto first = m_aheadSince.try_emplace(ticket->token, now()).first->second;
                    if (now() - first < m_timing.skipAfter)
                        ++ahead;
                }
                atFront = ahead == 0;
                nextQueueLook = now()
                    + (atFront ? 1000ms
                               : std::clamp<Duration>(
                                   m_timing.pollMin * 2 * ahead, m_timing.pollMin, m_timing.pollMax));
            }
        }

        if (atFront) {
            const TransferOutcome claimed
                = quote({ "RNFR " + m_ticket->name(), "RNTO " + std::string(kLock) });
            if (claimed.ok()) {
                m_holding = true;
                m_turnStart = now();
                return Wait::Claimed;
            }
            if (stopRequested())
                continue;
            if (!refused(claimed)) {
                // Unanswered: the rename may have happened. Look at the lock before anything else.
                std::vector<std::string> inLock;
                if (list(kLock, inLock).ok()
                    && std::find(inLock.begin(), inLock.end(), m_token) != inLock.end()) {
                    if (!m_fencedAppend) {
                        m_holding = true;
                        m_turnStart = now();
                        return Wait::Claimed;
                    }
                    // The host ties an append to the session that claimed; that one is gone.
                    m_holding = true;
                    m_turnStart = now();
                    releaseTurn(false);
                    return Wait::Again;
                }
                // Renaming the ticket makes a late claim with its old name fail.
                if (!beatTicket())
                    return Wait::Again;
                if (unreachable(claimed)) {
                    result = failed("the results host " + m_options.host.ftp + " could not be reached ("
                        + describeTransferFailure(claimed) + ").");
                    removeOwnFolder();
                    return Wait::Ended;
                }
            }
            report(SubmitStage::Waiting);
            if (now() >= nextLockList) {
                nextLockList = now() + m_timing.lockListEvery;
                std::vector<std::string> inLock;
                const TransferOutcome listed = list(kLock, inLock);
                // A failed listing tells nothing: the watch goes on as it was.
                if (listed.ok()) {
                    observeLock(inLock);
                    if (takeOver()) {
                        nextLockList = now();
                        continue;
                    }
                }
            }
            nextLook = now() + m_timing.pollMin + std::chrono::milliseconds(jitter(m_jitter));
        } else {
            report(SubmitStage::Waiting);
            nextLook = nextQueueLook;
        }
        pause(std::max<Duration>(nextLook - now(), 0ms));
    }
}

// Others' folders in the starting folder: a name that has stood still for staleAfter is a
// dead submitter's, and is moved aside and removed (one per look).
void Submission::lookAtQueue(const std::vector<std::string>& names)
{
    std::map<std::string, Duration> seen;
    int removals = 0;
    for (const std::string& name : names) {
        const bool ours = name.find(m_token) != std::string::npos;
        const bool leftover = name.rfind(kClaimPrefix, 0) == 0 || name.rfind(kTicketPrefix, 0) == 0
            || name.rfind(kStalePrefix, 0) == 0;
        if (ours || !leftover)
            continue;
        const auto it = m_seen.find(name);
        const Duration first = it == m_seen.end() ? now() : it->second;
        seen[name] = first;
        if (now() - first < m_timing.staleAfter || removals >= kRemovalsPerLook)
            continue;
        ++removals;
        seen.erase(name);
        if (name.rfind(kStalePrefix, 0) == 0) {
            removeFolder(name);
            continue;
        }
        // Renaming proves the owner silent: a beat since would have changed the name.
        const std::string aside = newStaleName();
        if (quote({ "RNFR " + name, "RNTO " + aside }).ok())
            removeFolder(aside);
    }
    m_seen = std::move(seen);
}

void Submission::observeLock(const std::vector<std::string>& names)
{
    std::string joined;
    for (const std::string& name : names)
        joined += name + "\n";
    const Duration at = now();
    if (!m_watch.seen || joined != m_watch.names) {
        m_watch.names = joined;
        m_watch.since = at;
    }
    // One heartbeat hb-X-n, and at most X's stage folder beside it.
    std::string token;
    std::size_t beats = 0;
    for (const std::string& name : names) {
        if (name.rfind("hb-", 0) == 0 && name.size() > 3) {
            ++beats;
            const std::string rest = name.substr(3);
            token = rest.substr(0, rest.rfind('-'));
        }
    }
    const bool valid = beats == 1 && std::all_of(names.begin(), names.end(), [&](const std::string& name) {
        return name == token || name.rfind("hb-" + token + "-", 0) == 0;
    });
    if (valid)
        m_watch.invalidSince.reset();
    else if (!m_watch.invalidSince && !names.empty())
        m_watch.invalidSince = at;
    if (!m_watch.seen || token != m_watch.token) {
        m_watch.token = token;
        m_watch.tokenSince = at;
    }
    m_watch.seen = true;
}

// Takes a dead or stuck lock over: first a rename of the entry seen inside it, which
// succeeds for one waiter only and only if nothing changed, then the whole folder aside.
bool Submission::takeOver()
{
    if (!m_watch.seen || m_watch.names.empty())
        return false;
    const Duration at = now();
    const bool stale = at - m_watch.since >= m_timing.staleAfter;
    const bool invalid = m_watch.invalidSince && at - *m_watch.invalidSince >= m_timing.invalidAfter;
    const bool tooLong = !m_watch.token.empty() && at - m_watch.tokenSince >= m_timing.maxHold;
    if (!stale && !invalid && !tooLong)
        return false;
    const std::vector<std::string> names = listedNames(m_watch.names);
    std::string target = names.front();
    for (const std::string& name : names) {
        if (name.rfind("hb-", 0) == 0)
            target = name;
    }
    m_watch = {};
    if (!quote({ "RNFR " + lockPath(target), "RNTO " + lockPath("dead-" + m_token) }).ok())
        return false;
    const std::string aside = newStaleName();
    if (quote({ "RNFR " + std::string(kLock), "RNTO " + aside }).ok())
        m_staleToRemove.push_back(aside);
    return true;
}

Submission::Step Submission::hold(SubmitResult& result)
{
    m_ticket.reset();
    startBeats(BeatTarget::Lock);
    report(SubmitStage::Uploading);
    const bool plain = !m_fencedAppend;

    bool missing = false;
    const std::optional<std::uint64_t> size = hostSize(missing);
    if (stopRequested() || m_lost || !size) {
        const TransferOutcome asked = m_ftp->outcome();
        releaseTurn(plain);
        if (stopRequested()) {
            result = cancelled();
            return Step::Done;
        }
        if (m_lost)
            return Step::Again;
        result = failed("the results host " + m_options.host.ftp
            + " did not say how large the results file is (" + describeTransferFailure(asked) + ").");
        return Step::Done;
    }
    if (plain) {
        if (const std::optional<Step> step = fitStage(*size, result))
            return *step;
    }
    if (m_lost || stopRequested()) {
        releaseTurn(plain);
        if (!stopRequested())
            return Step::Again;
        result = cancelled();
        return Step::Done;
    }

    // The commit: the host carries it out only while this turn is still ours. Either way the
    // record follows what the host's file held.
    const std::uint64_t base = *size;
    m_dataSent = true;
    std::optional<std::uint64_t> at;
    TransferOutcome committed;
    if (plain) {
        committed = quote({ "RNFR " + stagedPath(), "RNTO " + std::string(kSharedFileName) });
        if (committed.ok())
            at = base;
    } else {
        committed = finish(
            [&] { return m_ftp->store(kSharedFileName, { .tail = m_encoded }, UploadMode::Append); });
        if (committed.ok())
            at = appendedAt(m_ftp->replies()).value_or(base);
    }
    releaseTurn(plain && !committed.ok());
    // From here on the user's cancel waits for the answer: only the host can say whether
    // the record is there, and a second submission must not add it twice.
    const bool cancelledMeanwhile = m_stop.stop_requested();
    m_honourStop = false;
    const bool clearlyRefused = refused(committed) && !m_lost;
    if (cancelledMeanwhile && !clearlyRefused) {
        report(SubmitStage::Verifying);
        result = confirm(at.value_or(base), "your results are not on the host");
        result.status = SubmitStatus::Cancelled;
        if (result.onHost)
            result.cause = "your results had reached the host before the cancel";
        return Step::Done;
    }
    if (clearlyRefused && committed.ftpReply == 552) {
        // Too large for the host (its quota): trying again cannot help.
        m_dataSent = false;
        result = failed("the results host " + m_options.host.ftp + " refused the record ("
            + describeTransferFailure(committed) + ").");
        return Step::Done;
    }
    if (clearlyRefused) {
        // The host did not take it: the turn had passed, or the file had changed. Go again.
        m_dataSent = false;
        result = failed("the results host " + m_options.host.ftp + " refused the record ("
            + describeTransferFailure(committed) + ").");
        return Step::Again;
    }
    report(SubmitStage::Verifying);
    result = confirm(at.value_or(base),
        committed.ok()
            ? "the results file on the host did not hold your record after the upload"
            : "the upload to the results host failed (" + describeTransferFailure(committed) + ")");
    if (m_stop.stop_requested() && !result.uncertain) {
        // Cancelled while the host was read back: the user learns where the record is.
        const bool there = result.status == SubmitStatus::Submitted;
        result = cancelled();
        result.onHost = there;
        result.cause = there ? "your results had reached the host before the cancel"
                             : "your results are not on the host";
        return Step::Done;
    }
    if (result.status == SubmitStatus::Submitted || result.uncertain)
        return Step::Done;
    // Not there: nothing of it landed, so another turn cannot add it twice.
    m_dataSent = false;
    result.dataSent = false;
    return committed.ok() ? Step::Done : Step::Again;
}

// On a plain host, makes the staged file the host's file followed by the record. It was
// staged as the copy then was and the record; whatever the host gained since is written over
// the staged record. Judged only by what was staged, since other programs of this user may
// have moved the shared copy on meanwhile. nullopt: ready to commit; else the turn is released.
std::optional<Submission::Step> Submission::fitStage(std::uint64_t hostSize, SubmitResult& result)
{
    if (hostSize == m_stagedSize)
        return std::nullopt;
    if (hostSize > m_copySize && !updateCopy(result)) {
        releaseTurn(true);
        return Step::Done;
    }
    const std::uint64_t overlap = m_stagedTail.size();
    if (hostSize < m_stagedSize || m_copySize != hostSize
        || readRange(m_copy.get(), m_stagedSize - overlap, overlap) != m_stagedTail) {
        // The host's file no longer begins with what was staged (put back to an earlier state),
        // or its web side does not show yet what FTP holds: stage afresh.
        releaseTurn(true);
        result = failed("the results file on the host " + m_options.host.ftp
            + " changed under every attempt to add your record.");
        return Step::Again;
    }
    // REST and STOR write what came meanwhile and the record over the staged record.
    const TransferOutcome patched = finish([&] {
        return m_ftp->store(stagedPath(),
            { .fd = m_copy.get(),
                .offset = m_stagedSize,
                .length = hostSize - m_stagedSize,
                .tail = m_encoded },
            UploadMode::Store, m_stagedSize);
    });
    if (patched.ok())
        return std::nullopt;
    releaseTurn(true);
    if (stopRequested()) {
        result = cancelled();
        return Step::Done;
    }
    if (m_lost || refused(patched))
        return Step::Again; // the stage is gone with the turn
    result = failed("the upload to the results host " + m_options.host.ftp + " failed ("
        + describeTransferFailure(patched) + ").");
    return Step::Done;
}

// Reads the host's file back (only what is new since `from`, into the local copy) and
// looks for the record at a record boundary from there on.
SubmitResult Submission::confirm(std::uint64_t from, std::string causeIfAbsent)
{
    SubmitResult failure;
    const Duration firstFailure = now();
    Duration backoff = 500ms;
    bool updated = updateCopy(failure);
    while (!updated && !failure.cause.empty() && now() - firstFailure + backoff <= m_timing.outageGrace
        && !stopRequested()) {
        pause(backoff);
        backoff = std::min<Duration>(backoff * 2, 4s);
        updated = updateCopy(failure);
    }
    if (!updated) {
        SubmitResult result = failed("the results host could not be asked whether it holds them ("
            + failure.cause.substr(0, failure.cause.find_last_not_of('.') + 1) + ")");
        result.uncertain = m_dataSent;
        return result;
    }
    const std::uint64_t size = m_copySize;
    // Scan from where it was put; others' records may stand before it.
    const std::string tail = readRange(m_copy.get(), from,
        static_cast<std::size_t>(std::min<std::uint64_t>(size - std::min(size, from), 16u << 20)));
    for (std::size_t pos = 0; pos < tail.size();) {
        const std::size_t length = ResultRecordLength(tail, pos);
        if (length == 0)
            break;
        if (std::string_view(tail).substr(pos, length) == m_encoded)
            return { SubmitStatus::Submitted, {}, true, true, false };
        pos += length;
    }
    return failed(std::move(causeIfAbsent) + ".");
}

void Submission::startBeats(BeatTarget target)
{
    m_beatTarget = target;
    m_nextBeat = now() + m_timing.beatEvery;
}

void Submission::pumpBeats()
{
    if (m_beatTarget == BeatTarget::None)
        return;
    if (m_beatRunning) {
        if (m_beat->StillExecuting())
            return;
        m_beatRunning = false;
        const TransferOutcome& outcome = m_beat->outcome();
        if (m_beatChecking) {
            // What a beat whose answer was unclear did, judged by what the host holds.
            m_beatChecking = false;
            if (!outcome.ok()) {
                m_nextBeat = now() + 1s;
                return;
            }
            bool found = false;
            for (const std::string& name : listedNames(m_beat->listing())) {
                const std::string prefix
                    = m_beatTarget == BeatTarget::Lock ? "hb-" + m_token + "-" : kClaimPrefix + m_token + "-";
                if (name.rfind(prefix, 0) != 0)
                    continue;
                if (const std::optional<std::uint64_t> beat = number(name.substr(prefix.size()))) {
                    (m_beatTarget == BeatTarget::Lock ? m_lockBeat : m_claimBeat) = *beat;
                    found = true;
                }
            }
            if (!found)
                m_lost = true; // the heartbeat is gone: a waiter took the turn over
            m_nextBeat = now() + (found ? m_timing.beatEvery : 1s);
            return;
        }
        if (outcome.ok()) {
            ++(m_beatTarget == BeatTarget::Lock ? m_lockBeat : m_claimBeat);
            m_nextBeat = now() + m_timing.beatEvery;
            return;
        }
        m_beatChecking = m_beat->list(m_beatTarget == BeatTarget::Lock ? kLock : "");
        m_beatRunning = m_beatChecking;
        if (!m_beatRunning)
            m_nextBeat = now() + 1s;
        return;
    }
    if (now() < m_nextBeat)
        return;
    if (!m_beat) {
        m_beat = std::make_unique<CurlInet>();
        m_beat->setProtocol(kProtocolFtp);
        m_beat->setURL(m_ftp->URL());
        m_beat->setUserName(m_ftp->UserName());
        m_beat->setPassword(m_ftp->Password());
        m_beat->setTimeouts(kConnectTimeout, m_timing.commandTimeout);
    }
    std::vector<std::string> rename;
    if (m_beatTarget == BeatTarget::Lock)
        rename = { "RNFR " + lockPath(heartbeat()),
            "RNTO " + lockPath("hb-" + m_token + "-" + std::to_string(m_lockBeat + 1)) };
    else
        rename = { "RNFR " + claimName(),
            "RNTO " + std::string(kClaimPrefix) + m_token + "-" + std::to_string(m_claimBeat + 1) };
    m_beatRunning = m_beat->quote(rename);
    if (!m_beatRunning)
        m_nextBeat = now() + 1s;
}

// Lets a beat in flight end, so that the heartbeat's name is known.
void Submission::stopBeats()
{
    while (m_beatRunning) {
        if (m_options.yield)
            m_options.yield();
        pumpBeats();
    }
    m_beatTarget = BeatTarget::None;
}

// Best effort and bounded: the turn goes whatever happened, a lost one included (its
// heartbeat is then gone and the folder, if any, is another's and not empty).
void Submission::releaseTurn(bool stagedLeft)
{
    {
        const CleanUp scope(*this);
        stopBeats();
        std::vector<std::string> steps;
        if (stagedLeft)
            steps.push_back("DELE " + stagedPath());
        steps.push_back("RMD " + lockPath(m_token));
        steps.push_back("DELE " + lockPath(heartbeat()));
        steps.push_back("RMD " + std::string(kLock));
        if (!quote(steps).ok() && !unreachable(m_ftp->outcome())) {
            // One step refused (a stage already renamed away): the others still go, one by one.
            for (const std::string& step : steps)
                quote({ step });
        }
    }
    // Taken-over locks go once the turn is free for others.
    for (const std::string& aside : m_staleToRemove)
        removeFolder(aside);
    m_staleToRemove.clear();
    if (m_holding)
        m_held += now() - m_turnStart;
    m_holding = false;
}

void Submission::removeOwnFolder()
{
    stopBeats();
    removeFolder(m_ticket ? m_ticket->name() : claimName());
    m_ticket.reset();
}

// Removes a folder and what it holds, one level of folders deep (a lock holds a stage
// folder); bounded, and best effort: what is left is removed by the next waiter.
void Submission::removeFolder(const std::string& name)
{
    const CleanUp scope(*this);
    int removed = 0;
    std::vector<std::string> entries;
    if (list(name, entries).ok()) {
        for (const std::string& entry : entries) {
            if (++removed > kMaxRemovedEntries)
                break;
            const std::string path = name + "/" + entry;
            if (quote({ "DELE " + path }).ok())
                continue;
            std::vector<std::string> inner;
            if (list(path, inner).ok()) {
                for (const std::string& file : inner) {
                    if (++removed > kMaxRemovedEntries)
                        break;
                    quote({ "DELE " + path + "/" + file });
                }
            }
            quote({ "RMD " + path });
        }
    }
    quote({ "RMD " + name });
}

} // namespace

SubmitResult submitResult(const ResultRecord& record, const SubmitOptions& options, std::stop_token stop)
{
    Submission submission(record, options, std::move(stop));
    return submission.run();
}

} // namespace vantrel
