// vantrel3-submit-bench: what taking turns on the results host costs. On a local results
// host it starts itself (shared file of 1,000 records) it reports
// - one uncontended submission the old way (HTTP download, FTP upload through the engine)
//   and through submitResult: median time, FTP connections, FTP commands and HTTP requests;
// - records per second with 8 submitters at once (threads, 10 records each);
// - the CPU share of a submitter waiting behind a lock that another submitter holds.
#include "cpu_time.h"
#include "console/console_args.h"
#include "core/remote/curl_inet.h"
#include "core/remote/ftp_engine.h"
#include "results_host_process.h"
#include "sample_results.h"
#include "core/submit/ftp_account.h"
#include "core/submit/submission.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stop_token>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace vantrel;
using namespace vantrel::test;
using Clock = std::chrono::steady_clock;

namespace {

using bench::cpuSeconds;

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The download-append-upload pass without any exclusion, as submissions went before.
bool oldSubmission(const ResultsHost& host, const ResultRecord& record)
{
    auto inet = std::make_shared<CurlInet>();
    const std::string body = inet->OpenURL(host.web + kSharedFileWebPath);
    if (!inet->outcome().ok())
        return false;
    clsFTPEngine engine;
    engine.SetEncryptionPassword(kEncryptionKey);
    engine.SetInetObject(inet);
    engine.SetFTPServer(host.ftp);
    engine.SetFTPUsername(kFtpUserName);
    engine.SetFTPEncryptedPassword(kFtpEncryptedPassword);
    engine.SetCurFTPFile(kSharedFileName);
    return engine.LogonInet() && engine.CreateWithData(body + EncodeResultRecord(record));
}

struct Pass {
    double medianMs = 0;
    double ftpConnections = 0;
    double ftpCommands = 0;
    double httpRequests = 0;
    bool ok = true;
};

template <typename Submit> Pass measure(ResultsHostProcess& host, int runs, Submit submit)
{
    Pass pass;
    std::vector<double> times;
    host.clearRequestLog();
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        pass.ok = submit(ResultRecord { "bench", "", "Win XP", "Athlon", double(i + 1) }) && pass.ok;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    pass.medianMs = times[times.size() / 2];
    const std::string log = host.requestLog();
    pass.ftpConnections = double(count(log, "FTP USER")) / runs;
    pass.ftpCommands = double(count(log, "FTP ")) / runs;
    pass.httpRequests = double(count(log, "HTTP GET")) / runs;
    return pass;
}

void print(const char* name, const Pass& pass)
{
    std::printf(
        "%-26s %-6s median %7.1f ms   FTP connections %4.1f   FTP commands %5.1f   HTTP requests %3.1f\n",
        name, pass.ok ? "ok" : "FAILED", pass.medianMs, pass.ftpConnections, pass.ftpCommands,
        pass.httpRequests);
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app { "One submission before and after the submitters' exclusion, eight submitters at once, and "
                   "the CPU a waiting submitter uses, on a local results host it starts itself.",
        "vantrel3-submit-bench" };
    if (const auto exitCode = vantrel::parseCommandLine(app, argc, argv))
        return *exitCode;
    ResultsHostProcess host;
    writeFile(host.sharedFile(), bench::sampleResultsFile(1000));
    constexpr int kRuns = 21;
    bool ok = true;

    const Pass before
        = measure(host, kRuns, [&](const ResultRecord& r) { return oldSubmission(host.host(), r); });
    const Pass after = measure(host, kRuns, [&](const ResultRecord& r) {
        return submitResult(r, { .host = host.host() }).status == SubmitStatus::Submitted;
    });
    std::printf("one uncontended submission, shared file of 1,000 records (median of %d):\n", kRuns);
    print("before (download+upload)", before);
    print("after (submitResult)", after);
    std::printf("added: %+.1f ms, %+.1f FTP connections, %+.1f FTP commands, %+.1f HTTP requests\n\n",
        after.medianMs - before.medianMs, after.ftpConnections - before.ftpConnections,
        after.ftpCommands - before.ftpCommands, after.httpRequests - before.httpRequests);
    ok = ok && before.ok && after.ok;

    constexpr int kSubmitters = 8;
    constexpr int kEach = 10;
    std::atomic<int> submitted { 0 };
    const auto start = Clock::now();
    {
        std::vector<std::jthread> submitters;
        for (int s = 0; s < kSubmitters; ++s) {
            submitters.emplace_back([&, s] {
                for (int i = 0; i < kEach; ++i) {
                    const ResultRecord record { "racer " + std::to_string(s), "", "Win 2K", "Duron",
                        double(i + 1) };
                    if (submitResult(record, { .host = host.host() }).status == SubmitStatus::Submitted)
                        ++submitted;
                }
            });
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%d submitters at once, %d records each: %d submitted in %.2f s, %.1f records/s\n\n",
        kSubmitters, kEach, submitted.load(), seconds, submitted / seconds);
    ok = ok && submitted == kSubmitters * kEach;

    // A lock whose holder keeps it (its heartbeat file is simply there) for the measured time.
    std::filesystem::create_directory(host.root() + "compare.lock");
    writeFile(host.root() + "compare.lock/hb-holder-0", "x");
    host.clearRequestLog();
    std::stop_source stop;
    SubmitResult waited;
    const double cpuBefore = cpuSeconds();
    const auto waitStart = Clock::now();
    {
        std::jthread waiter([&] {
            waited = submitResult(
                { "waiter", "", "Win ME", "Celeron", 1 }, { .host = host.host() }, stop.get_token());
        });
        std::this_thread::sleep_for(std::chrono::seconds(10));
        stop.request_stop();
    }
    const double wall = std::chrono::duration<double>(Clock::now() - waitStart).count();
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("waiting behind a held lock for %.1f s: CPU %.3f s = %.2f %% of one core, %zu claim tries, "
                "%zu listings; ended %s\n",
        wall, cpu, 100.0 * cpu / wall, count(host.requestLog(), "RNTO compare.lock\n"),
        count(host.requestLog(), "NLST"),
        waited.status == SubmitStatus::Cancelled ? "cancelled" : "otherwise");
    ok = ok && waited.status == SubmitStatus::Cancelled;
    return ok ? 0 : 1;
}
