#pragma once

#include "core/results/windows1252.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// One submitted result. Texts are UTF-8 in memory and Windows-1252 in the file.
struct ResultRecord {
    std::string name;
    std::string email;
    std::string os;
    std::string processor;
    double score = 0;

    bool operator==(const ResultRecord&) const = default;
};

inline constexpr std::string_view kHostErrorMarker = "<HTML><HEAD><TITLE>";

// Four length-prefixed texts (signed 32-bit little-endian lengths) and a
// little-endian double, no header and no separator. Throws std::length_error
// for a text longer than a length field can hold.
std::string EncodeResultRecord(const ResultRecord& record);

// Every complete record in file order. Stops at a record cut short, a negative
// length or one that reaches past the end; never reads past the data.
std::vector<ResultRecord> DecodeResultRecords(std::string_view bytes);

// Length of the complete record that starts at pos, or 0 when none does there.
std::size_t ResultRecordLength(std::string_view bytes, std::size_t pos = 0);

// True when the bytes are nothing but complete records (an empty file included):
// appending to anything else would bury the new record in what can't be read.
bool IsWholeRecordRun(std::string_view bytes);

// True when the first 19 bytes are the host's error-page marker, byte for byte.
bool IsHostErrorPage(std::string_view bytes);

// Writes record just past the last byte of the file at path (creating it when
// missing) and returns the whole file as it is afterwards; nullopt with *error
// set when the file can't be written or read back.
std::optional<std::string> AppendRecordToFile(
    const std::string& path, const ResultRecord& record, std::string* error = nullptr);

// Windows-1252 conversions (declared in windows1252.h); characters the code page
// can't hold become "?".
std::string Utf8ToWindows1252(std::string_view utf8);
std::string Windows1252ToUtf8(std::string_view bytes);

} // namespace vantrel
