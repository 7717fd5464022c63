#include "core/submit/submission.h"

#include "core/remote/transfer_cause.h"
#include "core/results/local_copy.h"
#include "core/submit/commit_strategy.h"
#include "core/submit/copy_snapshot.h"
#include "core/submit/ftp_account.h"
#include "core/submit/heartbeat.h"
#include "core/submit/host_session.h"
#include "core/submit/protocol_names.h"
#include "core/submit/turn_queue.h"

#include <algorithm>
#include <filesystem>
#include <memory>

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

// Why a submitter that stood still gave up, should it happen on every try.
constexpr const char* kAwayCause = "this program stopped answering for a while (it was paused, or the "
                                   "computer slept), so the results host gave its turn to others; "
                                   "please submit again.";

// One submission: it brings the copy up to date, prepares its folder, waits in the queue for
// the turn, commits its record in the turn and reads it back (docs/submission-protocol.md).
class Submission {
public:
    Submission(const ResultRecord& record, const SubmitOptions& options, std::stop_token stop)
        : m_record(record)
        , m_options(options)
        , m_timing(options.timing)
        , m_session(options, std::move(stop))
        , m_heartbeat(m_session)
        , m_queue(m_session, m_heartbeat)
        , m_copy(
              options.host.web, options.timing.stallAfter, [this] { tick(); },
              [this] { return m_session.stopRequested(); })
    {
        m_session.setTick([this] { tick(); });
        m_queue.setOnWaiting([this] { report(SubmitStage::Waiting); });
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

    void report(SubmitStage stage);
    // One turn of every wait: the window's events, the heartbeat, and ending the running
    // transfer when the user cancels or the turn is lost.
    void tick();
    Step attempt(SubmitResult& result);
    bool learnFeatures(SubmitResult& result);
    // On a host that takes appends without a turn: the record goes straight in.
    Step appendWithoutTurn(SubmitResult& result);
    bool prepare(SubmitResult& result);
    // After a failure before the turn: a submitter that was away (paused, asleep) lost its place
    // to others, which is no fault of the host's; it starts again.
    Step afterFailure(SubmitResult& result);
    Step afterWait(TurnQueue::Wait wait, SubmitResult& result);
    void tookTurn();
    // Taken over (the heartbeat is gone), or given up as too long.
    bool turnLost() const { return m_lost || m_heartbeat.lost(); }
    Step hold(SubmitResult& result);
    Step afterCommit(const TransferOutcome& committed, std::uint64_t at, SubmitResult& result);
    SubmitResult confirm(std::uint64_t at, std::string causeIfAbsent);
    // Best effort and bounded: the turn goes whatever happened, a lost one included (its
    // heartbeat is then gone and the folder, if any, is another's and not empty).
    void releaseTurn();

    SubmitResult failed(std::string cause) const
    {
        return { SubmitStatus::Failed, std::move(cause), false, m_dataSent, false };
    }
    SubmitResult cancelled() const
    {
        return { SubmitStatus::Cancelled, "the submission was cancelled", false, m_dataSent, false };
    }
    SubmitResult copyFailure() const { return m_copy.cancelled() ? cancelled() : failed(m_copy.cause()); }

    const ResultRecord& m_record;
    const SubmitOptions& m_options;
    const SubmitTiming& m_timing;
    HostSession m_session;
    Heartbeat m_heartbeat;
    TurnQueue m_queue;
    CopySnapshot m_copy;
    std::unique_ptr<CommitStrategy> m_commit;
    std::optional<SubmitStage> m_stage;
    std::string m_privateFolder; // holds the copy when the caller keeps none
    std::string m_encoded; // the record as it goes into the file
    std::string m_token;
    bool m_fencedAppend = false;
    bool m_appendAnytime = false;
    bool m_featuresKnown = false;

    bool m_holding = false;
    Duration m_turnStart {};
    Duration m_held {};
    bool m_lost = false; // the turn was given up as too long
    // The process stood still (stopped, suspended) long enough for others to count it dead.
    bool m_away = false;
    std::optional<Duration> m_lastTick;
    bool m_dataSent = false;
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
    const Duration at = m_session.now();
    if (m_lastTick && at - *m_lastTick >= m_timing.staleAfter / 2)
        m_away = true; // long enough that others may have counted this submitter dead
    m_lastTick = at;
    m_session.yield();
    m_heartbeat.pump();
    if (m_holding && m_session.now() - m_turnStart >= m_timing.turnLimit)
        m_lost = true; // given up: this turn has lasted longer than any should
    if (m_session.stopRequested() || (m_holding && turnLost()))
        m_session.cancel();
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
        m_copy.setPath(pattern + "/" + kSharedFileName);
    } else {
        m_copy.setPath(m_options.localCopyPath);
    }
    if (const std::optional<std::string> why = m_session.logOn())
        return failed(*why);

    SubmitResult result;
    int round = 0;
    while (round < std::max(1, m_timing.tries) && attempt(result) == Step::Again)
        ++round;
    if (round == std::max(1, m_timing.tries) && result.cause.empty())
        result = failed("the results host was taken over from this submission again and again.");
    result.waited = m_queue.waited();
    result.held = m_held;
    return result;
}

// One go: bring the copy up to date, prepare, queue, take the turn, add the record.
Submission::Step Submission::attempt(SubmitResult& result)
{
    m_session.honourStop(true);
    m_lost = false;
    m_away = false;
    m_holding = false;
    report(SubmitStage::Contacting);
    if (!m_featuresKnown)
        m_session.startFeatures(); // the FTP logon goes on while the copy is brought up to date
    if (!m_copy.update()) {
        result = copyFailure();
        return Step::Done;
    }
    // Anything but whole records before it would swallow the new record.
    if (!m_copy.wholeRecords()) {
        result = failed(std::string(kDamagedSharedFile) + ".");
        return Step::Done;
    }
    if (!learnFeatures(result))
        return Step::Done;
    if (m_appendAnytime)
        return appendWithoutTurn(result);
    if (!prepare(result) || !m_queue.join()) {
        if (!m_queue.why().empty())
            result = failed(m_queue.why());
        else if (m_session.stopRequested())
            result = cancelled();
        return afterFailure(result);
    }
    return afterWait(m_queue.waitForTurn(), result);
}

// Whether the host applies appends only in their session's turn (the project's host).
bool Submission::learnFeatures(SubmitResult& result)
{
    if (m_featuresKnown)
        return true;
    const TransferOutcome features = m_session.features();
    if (m_session.stopRequested()) {
        result = cancelled();
        return false;
    }
    if (unreachable(features) || features.status == TransferStatus::LogonRefused
        || features.status == TransferStatus::TimedOut) {
        result = failed(m_session.failure("could not be reached for the upload", features));
        return false;
    }
    for (const std::string& line : m_session.replies()) {
        if (line.find(protocol::kFencedAppendFeature) != std::string::npos)
            m_fencedAppend = !m_options.plainHost;
        if (line.find(protocol::kAppendAnytimeFeature) != std::string::npos)
            m_appendAnytime = !m_options.plainHost;
    }
    m_featuresKnown = true;
    return true;
}

Submission::Step Submission::appendWithoutTurn(SubmitResult& result)
{
    report(SubmitStage::Uploading);
    m_dataSent = true;
    const TransferOutcome appended = m_session.append(kSharedFileName, { .tail = m_encoded });
    const std::uint64_t at = protocol::appendedAt(m_session.replies()).value_or(m_copy.size());
    const Step step = afterCommit(appended, at, result);
    // The host judged the record itself, not a turn: another try would be refused the same way
    // (a refusal after the data has gone reaches libcurl as a failed upload, with the host's reply).
    return refused(appended) || appended.serverReply.starts_with('5') ? Step::Done : step;
}

// The submitter's own folder, made before it joins the queue: its first heartbeat and its
// stage folder, which come along when the folder becomes the lock. What the commit needs
// staged (the whole file, on a plain host) goes there now, outside any turn.
bool Submission::prepare(SubmitResult& result)
{
    m_token = protocol::randomToken();
    m_heartbeat.reset(m_token);
    m_queue.reset(m_token);
    m_commit = m_fencedAppend ? commitByAppend(m_session, m_encoded)
                              : commitByRename(m_session, m_copy, m_encoded, m_token);
    const std::string folder = m_heartbeat.claimName();
    TransferOutcome made = m_session.commands({ "MKD " + folder, "MKD " + folder + "/" + m_token });
    if (made.ok())
        made = m_session.store(folder + "/" + m_heartbeat.heartbeatName(), { .tail = m_token });
    if (made.ok() && !m_fencedAppend) {
        report(SubmitStage::Uploading);
        m_heartbeat.start(Heartbeat::Target::Claim);
        made = m_commit->stage(folder);
        m_heartbeat.stop();
    }
    if (made.ok() && !m_session.stopRequested())
        return true;
    result = m_session.stopRequested() ? cancelled() : failed(m_session.failure("refused the upload", made));
    m_queue.leave();
    return false;
}

Submission::Step Submission::afterFailure(SubmitResult& result)
{
    if (!m_away || result.status == SubmitStatus::Cancelled)
        return Step::Done;
    result = failed(kAwayCause);
    return Step::Again;
}

Submission::Step Submission::afterWait(TurnQueue::Wait wait, SubmitResult& result)
{
    switch (wait) {
    case TurnQueue::Wait::Claimed:
        tookTurn();
        return hold(result);
    case TurnQueue::Wait::ClaimedUnanswered:
        tookTurn();
        if (!m_fencedAppend)
            return hold(result);
        // The host ties an append to the session that claimed, and that one's answer is gone.
        releaseTurn();
        return Step::Again;
    case TurnQueue::Wait::Lost:
        // Someone removed the ticket as dead: we were away too long, or they were wrong.
        result = failed(m_away ? kAwayCause : "the results host's queue lost this submission's place.");
        return Step::Again;
    case TurnQueue::Wait::Ended:
        result = m_queue.why().empty() ? cancelled() : failed(m_queue.why());
        return afterFailure(result);
    }
    return Step::Done;
}

void Submission::tookTurn()
{
    m_holding = true;
    m_turnStart = m_session.now();
}

Submission::Step Submission::hold(SubmitResult& result)
{
    m_heartbeat.start(Heartbeat::Target::Lock);
    report(SubmitStage::Uploading);

    bool missing = false;
    const std::optional<std::uint64_t> size = m_session.sharedFileSize(missing);
    if (m_session.stopRequested() || turnLost() || !size) {
        const TransferOutcome asked = m_session.outcome();
        releaseTurn();
        if (m_session.stopRequested()) {
            result = cancelled();
            return Step::Done;
        }
        if (turnLost())
            return Step::Again;
        result = failed(m_session.failure("did not say how large the results file is", asked));
        return Step::Done;
    }
    const CommitStrategy::Fit fit = m_commit->fit(*size);
    if (fit != CommitStrategy::Fit::Ready || turnLost() || m_session.stopRequested()) {
        releaseTurn();
        if (m_session.stopRequested()) {
            result = cancelled();
            return Step::Done;
        }
        if (fit == CommitStrategy::Fit::Stop && !turnLost()) {
            result = m_copy.cancelled() ? cancelled() : failed(m_commit->cause());
            return Step::Done;
        }
        if (!m_commit->cause().empty())
            result = failed(m_commit->cause());
        return Step::Again;
    }

    // The commit: the host carries it out only while this turn is still ours.
    m_dataSent = true;
    std::optional<std::uint64_t> at;
    const TransferOutcome committed = m_commit->commit(*size, at);
    releaseTurn();
    return afterCommit(committed, at.value_or(*size), result);
}

Submission::Step Submission::afterCommit(
    const TransferOutcome& committed, std::uint64_t at, SubmitResult& result)
{
    // From here on the user's cancel waits for the answer: only the host can say whether the
    // record is there, and a second submission must not add it twice.
    const bool cancelledMeanwhile = m_session.stopAsked();
    m_session.honourStop(false);
    const bool clearlyRefused = refused(committed) && !turnLost();
    if (cancelledMeanwhile && !clearlyRefused) {
        report(SubmitStage::Verifying);
        result = confirm(at, "your results are not on the host");
        result.status = SubmitStatus::Cancelled;
        if (result.onHost)
            result.cause = "your results had reached the host before the cancel";
        return Step::Done;
    }
    if (clearlyRefused) {
        // The host did not take it: the turn had passed, or the file had changed: go again;
        // but not when it is too large for the host (its quota), where trying again cannot help.
        m_dataSent = false;
        result = failed(m_session.failure("refused the record", committed));
        return committed.ftpReply == 552 ? Step::Done : Step::Again;
    }
    report(SubmitStage::Verifying);
    result = confirm(at,
        committed.ok()
            ? "the results file on the host did not hold your record after the upload"
            : "the upload to the results host failed (" + describeTransferFailure(committed) + ")");
    if (m_session.stopAsked() && !result.uncertain) {
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

// Reads the host's file back (only what is new since `from`, into the local copy) and
// looks for the record at a record boundary from there on.
SubmitResult Submission::confirm(std::uint64_t from, std::string causeIfAbsent)
{
    m_session.disconnect(); // the read-back is over HTTP; the FTP session ends meanwhile
    const Duration firstFailure = m_session.now();
    Duration backoff = std::chrono::milliseconds(500);
    bool updated = m_copy.update();
    while (!updated && !m_copy.cause().empty()
        && m_session.now() - firstFailure + backoff <= m_timing.outageGrace && !m_session.stopRequested()) {
        m_session.pause(backoff);
        backoff = std::min<Duration>(backoff * 2, std::chrono::seconds(4));
        updated = m_copy.update();
    }
    if (!updated) {
        const std::string& cause = m_copy.cause().empty() ? cancelled().cause : m_copy.cause();
        SubmitResult result = failed("the results host could not be asked whether it holds them ("
            + cause.substr(0, cause.find_last_not_of('.') + 1) + ")");
        result.uncertain = m_dataSent;
        return result;
    }
    const std::uint64_t size = m_copy.size();
    // Scan from where it was put; others' records may stand before it.
    const std::string tail = m_copy.read(
        from, static_cast<std::size_t>(std::min<std::uint64_t>(size - std::min(size, from), 16u << 20)));
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

void Submission::releaseTurn()
{
    {
        const HostSession::CleanUp scope(m_session);
        m_heartbeat.stop();
        std::vector<std::string> steps;
        if (m_commit && m_commit->leavesStage())
            steps.push_back("DELE " + protocol::stagedPath(m_token));
        steps.push_back("RMD " + protocol::inLock(m_token));
        steps.push_back("DELE " + protocol::inLock(m_heartbeat.heartbeatName()));
        steps.push_back("RMD " + std::string(protocol::kLock));
        if (!m_session.commands(steps).ok() && !unreachable(m_session.outcome())) {
            // One step refused (a stage already renamed away): the others still go, one by one.
            for (const std::string& step : steps)
                m_session.commands({ step });
        }
    }
    // Taken-over locks go once the turn is free for others.
    m_queue.removeTakenOver();
    if (m_holding)
        m_held += m_session.now() - m_turnStart;
    m_holding = false;
}

} // namespace

SubmitResult submitResult(const ResultRecord& record, const SubmitOptions& options, std::stop_token stop)
{
    Submission submission(record, options, std::move(stop));
    return submission.run();
}

} // namespace vantrel
