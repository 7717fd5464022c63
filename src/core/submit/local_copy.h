#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vantrel {

class CurlInet;

// The shared file is never larger than this; a bigger answer is not the results file.
inline constexpr std::uint64_t kMaxSharedFileBytes = 512ull << 20;

struct LocalCopyUpdate {
    bool ok = false;
    bool missing = false; // the host holds no shared file yet; the local copy is gone too
    bool replaced = false; // downloaded whole: the copy did not continue into the host's file
    std::uint64_t keptBytes = 0; // bytes of the earlier copy still at its start (0 when replaced)
    std::uint64_t size = 0; // the copy's size afterwards
    bool cancelled = false;
    std::string cause = {}; // why not ok, in a few words
    std::string localError = {}; // when the copy itself could not be written: the system's reason
};

// Brings the local copy of the shared results file (a prefix of the host's file, since
// that only grows at its end) up to date, moving only what the host added: an HTTP Range
// request from 512 bytes before the copy's end, whose first 512 bytes must match the copy's
// last. Anything else (a restore on the host, another file) downloads the file whole into
// a new copy, which replaces the old one in one rename. Copies in the same folder are
// updated one at a time, also between processes (the window and the console).
//
// tick runs while the transfer is under way (a window's events, a heartbeat); stopped is
// asked meanwhile and ends the transfer when it says so.
LocalCopyUpdate updateLocalCopy(CurlInet& inet, const std::string& webAddress, const std::string& path,
    const std::function<void()>& tick = {}, const std::function<bool()>& stopped = {});

// Size of the file at path, 0 when there is none.
std::uint64_t fileSize(const std::string& path);

// Where the run of whole records that starts at `from` in the file at path ends: the file's
// size when it holds nothing else. Reads through the file a block at a time, so a large
// file costs no memory.
std::uint64_t wholeRecordsEnd(const std::string& path, std::uint64_t from = 0);

// count bytes of the file at path from offset; shorter when the file is.
std::string readFileRange(const std::string& path, std::uint64_t offset, std::size_t count);

} // namespace vantrel
