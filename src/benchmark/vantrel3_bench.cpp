// Runs the benchmark without a window and prints what every test counted and how long it took.
#include "benchmark/bench_report.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage = "usage: vantrel3-bench [--runs N]   (N from 1 to 1000)\n";

// Returns the number of runs, or 0 when the arguments make no sense.
int parseRuns(int argc, char** argv)
{
    if (argc == 1)
        return 1;
    if (argc != 3 || std::strcmp(argv[1], "--runs") != 0)
        return 0;
    int runs = 0;
    const char* first = argv[2];
    const char* last = first + std::strlen(first);
    const auto result = std::from_chars(first, last, runs);
    if (result.ec != std::errc {} || result.ptr != last || runs < 1 || runs > 1000)
        return 0;
    return runs;
}

void print(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        print(kUsage);
        return 0;
    }
    const int runs = parseRuns(argc, argv);
    if (runs == 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (runs == 1) {
        print(vantrel::formatRun(vantrel::measureRun()));
        return 0;
    }
    std::vector<double> scores;
    for (int i = 1; i <= runs; ++i) {
        const vantrel::MeasuredRun run = vantrel::measureRun();
        scores.push_back(run.result.score);
        print("run: " + std::to_string(i) + "\n" + vantrel::formatRun(run));
    }
    print(vantrel::formatSummary(scores));
    return 0;
}
