#include "core/results/results_file.h"

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace vantrel {

namespace {

constexpr std::size_t kLengthSize = 4;
constexpr std::size_t kScoreSize = 8;
constexpr int kTextFields = 4;

void appendLittleEndian(std::string& out, std::uint64_t value, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t readLittleEndian(const char* data, std::size_t width)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value |= std::uint64_t(static_cast<unsigned char>(data[i])) << (8 * i);
    return value;
}

void appendText(std::string& out, const std::string& windows1252)
{
    if (windows1252.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw std::length_error("result record text too long");
    appendLittleEndian(out, windows1252.size(), kLengthSize);
    out += windows1252;
}

// The raw fields of one record, still Windows-1252 bytes.
struct RawRecord {
    std::string_view texts[kTextFields];
    double score = 0;
};

// Reads the record that starts at pos and moves pos past it. False when the
// record is cut short or a length is negative or reaches past the end; the
// lengths are checked against what remains before anything is taken.
bool readRecord(std::string_view bytes, std::size_t& pos, RawRecord& record)
{
    std::size_t at = pos;
    for (std::string_view& text : record.texts) {
        if (bytes.size() - at < kLengthSize)
            return false;
        const auto length = static_cast<std::int32_t>(readLittleEndian(bytes.data() + at, kLengthSize));
        at += kLengthSize;
        if (length < 0 || static_cast<std::size_t>(length) > bytes.size() - at)
            return false;
        text = bytes.substr(at, static_cast<std::size_t>(length));
        at += static_cast<std::size_t>(length);
    }
    if (bytes.size() - at < kScoreSize)
        return false;
    record.score = std::bit_cast<double>(readLittleEndian(bytes.data() + at, kScoreSize));
    pos = at + kScoreSize;
    return true;
}

std::string errnoText(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

} // namespace

std::string EncodeResultRecord(const ResultRecord& record)
{
    const std::string texts[kTextFields] = { Utf8ToWindows1252(record.name), Utf8ToWindows1252(record.email),
        Utf8ToWindows1252(record.os), Utf8ToWindows1252(record.processor) };
    std::string out;
    out.reserve(kTextFields * kLengthSize + kScoreSize + texts[0].size() + texts[1].size() + texts[2].size()
        + texts[3].size());
    for (const std::string& text : texts)
        appendText(out, text);
    appendLittleEndian(out, std::bit_cast<std::uint64_t>(record.score), kScoreSize);
    return out;
}

std::vector<ResultRecord> DecodeResultRecords(std::string_view bytes)
{
    // A first pass over the length fields alone gives the exact count, so the
    // list is allocated once and never larger than the records present.
    std::size_t count = 0;
    RawRecord raw;
    for (std::size_t pos = 0; pos < bytes.size() && readRecord(bytes, pos, raw);)
        ++count;

    std::vector<ResultRecord> records(count);
    std::size_t pos = 0;
    for (ResultRecord& record : records) {
        readRecord(bytes, pos, raw);
        appendWindows1252AsUtf8(record.name, raw.texts[0]);
        appendWindows1252AsUtf8(record.email, raw.texts[1]);
        appendWindows1252AsUtf8(record.os, raw.texts[2]);
        appendWindows1252AsUtf8(record.processor, raw.texts[3]);
        record.score = raw.score;
    }
    return records;
}

std::size_t ResultRecordLength(std::string_view bytes, std::size_t pos)
{
    // Only the length fields are read: this runs once per record over files of millions.
    if (pos > bytes.size())
        return 0;
    std::size_t at = pos;
    for (int field = 0; field < 4; ++field) {
        if (bytes.size() - at < 4)
            return 0;
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + at);
        const auto length = static_cast<std::int32_t>(std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8
            | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24);
        at += 4;
        if (length < 0 || static_cast<std::size_t>(length) > bytes.size() - at)
            return 0;
        at += static_cast<std::size_t>(length);
    }
    return bytes.size() - at < 8 ? 0 : at + 8 - pos;
}

bool IsWholeRecordRun(std::string_view bytes)
{
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t length = ResultRecordLength(bytes, pos);
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

bool IsHostErrorPage(std::string_view bytes)
{
    return bytes.starts_with(kHostErrorMarker);
}

std::optional<std::string> AppendRecordToFile(
    const std::string& path, const ResultRecord& record, std::string* error)
{
    const auto fail = [error](std::string text) -> std::optional<std::string> {
        if (error)
            *error = std::move(text);
        return std::nullopt;
    };

    const std::string bytes = EncodeResultRecord(record);
    {
        // Append mode creates a missing file and always writes past its last byte.
        FilePtr file(std::fopen(path.c_str(), "ab"));
        if (!file)
            return fail(errnoText("Can't open", path));
        if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
            return fail(errnoText("Can't write", path));
        if (std::fclose(file.release()) != 0)
            return fail(errnoText("Can't write", path));
    }

    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return fail(errnoText("Can't open", path));
    std::string contents;
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        contents.append(buffer, got);
    if (std::ferror(file.get()))
        return fail(errnoText("Can't read", path));
    return contents;
}

} // namespace vantrel
