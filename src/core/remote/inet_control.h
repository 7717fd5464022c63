#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

enum class TransferStatus {
    Ok,
    HttpError, // the server answered with an HTTP error status
    CutShort, // fewer bytes arrived than were announced
    LogonRefused, // the FTP server refused the user name or password
    CommandFailed, // an FTP command was refused or failed
    TimedOut,
    Unreachable, // no connection could be made
    LocalFileError, // a local file could not be read or written
    Cancelled,
    Busy, // a transfer was asked for while another one runs
    OtherError,
};

// How the last transfer ended, for the caller to decide what to tell the user.
struct TransferOutcome {
    TransferStatus status = TransferStatus::Ok;
    long httpStatus = 0; // 0 when no HTTP answer arrived
    std::string text; // short, readable cause; empty when Ok
    long ftpReply = 0; // last FTP reply code (550: no such file, 530: not logged in); 0 when none
    std::string serverReply; // the FTP server's last error reply line, as sent; empty when none
    bool ok() const { return status == TransferStatus::Ok; }
};

// No body the control keeps or writes is larger: the shared results file never comes near it.
inline constexpr std::uint64_t kMaxTransferBytes = 512ull << 20;

// What an upload sends: `length` bytes of a local file from `offset` on (none when neither
// path nor fd is given), then `tail`. The file is read as it is sent, so no copy is made in
// memory. An open fd is read in place of path: what it holds cannot be swapped meanwhile.
struct UploadSource {
    std::string path = {};
    int fd = -1;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::string tail = {};
};

enum class UploadMode {
    Store, // STOR: the remote file becomes the bytes sent (at restAt, without cutting it short)
    Append, // APPE: the bytes are added at the remote file's end
};

inline constexpr std::int32_t kProtocolHttp = 4;
inline constexpr std::int32_t kProtocolFtp = 2;
inline constexpr int kByteArray = 1;

// The Internet transfer control the windows and the FTP engine call: an HTTP
// download of a whole body, the file commands "PUT local remote",
// "GET remote local" and "DELETE remote", and the requests the submission's
// protocol needs, on a logged-on account, one at a time, with a busy flag to poll.
class InetControl {
public:
    virtual ~InetControl() = default;

    // Fetches address over HTTP (no scheme means http://) and returns the body's
    // bytes once the transfer has ended; keeps the user interface alive meanwhile.
    // On failure returns what arrived (maybe nothing); outcome() tells why.
    virtual std::string OpenURL(const std::string& address, int dataType = kByteArray) = 0;

    // Starts an FTP command on the server set through URL (an empty url) and returns.
    // Returns false when it could not even start; outcome() tells why.
    virtual bool Execute(const std::string& url, const std::string& operation) = 0;

    // True while a request is in progress. May block briefly to wait for network
    // activity, so that polling it in a loop does not burn a core.
    virtual bool StillExecuting() = 0;

    // Ends the request in progress; it then ends with TransferStatus::Cancelled.
    virtual void Cancel() = 0;

    virtual void setProtocol(std::int32_t protocol) = 0;
    virtual void setURL(const std::string& url) = 0;
    virtual void setUserName(const std::string& userName) = 0;
    virtual void setPassword(const std::string& password) = 0;

    virtual std::int32_t Protocol() const = 0;
    virtual std::string URL() const = 0;
    virtual std::string UserName() const = 0;
    virtual std::string Password() const = 0;

    // Like Execute, these start an FTP request on the server set through URL and return;
    // false when it could not even start (outcome() tells why).
    // Raw commands in order, every one sent even after a refusal; outcome() is the first refusal.
    virtual bool quote(std::vector<std::string> commands) = 0;
    // NLST of a folder ("" for the starting folder).
    virtual bool list(const std::string& folder) = 0;
    // Sends source to remote, directly (no temporary name): STOR at restAt, or APPE.
    virtual bool store(const std::string& remote, UploadSource source, UploadMode mode, std::uint64_t restAt = 0)
        = 0;

    // Outcome of the last request once it has ended.
    virtual const TransferOutcome& outcome() const = 0;
    // Every reply line the server sent during the last FTP request, as sent.
    virtual const std::vector<std::string>& replies() const = 0;
    // The names the last list() listed, one a line as the server sent them (some servers put
    // the folder's name before each).
    virtual const std::string& listing() const = 0;
};

} // namespace vantrel
