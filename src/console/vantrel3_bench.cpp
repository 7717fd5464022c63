// Runs the benchmark without a window: prints what every test counted and how long it took,
// as text or JSON, and can submit the score to the results host like the submission window.
#include "console/console_args.h"
#include "core/benchmark/bench_json.h"
#include "core/benchmark/bench_report.h"
#include "core/benchmark/program_folder.h"
#include "core/benchmark/score_file.h"
#include "core/remote/curl_inet.h"
#include "core/remote/host_choice.h"
#include "core/results/local_copy.h"
#include "core/submit/ftp_account.h"
#include "core/submit/submission.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kProgram = "vantrel3-bench";

void print(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void progress(const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
}

// "auto" is 0; otherwise the count from 1 to 1000, checked by the parser.
int runCount(const std::string& text)
{
    if (text == "auto")
        return 0;
    int runs = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), runs);
    if (result.ec != std::errc {} || result.ptr != text.data() + text.size() || runs < 1 || runs > 1000)
        return -1;
    return runs;
}

// The --placement words, in the order of CorePlacement.
constexpr const char* kPlacements[] = { "pinned", "started", "free" };

const char* environment(const char* name)
{
    return std::getenv(name);
}

std::string stageText(vantrel::SubmitStage stage, const vantrel::ResultsHost& host)
{
    switch (stage) {
    case vantrel::SubmitStage::Contacting:
        return "bringing the local copy of the results file up to date from " + host.web;
    case vantrel::SubmitStage::Waiting:
        return "waiting while another submission holds the results host";
    case vantrel::SubmitStage::Uploading:
        return "adding the record on " + host.ftp;
    case vantrel::SubmitStage::Verifying:
        return "checking that the results host holds the record";
    }
    return {};
}

// What the command line asked for.
struct Request {
    std::string runsText = "1";
    bool json = false;
    bool submit = false;
    bool force = false;
    std::string placementText = kPlacements[1];
    vantrel::ResultRecord record;
    std::string osNames;
    std::optional<std::string> webFlag;
    std::optional<std::string> ftpFlag;
};

// Sets the flags up on app; --help says where the results host comes from.
void describeFlags(CLI::App& app, Request& request, const std::string& userSettings)
{
    app.get_formatter()->column_width(36);
    app.add_option("--runs", request.runsText,
           "Runs to make (1 to 1000), or auto: repeat until 3 or more undisturbed runs vary by at most "
           "1 %, at most 15 runs; the score is the median of the undisturbed runs")
        ->type_name("N|auto")
        ->check([](const std::string& text) {
            return runCount(text) < 0 ? std::string("expects a count from 1 to 1000 or auto, not " + text)
                                      : std::string();
        });
    app.add_flag("--json", request.json, "Print one JSON object instead of text lines");
    app.add_option("--placement", request.placementText,
           "Where a run's thread may go, for measuring the benchmark itself: started (on the core found "
           "fastest just before test 1, then left to the scheduler), pinned (kept on that core) or free "
           "(left to the scheduler)")
        ->capture_default_str()
        ->check(CLI::IsMember({ kPlacements[0], kPlacements[1], kPlacements[2] }));
    auto* submitFlag = app.add_flag("--submit", request.submit, "Submit the score to the results host");
    app.add_flag("--force", request.force, "Submit even a score that other work on the machine disturbed")
        ->needs(submitFlag);
    app.add_option("--name", request.record.name, "Your name (or nickname), for --submit")->needs(submitFlag);
    app.add_option("--email", request.record.email, "Your e-mail address, for --submit (optional)")
        ->needs(submitFlag);
    for (const char* os : vantrel::kOsNames)
        request.osNames += std::string(request.osNames.empty() ? "" : ", ") + os;
    app.add_option(
           "--os", request.record.os, "Your operating system, for --submit: one of " + request.osNames)
        ->needs(submitFlag);
    app.add_option("--processor", request.record.processor, "Your processor's description, for --submit")
        ->needs(submitFlag);
    const auto isAddress = [](const std::string& text) {
        return vantrel::isHostAndPort(text) ? std::string() : "expects HOST:PORT, not " + text;
    };
    app.add_option("--web", request.webFlag, "Results host's web address for --submit")
        ->type_name("HOST:PORT")
        ->check(isAddress)
        ->needs(submitFlag);
    app.add_option("--ftp", request.ftpFlag, "Results host's FTP server for --submit")
        ->type_name("HOST:PORT")
        ->check(isAddress)
        ->needs(submitFlag);
    const vantrel::ChosenHost settled
        = vantrel::chooseResultsHost(std::nullopt, std::nullopt, environment, userSettings);
    app.footer("Without --web and --ftp: " + vantrel::describeChosenHost(settled)
        + ".\nThey are looked for in VANTREL3_WEB and VANTREL3_FTP, then " + userSettings + ", then "
        + vantrel::kSystemHostSettingsPath + " (lines \"web = HOST:PORT\" and \"ftp = HOST:PORT\").");
}

// The window's checks, with its words, before minutes of running are spent, and the same local
// copy the window keeps brought up to date, so that a host that does not answer is found before
// the run. Returns the exit code when the submission cannot go ahead.
std::optional<int> prepareSubmission(
    const Request& request, const vantrel::ChosenHost& chosen, std::string& localCopy)
{
    const vantrel::ResultRecord& record = request.record;
    if (!chosen.problem.empty())
        progress(chosen.problem + "; using the next place that names it");
    if (!record.os.empty()
        && std::find(vantrel::kOsNames.begin(), vantrel::kOsNames.end(), record.os)
            == vantrel::kOsNames.end())
        return vantrel::usageError(kProgram, "--os: " + record.os + " is not one of " + request.osNames);
    if (const auto problem = vantrel::checkSubmission(record))
        return vantrel::usageError(kProgram, problem->message);
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    localCopy = (vantrel::chooseDataFolder(exe.parent_path()) / vantrel::kSharedFileName).string();
    progress(stageText(vantrel::SubmitStage::Contacting, chosen.host));
    vantrel::CurlInet web;
    const vantrel::LocalCopyUpdate update = vantrel::updateLocalCopy(web, chosen.host.web, localCopy);
    if (!update.ok) {
        progress("not submitted: " + update.cause);
        progress(vantrel::describeChosenHost(chosen) + "; --web and --ftp name another");
        return 1;
    }
    progress("running the benchmark (about 6 seconds a run)");
    return std::nullopt;
}

// Runs as asked, printing each run (and the summary) unless JSON is wanted.
std::vector<vantrel::MeasuredRun> runAll(const Request& request, std::optional<vantrel::RunsEnd>& end)
{
    const int count = runCount(request.runsText);
    vantrel::CorePlacement placement = vantrel::CorePlacement::Started;
    if (request.placementText == kPlacements[0])
        placement = vantrel::CorePlacement::Pinned;
    else if (request.placementText == kPlacements[2])
        placement = vantrel::CorePlacement::Free;
    std::vector<vantrel::MeasuredRun> runs;
    for (int i = 1; count == 0 ? !end : i <= count; ++i) {
        runs.push_back(vantrel::measureRun(placement));
        if (count == 0)
            end = vantrel::autoRunsEnd(runs);
        if (!request.json)
            print((count != 1 ? "run: " + std::to_string(i) + "\n" : std::string())
                + vantrel::formatRun(runs.back()));
    }
    if (!request.json && runs.size() > 1)
        print(vantrel::formatSummary(runs, end));
    // Why a score is lower than the machine can do, in words, beside the figures.
    std::string said = vantrel::formatDisturbance(runs, end);
    for (std::size_t from = 0, to; (to = said.find('\n', from)) != std::string::npos; from = to + 1)
        progress(said.substr(from, to - from));
    return runs;
}

// Submits the median score; the exit code, with "submitted" in out when it is on the host.
int submitScore(vantrel::ResultRecord record, const vantrel::ResultsHost& host, const std::string& localCopy,
    double median, bool json, nlohmann::ordered_json& out)
{
    // Scores are whole numbers; the median of an even count of runs may not be.
    record.score = std::floor(median);
    vantrel::SubmitOptions options;
    options.host = host;
    options.localCopyPath = localCopy;
    options.progress = [&host](vantrel::SubmitStage stage) { progress(stageText(stage, host)); };
    const vantrel::SubmitResult result = vantrel::submitResult(record, options);
    if (result.status == vantrel::SubmitStatus::Submitted) {
        if (json)
            out["submitted"] = { { "name", record.name }, { "email", record.email }, { "os", record.os },
                { "processor", record.processor }, { "score", vantrel::jsonNumber(record.score) } };
        else
            print("submitted: " + vantrel::FormatGeneralNumber(record.score) + " Vantrels as \"" + record.name
                + "\" (" + record.os + ", " + record.processor
                + (record.email.empty() ? "" : ", " + record.email) + ") to " + host.web + "\n");
        return 0;
    }
    if (result.uncertain) {
        // Sent, but not read back: a second --submit could list the score twice.
        progress(
            "sent, but not confirmed: " + result.cause + "; compare the results before you submit again");
        return 1;
    }
    progress("not submitted: " + result.cause);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app { "Runs the Vantrel 3 benchmark on the console and prints its score.", kProgram };
    Request request;
    // Where the results host is: --web and --ftp, else VANTREL3_WEB and VANTREL3_FTP, else the
    // settings files, else the addresses built in; --help says which.
    const std::string userSettings = vantrel::userHostSettingsPath(environment);
    describeFlags(app, request, userSettings);
    if (const auto exitCode = vantrel::parseCommandLine(app, argc, argv))
        return *exitCode;
    const vantrel::ChosenHost chosen
        = vantrel::chooseResultsHost(request.webFlag, request.ftpFlag, environment, userSettings);

    std::string localCopy;
    if (request.submit) {
        if (const std::optional<int> exitCode = prepareSubmission(request, chosen, localCopy))
            return *exitCode;
    }
    std::optional<vantrel::RunsEnd> end;
    const std::vector<vantrel::MeasuredRun> runs = runAll(request, end);
    nlohmann::ordered_json out;
    if (request.json)
        out = vantrel::runsJson(runs, end, vantrel::describeMachine());
    const vantrel::RunsSummary summary = vantrel::summarizeRuns(runs);

    int status = 0;
    if (request.submit && !request.force && !vantrel::scoreTrusted(summary, end)) {
        // A disturbed score would go into the shared results as this machine's, for everyone.
        std::string why = "the machine was too busy to measure";
        if (summary.disturbed)
            why = runs.size() == 1 ? "the run was disturbed" : "every run was disturbed";
        progress("not submitted: " + why
            + ", so the score is lower than this machine can do; run it again when the machine is quiet, "
              "or add --force to submit it anyway");
        status = 1;
    } else if (request.submit) {
        status = submitScore(request.record, chosen.host, localCopy, summary.median, request.json, out);
    }
    if (request.json)
        print(out.dump(2) + "\n");
    return status;
}
