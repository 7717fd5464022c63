#include "build_config.h"
#include "core/benchmark/bench_json.h"
#include "core/benchmark/bench_report.h"
#include "core/benchmark/benchmark_loop.h"
#include "core/benchmark/core_choice.h"
#include "core/results/results_file.h"
#include "results_host_process.h"
#include "temp_dir.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel {
namespace {

// "name: value" lines in order.
std::vector<std::pair<std::string, std::string>> parseLines(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(": ");
        lines.emplace_back(line.substr(0, colon), colon == std::string::npos ? "" : line.substr(colon + 2));
    }
    return lines;
}

TEST(BenchReport, RunListsStepsAndSecondsPerTestThenCountAndScore)
{
    MeasuredRun run;
    run.result.steps = { 242, 121, 3, 4, 5, 6 };
    run.result.count = 381;
    run.result.score = 1;
    run.seconds = { 1.0000004, 0.5, 1, 1, 1, 1.25 };
    EXPECT_EQ(formatRun(run),
        "matrix_addition_steps: 242\n"
        "matrix_addition_seconds: 1.000000\n"
        "matrix_multiplication_steps: 121\n"
        "matrix_multiplication_seconds: 0.500000\n"
        "array_resize_steps: 3\n"
        "array_resize_seconds: 1.000000\n"
        "complex_addition_steps: 4\n"
        "complex_addition_seconds: 1.000000\n"
        "complex_multiplication_steps: 5\n"
        "complex_multiplication_seconds: 1.000000\n"
        "quadratics_steps: 6\n"
        "quadratics_seconds: 1.250000\n"
        "disturbed: no\n"
        "count: 381\n"
        "score: 1\n");
}

struct StatsCase {
    std::vector<double> scores;
    double median;
    double cv;
};

class StatsTest : public testing::TestWithParam<StatsCase> { };

TEST_P(StatsTest, MedianAndCoefficientOfVariation)
{
    EXPECT_DOUBLE_EQ(medianOf(GetParam().scores), GetParam().median);
    EXPECT_NEAR(coefficientOfVariation(GetParam().scores), GetParam().cv, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Scores, StatsTest,
    testing::Values(StatsCase { {}, 0, 0 }, StatsCase { { 7 }, 7, 0 },
        StatsCase { { 3, 1, 2 }, 2, 0.408248290463863 }, // population deviation over the mean
        StatsCase { { 10, 30, 20, 40 }, 25, 0.447213595499958 }, StatsCase { { 0, 0 }, 0, 0 },
        StatsCase { { 5, 5, 5 }, 5, 0 }));

// A test that had 70 % of the processor, in figures that add up exactly in binary.
TestDisturbance seventyPercent()
{
    return { 1, 0.703125, 0, 300, { 0 } };
}

struct Scored {
    double score;
    bool disturbed = false; // test 3 had 70 % of the processor
};

std::vector<MeasuredRun> runsOf(const std::vector<Scored>& scored)
{
    std::vector<MeasuredRun> runs;
    for (const Scored& s : scored) {
        MeasuredRun run;
        run.result.score = s.score;
        if (s.disturbed)
            run.result.disturbance[2] = seventyPercent();
        runs.push_back(run);
    }
    return runs;
}

TEST(BenchReport, SummaryEndsWithTheMedianOfTheUndisturbedRunsAsScore)
{
    const auto lines = parseLines(formatSummary(runsOf({ { 100 }, { 300 }, { 50, true }, { 200 } })));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), (std::pair<std::string, std::string> { "score", "200" }));
    const std::map<std::string, std::string> byName(lines.begin(), lines.end());
    EXPECT_EQ(byName.at("runs"), "4");
    EXPECT_EQ(byName.at("disturbed_runs"), "1");
    EXPECT_EQ(byName.at("median_score"), "200");
    EXPECT_EQ(byName.at("score_cv_percent"), "40.825");
    EXPECT_EQ(byName.at("disturbed"), "no");
    EXPECT_EQ(byName.count("ended_by"), 0u);

    const auto automatic = parseLines(formatSummary(runsOf({ { 100 }, { 100 }, { 100 } }), RunsEnd::Steady));
    EXPECT_EQ(automatic[automatic.size() - 3],
        (std::pair<std::string, std::string> { "ended_by", "cv_at_most_1_percent" }));
    // With no undisturbed run, the median is of the disturbed ones, and says so.
    const auto allDisturbed = parseLines(formatSummary(runsOf({ { 70, true }, { 90, true } })));
    EXPECT_EQ(
        allDisturbed[allDisturbed.size() - 2], (std::pair<std::string, std::string> { "disturbed", "yes" }));
    EXPECT_EQ(allDisturbed.back(), (std::pair<std::string, std::string> { "score", "80" }));
}

struct AutoRunsCase {
    std::vector<Scored> runs;
    std::optional<RunsEnd> end;
};

class AutoRunsTest : public testing::TestWithParam<AutoRunsCase> { };

TEST_P(AutoRunsTest, StopsOnceTheUndisturbedScoresAgreeOrAtTheLimit)
{
    EXPECT_EQ(autoRunsEnd(runsOf(GetParam().runs)), GetParam().end);
}

std::vector<Scored> alternating(int runs, bool disturbed = false)
{
    std::vector<Scored> scores;
    for (int i = 0; i < runs; ++i)
        scores.push_back({ i % 2 ? 120.0 : 100.0, disturbed });
    return scores;
}

INSTANTIATE_TEST_SUITE_P(Scores, AutoRunsTest,
    testing::Values(AutoRunsCase { { { 100 }, { 100 } }, std::nullopt }, // never fewer than three
        AutoRunsCase { { { 100 }, { 101 }, { 100 } }, RunsEnd::Steady },
        AutoRunsCase { { { 99 }, { 101 }, { 99 }, { 101 } }, RunsEnd::Steady }, // exactly 1 %
        AutoRunsCase { { { 100 }, { 110 }, { 90 } }, std::nullopt },
        AutoRunsCase { alternating(14), std::nullopt }, AutoRunsCase { alternating(15), RunsEnd::MaxRuns },
        // A disturbed run neither counts towards the three nor spoils their agreement.
        AutoRunsCase { { { 100 }, { 70, true }, { 101 } }, std::nullopt },
        AutoRunsCase { { { 100 }, { 70, true }, { 101 }, { 100 } }, RunsEnd::Steady },
        // Once three undisturbed runs can no longer be had within fifteen.
        AutoRunsCase { alternating(13, true), RunsEnd::TooBusy }));

TEST(BenchReport, TheUserIsToldWhichRunsWereDisturbedAndWhenTheMachineIsTooBusy)
{
    EXPECT_EQ(formatDisturbance(runsOf({ { 100 }, { 70, true }, { 101 } })),
        "run 2: test 3 got 70 % of the processor: another program was running\n"
        "1 of 3 runs was disturbed and left out of the median\n");
    EXPECT_EQ(formatDisturbance(runsOf(alternating(15)), RunsEnd::MaxRuns),
        "the machine is too busy to measure: after 15 runs the undisturbed scores still vary by 9.1 %\n");
    // What --submit refuses without --force.
    EXPECT_FALSE(scoreTrusted(summarizeRuns(runsOf(alternating(15))), RunsEnd::MaxRuns));
    EXPECT_FALSE(scoreTrusted(summarizeRuns(runsOf({ { 70, true } })), std::nullopt));
    EXPECT_TRUE(scoreTrusted(summarizeRuns(runsOf({ { 70, true }, { 100 } })), std::nullopt));
}

TEST(BenchReport, ProcessorModelIsTheFirstModelNameOfCpuinfo)
{
    std::istringstream x86("processor\t: 0\nvendor_id\t: GenuineIntel\nmodel\t\t: 85\n"
                           "model name\t: Intel(R) Xeon(R) CPU @ 2.10GHz\n\nprocessor\t: 1\n"
                           "model name\t: Another\n");
    EXPECT_EQ(processorModelFrom(x86), "Intel(R) Xeon(R) CPU @ 2.10GHz");
    std::istringstream none("processor\t: 0\nBogoMIPS\t: 50.00\n");
    EXPECT_EQ(processorModelFrom(none), "");
}

TEST(BenchJson, HoldsEveryRunTheSummaryAndTheMachine)
{
    MeasuredRun first;
    first.result.steps = { 242, 121, 3, 4, 5, 6 };
    first.result.count = 381;
    first.result.score = 1;
    first.seconds = { 1.25, 1, 1, 1, 1, 1 };
    MeasuredRun second = first;
    second.result.score = 2;
    MeasuredRun disturbed = first;
    disturbed.result.score = 0;
    disturbed.result.disturbance[2] = seventyPercent();
    const MachineInfo machine { "Some CPU", 2, "Linux 6.1.0 x86_64", "GCC 12.2.0" };

    // Through text, as a script reads it.
    const auto two
        = nlohmann::json::parse(runsJson({ first, disturbed, second }, RunsEnd::MaxRuns, machine).dump());
    EXPECT_EQ(two.at("version"), VANTREL_VERSION);
    ASSERT_EQ(two.at("runs").size(), 3u);
    const auto& test = two.at("runs")[0].at("tests")[0];
    EXPECT_EQ(test.at("name"), "Matrix Addition");
    EXPECT_EQ(test.at("steps"), 242);
    EXPECT_EQ(test.at("seconds"), 1.25);
    EXPECT_EQ(two.at("runs")[0].at("tests").size(), std::size_t(kTestCount));
    EXPECT_EQ(two.at("runs")[1].at("count"), 381);
    EXPECT_EQ(two.at("runs")[0].at("disturbed"), false);
    EXPECT_EQ(two.at("runs")[1].at("disturbed"), true);
    EXPECT_EQ(two.at("runs")[1].at("tests")[2],
        nlohmann::json({ { "name", "Array Resize" }, { "steps", 3 }, { "seconds", 1 },
            { "processor_percent", 70.3 }, { "steal_percent", 0 }, { "involuntary_switches", 300 },
            { "cores", { 0 } }, { "disturbed", true } }));
    EXPECT_EQ(two.at("scores"), nlohmann::json({ 1, 0, 2 }));
    EXPECT_EQ(two.at("disturbed_runs"), 1);
    EXPECT_EQ(two.at("median_score"), 1.5);
    EXPECT_NEAR(two.at("score_cv_percent").get<double>(), 100.0 / 3, 1e-9);
    EXPECT_EQ(two.at("ended_by"), "max_15_runs");
    EXPECT_EQ(two.at("score").dump(), "1.5");
    EXPECT_EQ(two.at("disturbed"), false);
    EXPECT_EQ(two.at("machine"),
        nlohmann::json({ { "processor", "Some CPU" }, { "logical_cores", 2 },
            { "kernel", "Linux 6.1.0 x86_64" }, { "compiler", "GCC 12.2.0" } }));

    const auto one = runsJson({ first }, std::nullopt, machine);
    EXPECT_EQ(one.begin().key(), "version");
    EXPECT_FALSE(one.contains("scores"));
    EXPECT_EQ(one.at("score").dump(), "1"); // whole scores without a ".0"
}

// The kernel's figures as they would read if each test had the given share of the processor:
// every test lasts a second, and the thread has it all between tests.
class ScriptedMeter : public ThreadMeter {
public:
    explicit ScriptedMeter(std::array<double, kTestCount> shares)
        : m_shares(shares)
    {
    }
    ThreadSample sample() override
    {
        const bool endOfTest = m_samples++ % 2 == 1;
        const double wall = endOfTest ? 1 : 0.25;
        m_now.wallSeconds += wall;
        m_now.cpuSeconds += endOfTest ? m_shares[static_cast<std::size_t>(m_samples / 2 - 1)] : wall;
        m_now.core = 1;
        return m_now;
    }

private:
    std::array<double, kTestCount> m_shares;
    ThreadSample m_now;
    int m_samples = 0;
};

// Passes end at once: only the watching matters here.
struct InstantServices {
    float now = 0;
    float timer() { return now += 2; }
    float random() { return 0.5f; }
    double power(double x, double y) { return std::pow(x, y); }
    double squareRoot(double x) { return std::sqrt(x); }
};

MeasuredRun watchedRun(double testThreeShare, double score)
{
    ScriptedMeter meter({ 1, 1, testThreeShare, 1, 1, 1 });
    InstantServices services;
    MeasuringProgress progress;
    MeasuredRun run;
    run.result = RunWatched(
        progress, meter, [&](BenchmarkProgress& watched) { return RunBenchmarkWith(services, watched); });
    run.result.score = score;
    return run;
}

TEST(Disturbance, ATestWithSeventyPercentOfTheProcessorIsFlaggedSaidAndLeftOutOfTheMedian)
{
    const MeasuredRun disturbed = watchedRun(0.703125, 70);
    EXPECT_TRUE(disturbed.result.disturbed());
    EXPECT_TRUE(disturbed.result.disturbance[2].disturbed());
    EXPECT_FALSE(disturbed.result.disturbance[3].disturbed());
    EXPECT_EQ(disturbed.result.disturbance[2].cores, std::vector<int> { 1 });
    EXPECT_EQ(
        formatDisturbance({ disturbed }), "test 3 got 70 % of the processor: another program was running\n");

    const RunsSummary summary = summarizeRuns({ watchedRun(1, 100), disturbed, watchedRun(1, 102) });
    EXPECT_EQ(summary.median, 101);
    EXPECT_EQ(summary.setAside, 1u);
}

TEST(Disturbance, AQuietRunIsNotFlagged)
{
    const MeasuredRun quiet = watchedRun(0.984375, 100);
    EXPECT_FALSE(quiet.result.disturbed());
    EXPECT_DOUBLE_EQ(quiet.result.disturbance[2].processorShare(), 0.984375);
    EXPECT_EQ(formatDisturbance({ quiet }), "");
}

struct LineCase {
    double wall, cpu, steal;
    std::uint64_t switches;
    std::string line;
};

class DisturbanceLineTest : public testing::TestWithParam<LineCase> { };

TEST_P(DisturbanceLineTest, SaysWhatTookTheProcessor)
{
    const LineCase& c = GetParam();
    const TestDisturbance figures { c.wall, c.cpu, c.steal, c.switches, { 0 } };
    EXPECT_EQ(disturbanceLine(3, figures), c.line);
    EXPECT_EQ(figures.disturbed(), !c.line.empty());
}

INSTANTIATE_TEST_SUITE_P(Figures, DisturbanceLineTest,
    testing::Values(LineCase { 1, 0.984375, 0, 300, "" },
        LineCase { 0, 0, 0, 0, "" }, // not watched
                                     // Stolen time, charged to the thread by the kernel or not.
        LineCase {
            1, 1, 0.25, 0, "test 3 got 75 % of the processor: the host ran another machine on its core" },
        LineCase {
            1, 0.75, 0.25, 0, "test 3 got 75 % of the processor: the host ran another machine on its core" },
        // Rounded down: just below the threshold never reads as the threshold.
        LineCase { 1, 0.978515625, 0, 0, "test 3 got 97 % of the processor: another program was running" }));

TEST(BenchReport, MeasuringProgressTimesEachTestFromItsYieldToTheNextClear)
{
    MeasuringProgress progress;
    progress.ClearStatus();
    progress.markCurrent(1);
    progress.yield();
    progress.ClearStatus();
    progress.markCurrent(2);
    progress.yield();
    progress.yield(); // a second yield does not restart the time
    progress.ClearStatus();
    EXPECT_GT(progress.seconds()[0], 0);
    EXPECT_GT(progress.seconds()[1], 0);
    EXPECT_EQ(progress.seconds()[2], 0);
}

struct Output {
    int status = -1;
    std::string text;
    std::string errors;
};

// Runs the program through the shell, after a command prefix if given; arguments as the shell
// reads them.
Output runBench(const std::string& arguments, const std::string& prefix = {})
{
    Output out;
    test::TempDir dir;
    FILE* pipe
        = popen((prefix + VANTREL_BENCH_PROGRAM + " " + arguments + " 2>" + dir.file("errors")).c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.text.append(buffer, got);
    const int status = pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    out.errors = test::readFile(dir.file("errors"));
    return out;
}

class BadArgumentsTest : public testing::TestWithParam<const char*> { };

TEST_P(BadArgumentsTest, AreRefusedWithoutRunning)
{
    const Output out = runBench(GetParam());
    EXPECT_EQ(out.status, 2);
    EXPECT_EQ(out.text, "");
}

INSTANTIATE_TEST_SUITE_P(Program, BadArgumentsTest,
    testing::Values("--runs", "--runs 0", "--runs -1", "--runs 2x", "--runs 1001", "--runs automatic",
        "--fast", "--runs 2 --runs 3", "--name me", "--submit --web", "--force", "--placement nowhere"));

struct SubmitCheckCase {
    const char* arguments;
    const char* message;
};

class SubmitCheckTest : public testing::TestWithParam<SubmitCheckCase> { };

// The submission window's checks and words, before any run.
TEST_P(SubmitCheckTest, RefusesBeforeRunning)
{
    const Output out = runBench(std::string("--submit ") + GetParam().arguments);
    EXPECT_EQ(out.status, 2);
    EXPECT_EQ(out.text, "");
    EXPECT_NE(out.errors.find(GetParam().message), std::string::npos) << out.errors;
}

INSTANTIATE_TEST_SUITE_P(Program, SubmitCheckTest,
    testing::Values(SubmitCheckCase { "--name '' --os 'Win XP' --processor P",
                        "You must specify your name (or nickname)." },
        SubmitCheckCase { "--name N --processor P", "You must specify your OS." },
        // An OS was given: the console names the ones it takes.
        SubmitCheckCase { "--name N --os 'Win 7' --processor P", "--os: Win 7 is not one of Win 95, Win 98," },
        SubmitCheckCase {
            "--name N --os 'Win XP' --processor ''", "You must give your processor's description." }));

std::string hostFlags(const ResultsHost& host)
{
    return " --web " + host.web + " --ftp " + host.ftp;
}

// A submission that cannot reach its host, refused before running; then one run's text lines.
TEST(BenchProgram, OneRunPrintsEveryLineAndAnUnreachableHostFailsBeforeIt)
{
    test::ResultsHostProcess gone;
    gone.stop();
    // The host is asked before six seconds are spent on a run it could not take.
    const Output refused = runBench("--submit --name N --os 'Win XP' --processor P" + hostFlags(gone.host()));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.errors.find("not submitted: "), std::string::npos) << refused.errors;
    EXPECT_NE(refused.errors.find("could not be downloaded from " + gone.host().web), std::string::npos)
        << refused.errors;
    EXPECT_EQ(refused.text, "");

    const Output out = runBench("");
    const auto lines = parseLines(out.text);
    ASSERT_EQ(lines.size(), 2u * kTestCount + 3);
    std::uint64_t sum = 0;
    for (int test = 1; test <= kTestCount; ++test) {
        const auto& steps = lines[static_cast<std::size_t>(2 * (test - 1))];
        const auto& seconds = lines[static_cast<std::size_t>(2 * (test - 1) + 1)];
        EXPECT_EQ(steps.first, testKey(test) + "_steps");
        EXPECT_EQ(seconds.first, testKey(test) + "_seconds");
        sum += std::stoull(steps.second);
        EXPECT_GT(std::stod(seconds.second), 0.5) << seconds.first;
    }
    EXPECT_EQ(lines[12].first, "disturbed");
    EXPECT_EQ(lines[13].first, "count");
    EXPECT_EQ(std::stoull(lines[13].second), sum);
    EXPECT_EQ(lines[14].first, "score");
    EXPECT_EQ(std::stoull(lines[14].second), sum / 256);
}

TEST(BenchProgram, SubmitsItsScoreToTheHostAndSaysSoInJson)
{
    test::ResultsHostProcess host;
    const Output out = runBench(
        "--json --submit --force --name 'Zoë' --email z@example.org --os 'Win 2K' --processor 'Two cores'"
        + hostFlags(host.host()));
    ASSERT_EQ(out.status, 0) << out.errors;
    const auto json = nlohmann::json::parse(out.text);
    EXPECT_EQ(json.at("runs").size(), 1u);
    const double score = json.at("score").get<double>();
    EXPECT_EQ(json.at("submitted").at("score").get<double>(), score);
    EXPECT_EQ(json.at("submitted").at("name"), "Zoë");
    EXPECT_FALSE(json.at("machine").at("kernel").get<std::string>().empty());
    EXPECT_NE(out.errors.find("adding the record"), std::string::npos) << out.errors;

    const auto records = DecodeResultRecords(test::readFile(host.sharedFile()));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], (ResultRecord { "Zoë", "z@example.org", "Win 2K", "Two cores", score }));
}

// Spins on one core until it goes, or the test program does.
struct BusyLoop {
    explicit BusyLoop(int core)
        : pid(fork())
    {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(core, &set);
        if (pid == 0 && prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && sched_setaffinity(0, sizeof set, &set) == 0)
            for (;;)
                asm volatile("");
        if (pid == 0)
            _exit(1);
    }
    ~BusyLoop()
    {
        if (pid > 0 && kill(pid, SIGKILL) == 0)
            waitpid(pid, nullptr, 0);
    }
    const pid_t pid;
};

// With another program on its only core, every test gets about half of its second.
TEST(BenchProgram, RefusesToSubmitADisturbedScore)
{
    const std::vector<int> cores = allowedCores();
    ASSERT_FALSE(cores.empty());
    test::ResultsHostProcess host;
    Output out;
    {
        const BusyLoop busy(cores.front());
        out = runBench("--json --submit --name N --os 'Win XP' --processor P" + hostFlags(host.host()),
            "taskset -c " + std::to_string(cores.front()) + " ");
    }
    EXPECT_EQ(out.status, 1);
    EXPECT_NE(out.errors.find("% of the processor: another program was running"), std::string::npos)
        << out.errors;
    EXPECT_NE(out.errors.find("not submitted: the run was disturbed"), std::string::npos) << out.errors;
    EXPECT_EQ(host.requestLog().find("FTP"), std::string::npos) << "it tried to submit:\n" << out.errors;
    EXPECT_EQ(nlohmann::json::parse(out.text).at("disturbed"), true);
}

} // namespace
} // namespace vantrel
