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

nlohmann::ordered_json runJson(const MeasuredRun& run)
{
    nlohmann::ordered_json tests = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < kTestNames.size(); ++i)
        tests.push_back(
            { { "name", kTestNames[i] }, { "steps", run.result.steps[i] }, { "seconds", run.seconds[i] } });
    return { { "tests", tests }, { "count", run.result.count }, { "score", jsonNumber(run.result.score) } };
}

} // namespace

nlohmann::ordered_json runsJson(
    const std::vector<MeasuredRun>& runs, std::optional<RunsEnd> end, const MachineInfo& machine)
{
    nlohmann::ordered_json out;
    out["version"] = VANTREL_VERSION;
    out["runs"] = nlohmann::ordered_json::array();
    std::vector<double> scores;
    for (const MeasuredRun& run : runs) {
        out["runs"].push_back(runJson(run));
        scores.push_back(run.result.score);
    }
    if (runs.size() > 1) {
        out["scores"] = nlohmann::ordered_json::array();
        for (double score : scores)
            out["scores"].push_back(jsonNumber(score));
        out["median_score"] = jsonNumber(medianOf(scores));
        out["score_cv_percent"] = coefficientOfVariation(scores) * 100;
        if (end)
            out["ended_by"] = runsEndName(*end);
    }
    out["score"] = jsonNumber(medianOf(scores));
    out["machine"] = { { "processor", machine.processor }, { "logical_cores", machine.logicalCores },
        { "kernel", machine.kernel }, { "compiler", machine.compiler } };
    return out;
}

} // namespace vantrel
