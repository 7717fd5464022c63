// vantrel3-submit-bench: what a submission costs, against a local results host it starts
// itself, for shared files of 1,000, 100,000 and 1,000,000 records (--records to choose):
// - one submission once the local copy is up to date: time, how long the host was held,
//   bytes on the wire and peak memory (each in a process of its own), beside the whole-file
//   way (download, upload the whole file, read it back) and curl downloading the file once;
// - eight submitters at once, ten records each: records per second, and the median and
//   longest wait for a turn;
// - the CPU share of a submitter waiting behind a lock someone holds.
#include "console/console_args.h"
#include "core/remote/curl_inet.h"
#include "core/remote/ftp_engine.h"
#include "core/submit/ftp_account.h"
#include "core/results/local_copy.h"
#include "core/submit/submission.h"
#include "cpu_time.h"
#include "results_host_process.h"
#include "sample_results.h"
#include "worker_process.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

using namespace vantrel;
using namespace vantrel::test;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double ms(std::chrono::nanoseconds duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The process's own peak (VmHWM): getrusage's figure also counts what the parent held at
// the moment this process was started from it.
long peakKiB()
{
    const std::string status = readFile("/proc/self/status");
    const std::size_t at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
}

// What one measured submission reports from its own process.
struct One {
    double totalMs = 0;
    double heldMs = 0;
    double waitedMs = 0;
    double wireKiB = 0;
    long peakKiB = 0;
    bool ok = false;
};

// Child side: one submission (or, with "whole", the whole-file way) to the host, with the
// given local copy; prints what it cost on one line.
int runChild(const std::string& how, const ResultsHost& host, const std::string& copy)
{
    const ResultRecord record { "bench", "", "Win XP", "Athlon XP 2000+", 123456 };
    const auto start = Clock::now();
    SubmitResult result;
    bool ok = false;
    if (how == "whole") {
        auto inet = std::make_shared<CurlInet>();
        const std::string body = inet->OpenURL(host.web + kSharedFileWebPath);
        clsFTPEngine engine;
        engine.SetEncryptionPassword(kEncryptionKey);
        engine.SetInetObject(inet);
        engine.SetFTPServer(host.ftp);
        engine.SetFTPUsername(kFtpUserName);
        engine.SetFTPEncryptedPassword(kFtpEncryptedPassword);
        engine.SetCurFTPFile(kSharedFileName);
        const std::string whole = body + EncodeResultRecord(record);
        ok = inet->outcome().ok() && engine.LogonInet() && engine.CreateWithData(whole);
        ok = ok && inet->OpenURL(host.web + kSharedFileWebPath).starts_with(whole);
    } else {
        result = submitResult(record, { .host = host, .localCopyPath = copy, .plainHost = how == "plain" });
        ok = result.status == SubmitStatus::Submitted;
    }
    const double total = msSince(start);
    const WireBytes wire = wireBytesSoFar();
    std::printf("%.3f %.3f %.3f %.3f %ld %d\n", total, ms(result.held), ms(result.waited),
        double(wire.sent + wire.received) / 1024.0, peakKiB(), ok ? 1 : 0);
    return ok ? 0 : 1;
}

One measureOne(
    const std::string& self, const std::string& how, const ResultsHost& host, const std::string& copy)
{
    const std::string out = copy + ".out";
    One one;
    const pid_t pid = startProcess({ self, "--child", how, host.web, host.ftp, copy }, out);
    if (pid > 0 && exitCode(pid) >= 0) {
        int ok = 0;
        std::sscanf(readFile(out).c_str(), "%lf %lf %lf %lf %ld %d", &one.totalMs, &one.heldMs, &one.waitedMs,
            &one.wireKiB, &one.peakKiB, &ok);
        one.ok = ok == 1;
    }
    return one;
}

One median(std::vector<One> runs)
{
    auto pick = [&](auto field) {
        std::sort(runs.begin(), runs.end(), [&](const One& a, const One& b) { return a.*field < b.*field; });
        return runs[runs.size() / 2].*field;
    };
    One m;
    m.totalMs = pick(&One::totalMs);
    m.heldMs = pick(&One::heldMs);
    m.wireKiB = pick(&One::wireKiB);
    m.peakKiB = pick(&One::peakKiB);
    m.ok = std::all_of(runs.begin(), runs.end(), [](const One& one) { return one.ok; });
    return m;
}

double curlDownloadMs(const ResultsHost& host)
{
    const std::string command = "curl -s -o /dev/null http://" + host.web + kSharedFileWebPath;
    const auto start = Clock::now();
    return std::system(command.c_str()) == 0 ? msSince(start) : -1;
}

void row(const char* what, const One& one, double fileMiB)
{
    std::printf("  %-24s %-6s %8.1f ms  held %7.1f ms  wire %10.1f KiB (%5.2f x file)  peak %6.1f MiB\n",
        what, one.ok ? "ok" : "FAILED", one.totalMs, one.heldMs, one.wireKiB, one.wireKiB / 1024.0 / fileMiB,
        one.peakKiB / 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && std::string(argv[1]) == "--child")
        return runChild(argv[2], { argv[3], argv[4] }, argv[5]);

    CLI::App app {
        "What a submission costs on a local results host it starts itself: one submission at several "
        "file sizes, eight at once, and the CPU a waiting submitter uses.",
        "vantrel3-submit-bench"
    };
    std::vector<std::size_t> sizes { 1000, 100000, 1000000 };
    int runs = 5;
    app.add_option("--records", sizes, "Shared file sizes to measure, in records")->delimiter(',');
    app.add_option("--runs", runs, "Submissions measured at each size (the median is shown)")
        ->check(CLI::Range(1, 99));
    if (const auto exitCode = vantrel::parseCommandLine(app, argc, argv))
        return *exitCode;
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    bool ok = true;

    for (const std::size_t records : sizes) {
        // Large enough for the whole-file rows at every size.
        ResultsHostProcess host({ .extraArgs = { "--max-size", "512M", "--quota", "512M" } });
        TempDir local;
        const std::string copy = local.file("compare.zip");
        writeFile(host.sharedFile(), bench::sampleResultsFile(records));
        const double fileMiB = double(std::filesystem::file_size(host.sharedFile())) / (1 << 20);
        std::printf("%zu records (%.1f MiB), median of %d:\n", records, fileMiB, runs);
        std::printf("  %-24s %8.1f ms\n", "curl downloading it once", curlDownloadMs(host.host()));
        for (const char* how : { "whole", "plain", "append" }) {
            std::vector<One> measured;
            for (int i = 0; i < runs; ++i) {
                // After the first download: the copy is what the host holds.
                std::filesystem::copy_file(
                    host.sharedFile(), copy, std::filesystem::copy_options::overwrite_existing);
                measured.push_back(measureOne(self, how, host.host(), copy));
            }
            const One m = median(measured);
            row(std::string(how) == "whole"       ? "whole file, no turns"
                    : std::string(how) == "plain" ? "staged, as on a plain host"
                                                  : "submitResult",
                m, fileMiB);
            ok = ok && (m.ok || std::string(how) == "whole");
        }
        std::printf("\n");
    }

    // Eight at once on a file of 100,000 records.
    {
        ResultsHostProcess host;
        writeFile(host.sharedFile(), bench::sampleResultsFile(100000));
        constexpr int kSubmitters = 8;
        constexpr int kEach = 10;
        std::atomic<int> submitted { 0 };
        std::vector<std::vector<double>> waits(kSubmitters);
        std::vector<TempDir> folders(kSubmitters);
        for (TempDir& folder : folders)
            std::filesystem::copy_file(host.sharedFile(), folder.file("compare.zip"));
        const auto start = Clock::now();
        {
            std::vector<std::jthread> submitters;
            for (int s = 0; s < kSubmitters; ++s) {
                submitters.emplace_back([&, s] {
                    for (int i = 0; i < kEach; ++i) {
                        const ResultRecord record { "racer " + std::to_string(s), "", "Win 2K", "Duron",
                            double(i + 1) };
                        const SubmitResult result = submitResult(
                            record, { .host = host.host(), .localCopyPath = folders[s].file("compare.zip") });
                        if (result.status == SubmitStatus::Submitted)
                            ++submitted;
                        waits[s].push_back(ms(result.waited));
                    }
                });
            }
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::vector<double> all;
        for (const auto& each : waits)
            all.insert(all.end(), each.begin(), each.end());
        std::sort(all.begin(), all.end());
        std::printf(
            "%d submitters at once, %d records each, file of 100,000 records: %d submitted in %.2f s, "
            "%.1f records/s; wait for a turn median %.1f ms, longest %.1f ms\n\n",
            kSubmitters, kEach, submitted.load(), seconds, submitted / seconds, all[all.size() / 2],
            all.back());
        ok = ok && submitted == kSubmitters * kEach;
    }

    // A lock whose holder keeps it (its heartbeat file is simply there) for the measured time.
    {
        ResultsHostProcess host;
        writeFile(host.sharedFile(), bench::sampleResultsFile(1000));
        std::filesystem::create_directory(host.root() + "compare.lock");
        writeFile(host.root() + "compare.lock/hb-holder-0", "x");
        std::stop_source stop;
        SubmitResult waited;
        const double cpuBefore = bench::cpuSeconds();
        const auto waitStart = Clock::now();
        {
            std::jthread waiter([&] {
                waited = submitResult(
                    { "waiter", "", "Win ME", "Celeron", 1 }, { .host = host.host() }, stop.get_token());
            });
            std::this_thread::sleep_for(std::chrono::seconds(5));
            stop.request_stop();
        }
        const double wall = std::chrono::duration<double>(Clock::now() - waitStart).count();
        const double cpu = bench::cpuSeconds() - cpuBefore;
        std::printf("waiting behind a held lock for %.1f s: CPU %.3f s = %.2f %% of one core; ended %s\n",
            wall, cpu, 100.0 * cpu / wall,
            waited.status == SubmitStatus::Cancelled ? "cancelled" : "otherwise");
        ok = ok && waited.status == SubmitStatus::Cancelled;
    }
    return ok ? 0 : 1;
}
