// Submitters against the real results host: many at once, one that dies holding the
// host, a slow upload that must keep its claim, and a host that loses the upload.
#include "record_bytes.h"
#include "results_host_process.h"
#include "core/submit/submission.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

using namespace vantrel;
using namespace vantrel::test;
using namespace std::chrono_literals;

namespace {

const std::string kEarlier = encodeRecords({ { "Ann", "ann@example.org", "Win 98", "K6-2 350", 1234 },
    { "Bob", "", "Win XP", "P4 2.4 GHz", 98765 } });

// A submit_worker process submitting count records named name; its error output goes to errors.
pid_t startWorker(const ResultsHostProcess& host, const std::string& name, int count,
    const std::string& errors, std::size_t processorBytes = 8)
{
    std::vector<std::string> args { SUBMIT_WORKER, host.host().web, host.host().ftp, name,
        std::to_string(count), std::to_string(processorBytes) };
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int exitCode(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Only the shared file may remain: no lock, claim or take-over folder.
std::vector<std::string> leftovers(const ResultsHostProcess& host)
{
    std::vector<std::string> names = filesIn(host.root());
    std::erase_if(names, [](const std::string& name) {
        return name == "compare.zip" || name.find(".part-") != std::string::npos;
    });
    return names;
}

} // namespace

TEST(Submission, EightSubmittersAtOnceLoseNoRecord)
{
    ResultsHostProcess host;
    writeFile(host.sharedFile(), kEarlier);
    TempDir logs;
    constexpr int kSubmitters = 8;
    constexpr int kEach = 25;

    const auto started = std::chrono::steady_clock::now();
    std::vector<pid_t> workers;
    for (int w = 0; w < kSubmitters; ++w)
        workers.push_back(
            startWorker(host, "submitter " + std::to_string(w), kEach, logs.file(std::to_string(w))));
    for (int w = 0; w < kSubmitters; ++w) {
        ASSERT_GT(workers[w], 0);
        EXPECT_EQ(exitCode(workers[w]), 0) << readFile(logs.file(std::to_string(w)));
    }
    std::printf("%d submissions in %.1f s\n", kSubmitters * kEach,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());

    const std::string file = readFile(host.sharedFile());
    ASSERT_EQ(file.substr(0, kEarlier.size()), kEarlier);
    std::map<std::pair<std::string, double>, int> seen;
    for (const ResultRecord& record : DecodeResultRecords(std::string_view(file).substr(kEarlier.size())))
        ++seen[{ record.name, record.score }];
    EXPECT_EQ(seen.size(), std::size_t(kSubmitters * kEach));
    for (int w = 0; w < kSubmitters; ++w) {
        for (int i = 1; i <= kEach; ++i)
            EXPECT_EQ((seen[{ "submitter " + std::to_string(w), double(i) }]), 1) << w << " " << i;
    }
    EXPECT_EQ(leftovers(host), std::vector<std::string> {});
}

// A submitter killed in the middle of its upload leaves its lock behind; it blocks the
// next submitter for about a minute and no longer.
TEST(Submission, ALockLeftByAKilledSubmitterClearsItself)
{
    ResultsHostProcess host({ .throttle = 4000 });
    writeFile(host.sharedFile(), kEarlier);
    TempDir logs;
    // About 10 s of upload at the throttled rate.
    const pid_t doomed = startWorker(host, "doomed", 1, logs.file("doomed"), 40000);
    ASSERT_GT(doomed, 0);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (host.requestLog().find("STOR .compare.zip.part") == std::string::npos
        && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    ASSERT_NE(host.requestLog().find("STOR .compare.zip.part"), std::string::npos) << host.requestLog();
    kill(doomed, SIGKILL);
    exitCode(doomed);
    ASSERT_TRUE(std::filesystem::exists(host.root() + "compare.lock"));

    const auto started = std::chrono::steady_clock::now();
    std::vector<SubmitStage> stages;
    SubmitOptions options { .host = host.host(),
        .progress = [&](SubmitStage stage) { stages.push_back(stage); } };
    const ResultRecord record { "Next", "", "Win 2K", "Athlon", 77 };
    const SubmitResult result = submitResult(record, options);
    const auto waited = std::chrono::steady_clock::now() - started;

    EXPECT_EQ(result.status, SubmitStatus::Submitted) << result.cause;
    EXPECT_EQ(readFile(host.sharedFile()), kEarlier + EncodeResultRecord(record));
    EXPECT_NE(std::find(stages.begin(), stages.end(), SubmitStage::Waiting), stages.end());
    EXPECT_GE(waited, 60s);
    EXPECT_LT(waited, 90s);
    EXPECT_EQ(leftovers(host), std::vector<std::string> {});
}

// An upload far longer than the heartbeat period keeps renaming its heartbeat file all along.
TEST(Submission, ASlowUploadKeepsItsClaimAlive)
{
    ResultsHostProcess host({ .throttle = 2000 });
    SubmitOptions options { .host = host.host() };
    options.timing.heartbeatEvery = 400ms;
    const ResultRecord record { "Slow", "", "Win ME", std::string(5000, 's'), 5 };
    EXPECT_EQ(submitResult(record, options).status, SubmitStatus::Submitted);
    EXPECT_EQ(readFile(host.sharedFile()), EncodeResultRecord(record));

    const std::string log = host.requestLog();
    const std::size_t storing = log.find("STOR .compare.zip.part");
    const std::size_t committed = log.find("RNTO compare.zip");
    ASSERT_LT(storing, committed);
    int beats = 0;
    for (std::size_t at = log.find("RNTO compare.lock/hb-", storing); at < committed;
         at = log.find("RNTO compare.lock/hb-", at + 1))
        ++beats;
    EXPECT_GE(beats, 3) << log;
}

// A host whose file loses the new record right after the upload: a few tries, then a
// failure with the reason, never a success; nothing of the claim stays behind.
TEST(Submission, AnUploadThatDoesNotReadBackFails)
{
    ResultsHostProcess host({ .fault = "lose-upload" });
    writeFile(host.sharedFile(), kEarlier);
    const SubmitResult result = submitResult({ "Lost", "", "Win NT", "PPro", 3 }, { .host = host.host() });

    EXPECT_EQ(result.status, SubmitStatus::Failed);
    EXPECT_NE(result.cause.find("did not hold your record"), std::string::npos) << result.cause;
    const std::string log = host.requestLog();
    std::size_t uploads = 0;
    for (std::size_t at = log.find("RNTO compare.zip"); at != std::string::npos;
         at = log.find("RNTO compare.zip", at + 1))
        ++uploads;
    EXPECT_EQ(uploads, 3u);
    EXPECT_EQ(readFile(host.sharedFile()), kEarlier);
    EXPECT_EQ(leftovers(host), std::vector<std::string> {});
}
