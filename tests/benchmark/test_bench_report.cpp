#include "benchmark/bench_report.h"

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
};

Output runBench(const std::string& arguments)
{
    Output out;
    FILE* pipe = popen((std::string(VANTREL_BENCH_PROGRAM) + " " + arguments + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.text.append(buffer, got);
    const int status = pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    testing::Values(
        "--runs", "--runs 0", "--runs -1", "--runs 2x", "--runs 1001", "--fast", "--runs 2 --runs 3"));

TEST(BenchProgram, OneRunPrintsEveryLineAndAConsistentScore)
{
    const Output out = runBench("");
    ASSERT_EQ(out.status, 0);
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

} // namespace
} // namespace vantrel
