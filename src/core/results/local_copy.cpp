#include "core/results/local_copy.h"

#include "core/remote/curl_inet.h"
#include "core/remote/transfer_cause.h"
#include "core/submit/ftp_account.h"
#include "core/results/results_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vantrel {

namespace {

using namespace std::chrono_literals;

// The part of the copy fetched again to prove the host's file continues it.
constexpr std::uint64_t kOverlap = 512;

std::string folderOf(const std::string& path)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

std::uint64_t sizeOf(int fd)
{
    struct stat info { };
    return fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)
        ? static_cast<std::uint64_t>(info.st_size)
        : 0;
}

// A new file beside the copy for a download to go into; removed again unless kept.
class Aside {
public:
    explicit Aside(const std::string& copyPath)
    {
        static std::atomic<unsigned> counter { 0 };
        m_path = copyPath + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        m_fd.reset(::open(m_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!m_fd)
            m_error = std::strerror(errno);
    }
    ~Aside()
    {
        if (!m_kept)
            ::unlink(m_path.c_str());
    }
    Aside(const Aside&) = delete;
    Aside& operator=(const Aside&) = delete;

    int fd() const { return m_fd.get(); }
    const std::string& error() const { return m_error; }
    // Puts the file in place of target in one rename; its descriptor then reads the copy.
    bool renameOver(const std::string& target, FileDescriptor& reader)
    {
        if (::rename(m_path.c_str(), target.c_str()) != 0) {
            m_error = std::strerror(errno);
            return false;
        }
        m_kept = true;
        reader = std::move(m_fd);
        return true;
    }

private:
    std::string m_path;
    FileDescriptor m_fd;
    std::string m_error;
    bool m_kept = false;
};

// The folder's lock, held while one update runs: two would append the same bytes twice.
class FolderLock {
public:
    FolderLock(
        const std::string& copyPath, const std::function<void()>& tick, const std::function<bool()>& stopped)
        : m_fd(::open(folderOf(copyPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        while (m_fd && ::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return; // a folder that cannot be locked is still worth updating
            if (stopped && stopped()) {
                m_cancelled = true;
                return;
            }
            if (tick)
                tick();
            std::this_thread::sleep_for(10ms);
        }
    }
    bool cancelled() const { return m_cancelled; }

private:
    FileDescriptor m_fd;
    bool m_cancelled = false;
};

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

LocalCopyUpdate localFailure(const std::string& path, std::string reason)
{
    LocalCopyUpdate update;
    update.cause = "the local copy " + path + " could not be written (" + reason + ")";
    update.localError = std::move(reason);
    return update;
}

// Adds length bytes of from to the end of the file at path; on any failure the file is cut
// back to what it held, so it never ends in part of what was added.
bool appendTo(const std::string& path, int from, std::uint64_t length, std::string& error)
{
    FileDescriptor out(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    const std::uint64_t before = sizeOf(out.get());
    if (!out) {
        error = std::strerror(errno);
        return false;
    }
    std::string block(std::min<std::uint64_t>(length, 1 << 20), '\0');
    for (std::uint64_t done = 0; done < length;) {
        const ssize_t got = ::pread(from, block.data(), std::min<std::uint64_t>(block.size(), length - done),
            static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? std::strerror(errno) : "the download ended early";
            break;
        }
        ssize_t put = 0;
        while (put < got) {
            const ssize_t n = ::write(out.get(), block.data() + put, static_cast<std::size_t>(got - put));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = std::strerror(n < 0 ? errno : ENOSPC);
                break;
            }
            put += n;
        }
        if (put < got)
            break;
        done += static_cast<std::uint64_t>(got);
    }
    if (error.empty())
        return true;
    // Should even this fail, the next update finds the copy's end out of step and downloads whole.
    [[maybe_unused]] const int cut = ::ftruncate(out.get(), static_cast<off_t>(before));
    return false;
}

// Downloads the host's file whole. It replaces the copy when it is whole records; when it
// ends in something else, its whole records do, provided they continue the copy (or the
// copy is no records either): a host that sends something else never costs a good copy
// what it held.
LocalCopyUpdate downloadWhole(CurlInet& inet, const std::string& address, const std::string& path,
    const FileDescriptor& copy, const std::function<void()>& tick, const std::function<bool()>& stopped)
{
    LocalCopyUpdate update;
    Aside part(path);
    if (part.fd() < 0)
        return localFailure(path, part.error());
    FetchRequest request { .address = address, .fd = part.fd(), .maxBytes = kMaxTransferBytes };
    const bool fetched = runFetch(inet, request, tick, stopped, update.cancelled);
    const std::uint64_t size = inet.fetched().written;
    if (!fetched || update.cancelled) {
        if (!update.cancelled && answersMissing(inet.fetched())) {
            std::error_code ec;
            std::filesystem::remove(path, ec);
            update.ok = true;
            update.missing = true;
            return update;
        }
        update.cause = update.cancelled ? "the download was cancelled" : failedBecause(inet, address);
        return update;
    }
    if (IsHostErrorPage(readRange(part.fd(), 0, kHostErrorMarker.size()))) {
        // A host that answers a missing file with its error page and status 200.
        std::error_code ec;
        std::filesystem::remove(path, ec);
        update.ok = true;
        update.missing = true;
        return update;
    }
    const std::uint64_t whole = wholeRecordsEnd(part.fd(), size);
    if (whole < size) {
        const std::uint64_t had = sizeOf(copy.get());
        const std::uint64_t overlap = std::min(had, kOverlap);
        const bool continues = whole >= had
            && readRange(part.fd(), had - overlap, overlap) == readRange(copy.get(), had - overlap, overlap);
        const bool copyIsRecords = wholeRecordsEnd(copy.get(), had) == had;
        if ((copyIsRecords && !continues) || ::ftruncate(part.fd(), static_cast<off_t>(whole)) != 0) {
            update.cause = kDamagedSharedFile;
            return update;
        }
    }
    if (!part.renameOver(path, update.copy))
        return localFailure(path, part.error());
    update.ok = true;
    update.replaced = true;
    update.size = whole;
    update.leftOut = size - whole;
    return update;
}

} // namespace

std::string readRange(int fd, std::uint64_t offset, std::size_t count)
{
    std::string bytes(count, '\0');
    std::size_t done = 0;
    while (fd >= 0 && done < count) {
        const ssize_t n = ::pread(fd, bytes.data() + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

std::uint64_t wholeRecordsEnd(int fd, std::uint64_t size, std::uint64_t from)
{
    if (fd < 0 || from >= size)
        return from;
    // Mapped, so that the one record scanner runs over the file as over bytes in memory.
    const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t start = from / page * page;
    const std::size_t length = static_cast<std::size_t>(size - start);
    void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, static_cast<off_t>(start));
    if (mapped == MAP_FAILED)
        return from;
    const std::string_view bytes(static_cast<const char*>(mapped), length);
    std::size_t pos = static_cast<std::size_t>(from - start);
    while (pos < bytes.size()) {
        const std::size_t record = ResultRecordLength(bytes, pos);
        if (record == 0)
            break;
        pos += record;
    }
    ::munmap(mapped, length);
    return start + pos;
}

LocalCopyUpdate updateLocalCopy(CurlInet& inet, const std::string& webAddress, const std::string& path,
    const std::function<void()>& tick, const std::function<bool()>& stopped)
{
    const FolderLock lock(path, tick, stopped);
    if (lock.cancelled())
        return { .cancelled = true, .cause = "the download was cancelled" };

    const std::string address = webAddress + kSharedFileWebPath;
    FileDescriptor copy(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const std::uint64_t size = sizeOf(copy.get());
    if (size == 0)
        return downloadWhole(inet, address, path, copy, tick, stopped);

    LocalCopyUpdate update;
    Aside part(path);
    if (part.fd() < 0)
        return localFailure(path, part.error());
    const std::uint64_t from = size > kOverlap ? size - kOverlap : 0;
    FetchRequest request { .address = address,
        .fd = part.fd(),
        .range = true,
        .from = from,
        .expect = readRange(copy.get(), from, static_cast<std::size_t>(size - from)),
        .maxBytes = kMaxTransferBytes - size };
    const bool fetched = runFetch(inet, request, tick, stopped, update.cancelled);
    const FetchResult& result = inet.fetched();
    if (update.cancelled) {
        update.cause = "the download was cancelled";
        return update;
    }
    // What the host added must be whole records from the copy's end on: anything else is not
    // a continuation of this copy, whatever its first bytes said.
    if (fetched && result.expectMatched && (!result.total || *result.total >= size)
        && wholeRecordsEnd(part.fd(), result.written) == result.written) {
        std::string error;
        if (result.written > 0 && !appendTo(path, part.fd(), result.written, error))
            return localFailure(path, error);
        update.ok = true;
        update.keptBytes = size;
        update.size = size + result.written;
        update.copy = std::move(copy);
        return update;
    }
    if (!fetched && result.httpStatus == 206 && result.expectMatched) {
        // Cut off after the check: what arrived is left out; the copy stays as it was.
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
    return downloadWhole(inet, address, path, copy, tick, stopped);
}

} // namespace vantrel
