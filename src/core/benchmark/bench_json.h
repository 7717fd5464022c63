#pragma once

#include "core/benchmark/bench_report.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace vantrel {

// The console runner's output as one JSON object, keys in the order written: version,
// every run's tests (name, steps, seconds and what other work took from it), count, score and
// whether it was disturbed; with more than one run every score, how many were set aside as
// disturbed, the median of the others, its coefficient of variation and what ended an
// automatic series; "score" (that median), whether it is of disturbed runs only; the machine.
// A score as a JSON number: whole ones without a ".0", so they read as in the text output.
nlohmann::ordered_json jsonNumber(double value);

nlohmann::ordered_json runsJson(
    const std::vector<MeasuredRun>& runs, std::optional<RunsEnd> end, const MachineInfo& machine);

} // namespace vantrel
