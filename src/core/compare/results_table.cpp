#include "core/compare/results_table.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

// Four length fields and the score: no record is shorter.
constexpr std::size_t kShortestRecord = 4 * 4 + 8;
// The part of the held bytes read again to see that the file still continues them.
constexpr std::size_t kOverlap = 512;
// Read a block at a time, small enough to be indexed while still in the cache.
constexpr std::size_t kReadBlock = 1 << 20;
constexpr std::size_t kPrefetchAhead = 1024;

// count bytes at offset into `into`; fewer only at the file's end. -1 on an error.
std::ptrdiff_t readAt(int fd, char* into, std::size_t count, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, into + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::ptrdiff_t>(done);
}

} // namespace

ResultsTable::ResultsTable(std::string_view bytes)
{
    append(bytes);
}

ResultRecord ResultsTable::record(std::size_t row) const
{
    // The shared codec turns the record's bytes into texts, so the list shows exactly
    // what DecodeResultRecords would give; anything but one record there is none.
    auto records = DecodeResultRecords(recordBytes(row));
    return records.size() == 1 ? std::move(records.front()) : ResultRecord {};
}

std::string_view ResultsTable::recordBytes(std::size_t row) const
{
    if (row >= size())
        return {};
    const auto begin = static_cast<std::size_t>(m_index[row]);
    const auto end = static_cast<std::size_t>(m_index[row + 1]);
    return { m_bytes.data() + begin, end - begin };
}

bool ResultsTable::append(std::string_view bytes)
{
    const std::size_t held = m_bytes.size();
    if (held + bytes.size() > m_bytes.capacity() && !m_bytes.setCapacity(held + bytes.size()))
        return false;
    if (!reserveIndex(held + bytes.size()))
        return false;
    if (!bytes.empty())
        std::memcpy(m_bytes.data() + held, bytes.data(), bytes.size());
    m_bytes.resize(held + bytes.size());
    indexWholeRecords();
    m_index.setCapacity(m_index.size());
    return true;
}

bool ResultsTable::readMore(int fd)
{
    struct stat info { };
    if (::fstat(fd, &info) != 0)
        return false;
    const std::size_t held = m_bytes.size();
    const std::size_t entries = m_index.size();
    const auto fileSize = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
    const std::uint64_t more = fileSize > held ? fileSize - held : 0;
    if (more > SIZE_MAX - held) {
        errno = ENOMEM;
        return false;
    }
    if (held + more > m_bytes.capacity()) {
        // Room to grow a little at a time without moving a large block on every refresh;
        // a first read takes the file's size exactly.
        const std::size_t room = held == 0 ? 0 : (held + more) / 64;
        if (!m_bytes.setCapacity(held + more + room) && !m_bytes.setCapacity(held + more)) {
            errno = ENOMEM;
            return false;
        }
    }
    if (!reserveIndex(held + more)) {
        errno = ENOMEM;
        return false;
    }
    // A block at a time, each indexed while it is still in the cache: one pass over memory.
    std::size_t got = 0;
    do {
        const std::ptrdiff_t n = readAt(
            fd, m_bytes.data() + held + got, std::min<std::size_t>(kReadBlock, more - got), held + got);
        if (n < 0) {
            const int error = errno;
            m_bytes.resize(held);
            m_index.resize(entries);
            errno = error;
            return false;
        }
        got += static_cast<std::size_t>(n);
        m_bytes.resize(held + got);
        indexWholeRecords();
        if (n == 0)
            break;
    } while (got < more);
    // Shrinking in place moves nothing.
    m_index.setCapacity(m_index.size());
    if (!m_fromFile || held == 0) {
        m_fromFile = true;
        m_device = static_cast<std::uint64_t>(info.st_dev);
        m_inode = static_cast<std::uint64_t>(info.st_ino);
    }
    return true;
}

bool ResultsTable::continuedBy(int fd) const
{
    struct stat info { };
    if (!m_fromFile || m_bytes.size() == 0 || ::fstat(fd, &info) != 0
        || static_cast<std::uint64_t>(info.st_dev) != m_device
        || static_cast<std::uint64_t>(info.st_ino) != m_inode
        || static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0)) < m_bytes.size())
        return false;
    const std::size_t overlap = std::min(kOverlap, m_bytes.size());
    const std::size_t from = m_bytes.size() - overlap;
    char again[kOverlap];
    return readAt(fd, again, overlap, from) == static_cast<std::ptrdiff_t>(overlap)
        && std::memcmp(again, m_bytes.data() + from, overlap) == 0;
}

bool ResultsTable::reserveIndex(std::size_t byteCount)
{
    // Room for as many records as the bytes not yet indexed could hold; what is left over
    // is handed back once they are.
    const std::size_t entries = m_index.size() == 0 ? 1 : m_index.size();
    const std::size_t most = entries + (byteCount - indexedBytes()) / kShortestRecord;
    return most <= m_index.capacity() || m_index.setCapacity(most);
}

void ResultsTable::indexWholeRecords()
{
    const std::string_view bytes(m_bytes.data(), m_bytes.size());
    if (m_index.size() == 0)
        m_index.push(0);
    std::size_t pos = indexedBytes();
    // Each record's length fields lead to the next; a record cut short, a negative length
    // or one past the end stops it (length 0). The loads depend on each other, so the
    // bytes further on are fetched early.
    while (const std::size_t length = ResultRecordLength(bytes, pos)) {
        __builtin_prefetch(bytes.data() + std::min(pos + kPrefetchAhead, bytes.size() - 1));
        pos += length;
        m_index.push(pos);
    }
}

void ResultsTable::clear()
{
    m_bytes.resize(0);
    m_index.resize(0);
    m_fromFile = false;
    m_device = m_inode = 0;
}

void ResultsTable::release()
{
    m_bytes.release();
    m_index.release();
    m_fromFile = false;
    m_device = m_inode = 0;
}

} // namespace vantrel
