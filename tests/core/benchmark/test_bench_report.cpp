#include "core/benchmark/bench_json.h"
#include "core/benchmark/bench_report.h"
#include "build_config.h"
#include "results_host_process.h"
#include "core/submit/results_file.h"
#include "temp_dir.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>

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

TEST(BenchReport, SummaryEndsWithTheMedianAsScore)
{
    const auto lines = parseLines(formatSummary({ 100, 300, 200 }));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), (std::pair<std::string, std::string> { "score", "200" }));
    const std::map<std::string, std::string> byName(lines.begin(), lines.end());
    EXPECT_EQ(byName.at("runs"), "3");
    EXPECT_EQ(byName.at("median_score"), "200");
    EXPECT_EQ(byName.at("score_cv_percent"), "40.825");
    EXPECT_EQ(byName.count("ended_by"), 0u);

    const auto automatic = parseLines(formatSummary({ 100, 100, 100 }, RunsEnd::Steady));
    EXPECT_EQ(automatic[automatic.size() - 2],
        (std::pair<std::string, std::string> { "ended_by", "cv_at_most_1_percent" }));
}

struct AutoRunsCase {
    std::vector<double> scores;
    std::optional<RunsEnd> end;
};

class AutoRunsTest : public testing::TestWithParam<AutoRunsCase> { };

TEST_P(AutoRunsTest, StopsOnceTheScoresAgreeOrAtTheLimit)
{
    EXPECT_EQ(autoRunsEnd(GetParam().scores), GetParam().end);
}

std::vector<double> alternating(int runs)
{
    std::vector<double> scores;
    for (int i = 0; i < runs; ++i)
        scores.push_back(i % 2 ? 120 : 100);
    return scores;
}

INSTANTIATE_TEST_SUITE_P(Scores, AutoRunsTest,
    testing::Values(AutoRunsCase { { 100, 100 }, std::nullopt }, // never fewer than three
        AutoRunsCase { { 100, 101, 100 }, RunsEnd::Steady },
        AutoRunsCase { { 99, 101, 99, 101 }, RunsEnd::Steady }, // exactly 1 %
        AutoRunsCase { { 100, 110, 90 }, std::nullopt }, AutoRunsCase { alternating(14), std::nullopt },
        AutoRunsCase { alternating(15), RunsEnd::MaxRuns }));

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
    const MachineInfo machine { "Some CPU", 2, "Linux 6.1.0 x86_64", "GCC 12.2.0" };

    // Through text, as a script reads it.
    const auto two = nlohmann::json::parse(runsJson({ first, second }, RunsEnd::MaxRuns, machine).dump());
    EXPECT_EQ(two.at("version"), VANTREL_VERSION);
    ASSERT_EQ(two.at("runs").size(), 2u);
    const auto& test = two.at("runs")[0].at("tests")[0];
    EXPECT_EQ(test.at("name"), "Matrix Addition");
    EXPECT_EQ(test.at("steps"), 242);
    EXPECT_EQ(test.at("seconds"), 1.25);
    EXPECT_EQ(two.at("runs")[0].at("tests").size(), std::size_t(kTestCount));
    EXPECT_EQ(two.at("runs")[1].at("count"), 381);
    EXPECT_EQ(two.at("scores"), nlohmann::json({ 1, 2 }));
    EXPECT_EQ(two.at("median_score"), 1.5);
    EXPECT_NEAR(two.at("score_cv_percent").get<double>(), 100.0 / 3, 1e-9);
    EXPECT_EQ(two.at("ended_by"), "max_15_runs");
    EXPECT_EQ(two.at("score").dump(), "1.5");
    EXPECT_EQ(two.at("machine"),
        nlohmann::json({ { "processor", "Some CPU" }, { "logical_cores", 2 },
            { "kernel", "Linux 6.1.0 x86_64" }, { "compiler", "GCC 12.2.0" } }));

    const auto one = runsJson({ first }, std::nullopt, machine);
    EXPECT_EQ(one.begin().key(), "version");
    EXPECT_FALSE(one.contains("scores"));
    EXPECT_EQ(one.at("score").dump(), "1"); // whole scores without a ".0"
}

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

// Runs the program through the shell; arguments as the shell reads them.
Output runBench(const std::string& arguments)
{
    Output out;
    test::TempDir dir;
    FILE* pipe = popen(
        (std::string(VANTREL_BENCH_PROGRAM) + " " + arguments + " 2>" + dir.file("errors")).c_str(), "r");
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
        "--fast", "--runs 2 --runs 3", "--name me", "--submit --web"));

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
        SubmitCheckCase { "--name N --os 'Win 7' --processor P", "You must specify your OS." },
        SubmitCheckCase {
            "--name N --os 'Win XP' --processor ''", "You must give your processor's description." }));

std::string hostFlags(const ResultsHost& host)
{
    return " --web " + host.web + " --ftp " + host.ftp;
}

// One run for both: the text lines, then a submission that cannot reach its host.
TEST(BenchProgram, OneRunPrintsEveryLineAndAnUnreachableHostFailsWithTheCause)
{
    test::ResultsHostProcess gone;
    gone.stop();
    const Output out = runBench("--submit --name N --os 'Win XP' --processor P" + hostFlags(gone.host()));
    EXPECT_EQ(out.status, 1);
    EXPECT_NE(out.errors.find("not submitted: "), std::string::npos) << out.errors;
    EXPECT_NE(out.errors.find("could not be reached"), std::string::npos) << out.errors;

    const auto lines = parseLines(out.text);
    ASSERT_EQ(lines.size(), 2u * kTestCount + 2);
    std::uint64_t sum = 0;
    for (int test = 1; test <= kTestCount; ++test) {
        const auto& steps = lines[static_cast<std::size_t>(2 * (test - 1))];
        const auto& seconds = lines[static_cast<std::size_t>(2 * (test - 1) + 1)];
        EXPECT_EQ(steps.first, testKey(test) + "_steps");
        EXPECT_EQ(seconds.first, testKey(test) + "_seconds");
        sum += std::stoull(steps.second);
        EXPECT_GT(std::stod(seconds.second), 0.5) << seconds.first;
    }
    EXPECT_EQ(lines[12].first, "count");
    EXPECT_EQ(std::stoull(lines[12].second), sum);
    EXPECT_EQ(lines[13].first, "score");
    EXPECT_EQ(std::stoull(lines[13].second), sum / 256);
}

TEST(BenchProgram, SubmitsItsScoreToTheHostAndSaysSoInJson)
{
    test::ResultsHostProcess host;
    const Output out
        = runBench("--json --submit --name 'Zoë' --email z@example.org --os 'Win 2K' --processor 'Two cores'"
            + hostFlags(host.host()));
    ASSERT_EQ(out.status, 0) << out.errors;
    const auto json = nlohmann::json::parse(out.text);
    EXPECT_EQ(json.at("runs").size(), 1u);
    const double score = json.at("score").get<double>();
    EXPECT_EQ(json.at("submitted").at("score").get<double>(), score);
    EXPECT_EQ(json.at("submitted").at("name"), "Zoë");
    EXPECT_FALSE(json.at("machine").at("kernel").get<std::string>().empty());
    EXPECT_NE(out.errors.find("uploading"), std::string::npos) << out.errors;

    const auto records = DecodeResultRecords(test::readFile(host.sharedFile()));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], (ResultRecord { "Zoë", "z@example.org", "Win 2K", "Two cores", score }));
}

} // namespace
} // namespace vantrel
