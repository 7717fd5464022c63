// Any bytes as the local copy the comparison list reads: the table holds the
// records the shared decoder finds, each one as that decoder gives it, each row
// reading exactly its own record's bytes, and read in two parts (the copy grew
// between two refreshes) it holds the same rows. A row's "Score" text, read back the way the
// graph reads it, is the row's score (to the 15 digits shown), and the bars
// drawn from it stay inside their full width.
#include "core/benchmark/score_file.h"
#include "core/compare/comparison_graph.h"
#include "core/compare/results_table.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// The number the graph compares for a row: the list cell's text read back.
double shownScore(double score)
{
    return vantrel::LeadingNumber(vantrel::FormatGeneralNumber(score));
}

bool closeEnough(double shown, double score)
{
    if (!std::isfinite(score))
        return shown == 0; // "NaN" and "Infinity" read as no number
    if (std::isinf(shown))
        return std::fabs(score) >= 1.7976931348623e308; // rounded up past the largest double
    return std::fabs(shown - score) <= 1e-14 * std::fabs(score) + 1e-322;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    vantrel::ResultsTable table(bytes);
    const auto decoded = vantrel::DecodeResultRecords(bytes);
    if (table.size() != decoded.size() || table.byteCount() != size)
        std::abort();
    std::size_t at = 0;
    for (std::size_t row = 0; row < table.size(); ++row) {
        const std::size_t length = vantrel::ResultRecordLength(bytes, at);
        if (length == 0 || table.recordBytes(row) != bytes.substr(at, length))
            std::abort();
        at += length;
    }
    if (at != table.indexedBytes() || !table.recordBytes(table.size()).empty())
        std::abort();

    const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
    vantrel::ResultsTable parts(bytes.substr(0, split));
    if (!parts.append(bytes.substr(split)) || parts.size() != table.size())
        std::abort();
    for (std::size_t row = 0; row < table.size(); ++row) {
        if (parts.recordBytes(row) != table.recordBytes(row))
            std::abort();
    }

    constexpr std::int32_t kFullWidth = 4000;
    const double own = decoded.empty() ? 0 : shownScore(decoded.front().score);
    for (std::size_t row = 0; row < table.size(); ++row) {
        const vantrel::ResultRecord record = table.record(row);
        // Compared as bytes: a NaN score is never equal to itself.
        if (vantrel::EncodeResultRecord(record) != vantrel::EncodeResultRecord(decoded[row]))
            std::abort();
        const double shown = shownScore(record.score);
        if (!closeEnough(shown, record.score))
            std::abort();
        const vantrel::BarWidths bars = vantrel::ComparisonBarWidths(own, shown, kFullWidth, {});
        if (!(bars.yours >= 0 && bars.yours <= kFullWidth && bars.selected >= 0
                && bars.selected <= kFullWidth))
            std::abort();
    }

    table.release();
    if (!table.empty() || table.byteCount() != 0 || table.byteSize() != 0)
        std::abort();
    return 0;
}
