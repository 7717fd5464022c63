#include "core/compare/results_table.h"

namespace vantrel {

ResultsTable::ResultsTable(std::string bytes)
    : m_bytes(std::move(bytes))
{
    // Counted first so that the index is one allocation of its final size:
    // growing it would leave freed blocks behind in the heap.
    std::size_t count = 0;
    std::size_t pos = 0;
    while (pos < m_bytes.size()) {
        const std::size_t length = ResultRecordLength(m_bytes, pos);
        if (length == 0)
            break;
        ++count;
        pos += length;
    }
    m_end = pos;
    m_starts.reserve(count);
    for (pos = 0; m_starts.size() < count; pos += ResultRecordLength(m_bytes, pos))
        m_starts.push_back(pos);
}

std::string ResultsTable::releaseBytes()
{
    std::string bytes = std::move(m_bytes);
    m_bytes.clear();
    m_starts = {};
    m_end = 0;
    return bytes;
}

ResultRecord ResultsTable::record(std::size_t row) const
{
    const std::size_t begin = m_starts[row];
    const std::size_t end = row + 1 < m_starts.size() ? m_starts[row + 1] : m_end;
    // The shared codec turns the record's bytes into texts, so the list shows
    // exactly what DecodeResultRecords would give.
    auto records = DecodeResultRecords(std::string_view(m_bytes).substr(begin, end - begin));
    return records.empty() ? ResultRecord {} : std::move(records.front());
}

} // namespace vantrel
