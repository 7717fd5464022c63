#pragma once

#include "core/submit/results_file.h"

#include <cstddef>
#include <string>
#include <vector>

namespace vantrel {

// The records of a downloaded results file, kept as the file's own bytes plus
// where each record starts: a list of 100,000 results then costs little more
// than the file itself. A record's texts are decoded when it is asked for.
class ResultsTable {
public:
    ResultsTable() = default;
    // Every complete record of bytes, in file order; stops where
    // DecodeResultRecords stops (a record cut short, a negative length).
    explicit ResultsTable(std::string bytes);

    std::size_t size() const { return m_starts.size(); }
    bool empty() const { return m_starts.empty(); }

    // Record row (0-based, < size()), texts in UTF-8.
    ResultRecord record(std::size_t row) const;

    // Empties the table and hands back its byte buffer, so that a refresh can
    // read the next file into memory already held.
    std::string releaseBytes();

    // Bytes held, for memory accounting.
    std::size_t byteSize() const { return m_bytes.capacity() + m_starts.capacity() * sizeof(std::size_t); }

private:
    std::string m_bytes;
    // Where each record starts; record i ends where i + 1 starts, the last
    // one at m_end (trailing bytes of a record cut short lie beyond it).
    std::vector<std::size_t> m_starts;
    std::size_t m_end = 0;
};

} // namespace vantrel
