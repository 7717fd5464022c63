#include "benchmark/bench_report.h"

#include "benchmark/score_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <numeric>

namespace vantrel {

namespace {

std::string fixed(double value, int decimals)
{
    std::array<char, 64> buffer {};
    const auto result = std::to_chars(
        buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc {})
        return FormatGeneralNumber(value);
    return std::string(buffer.data(), result.ptr);
}

std::string line(const std::string& name, const std::string& value)
{
    return name + ": " + value + "\n";
}

} // namespace

void MeasuringProgress::ClearStatus()
{
    if (m_timing && m_current >= 1 && m_current <= kTestCount)
        m_seconds[m_current - 1] = std::chrono::duration<double>(Clock::now() - m_begin).count();
    m_timing = false;
    m_current = 0;
}

void MeasuringProgress::markCurrent(int test)
{
    m_current = test;
}

void MeasuringProgress::yield()
{
    if (m_current != 0 && !m_timing) {
        m_timing = true;
        m_begin = Clock::now();
    }
}

MeasuredRun measureRun()
{
    MeasuringProgress progress;
    MeasuredRun run;
    run.result = RunBenchmark(progress);
    run.seconds = progress.seconds();
    return run;
}

std::string testKey(int test)
{
    std::string key = kTestNames.at(static_cast<std::size_t>(test - 1));
    for (char& c : key)
        c = c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

std::string formatRun(const MeasuredRun& run)
{
    std::string text;
    for (int test = 1; test <= kTestCount; ++test) {
        const auto i = static_cast<std::size_t>(test - 1);
        text += line(testKey(test) + "_steps", std::to_string(run.result.steps[i]));
        text += line(testKey(test) + "_seconds", fixed(run.seconds[i], 6));
    }
    text += line("count", std::to_string(run.result.count));
    text += line("score", FormatGeneralNumber(run.result.score));
    return text;
}

double medianOf(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    if (values.size() % 2 == 1)
        return values[mid];
    return (values[mid - 1] + values[mid]) / 2;
}

double coefficientOfVariation(const std::vector<double>& values)
{
    if (values.size() < 2)
        return 0;
    const double n = static_cast<double>(values.size());
    const double mean = std::accumulate(values.begin(), values.end(), 0.0) / n;
    if (mean == 0)
        return 0;
    double squares = 0;
    for (double v : values)
        squares += (v - mean) * (v - mean);
    return std::sqrt(squares / n) / mean;
}

std::string formatSummary(const std::vector<double>& scores)
{
    const double median = medianOf(scores);
    std::string text;
    text += line("runs", std::to_string(scores.size()));
    text += line("median_score", FormatGeneralNumber(median));
    text += line("score_cv_percent", fixed(coefficientOfVariation(scores) * 100, 3));
    text += line("score", FormatGeneralNumber(median));
    return text;
}

} // namespace vantrel
