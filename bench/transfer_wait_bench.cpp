// vantrel3-wait-bench: what waiting for a slow transfer costs. Starts the local results
// host throttled, runs an FTP upload, an FTP download and an HTTP download through the
// transfer control while polling StillExecuting as the windows do (with a no-op yield
// in between), and prints the process's CPU time as a share of one core.
#include "console/console_args.h"
#include "core/remote/curl_inet.h"
#include "cpu_time.h"
#include "results_host_process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/resource.h>

using namespace vantrel;
using namespace vantrel::test;

namespace {

using bench::cpuSeconds;

bool measure(const char* name, const std::function<bool(CurlInet&)>& start, CurlInet& inet)
{
    const double cpuBefore = cpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    long polls = 0;
    if (!start(inet)) {
        std::printf("%-14s could not start: %s\n", name, inet.outcome().text.c_str());
        return false;
    }
    while (inet.StillExecuting())
        ++polls; // the yield: nothing to do here
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("%-14s %-7s wall %6.2f s  CPU %6.3f s  polls %6ld  waiting cost %5.2f %% of one core\n", name,
        inet.outcome().ok() ? "ok" : "FAILED", wall, cpu, polls, 100.0 * cpu / wall);
    return inet.outcome().ok();
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app { "CPU spent while waiting on a deliberately slow transfer, as a share of one core.",
        "vantrel3-wait-bench" };
    long rate = 64 * 1024;
    long bytes = 0;
    app.add_option("rate", rate, "Bytes per second the local results host lets through")
        ->capture_default_str()
        ->check(CLI::Range(1024L, 1L << 30));
    app.add_option("bytes", bytes, "Size of the file sent each way (default: four seconds' worth)")
        ->check(CLI::Range(1L, 1L << 30));
    if (const auto exitCode = vantrel::parseCommandLine(app, argc, argv))
        return *exitCode;
    if (bytes == 0)
        bytes = 4 * rate;
    std::printf("results host throttled to %ld bytes/s, file of %ld bytes\n", rate, bytes);

    ResultsHostProcess host({ .throttle = rate });
    TempDir local;
    writeFile(local.file("upload"), std::string(static_cast<std::size_t>(bytes), 'v'));

    CurlInet inet;
    inet.setProtocol(kProtocolFtp);
    inet.setURL(host.host().ftp);
    inet.setUserName("vantrel");
    inet.setPassword(accountPassword());

    // A file of its own: the host takes only whole records for the shared file.
    bool ok = measure(
        "FTP upload",
        [&](CurlInet& c) { return c.Execute({}, "PUT " + local.file("upload") + " waiting.bin"); }, inet);
    ok = measure(
             "FTP download",
             [&](CurlInet& c) { return c.Execute({}, "GET waiting.bin " + local.file("download")); }, inet)
        && ok;

    // The web side serves only the shared file, whatever it holds. OpenURL waits inside; measure it
    // around the call.
    writeFile(host.sharedFile(), std::string(static_cast<std::size_t>(bytes), 'v'));
    const double cpuBefore = cpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    const std::string body = inet.OpenURL(host.host().web + "/vantrel/COMPARE.ZIP");
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const double cpu = cpuSeconds() - cpuBefore;
    const bool httpOk = inet.outcome().ok() && body.size() == static_cast<std::size_t>(bytes);
    std::printf("%-14s %-7s wall %6.2f s  CPU %6.3f s                waiting cost %5.2f %% of one core\n",
        "HTTP OpenURL", httpOk ? "ok" : "FAILED", wall, cpu, 100.0 * cpu / wall);
    return ok && httpOk ? 0 : 1;
}
