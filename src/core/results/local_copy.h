#pragma once

#include "core/remote/file_descriptor.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vantrel {

class CurlInet;

struct LocalCopyUpdate {
    bool ok = false;
    bool missing = false; // the host holds no shared file yet; the local copy is gone too
    bool replaced = false; // downloaded whole: the copy did not continue into the host's file
    std::uint64_t keptBytes = 0; // bytes of the earlier copy still at its start (0 when replaced)
    std::uint64_t size = 0; // the copy's size afterwards
    bool cancelled = false;
    std::string cause = {}; // why not ok, in a few words
    std::string localError = {}; // when the copy itself could not be written: the system's reason
    // Bytes at the end of the host's file that make no whole record: left out of the copy.
    std::uint64_t leftOut = 0;
    // The copy as this update left it, open for reading (none when missing or not ok). Its
    // first `size` bytes stay as they are whatever other programs do to the copy afterwards:
    // they only append to it, or swap a new one in under its name.
    FileDescriptor copy = {};
};

// Brings the local copy of the shared results file (a prefix of the host's file, since
// that only grows at its end) up to date, moving only what the host added: an HTTP Range
// request from 512 bytes before the copy's end, whose first 512 bytes must match the copy's
// last. Anything else (a restore on the host, another file) downloads the file whole.
// What arrives goes into a file aside and joins the copy (or replaces it, in one rename) only
// once it is known to be whole records, so neither a cut transfer nor a host that sends
// something else damages the copy; of a host's file that ends in something else, only the
// whole records before it are kept, and only where they continue the copy. Copies in the
// same folder are updated one at a time, also between processes (the window and the console).
//
// tick runs while the transfer is under way (a window's events, a heartbeat); stopped is
// asked meanwhile and ends the transfer when it says so.
LocalCopyUpdate updateLocalCopy(CurlInet& inet, const std::string& webAddress, const std::string& path,
    const std::function<void()>& tick = {}, const std::function<bool()>& stopped = {});

// What a refusal of the host's file says: it is no run of whole records.
inline constexpr const char* kDamagedSharedFile
    = "the results file on the host is damaged or is not a results file";

// Where the run of whole records that starts at `from` in the first `size` bytes of the open
// file ends: `size` when it holds nothing else.
std::uint64_t wholeRecordsEnd(int fd, std::uint64_t size, std::uint64_t from = 0);

// count bytes of the open file from offset; shorter when the file is.
std::string readRange(int fd, std::uint64_t offset, std::size_t count);

} // namespace vantrel
