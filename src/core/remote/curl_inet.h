#pragma once

#include "core/remote/inet_control.h"

#include <chrono>
#include <functional>
#include <memory>

namespace vantrel {

struct FolderCommand;

// The Internet transfer control over libcurl. Execute and OpenURL hand the transfer
// to a worker thread (libcurl blocks while it waits for some FTP replies, which must
// not freeze the window); StillExecuting waits up to a few milliseconds for it to
// end, so a polling loop costs little. One transfer at a time; the object itself is
// used from one thread.
//
// "PUT local remote" uploads to a temporary remote name and renames it over the
// remote name only once the whole file has arrived, so the remote file is always
// the old one or the new one, whole. "GET remote local" likewise fills a temporary
// file beside the local path and renames it into place only when complete.
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

    // The names a "DIR name" command listed, one a line as the server sent them (some
    // servers put the folder's name before each); valid until the next command.
    const std::string& listing() const;

private:
    // escaper: the libcurl handle Execute made for escaping names (CURL*, kept out of this header).
    bool executeFolderCommand(const std::string& url, const FolderCommand& command, void* escaper);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace vantrel
