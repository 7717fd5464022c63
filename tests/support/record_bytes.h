#pragma once

#include "core/results/results_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::test {

// The records one after another, as the shared results file holds them.
inline std::string encodeRecords(const std::vector<ResultRecord>& records)
{
    std::string bytes;
    for (const ResultRecord& record : records)
        bytes += EncodeResultRecord(record);
    return bytes;
}

// A length field: four bytes, least significant first.
inline std::string int32Le(std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    return { static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF),
        static_cast<char>((u >> 16) & 0xFF), static_cast<char>(u >> 24) };
}

} // namespace vantrel::test
