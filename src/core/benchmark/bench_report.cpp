#include "core/benchmark/bench_report.h"

#include "core/benchmark/score_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <numeric>
#include <sys/utsname.h>
#include <thread>

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

MeasuredRun measureRun(CorePlacement placement)
{
    MeasuringProgress progress;
    MeasuredRun run;
    run.result = RunBenchmark(progress, placement);
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
    text += line("disturbed", run.result.disturbed() ? "yes" : "no");
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

RunsSummary summarizeRuns(const std::vector<MeasuredRun>& runs)
{
    std::vector<double> all;
    std::vector<double> undisturbed;
    for (const MeasuredRun& run : runs) {
        all.push_back(run.result.score);
        if (!run.result.disturbed())
            undisturbed.push_back(run.result.score);
    }
    RunsSummary summary;
    summary.runs = runs.size();
    summary.setAside = all.size() - undisturbed.size();
    summary.disturbed = undisturbed.empty() && !all.empty();
    const std::vector<double>& counted = undisturbed.empty() ? all : undisturbed;
    summary.median = medianOf(counted);
    summary.cv = coefficientOfVariation(counted);
    return summary;
}

std::optional<RunsEnd> autoRunsEnd(const std::vector<MeasuredRun>& runs)
{
    const RunsSummary summary = summarizeRuns(runs);
    const int made = static_cast<int>(summary.runs);
    const int undisturbed = static_cast<int>(summary.runs - summary.setAside);
    if (undisturbed >= kAutoRunsMin && summary.cv <= kAutoRunsCv)
        return RunsEnd::Steady;
    if (undisturbed + (kAutoRunsMax - made) < kAutoRunsMin)
        return RunsEnd::TooBusy;
    if (made >= kAutoRunsMax)
        return RunsEnd::MaxRuns;
    return std::nullopt;
}

std::string runsEndName(RunsEnd end)
{
    switch (end) {
    case RunsEnd::Steady:
        return "cv_at_most_1_percent";
    case RunsEnd::MaxRuns:
        return "max_15_runs";
    case RunsEnd::TooBusy:
        return "too_busy";
    }
    return {};
}

bool scoreTrusted(const RunsSummary& summary, std::optional<RunsEnd> end)
{
    return !summary.disturbed && (!end || *end == RunsEnd::Steady);
}

std::string formatSummary(const std::vector<MeasuredRun>& runs, std::optional<RunsEnd> end)
{
    const RunsSummary summary = summarizeRuns(runs);
    std::string text;
    text += line("runs", std::to_string(summary.runs));
    text += line("disturbed_runs", std::to_string(summary.setAside));
    text += line("median_score", FormatGeneralNumber(summary.median));
    text += line("score_cv_percent", fixed(summary.cv * 100, 3));
    if (end)
        text += line("ended_by", runsEndName(*end));
    text += line("disturbed", summary.disturbed ? "yes" : "no");
    text += line("score", FormatGeneralNumber(summary.median));
    return text;
}

std::string formatDisturbance(const std::vector<MeasuredRun>& runs, std::optional<RunsEnd> end)
{
    std::string text;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        for (const std::string& said : disturbanceLines(runs[i].result))
            text += (runs.size() > 1 ? "run " + std::to_string(i + 1) + ": " : std::string()) + said + "\n";
    }
    const RunsSummary summary = summarizeRuns(runs);
    const std::string of = std::to_string(summary.setAside) + " of " + std::to_string(summary.runs) + " runs";
    if (end == RunsEnd::TooBusy)
        return text + "the machine is too busy to measure: " + of + " were disturbed\n";
    if (end == RunsEnd::MaxRuns)
        return text + "the machine is too busy to measure: after " + std::to_string(summary.runs)
            + " runs the undisturbed scores still vary by " + fixed(summary.cv * 100, 1) + " %\n";
    if (summary.runs > 1 && summary.disturbed)
        return text + "all " + std::to_string(summary.runs)
            + " runs were disturbed: their median is lower than this machine can score\n";
    if (summary.runs > 1 && summary.setAside > 0)
        return text + of + (summary.setAside == 1 ? " was" : " were")
            + " disturbed and left out of the median\n";
    return text;
}

std::string processorModelFrom(std::istream& cpuinfo)
{
    std::string text;
    while (std::getline(cpuinfo, text)) {
        const auto colon = text.find(':');
        if (colon == std::string::npos || text.rfind("model name", 0) != 0)
            continue;
        const auto begin = text.find_first_not_of(" \t", colon + 1);
        return begin == std::string::npos ? std::string() : text.substr(begin);
    }
    return {};
}

MachineInfo describeMachine()
{
    MachineInfo machine;
    std::ifstream cpuinfo("/proc/cpuinfo");
    machine.processor = processorModelFrom(cpuinfo);
    machine.logicalCores = std::thread::hardware_concurrency();
    utsname names {};
    if (uname(&names) == 0)
        machine.kernel = std::string(names.sysname) + " " + names.release + " " + names.machine;
#if defined(__clang__)
    machine.compiler = "clang " __clang_version__;
#elif defined(__GNUC__)
    machine.compiler = "GCC " __VERSION__;
#else
    machine.compiler = "unknown";
#endif
    return machine;
}

} // namespace vantrel
