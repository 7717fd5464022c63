#include "core/benchmark/bench_json.h"

#include "build_config.h"

#include <cmath>
#include <cstdint>

namespace vantrel {

// Runs give whole scores, but the median of an even count may not be whole.
nlohmann::ordered_json jsonNumber(double value)
{
    if (std::floor(value) == value && std::fabs(value) < 9e15)
        return static_cast<std::int64_t>(value);
    return value;
}

namespace {

// Percent with one decimal, as the figures are only good to about that.
double percent(double share)
{
    return std::round(share * 1000) / 10;
}

nlohmann::ordered_json runJson(const MeasuredRun& run)
{
    nlohmann::ordered_json tests = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < kTestNames.size(); ++i) {
        const TestDisturbance& figures = run.result.disturbance[i];
        nlohmann::ordered_json test
            = { { "name", kTestNames[i] }, { "steps", run.result.steps[i] }, { "seconds", run.seconds[i] } };
        test["processor_percent"] = percent(figures.processorShare());
        test["steal_percent"] = percent(figures.measured() ? figures.stealSeconds / figures.wallSeconds : 0);
        test["involuntary_switches"] = figures.involuntarySwitches;
        test["cores"] = figures.cores;
        test["disturbed"] = figures.disturbed();
        tests.push_back(test);
    }
    return { { "tests", tests }, { "count", run.result.count }, { "score", jsonNumber(run.result.score) },
        { "disturbed", run.result.disturbed() } };
}

} // namespace

nlohmann::ordered_json runsJson(
    const std::vector<MeasuredRun>& runs, std::optional<RunsEnd> end, const MachineInfo& machine)
{
    nlohmann::ordered_json out;
    out["version"] = VANTREL_VERSION;
    out["runs"] = nlohmann::ordered_json::array();
    for (const MeasuredRun& run : runs)
        out["runs"].push_back(runJson(run));
    const RunsSummary summary = summarizeRuns(runs);
    if (runs.size() > 1) {
        out["scores"] = nlohmann::ordered_json::array();
        for (const MeasuredRun& run : runs)
            out["scores"].push_back(jsonNumber(run.result.score));
        out["disturbed_runs"] = summary.setAside;
        out["median_score"] = jsonNumber(summary.median);
        out["score_cv_percent"] = summary.cv * 100;
        if (end)
            out["ended_by"] = runsEndName(*end);
    }
    out["score"] = jsonNumber(summary.median);
    out["disturbed"] = summary.disturbed;
    out["machine"] = { { "processor", machine.processor }, { "logical_cores", machine.logicalCores },
        { "kernel", machine.kernel }, { "compiler", machine.compiler } };
    return out;
}

} // namespace vantrel
