#include "compare/results_table.h"

#include <cstring>
#include <string_view>

namespace vantrel {

namespace {

constexpr std::size_t kLengthSize = 4;
constexpr std::size_t kScoreSize = 8;

// Length of the record that starts at pos, or 0 when none is complete there.
std::size_t completeRecordLength(std::string_view bytes, std::size_t pos)
{
    const std::size_t start = pos;
    for (int field = 0; field < 4; ++field) {
        if (bytes.size() - pos < kLengthSize)
            return 0;
        unsigned char raw[kLengthSize];
        std::memcpy(raw, bytes.data() + pos, kLengthSize);
        const std::int32_t length = static_cast<std::int32_t>(static_cast<std::uint32_t>(raw[0])
            | static_cast<std::uint32_t>(raw[1]) << 8 | static_cast<std::uint32_t>(raw[2]) << 16
            | static_cast<std::uint32_t>(raw[3]) << 24);
        pos += kLengthSize;
        if (length < 0 || bytes.size() - pos < static_cast<std::size_t>(length))
            return 0;
        pos += static_cast<std::size_t>(length);
    }
    if (bytes.size() - pos < kScoreSize)
        return 0;
    return pos + kScoreSize - start;
}

} // namespace

ResultsTable::ResultsTable(std::string bytes)
    : m_bytes(std::move(bytes))
{
    // Counted first so that the index is one allocation of its final size:
    // growing it would leave freed blocks behind in the heap.
    std::size_t count = 0;
    std::size_t pos = 0;
    while (pos < m_bytes.size()) {
        const std::size_t length = completeRecordLength(m_bytes, pos);
        if (length == 0)
            break;
        ++count;
        pos += length;
    }
    m_end = pos;
    m_starts.reserve(count);
    for (pos = 0; m_starts.size() < count; pos += completeRecordLength(m_bytes, pos))
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
