// vantrel3-link-submitter: one submitter for bench/internet-submit. Submits COUNT records in a
// row to the results host through submitResult, keeping its local copy at COPY, and prints a
// line for each as soon as it ends: "submitted MS" or "failed MS cause".
#include "console/console_args.h"
#include "core/submit/submission.h"

#include <chrono>
#include <cstdio>
#include <string>

using namespace vantrel;

int main(int argc, char** argv)
{
    CLI::App app { "Submits records in a row to a results host, printing how long each took.",
        "vantrel3-link-submitter" };
    ResultsHost host;
    std::string name = "link";
    std::string copy;
    int count = 1;
    app.add_option("--web", host.web, "The host's web server, HOST:PORT (required)");
    app.add_option("--ftp", host.ftp, "The host's FTP server, HOST:PORT (required)");
    app.add_option("--name", name, "The records' name (their scores count from 1)");
    app.add_option("--count", count, "Records to submit, one after another")->check(CLI::Range(1, 1000));
    app.add_option("--copy", copy, "The local copy of the shared file (default: a private one each time)");
    if (const auto exitCode = parseCommandLine(app, argc, argv))
        return *exitCode;
    // Checked here, not by the parser, so that a wrong flag is named before a missing one.
    if (host.web.empty() || host.ftp.empty())
        return usageError(app.get_name(), "--web and --ftp are required");

    int failures = 0;
    for (int i = 1; i <= count; ++i) {
        const ResultRecord record { name, "", "Win XP", "Athlon XP 2000+", double(i) };
        const auto start = std::chrono::steady_clock::now();
        const SubmitResult result = submitResult(record, { .host = host, .localCopyPath = copy });
        const double ms
            = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (result.status == SubmitStatus::Submitted)
            std::printf("submitted %.1f\n", ms);
        else
            std::printf("failed %.1f %s\n", ms, result.cause.c_str()), ++failures;
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}
