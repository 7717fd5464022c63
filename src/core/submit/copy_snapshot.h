#pragma once

#include "core/remote/curl_inet.h"
#include "core/remote/file_descriptor.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace vantrel {

// A submission's view of the local copy: brought up to date from the host's web side, then
// read only through the descriptor that update left, so that other programs of the user moving
// the shared copy on meanwhile change nothing this submission reads.
class CopySnapshot {
public:
    // A download slower than 1 KiB a second for stallAfter is cut off.
    CopySnapshot(std::string webAddress, std::chrono::seconds stallAfter, std::function<void()> tick,
        std::function<bool()> stopped);

    void setPath(std::string path) { m_path = std::move(path); }
    // Brings the copy up to date; false with cause() when not (empty cause: cancelled). A host's file
    // that ends in something other than records is refused: a record added after it would be lost.
    bool update();
    bool cancelled() const { return m_cancelled; }
    const std::string& cause() const { return m_cause; }

    int fd() const { return m_fd.get(); }
    std::uint64_t size() const { return m_size; }
    // count bytes from offset, as of the last update.
    std::string read(std::uint64_t offset, std::size_t count) const;
    // The copy holds whole records only.
    bool wholeRecords() const;

private:
    CurlInet m_web;
    std::string m_webAddress;
    std::function<void()> m_tick;
    std::function<bool()> m_stopped;
    std::string m_path;
    FileDescriptor m_fd;
    std::uint64_t m_size = 0;
    bool m_cancelled = false;
    std::string m_cause;
};

} // namespace vantrel
