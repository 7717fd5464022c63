#pragma once

#include "core/remote/inet_control.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

// An HTTP download into an open file. With `range`, asks for the bytes from `from` on
// (a Range request) and takes only a 206 answer; without, takes only a 200. The body must
// begin with `expect`, which is checked and not written; the rest is written to fd. More
// than maxBytes of body ends the transfer.
struct FetchRequest {
    std::string address = {};
    int fd = -1;
    bool range = false;
    std::uint64_t from = 0;
    std::string expect = {};
    std::uint64_t maxBytes = 0;
};

struct FetchResult {
    long httpStatus = 0;
    // The size of the whole file on the host, from Content-Range (or Content-Length for a 200).
    std::optional<std::uint64_t> total;
    bool expectMatched = false; // the body began with FetchRequest::expect
    bool tooLarge = false;
    std::uint64_t written = 0;
    std::string errorBody; // the start of a body that was not the file (an error page), not written
};

// The Internet transfer control over libcurl. Execute and OpenURL hand the transfer
// to a worker thread (libcurl blocks while it waits for some FTP replies, which must
// not freeze the window); StillExecuting waits up to a few milliseconds for it to
// end, so a polling loop costs little. One transfer at a time; the object itself is
// used from one thread. FTP requests share one session: the control connection stays
// logged on between them.
//
// "PUT local remote" uploads to a temporary remote name and renames it over the
// remote name only once the whole file has arrived, so the remote file is always
// the old one or the new one, whole. "GET remote local" likewise fills a temporary
// file beside the local path and renames it into place only when complete.
//
// HTTP redirects are followed only within the same host and port: a body from any
// other server is not the results host's file.
class CurlInet : public InetControl {
public:
    // yield processes pending user-interface events once; OpenURL runs it while it waits.
    explicit CurlInet(std::function<void()> yield = {});
    ~CurlInet() override;
    CurlInet(const CurlInet&) = delete;
    CurlInet& operator=(const CurlInet&) = delete;

    std::string OpenURL(const std::string& address, int dataType = kByteArray) override;
    bool Execute(const std::string& url, const std::string& operation) override;
    bool StillExecuting() override;
    void Cancel() override;
    // Ends the connection kept between requests (FTP: QUIT) on a thread of its own, so that no one
    // waits for its answer; the next request makes a new one.
    void disconnect();

    void setProtocol(std::int32_t protocol) override;
    void setURL(const std::string& url) override;
    void setUserName(const std::string& userName) override;
    void setPassword(const std::string& password) override;

    std::int32_t Protocol() const override;
    std::string URL() const override;
    std::string UserName() const override;
    std::string Password() const override;

    const TransferOutcome& outcome() const override;

    // Limits for every later transfer: making the connection (the FTP greeting and
    // logon included) and the whole transfer. Defaults 15 s and 60 s.
    void setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds overall);
    // A transfer slower than bytesPerSecond for `time` is ended as timed out; 0 turns it off.
    void setLowSpeedLimit(long bytesPerSecond, std::chrono::seconds time);

    bool quote(std::vector<std::string> commands) override;
    // At most 256 KiB of names.
    bool list(const std::string& folder) override;
    bool store(
        const std::string& remote, UploadSource source, UploadMode mode, std::uint64_t restAt = 0) override;
    const std::vector<std::string>& replies() const override;
    const std::string& listing() const override;

    // Starts an HTTP download into a file (see FetchRequest); poll StillExecuting.
    bool fetch(FetchRequest request);
    const FetchResult& fetched() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Bytes this process has sent and received on every connection the control made (TCP
// payload: commands, headers and data alike), counted as each connection closes. What a
// submission costs on the wire.
struct WireBytes {
    std::uint64_t sent = 0;
    std::uint64_t received = 0;
};
WireBytes wireBytesSoFar();

// The final reply line of code `code` ("213 1234") among replies, without the code; nullopt when none.
std::optional<std::string> replyText(const std::vector<std::string>& replies, int code);

} // namespace vantrel
