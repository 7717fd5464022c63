#include "core/submit/local_copy.h"

#include "core/remote/curl_inet.h"
#include "core/remote/transfer_cause.h"
#include "core/submit/ftp_account.h"
#include "core/submit/results_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vantrel {

namespace {

using namespace std::chrono_literals;

// The part of the copy fetched again to prove the host's file continues it.
constexpr std::uint64_t kOverlap = 512;

class Descriptor {
public:
    explicit Descriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

std::string folderOf(const std::string& path)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

// Runs one fetch to its end, keeping the caller's wait alive.
bool runFetch(CurlInet& inet, FetchRequest request, const std::function<void()>& tick,
    const std::function<bool()>& stopped, bool& cancelled)
{
    if (!inet.fetch(std::move(request)))
        return false;
    while (inet.StillExecuting()) {
        if (stopped && stopped()) {
            inet.Cancel();
            cancelled = true;
            return false;
        }
        if (tick)
            tick();
    }
    return inet.outcome().ok();
}

std::string failedBecause(const CurlInet& inet, const std::string& address)
{
    return "the results file could not be downloaded from " + address + " ("
        + describeTransferFailure(inet.outcome()) + ")";
}

// A missing file: status 404, or a host that answers with its error page instead.
bool answersMissing(const FetchResult& fetched)
{
    return fetched.httpStatus == 404 || (fetched.httpStatus == 200 && IsHostErrorPage(fetched.errorBody));
}

LocalCopyUpdate downloadWhole(CurlInet& inet, const std::string& address, const std::string& path,
    const std::function<void()>& tick, const std::function<bool()>& stopped)
{
    LocalCopyUpdate update;
    static std::atomic<unsigned> counter { 0 };
    const std::string part = path + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    Descriptor out(::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (out.get() < 0) {
        update.localError = std::strerror(errno);
        update.cause = "the local copy " + path + " could not be written (" + update.localError + ")";
        return update;
    }
    FetchRequest request { .address = address, .fd = out.get(), .maxBytes = kMaxSharedFileBytes };
    const bool fetched = runFetch(inet, request, tick, stopped, update.cancelled);
    std::error_code ec;
    if (!fetched || update.cancelled) {
        std::filesystem::remove(part, ec);
        if (!update.cancelled && answersMissing(inet.fetched())) {
            std::filesystem::remove(path, ec);
            update.ok = true;
            update.missing = true;
            return update;
        }
        update.cause = update.cancelled ? "the download was cancelled" : failedBecause(inet, address);
        return update;
    }
    if (IsHostErrorPage(readFileRange(part, 0, kHostErrorMarker.size()))) {
        // A host that answers a missing file with its error page and status 200.
        std::filesystem::remove(part, ec);
        std::filesystem::remove(path, ec);
        update.ok = true;
        update.missing = true;
        return update;
    }
    if (std::filesystem::rename(part, path, ec); ec) {
        update.localError = ec.message();
        std::filesystem::remove(part, ec);
        update.cause = "the local copy " + path + " could not be written (" + update.localError + ")";
        return update;
    }
    update.ok = true;
    update.replaced = true;
    update.size = inet.fetched().written;
    return update;
}

} // namespace

std::uint64_t fileSize(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)
        ? static_cast<std::uint64_t>(info.st_size)
        : 0;
}

std::string readFileRange(const std::string& path, std::uint64_t offset, std::size_t count)
{
    Descriptor in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string bytes(count, '\0');
    std::size_t done = 0;
    while (in.get() >= 0 && done < count) {
        const ssize_t n
            = ::pread(in.get(), bytes.data() + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

std::uint64_t wholeRecordsEnd(const std::string& path, std::uint64_t from)
{
    Descriptor in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const std::uint64_t size = fileSize(path);
    std::string block(1 << 20, '\0');
    std::uint64_t blockStart = 0;
    std::size_t blockLength = 0;
    // A length field at offset: the block is moved along as the offsets grow.
    auto lengthAt = [&](std::uint64_t offset, std::int64_t& value) {
        if (offset < blockStart || offset + 4 > blockStart + blockLength) {
            const ssize_t n = ::pread(in.get(), block.data(), block.size(), static_cast<off_t>(offset));
            if (n < 4)
                return false;
            blockStart = offset;
            blockLength = static_cast<std::size_t>(n);
        }
        const auto* b = reinterpret_cast<const unsigned char*>(block.data() + (offset - blockStart));
        value = static_cast<std::int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t(b[3]) << 24));
        return true;
    };
    std::uint64_t pos = from;
    while (in.get() >= 0 && pos < size) {
        std::uint64_t end = pos;
        for (int field = 0; field < 4; ++field) {
            std::int64_t length = 0;
            if (!lengthAt(end, length) || length < 0)
                return pos;
            end += 4 + static_cast<std::uint64_t>(length);
            if (end > size)
                return pos;
        }
        if (end + 8 > size)
            return pos;
        pos = end + 8;
    }
    return pos;
}

LocalCopyUpdate updateLocalCopy(CurlInet& inet, const std::string& webAddress, const std::string& path,
    const std::function<void()>& tick, const std::function<bool()>& stopped)
{
    // One update of the copies in this folder at a time: two would append the same bytes twice.
    Descriptor folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    while (folder.get() >= 0 && ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            break; // a folder that cannot be locked is still worth updating
        if (stopped && stopped())
            return { .cancelled = true, .cause = "the download was cancelled" };
        if (tick)
            tick();
        std::this_thread::sleep_for(10ms);
    }

    const std::string address = webAddress + kSharedFileWebPath;
    const std::uint64_t size = fileSize(path);
    if (size == 0)
        return downloadWhole(inet, address, path, tick, stopped);

    const std::uint64_t from = size > kOverlap ? size - kOverlap : 0;
    Descriptor out(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (out.get() < 0)
        return downloadWhole(inet, address, path, tick, stopped);
    FetchRequest request { .address = address,
        .fd = out.get(),
        .range = true,
        .from = from,
        .expect = readFileRange(path, from, static_cast<std::size_t>(size - from)),
        .maxBytes = kMaxSharedFileBytes - size };
    LocalCopyUpdate update;
    const bool fetched = runFetch(inet, request, tick, stopped, update.cancelled);
    const FetchResult& result = inet.fetched();
    if (update.cancelled) {
        update.cause = "the download was cancelled";
        return update;
    }
    if (fetched && result.expectMatched && (!result.total || *result.total >= size)) {
        update.ok = true;
        update.keptBytes = size;
        update.size = size + result.written;
        return update;
    }
    if (!fetched && result.httpStatus == 206 && result.expectMatched) {
        // Cut off after the check: what arrived still continues the copy, but it is not all.
        update.cause = failedBecause(inet, address);
        return update;
    }
    if (!fetched && result.httpStatus != 416 && result.httpStatus != 200 && result.httpStatus != 206
        && !answersMissing(result)) {
        update.cause = failedBecause(inet, address);
        return update;
    }
    // Shorter than the copy (416), the whole file instead of a part (200), another file (a
    // mismatch), or none at all: only a whole download can tell.
    return downloadWhole(inet, address, path, tick, stopped);
}

} // namespace vantrel
