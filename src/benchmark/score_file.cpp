#include "benchmark/score_file.h"

#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

namespace vantrel {

namespace {

constexpr std::size_t kScoreBytes = 8;

// The file holds little-endian bytes whatever the host's byte order.
std::array<unsigned char, kScoreBytes> encodeScore(double score)
{
    const auto bits = std::bit_cast<std::uint64_t>(score);
    std::array<unsigned char, kScoreBytes> bytes {};
    for (std::size_t i = 0; i < kScoreBytes; ++i)
        bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    return bytes;
}

double decodeScore(const std::array<unsigned char, kScoreBytes>& bytes)
{
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < kScoreBytes; ++i)
        bits |= std::uint64_t { bytes[i] } << (8 * i);
    return std::bit_cast<double>(bits);
}

// Reads exactly bytes.size() bytes at offset 0; false on a short file or an error.
bool readAtStart(int fd, std::array<unsigned char, kScoreBytes>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool writeAtStart(int fd, const std::array<unsigned char, kScoreBytes>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

std::string charsToString(char* first, std::to_chars_result result)
{
    if (result.ec != std::errc {})
        return "0";
    return std::string(first, result.ptr);
}

} // namespace

double LoadScore(const std::string& path)
{
    // Opening for writing creates a missing file; a read-only file is still read.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::array<unsigned char, kScoreBytes> bytes {};
    const bool complete = readAtStart(fd, bytes);
    ::close(fd);
    return complete ? decodeScore(bytes) : 0;
}

bool SaveScore(const std::string& path, double score)
{
    // No O_TRUNC: whatever follows the first 8 bytes stays as it is.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool written = writeAtStart(fd, encodeScore(score));
    const bool closed = ::close(fd) == 0;
    return written && closed;
}

std::string FormatGeneralNumber(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "Infinity" : "-Infinity";
    if (value == 0)
        return "0"; // also for -0

    // to_chars, unlike printf, ignores the C locale that the toolkit sets from the environment.
    std::array<char, 64> buffer {};
    char* const first = buffer.data();
    char* const last = first + buffer.size();
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return charsToString(first, std::to_chars(first, last, value, std::chars_format::fixed, 0));

    std::string text
        = charsToString(first, std::to_chars(first, last, value, std::chars_format::general, 15));
    for (char& c : text) {
        if (c == 'e')
            c = 'E';
    }
    return text;
}

std::string ScoreCaption(double score)
{
    return FormatGeneralNumber(score) + " Vantrels";
}

std::string LoadedScoreCaption(double score)
{
    if (score == 0)
        return "Benchmark not run.";
    return ScoreCaption(score);
}

} // namespace vantrel
