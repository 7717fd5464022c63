#include "core/submit/submission.h"

#include "core/remote/curl_inet.h"
#include "core/remote/ftp_engine.h"
#include "core/remote/transfer_cause.h"
#include "core/submit/ftp_account.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
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
    return std::nullopt;
}

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The folder whose existence, holding one heartbeat file, means "a submitter holds the host".
constexpr const char* kLockFolder = "compare.lock";

constexpr auto kConnectTimeout = 15s;
// Folder commands and heartbeats are a few short replies.
constexpr auto kCommandTimeout = 30s;
// A 7 MB file at 100 KB/s takes over a minute; the heartbeat guards such transfers, not a time-out.
constexpr auto kDataTimeout = 30min;
// Releasing the claim after a failure or a cancel must not hold the window for long.
constexpr auto kCleanupConnectTimeout = 5s;
constexpr auto kCleanupTimeout = 10s;
// A heartbeat that failed for another reason than a take-over is tried again this soon.
constexpr auto kBeatRetry = 1s;
// Take-overs of this submitter's claim before it gives up.
constexpr int kRounds = 3;

std::string randomToken()
{
    std::random_device device;
    char text[17];
    std::snprintf(
        text, sizeof text, "%08x%08x", static_cast<unsigned>(device()), static_cast<unsigned>(device()));
    return text;
}

// The names a "DIR" listing holds, without the folder some servers put before each.
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
    return names;
}

// The local copy is replaced whole, so the comparison window never reads half of it.
bool writeWhole(const std::string& path, const std::string& bytes)
{
    const std::string part = path + ".part";
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    std::error_code ec;
    if (out.fail() || (std::filesystem::rename(part, path, ec), ec)) {
        std::filesystem::remove(part, ec);
        return false;
    }
    return true;
}

// A host that did not answer one clean-up step is not waited for again for the next.
bool unreachable(const TransferOutcome& outcome)
{
    return outcome.status == TransferStatus::Unreachable || outcome.status == TransferStatus::TimedOut;
}

// One submission: the claim on the host, its heartbeat, and the append cycle under it.
class Submission {
public:
    Submission(const ResultRecord& record, const SubmitOptions& options, std::stop_token stop)
        : m_record(record)
        , m_options(options)
        , m_timing(options.timing)
        , m_stop(std::move(stop))
        , m_inet(std::make_shared<CurlInet>([this] { tick(); }))
        , m_engine([this] { tick(); })
    {
    }

    SubmitResult run();

private:
    enum class Held { Claimed, Ended };
    enum class Cycle { Done, Lost };

    void report(SubmitStage stage);
    bool stopRequested() const { return m_honourStop && m_stop.stop_requested(); }
    // One turn of every wait: the window's events, the heartbeat, and ending the
    // running transfer when the user cancels or the claim is lost during an upload.
    void tick();
    void pause(std::chrono::milliseconds length);
    TransferOutcome command(const std::string& operation);
    std::string download();

    std::optional<SubmitResult> prepare();
    Held claim(SubmitResult& ended);
    // True when it moved a dead holder's heartbeat away, so the lock is free to claim.
    bool takeOverIfStale(const std::vector<std::string>& names);
    Cycle holdAndAppend(SubmitResult& result);
    void startHeartbeat(Clock::time_point claimedAt);
    void pumpHeartbeat();
    void stopHeartbeat();
    void release();
    void removeClaimFolder();
    void cleanupTimeouts();

    SubmitResult failed(std::string cause) const
    {
        return { SubmitStatus::Failed, std::move(cause), false, m_dataSent };
    }
    SubmitResult cancelled();
    std::string heartbeatName(int number) const { return "hb-" + m_token + "-" + std::to_string(number); }

    const ResultRecord& m_record;
    const SubmitOptions& m_options;
    const SubmitTiming& m_timing;
    std::stop_token m_stop;
    bool m_honourStop = true;
    std::optional<SubmitStage> m_stage;

    std::shared_ptr<CurlInet> m_inet;
    clsFTPEngine m_engine;
    std::string m_token;
    std::string m_claimFolder;

    // Heartbeat, on a control of its own so that it goes on during a long upload.
    std::unique_ptr<CurlInet> m_beat;
    bool m_holding = false;
    bool m_beatRunning = false;
    int m_beatNumber = 0;
    Clock::time_point m_lastBeat; // start of the last beat that succeeded (or of the claim)
    Clock::time_point m_beatStarted;
    Clock::time_point m_nextBeat;
    bool m_lost = false;
    bool m_cancelOnLost = false;

    // What a waiter saw of the holder's heartbeat, by its own clock.
    std::string m_seenBeat;
    Clock::time_point m_seenSince;

    std::string m_uploaded; // the bytes of the last upload, once one began
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
    if (m_options.yield)
        m_options.yield();
    pumpHeartbeat();
    if (stopRequested() || (m_lost && m_cancelOnLost))
        m_inet->Cancel();
}

void Submission::pause(std::chrono::milliseconds length)
{
    const auto until = Clock::now() + length;
    while (!stopRequested()) {
        tick();
        const auto left = until - Clock::now();
        if (left <= 0s)
            return;
        std::this_thread::sleep_for(std::min<Clock::duration>(left, 15ms));
    }
}

TransferOutcome Submission::command(const std::string& operation)
{
    if (m_honourStop)
        m_inet->setTimeouts(kConnectTimeout, kCommandTimeout);
    if (m_inet->Execute({}, operation)) {
        while (m_inet->StillExecuting())
            tick();
    }
    return m_inet->outcome();
}

std::string Submission::download()
{
    if (m_honourStop)
        m_inet->setTimeouts(kConnectTimeout, kDataTimeout);
    return m_inet->OpenURL(m_options.host.web + kSharedFileWebPath, kByteArray);
}

SubmitResult Submission::cancelled()
{
    m_honourStop = false;
    SubmitResult result { SubmitStatus::Cancelled, "the submission was cancelled", false, m_dataSent };
    if (m_dataSent) {
        // The upload may have reached the host before the cancel; only the host can say.
        // The cancelled transfer has wound down before the next one starts.
        report(SubmitStage::Verifying);
        cleanupTimeouts();
        const std::string back = download();
        result.onHost = m_inet->outcome().ok() && back.starts_with(m_uploaded);
        if (!m_inet->outcome().ok())
            result.cause = "the host could not be asked whether it holds your results ("
                + describeTransferFailure(m_inet->outcome()) + ")";
        else
            result.cause = result.onHost ? "your results had reached the host before the cancel"
                                         : "your results are not on the host";
    }
    return result;
}

void Submission::cleanupTimeouts()
{
    m_inet->setTimeouts(kCleanupConnectTimeout, kCleanupTimeout);
}

SubmitResult Submission::run()
{
    report(SubmitStage::Contacting);
    m_engine.SetEncryptionPassword(kEncryptionKey);
    m_engine.SetInetObject(m_inet);
    m_engine.SetFTPServer(m_options.host.ftp);
    m_engine.SetFTPUsername(kFtpUserName);
    m_engine.SetFTPEncryptedPassword(kFtpEncryptedPassword);
    if (!m_engine.LogonInet())
        return failed("the logon to the results host failed (" + m_engine.errorString() + ").");

    for (int round = 0; round < kRounds; ++round) {
        if (std::optional<SubmitResult> ended = prepare())
            return *ended;
        SubmitResult ended;
        if (claim(ended) == Held::Ended)
            return ended;
        SubmitResult result;
        const Cycle cycle = holdAndAppend(result);
        release();
        if (cycle == Cycle::Done)
            return result;
        // Taken over as if dead: another submitter holds the host now, so start again from the claim.
        m_lost = false;
    }
    return failed("the results host was taken over from this submission again and again.");
}

// Makes the claim folder with its first heartbeat, ready to be renamed into the lock.
std::optional<SubmitResult> Submission::prepare()
{
    m_token = randomToken();
    m_claimFolder = "compare.claim-" + m_token;
    const TransferOutcome made = command("MKDIR " + m_claimFolder);
    if (stopRequested())
        return cancelled();
    if (!made.ok())
        return failed("the upload to the results host failed (" + describeTransferFailure(made) + ").");
    m_engine.SetCurFTPFile(m_claimFolder + "/" + heartbeatName(0));
    const bool beat = m_engine.CreateWithData(m_token);
    if (!beat || stopRequested()) {
        const TransferOutcome last = m_inet->outcome();
        const SubmitResult result = stopRequested()
            ? cancelled()
            : failed("the upload to the results host failed ("
                + (last.ok() ? m_engine.errorString() : describeTransferFailure(last)) + ").");
        removeClaimFolder();
        return result;
    }
    return std::nullopt;
}

// Renames the claim folder onto the lock until that works: it fails while another
// submitter's lock holds its heartbeat file. Meanwhile watches that heartbeat and takes
// the lock over from a holder whose heartbeat stood still too long.
Submission::Held Submission::claim(SubmitResult& ended)
{
    auto nextListing = Clock::now();
    m_seenBeat.clear();
    while (true) {
        const auto attempt = Clock::now();
        const TransferOutcome renamed = command("RENAME " + m_claimFolder + " " + kLockFolder);
        if (renamed.ok()) {
            startHeartbeat(attempt);
            return Held::Claimed;
        }
        if (stopRequested() || renamed.status != TransferStatus::CommandFailed) {
            ended = stopRequested()
                ? cancelled()
                : failed("the results host could not be claimed (" + describeTransferFailure(renamed) + ").");
            removeClaimFolder();
            return Held::Ended;
        }
        report(SubmitStage::Waiting);

        if (Clock::now() >= nextListing) {
            nextListing = Clock::now() + m_timing.lockListEvery;
            const TransferOutcome listed = command(std::string("DIR ") + kLockFolder);
            const std::vector<std::string> names
                = listed.ok() ? listedNames(m_inet->listing()) : std::vector<std::string>();
            if (names.size() == 1 && names.front() == heartbeatName(0)) {
                // An earlier try of ours went through but its answer was lost: hand the
                // lock back rather than guess how old its heartbeat is, and claim afresh.
                m_beatNumber = 0;
                release();
                if (std::optional<SubmitResult> result = prepare()) {
                    ended = *result;
                    return Held::Ended;
                }
                continue;
            }
            if (takeOverIfStale(names))
                continue;
        }
        std::uniform_int_distribution<long> spread(
            m_timing.claimRetryMin.count(), m_timing.claimRetryMax.count());
        pause(std::chrono::milliseconds(spread(m_jitter)));
        if (stopRequested()) {
            ended = cancelled();
            removeClaimFolder();
            return Held::Ended;
        }
    }
}

// A holder renames its heartbeat file every few seconds; one that stood still for
// staleAfter by this submitter's clock belongs to a dead holder. Moving that very file
// away can succeed for one waiter only, and only while the holder has not beaten since.
bool Submission::takeOverIfStale(const std::vector<std::string>& names)
{
    const auto now = Clock::now();
    if (names.size() != 1) {
        // No lock, or one that is being released or taken over: nothing to time.
        m_seenBeat.clear();
        return false;
    }
    if (names.front() != m_seenBeat) {
        m_seenBeat = names.front();
        m_seenSince = now;
        return false;
    }
    if (now - m_seenSince < m_timing.staleAfter)
        return false;
    const std::string stale = "compare.stale-" + m_token;
    const TransferOutcome moved
        = command("RENAME " + std::string(kLockFolder) + "/" + m_seenBeat + " " + stale);
    m_seenBeat.clear();
    if (!moved.ok())
        return false;
    command("DELETE " + stale);
    // Fails harmlessly when another claim has already replaced the emptied lock.
    command(std::string("RMDIR ") + kLockFolder);
    return true;
}

Submission::Cycle Submission::holdAndAppend(SubmitResult& result)
{
    std::string cause;
    for (int attempt = 0; attempt < std::max(1, m_timing.tries); ++attempt) {
        report(SubmitStage::Contacting);
        const std::string body = download();
        if (stopRequested()) {
            result = cancelled();
            return Cycle::Done;
        }
        if (m_lost)
            return Cycle::Lost;

        bool missing = false;
        const TransferOutcome& outcome = m_inet->outcome();
        if (outcome.ok())
            missing = IsHostErrorPage(body);
        else if (outcome.status == TransferStatus::HttpError && outcome.httpStatus == 404)
            missing = true;
        else {
            result = failed(
                "the results file could not be downloaded (" + describeTransferFailure(outcome) + ").");
            return Cycle::Done;
        }
        // Anything but whole records would swallow the new record or drop the old ones on upload.
        if (!missing && !IsWholeRecordRun(body)) {
            result = failed("the results file on the host is damaged or is not a results file.");
            return Cycle::Done;
        }
        // An earlier upload whose reading back failed, or was cut off by a take-over, may have arrived.
        if (!m_uploaded.empty() && !missing && body.starts_with(m_uploaded)) {
            result = { SubmitStatus::Submitted, {}, true, true };
            return Cycle::Done;
        }

        const std::string whole = (missing ? std::string() : body) + EncodeResultRecord(m_record);
        if (!m_options.localCopyPath.empty() && !writeWhole(m_options.localCopyPath, whole)) {
            result = failed("the local copy " + m_options.localCopyPath + " could not be written.");
            return Cycle::Done;
        }

        report(SubmitStage::Uploading);
        m_uploaded = whole;
        m_dataSent = true;
        m_inet->setTimeouts(kConnectTimeout, kDataTimeout);
        m_engine.SetCurFTPFile(kSharedFileName);
        m_cancelOnLost = true;
        const bool uploaded = m_engine.CreateWithData(whole);
        m_cancelOnLost = false;
        if (stopRequested()) {
            result = cancelled();
            return Cycle::Done;
        }
        if (m_lost)
            return Cycle::Lost;
        if (!uploaded) {
            const TransferOutcome last = m_inet->outcome();
            result = failed("the upload to the results host failed ("
                + (last.ok() ? m_engine.errorString() : describeTransferFailure(last)) + ").");
            return Cycle::Done;
        }

        report(SubmitStage::Verifying);
        const std::string back = download();
        if (stopRequested()) {
            result = cancelled();
            return Cycle::Done;
        }
        if (m_inet->outcome().ok() && back.starts_with(whole)) {
            result = { SubmitStatus::Submitted, {}, true, true };
            return Cycle::Done;
        }
        cause = m_inet->outcome().ok()
            ? "the results file on the host did not hold your record after the upload"
            : "the results file could not be read back (" + describeTransferFailure(m_inet->outcome()) + ")";
        if (m_lost)
            return Cycle::Lost;
    }
    result = failed(cause + "; tried " + std::to_string(std::max(1, m_timing.tries)) + " times.");
    return Cycle::Done;
}

void Submission::startHeartbeat(Clock::time_point claimedAt)
{
    if (!m_beat) {
        m_beat = std::make_unique<CurlInet>();
        m_beat->setProtocol(kProtocolFtp);
        m_beat->setURL(m_inet->URL());
        m_beat->setUserName(m_inet->UserName());
        m_beat->setPassword(m_inet->Password());
        m_beat->setTimeouts(kCleanupConnectTimeout, kCleanupTimeout);
    }
    m_holding = true;
    m_lost = false;
    m_beatNumber = 0;
    m_lastBeat = claimedAt;
    m_nextBeat = claimedAt + m_timing.heartbeatEvery;
}

void Submission::pumpHeartbeat()
{
    if (!m_holding)
        return;
    const auto now = Clock::now();
    if (m_beatRunning) {
        if (m_beat->StillExecuting())
            return;
        m_beatRunning = false;
        const TransferOutcome& outcome = m_beat->outcome();
        if (outcome.ok()) {
            ++m_beatNumber;
            m_lastBeat = m_beatStarted;
            m_nextBeat = m_beatStarted + m_timing.heartbeatEvery;
        } else if (outcome.status == TransferStatus::CommandFailed && outcome.ftpReply == 550) {
            m_lost = true; // the heartbeat file is gone: a waiter took the lock over
        } else {
            m_nextBeat = now + kBeatRetry;
        }
    } else if (!m_lost && now >= m_nextBeat) {
        m_beatStarted = now;
        const std::string folder = std::string(kLockFolder) + "/";
        if (m_beat->Execute({},
                "RENAME " + folder + heartbeatName(m_beatNumber) + " " + folder
                    + heartbeatName(m_beatNumber + 1)))
            m_beatRunning = true;
        else
            m_nextBeat = now + kBeatRetry;
    }
    // Waiters take over only after twice this without a beat, by their own clocks.
    if (now - m_lastBeat >= m_timing.heartbeatGiveUp)
        m_lost = true;
}

// Lets a beat in flight end, so that the heartbeat file's name is known.
void Submission::stopHeartbeat()
{
    while (m_beatRunning) {
        if (m_options.yield)
            m_options.yield();
        pumpHeartbeat();
    }
    m_holding = false;
}

// Best effort and bounded: the lock goes whatever happened, a lost one included (its
// heartbeat file is then gone and the folder, if any, is another's and not empty).
void Submission::release()
{
    const bool honoured = m_honourStop;
    m_honourStop = false;
    stopHeartbeat();
    cleanupTimeouts();
    if (!unreachable(command("DELETE " + std::string(kLockFolder) + "/" + heartbeatName(m_beatNumber))))
        command(std::string("RMDIR ") + kLockFolder);
    m_honourStop = honoured;
}

void Submission::removeClaimFolder()
{
    const bool honoured = m_honourStop;
    m_honourStop = false;
    cleanupTimeouts();
    if (!unreachable(command("DELETE " + m_claimFolder + "/" + heartbeatName(0))))
        command("RMDIR " + m_claimFolder);
    m_honourStop = honoured;
}

} // namespace

SubmitResult submitResult(const ResultRecord& record, const SubmitOptions& options, std::stop_token stop)
{
    Submission submission(record, options, std::move(stop));
    return submission.run();
}

} // namespace vantrel
