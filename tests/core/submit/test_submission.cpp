// Submitters against the real results host: many at once, one that dies, stalls or is
// paused while it holds the turn, answers that come late, a host put back to an earlier
// file, and clients of the older whole-file kind among the new ones.
#include "core/remote/curl_inet.h"
#include "core/remote/ftp_engine.h"
#include "core/submit/ftp_account.h"
#include "core/submit/submission.h"
#include "ftp_control_proxy.h"
#include "record_bytes.h"
#include "results_host_process.h"
#include "worker_process.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <thread>

using namespace vantrel;
using namespace vantrel::test;
using namespace std::chrono_literals;

namespace {

const std::string kEarlier = encodeRecords({ { "Ann", "ann@example.org", "Win 98", "K6-2 350", 1234 },
    { "Bob", "", "Win XP", "P4 2.4 GHz", 98765 } });

pid_t startWorker(const ResultsHost& host, const std::string& name, int count, const std::string& log,
    std::vector<std::string> flags = {})
{
    return vantrel::test::startWorker(SUBMIT_WORKER, host, name, count, log, std::move(flags));
}

// How often each (name, score) stands in the file after the earlier records.
std::map<std::pair<std::string, double>, int> recordsAfterEarlier(const ResultsHostProcess& host)
{
    const std::string file = readFile(host.sharedFile());
    EXPECT_EQ(file.substr(0, kEarlier.size()), kEarlier);
    std::map<std::pair<std::string, double>, int> seen;
    for (const ResultRecord& record : DecodeResultRecords(std::string_view(file).substr(kEarlier.size())))
        ++seen[{ record.name, record.score }];
    return seen;
}

// Only the shared file may remain: no lock, ticket, claim or moved-aside folder.
std::vector<std::string> leftovers(const ResultsHostProcess& host)
{
    std::vector<std::string> names = filesIn(host.root());
    std::erase(names, "compare.zip");
    return names;
}

// A submitter that never reads back into a turn: each record it was told "Thanks" for
// must be in the file.
void expectAcknowledgedRecordsPresent(const ResultsHostProcess& host, const std::string& log)
{
    const auto seen = recordsAfterEarlier(host);
    std::size_t at = 0;
    while ((at = log.find("submitted ", at)) != std::string::npos) {
        const std::size_t end = log.find('\n', at);
        const std::string line = log.substr(at + 10, end - at - 10);
        const std::size_t space = line.rfind(' ');
        const auto found = seen.find({ line.substr(0, space), std::stod(line.substr(space + 1)) });
        EXPECT_TRUE(found != seen.end() && found->second == 1)
            << "told Thanks, but not once in the file: " << line;
        at = end;
    }
}

// Waits until done() holds; false only when it never does (the limit is a watchdog).
bool waitUntil(const std::function<bool()>& done)
{
    for (auto until = std::chrono::steady_clock::now() + 30s; !done(); std::this_thread::sleep_for(10ms)) {
        if (std::chrono::steady_clock::now() > until)
            return false;
    }
    return true;
}

std::size_t occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class Submission : public ::testing::Test {
protected:
    TempDir m_logs;
};

} // namespace

// As earlier versions of the project's host: an append only in its sender's turn, so submitters queue.
const std::vector<std::string> kTurnsOnly { "--appends-in-turn-only" };

// On the project's host appends need no turn; on an older one the submitters queue for it.
class EightSubmitters : public Submission, public ::testing::WithParamInterface<bool> { };

TEST_P(EightSubmitters, AtOnceLoseNoRecord)
{
    const bool turnsOnly = GetParam();
    ResultsHostProcess host({ .extraArgs = turnsOnly ? kTurnsOnly : std::vector<std::string> {} });
    writeFile(host.sharedFile(), kEarlier);
    constexpr int kSubmitters = 8;
    constexpr int kEach = 25;

    const auto started = std::chrono::steady_clock::now();
    std::vector<pid_t> workers;
    for (int w = 0; w < kSubmitters; ++w)
        workers.push_back(startWorker(
            host.host(), "submitter " + std::to_string(w), kEach, m_logs.file(std::to_string(w))));
    for (int w = 0; w < kSubmitters; ++w) {
        ASSERT_GT(workers[w], 0);
        EXPECT_EQ(exitCode(workers[w]), 0) << readFile(m_logs.file(std::to_string(w)));
    }
    std::printf("%d submissions in %.1f s\n", kSubmitters * kEach,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());

    const auto seen = recordsAfterEarlier(host);
    EXPECT_EQ(seen.size(), std::size_t(kSubmitters * kEach));
    for (const auto& [record, times] : seen)
        EXPECT_EQ(times, 1) << record.first << " " << record.second;
    EXPECT_EQ(leftovers(host), std::vector<std::string> {});
    EXPECT_EQ(host.requestLog().find("compare.lock") != std::string::npos, turnsOnly);
}

INSTANTIATE_TEST_SUITE_P(Hosts, EightSubmitters, ::testing::Values(false, true),
    [](const auto& info) { return info.param ? "TurnsOnly" : "AppendsAnytime"; });

// A holder that stops while its commit is on the way: paused at the very moment (its clock
// sees the pause) or earlier in its turn with a clock that does not (a suspend). Another
// submitter takes the turn over. When the first resumes, with a third holding the turn, it
// learns from its heartbeat that its turn is gone and ends the command it waits for (whose
// answer never comes); its old commit must fail, and no one is thanked for a record that is
// not in the file.
struct PausedCase {
    const char* name;
    const char* heldCommand;
    bool skewedClock;
    bool plain;
};

class PausedHolder : public Submission, public ::testing::WithParamInterface<PausedCase> { };

TEST_P(PausedHolder, CannotCommitOverTheNextTurn)
{
    ResultsHostProcess host({ .extraArgs = kTurnsOnly });
    writeFile(host.sharedFile(), kEarlier);
    FtpControlProxy proxy(std::stoi(host.host().ftp.substr(host.host().ftp.rfind(':') + 1)));
    proxy.holdOnce(GetParam().heldCommand);
    // Neither a command's nor the turn's limit ends the held command before the case's own.
    std::vector<std::string> flags { "--stale-ms", "1500", "--command-ms", "600000", "--turn-ms", "600000" };
    if (GetParam().skewedClock)
        flags.push_back("--skewed-clock");
    if (GetParam().plain)
        flags.push_back("--plain");

    const pid_t paused
        = startWorker({ host.host().web, proxy.address() }, "paused", 1, m_logs.file("a"), flags);
    ASSERT_TRUE(proxy.waitHeld(20s)) << readFile(m_logs.file("a"));
    kill(paused, SIGSTOP);
    const pid_t next = startWorker(host.host(), "next", 1, m_logs.file("b"), flags);
    EXPECT_EQ(exitCode(next), 0) << readFile(m_logs.file("b"));
    // A third holds the turn when the first resumes (and goes silent, to be taken over).
    std::filesystem::create_directory(host.root() + "compare.lock");
    writeFile(host.root() + "compare.lock/hb-third-0", "x");
    kill(paused, SIGCONT);
    // Its stale commit ended, the first starts again and gets its record in, once.
    EXPECT_EQ(exitCode(paused), 0) << readFile(m_logs.file("a"));
    proxy.release();

    const std::string log = readFile(m_logs.file("a")) + readFile(m_logs.file("b"));
    expectAcknowledgedRecordsPresent(host, log);
    EXPECT_EQ((recordsAfterEarlier(host)[{ "next", 1 }]), 1) << log;
    EXPECT_EQ((recordsAfterEarlier(host)[{ "paused", 1 }]), 1) << log;
    EXPECT_EQ(leftovers(host), std::vector<std::string> {}) << host.requestLog();
}

INSTANTIATE_TEST_SUITE_P(Commits, PausedHolder,
    ::testing::Values(PausedCase { "AppendHeld", "^APPE compare\\.zip", false, false },
        PausedCase { "SuspendedInTurn", "^SIZE compare\\.zip", true, false },
        PausedCase { "RenameHeld", "^RNTO compare\\.zip", false, true }),
    [](const auto& info) { return info.param.name; });

// A live holder keeps its turn however long its commit takes within the turn's limit, and
// the waiters behind it keep their places: nobody is taken over or removed as dead, and the
// turns go in the order the queue was joined.
TEST_F(Submission, ALiveHolderAndItsQueueKeepTheirOrder)
{
    ResultsHostProcess host({ .extraArgs = kTurnsOnly });
    writeFile(host.sharedFile(), kEarlier);
    FtpControlProxy proxy(std::stoi(host.host().ftp.substr(host.host().ftp.rfind(':') + 1)));
    proxy.holdOnce("^APPE compare\\.zip");
    // Beats every 250 ms, a name standing still for 1.5 s is dead; a turn may last 20 s.
    const std::vector<std::string> flags { "--stale-ms", "1500", "--turn-ms", "20000", "--command-ms",
        "30000" };
    const pid_t holder
        = startWorker({ host.host().web, proxy.address() }, "holder", 1, m_logs.file("holder"), flags);
    ASSERT_TRUE(proxy.waitHeld(20s)) << readFile(m_logs.file("holder"));
    std::vector<pid_t> waiters;
    for (const std::string name : { "first", "second" }) {
        waiters.push_back(startWorker(host.host(), name, 1, m_logs.file(name), flags));
        ASSERT_TRUE(waitUntil([&] {
            const auto names = filesIn(host.root());
            return std::count_if(names.begin(), names.end(), [](const std::string& n) {
                return n.starts_with("compare.q-");
            }) == std::ssize(waiters);
        }));
    }
    // Held while the first waiter looks into the lock twenty times (7.5 s by its clock).
    ASSERT_TRUE(waitUntil([&] { return occurrences(host.requestLog(), "NLST compare.lock") >= 20; }));
    proxy.release();
    EXPECT_EQ(exitCode(holder), 0) << readFile(m_logs.file("holder"));
    for (const pid_t waiter : waiters)
        EXPECT_EQ(exitCode(waiter), 0);

    std::vector<std::string> order;
    for (const ResultRecord& record :
        DecodeResultRecords(readFile(host.sharedFile()).substr(kEarlier.size())))
        order.push_back(record.name);
    EXPECT_EQ(order, (std::vector<std::string> { "holder", "first", "second" })) << host.requestLog();
}

// A holder whose connection stalls (nothing passes any more) keeps the host only as long
// as one command may take; a dead one, killed in its turn, as long as a silent lock stands.
TEST_F(Submission, StalledOrKilledHoldersBlockOthersBriefly)
{
    ResultsHostProcess host({ .extraArgs = kTurnsOnly });
    writeFile(host.sharedFile(), kEarlier);
    FtpControlProxy proxy(std::stoi(host.host().ftp.substr(host.host().ftp.rfind(':') + 1)));
    const ResultsHost stalling { host.host().web, proxy.address() };

    proxy.holdOnce("^APPE compare\\.zip");
    const pid_t stalled
        = startWorker(stalling, "stalled", 1, m_logs.file("stalled"), { "--command-ms", "2000" });
    ASSERT_TRUE(proxy.waitHeld(20s));
    auto started = std::chrono::steady_clock::now();
    const pid_t waiter = startWorker(host.host(), "waiter", 1, m_logs.file("waiter"));
    EXPECT_EQ(exitCode(waiter), 0) << readFile(m_logs.file("waiter"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_EQ(exitCode(stalled), 0) << readFile(m_logs.file("stalled"));
    proxy.release();

    proxy.holdOnce("^APPE compare\\.zip");
    const pid_t killed = startWorker(stalling, "killed", 1, m_logs.file("killed"));
    ASSERT_TRUE(proxy.waitHeld(20s));
    kill(killed, SIGKILL);
    exitCode(killed);
    started = std::chrono::steady_clock::now();
    const pid_t after = startWorker(host.host(), "after", 1, m_logs.file("after"), { "--stale-ms", "1500" });
    EXPECT_EQ(exitCode(after), 0) << readFile(m_logs.file("after"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    proxy.release();

    const auto seen = recordsAfterEarlier(host);
    for (const char* name : { "stalled", "waiter", "after" })
        EXPECT_EQ((seen.count({ name, 1 }) ? seen.at({ name, 1 }) : 0), 1) << name;
    EXPECT_EQ(leftovers(host), std::vector<std::string> {}) << host.requestLog();
}

// A heartbeat whose rename lands after its answer was given up: the holder learns what
// happened from the host, carries on, and leaves no lock behind.
TEST_F(Submission, ALateHeartbeatAnswerIsNoLoss)
{
    ResultsHostProcess host({ .extraArgs = kTurnsOnly });
    writeFile(host.sharedFile(), kEarlier);
    FtpControlProxy proxy(std::stoi(host.host().ftp.substr(host.host().ftp.rfind(':') + 1)));
    // The turn lasts a while (SIZE answers late, well within its time); the beats in it start every
    // 100 ms, and each is answered too late for its 3 s.
    proxy.delay("^RNTO compare\\.lock/hb-", 4000ms);
    proxy.delay("^SIZE compare\\.zip", 800ms);
    const pid_t holder = startWorker({ host.host().web, proxy.address() }, "holder", 2, m_logs.file("holder"),
        { "--stale-ms", "60000", "--beat-ms", "100", "--command-ms", "3000" });
    const pid_t other = startWorker(host.host(), "other", 2, m_logs.file("other"));
    EXPECT_EQ(exitCode(holder), 0) << readFile(m_logs.file("holder"));
    EXPECT_EQ(exitCode(other), 0) << readFile(m_logs.file("other"));
    EXPECT_EQ(recordsAfterEarlier(host).size(), 4u);
    EXPECT_EQ(leftovers(host), std::vector<std::string> {}) << host.requestLog();
}

// The local copy moves only what is new; a host file put back to an earlier, shorter
// version is noticed and downloaded whole, also when it happens while a plain host's
// submission waits with its file staged.
TEST_F(Submission, TheLocalCopyFollowsTheHostEvenBackwards)
{
    ResultsHostProcess host;
    writeFile(host.sharedFile(), kEarlier);
    TempDir local;
    SubmitOptions options { .host = host.host(), .localCopyPath = local.file("compare.zip") };
    const ResultRecord first { "First", "", "Win 2K", "Athlon", 7 };
    ASSERT_EQ(submitResult(first, options).status, SubmitStatus::Submitted);
    EXPECT_EQ(readFile(local.file("compare.zip")), kEarlier + EncodeResultRecord(first));
    EXPECT_NE(host.requestLog().find("HTTP GET /vantrel/COMPARE.ZIP 206"), std::string::npos);

    // Put back: the copy now holds a record the host no longer has.
    writeFile(host.sharedFile(), kEarlier);
    const ResultRecord second { "Second", "", "Win ME", "Duron", 8 };
    ASSERT_EQ(submitResult(second, options).status, SubmitStatus::Submitted);
    EXPECT_EQ(readFile(host.sharedFile()), kEarlier + EncodeResultRecord(second));
    EXPECT_EQ(readFile(local.file("compare.zip")), readFile(host.sharedFile()));

    // The staged file holds Second; renamed into place, it would bring it back.
    FtpControlProxy proxy(std::stoi(host.host().ftp.substr(host.host().ftp.rfind(':') + 1)));
    proxy.holdOnce("^SIZE compare\\.zip"); // the turn's first step
    options.host.ftp = proxy.address();
    options.plainHost = true;
    const ResultRecord third { "Third", "", "Win XP", "P4", 9 };
    auto submitted = std::async(std::launch::async, [&] { return submitResult(third, options); });
    ASSERT_TRUE(proxy.waitHeld(20s));
    writeFile(host.sharedFile(), kEarlier);
    proxy.release();
    ASSERT_EQ(submitted.get().status, SubmitStatus::Submitted);
    EXPECT_EQ(readFile(host.sharedFile()), kEarlier + EncodeResultRecord(third));
    EXPECT_EQ(readFile(local.file("compare.zip")), readFile(host.sharedFile()));
}

// A web server that ignores Range answers with the whole file: the copy is then downloaded whole.
TEST_F(Submission, AWebServerThatIgnoresRangeSendsTheFileWhole)
{
    ResultsHostProcess host({ .fault = "ignore-range" });
    writeFile(host.sharedFile(), kEarlier);
    writeFile(m_logs.file("copy"), kEarlier.substr(0, ResultRecordLength(kEarlier)));
    const ResultRecord record { "Whole", "", "Win 2K", "Athlon", 5 };
    const SubmitResult result
        = submitResult(record, { .host = host.host(), .localCopyPath = m_logs.file("copy") });
    EXPECT_EQ(result.status, SubmitStatus::Submitted) << result.cause;
    EXPECT_EQ(readFile(m_logs.file("copy")), kEarlier + EncodeResultRecord(record));
    EXPECT_EQ(host.requestLog().find(" 206 "), std::string::npos) << host.requestLog();
}

// The user's cancel ends a submission at once while the host's FTP side is down, however long
// the submission would otherwise keep trying it (a restart).
TEST_F(Submission, ACancelEndsTheWaitForAHostThatIsDown)
{
    ResultsHostProcess host;
    writeFile(host.sharedFile(), kEarlier);
    ResultsHostProcess down;
    down.stop(); // its ports refuse connections
    SubmitOptions options { .host = { host.host().web, down.host().ftp },
        .localCopyPath = m_logs.file("copy") };
    options.timing.outageGrace = std::chrono::hours(1);
    std::stop_source cancel;
    // Pressed once the download is done, while the FTP side is being tried.
    options.yield = [&] {
        if (std::filesystem::exists(options.localCopyPath))
            cancel.request_stop();
    };
    const SubmitResult result = submitResult({ "Ann", "", "Win 98", "K6", 1 }, options, cancel.get_token());
    EXPECT_EQ(result.status, SubmitStatus::Cancelled) << result.cause;
}

// Programs of the older kind, which download the whole file, append and upload it whole
// without taking turns, among new ones: the host refuses their stale uploads, they try
// again, and no record is lost or doubled.
TEST_F(Submission, OlderWholeFileClientsMixIn)
{
    ResultsHostProcess host;
    writeFile(host.sharedFile(), kEarlier);
    const pid_t newer = startWorker(host.host(), "new", 10, m_logs.file("new"));
    std::thread older([&] {
        for (int i = 1; i <= 5; ++i) {
            const ResultRecord record { "old", "", "Win 95", "Pentium", double(i) };
            for (int attempt = 0; attempt < 50; ++attempt) {
                auto inet = std::make_shared<CurlInet>();
                clsFTPEngine engine;
                engine.SetEncryptionPassword(kEncryptionKey);
                engine.SetInetObject(inet);
                engine.SetFTPServer(host.host().ftp);
                engine.SetFTPUsername(kFtpUserName);
                engine.SetFTPEncryptedPassword(kFtpEncryptedPassword);
                engine.LogonInet();
                engine.SetCurFTPFile(kSharedFileName);
                const std::string file = inet->OpenURL(host.host().web + kSharedFileWebPath);
                // As such a program checks: the host's file begins with what it uploaded.
                const std::string uploaded = file + EncodeResultRecord(record);
                engine.CreateWithData(uploaded);
                if (inet->OpenURL(host.host().web + kSharedFileWebPath).starts_with(uploaded))
                    break;
            }
        }
    });
    EXPECT_EQ(exitCode(newer), 0) << readFile(m_logs.file("new"));
    older.join();
    const auto seen = recordsAfterEarlier(host);
    EXPECT_EQ(seen.size(), 15u);
    for (const auto& [record, times] : seen)
        EXPECT_EQ(times, 1) << record.first << " " << record.second;
}

// A host that loses each commit right after it: a failure with the reason, never a success,
// though the same record stands earlier in the file; nothing of the turn stays behind. A
// cancel while the host is read back is told the record is not there.
TEST_F(Submission, ACommitThatDoesNotReadBackFails)
{
    ResultsHostProcess host({ .fault = "lose-upload" });
    const ResultRecord lost { "Lost", "", "Win NT", "PPro", 3 };
    const std::string before = kEarlier + EncodeResultRecord(lost);
    writeFile(host.sharedFile(), before);
    const SubmitResult result = submitResult(lost, { .host = host.host(), .plainHost = true });

    EXPECT_EQ(result.status, SubmitStatus::Failed);
    EXPECT_NE(result.cause.find("did not hold your record"), std::string::npos) << result.cause;
    EXPECT_EQ(readFile(host.sharedFile()), before);
    EXPECT_EQ(leftovers(host), std::vector<std::string> {});

    std::stop_source cancel;
    const SubmitOptions options { .host = host.host(), .progress = [&](SubmitStage stage) {
                                     if (stage == SubmitStage::Verifying)
                                         cancel.request_stop();
                                 } };
    const SubmitResult cancelled
        = submitResult({ "Gone", "", "Win NT", "PPro", 4 }, options, cancel.get_token());
    EXPECT_EQ(cancelled.status, SubmitStatus::Cancelled);
    EXPECT_FALSE(cancelled.onHost) << cancelled.cause;
}

// Locks no honest submitter leaves: one holding other things than a heartbeat and its stage,
// and one whose heartbeat someone keeps renaming for ever. Both are taken over in bounded time.
TEST_F(Submission, ALockHeldAgainstEveryoneIsTakenOver)
{
    ResultsHostProcess host({ .extraArgs = kTurnsOnly });
    writeFile(host.sharedFile(), kEarlier);
    SubmitOptions options { .host = host.host() };
    options.timing.lockListEvery = 200ms;
    options.timing.invalidAfter = 1s;
    options.timing.maxHold = 2s;
    const std::string lock = host.root() + "compare.lock/";

    // Built on disk, as anyone with the password could on a plain host.
    std::filesystem::create_directory(lock);
    writeFile(lock + "one", "x");
    writeFile(lock + "two", "x");
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(submitResult({ "Past two", "", "Win XP", "P4", 1 }, options).status, SubmitStatus::Submitted);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);

    std::filesystem::create_directory(lock);
    writeFile(lock + "hb-abuser-0", "x");
    std::atomic<bool> done { false };
    std::thread beating([&] {
        for (int n = 0; !done; ++n) {
            std::error_code ec;
            std::filesystem::rename(
                lock + "hb-abuser-" + std::to_string(n), lock + "hb-abuser-" + std::to_string(n + 1), ec);
            std::this_thread::sleep_for(100ms);
        }
    });
    started = std::chrono::steady_clock::now();
    EXPECT_EQ(submitResult({ "Past beats", "", "Win XP", "P4", 2 }, options).status, SubmitStatus::Submitted);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    done = true;
    beating.join();
    EXPECT_EQ(recordsAfterEarlier(host).size(), 2u);
}

// Faults of the transfer or of the host: the shared file stays as it was, the local copy as it
// was or a clean prefix of the host's file, and the submitter is told why, after as many
// commits as its tries allow where another turn could help.
struct FaultCase {
    const char* name;
    const char* fault; // a host fault, or what the test does to the host
    const char* cause; // a part of what the submitter is told
    int commits = 0; // the appends the host saw
    bool turnsOnly = false; // a host where appends need a turn, so a refused one is tried again
};

class TransportFault : public Submission, public ::testing::WithParamInterface<FaultCase> { };

TEST_P(TransportFault, LeavesTheFileAndTheCopyAlone)
{
    const std::string fault = GetParam().fault;
    ResultsHostOptions options;
    if (fault == "read-only")
        options.readOnly = true;
    else if (fault == "password")
        options.password = "not-the-programs-password";
    else if (fault.rfind("http-", 0) == 0 || fault == "lose-upload")
        options.fault = fault;
    if (GetParam().turnsOnly)
        options.extraArgs = kTurnsOnly;
    ResultsHostProcess host(options);
    std::string shared = kEarlier;
    if (fault == "html-page")
        shared = "<!DOCTYPE html><html><head><title>Sign in</title></head></html>";
    else if (fault == "cut-record" || fault == "shorter-than-copy")
        shared = kEarlier.substr(0, kEarlier.size() - 3);
    else if (fault == "http-cut")
        shared = kEarlier + kEarlier + kEarlier; // the cut comes after the part that proves the copy
    writeFile(host.sharedFile(), shared);
    // A good local copy, which nothing the host sends may spoil.
    const std::string copyBefore
        = fault == "shorter-than-copy" ? kEarlier : kEarlier.substr(0, ResultRecordLength(kEarlier));
    const std::string copy = m_logs.file("compare.zip");
    writeFile(copy, copyBefore);
    if (fault == "stopped")
        host.stop();

    ResultRecord record { "Ann", "ann@example.org", "Win 98", "K6-2 350", 1 };
    if (fault == "long-text")
        record.processor.assign(kMaxRecordText + 1, 'p'); // past the form's check, refused by the host
    const SubmitResult result = submitResult(record, { .host = host.host(), .localCopyPath = copy });
    EXPECT_EQ(result.status, SubmitStatus::Failed);
    EXPECT_NE(result.cause.find(GetParam().cause), std::string::npos) << result.cause;
    EXPECT_EQ(readFile(host.sharedFile()), shared);
    const std::string after = readFile(copy);
    EXPECT_TRUE(after == copyBefore || (IsWholeRecordRun(after) && shared.starts_with(after)))
        << after.size();
    EXPECT_EQ(occurrences(host.requestLog(), "FTP APPE compare.zip"), GetParam().commits);
}

INSTANTIATE_TEST_SUITE_P(Faults, TransportFault,
    ::testing::Values(FaultCase { "HostStopped", "stopped", "could not be downloaded" },
        FaultCase { "Http500", "http-500", "500" }, FaultCase { "BodyCutShort", "http-cut", "cut short" },
        FaultCase { "FolderNotWritable", "read-only", "refused", 1 },
        FaultCase { "WrongPassword", "password", "refused the logon" },
        FaultCase { "APageInPlaceOfTheFile", "html-page", "damaged" },
        FaultCase { "FileEndsInACutRecord", "cut-record", "damaged" },
        FaultCase { "FileShorterThanTheCopy", "shorter-than-copy", "damaged" },
        FaultCase { "HostLosesTheUpload", "lose-upload", "did not hold your record", 1 },
        FaultCase { "RecordRefused", "long-text", "301 bytes long", 1 },
        FaultCase { "RecordRefusedEachTurn", "long-text", "301 bytes long", SubmitTiming {}.tries, true }),
    [](const auto& info) { return info.param.name; });
