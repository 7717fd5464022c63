#include "core/benchmark/score_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
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

bool writeAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool readWhole(const std::string& path, std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bytes.clear();
    char buffer[4096];
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ok = false;
        if (got <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return ok;
}

// Makes the rename itself last through a power cut; a folder that can't be opened is no error.
void syncFolderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
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
    // A file the user made read-only stays as it is, as it would under an in-place write.
    struct stat old { };
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists && (!S_ISREG(old.st_mode) || ::access(path.c_str(), W_OK) != 0))
        return false;

    std::string content;
    if (exists && !readWhole(path, content))
        return false;
    const auto bytes = encodeScore(score);
    content.replace(
        0, std::min(content.size(), kScoreBytes), reinterpret_cast<const char*>(bytes.data()), bytes.size());

    // The new content goes to a file of its own in the same folder and is renamed over
    // the old one, so a full disk or an end half-way leaves the old file whole.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".new" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok
        = writeAll(fd, content) && (!exists || ::fchmod(fd, old.st_mode & 07777) == 0) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    syncFolderOf(path);
    return true;
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
