#include "core/submit/copy_snapshot.h"

#include "core/results/local_copy.h"

#include <chrono>

namespace vantrel {

namespace {

using namespace std::chrono_literals;

constexpr auto kConnectTimeout = 10s;
constexpr long kStallBytesPerSecond = 1024;

} // namespace

CopySnapshot::CopySnapshot(std::string webAddress, std::chrono::seconds stallAfter,
    std::function<void()> tick, std::function<bool()> stopped)
    : m_webAddress(std::move(webAddress))
    , m_tick(std::move(tick))
    , m_stopped(std::move(stopped))
{
    m_web.setTimeouts(kConnectTimeout, std::chrono::hours(1));
    m_web.setLowSpeedLimit(kStallBytesPerSecond, stallAfter);
}

bool CopySnapshot::update()
{
    LocalCopyUpdate update = updateLocalCopy(m_web, m_webAddress, m_path, m_tick, m_stopped);
    m_cancelled = update.cancelled;
    if (update.ok && update.leftOut > 0)
        update = { .cause = kDamagedSharedFile };
    if (!update.ok) {
        m_cause = update.cancelled ? std::string() : update.cause + ".";
        return false;
    }
    m_fd = std::move(update.copy);
    m_size = update.size;
    m_cause.clear();
    return true;
}

std::string CopySnapshot::read(std::uint64_t offset, std::size_t count) const
{
    return readRange(m_fd.get(), offset, count);
}

bool CopySnapshot::wholeRecords() const
{
    return wholeRecordsEnd(m_fd.get(), m_size) == m_size;
}

} // namespace vantrel
