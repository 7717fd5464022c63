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
    if (!bytes.empty())
        std::memcpy(m_bytes.data() + held, bytes.data(), bytes.size());
    m_bytes.resize(held + bytes.size());
    if (indexMore())
        return true;
    m_bytes.resize(held);
    return false;
}

bool ResultsTable::readMore(int fd)
{
    struct stat info { };
    if (::fstat(fd, &info) != 0)
        return false;
    const std::size_t held = m_bytes.size();
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
    const std::ptrdiff_t got = more == 0 ? 0 : readAt(fd, m_bytes.data() + held, more, held);
    if (got < 0)
        return false;
    m_bytes.resize(held + static_cast<std::size_t>(got));
    if (!indexMore()) {
        m_bytes.resize(held);
        errno = ENOMEM;
        return false;
    }
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

bool ResultsTable::indexMore()
{
    const std::string_view bytes(m_bytes.data(), m_bytes.size());
    const std::size_t rows = m_index.size();
    std::size_t pos = indexedBytes();
    // Room for as many records as the new bytes could hold; what is left over goes back below.
    const std::size_t most = (bytes.size() - pos) / kShortestRecord + (rows == 0 ? 1 : 0);
    if (rows + most > m_index.capacity() && !m_index.setCapacity(rows + most))
        return false;
    if (rows == 0)
        m_index.push(0);
    // One pass: each record's length fields lead to the next; a record cut short, a
    // negative length or one past the end stops it (length 0).
    while (const std::size_t length = ResultRecordLength(bytes, pos)) {
        pos += length;
        m_index.push(pos);
    }
    // Shrinking in place moves nothing.
    m_index.setCapacity(m_index.size());
    return true;
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
