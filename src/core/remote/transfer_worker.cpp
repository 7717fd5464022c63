// The worker thread's part of every transfer: the handle and its settings, waiting for
// libcurl without sleeping through a ready connection, counting the bytes on the wire, and
// handing the result back to the control.
#include "build_config.h"
#include "core/remote/ftp_requests.h"
#include "core/remote/http_requests.h"
#include "core/remote/transfer.h"
#include "core/remote/transfer_outcome.h"

#include <cerrno>
#include <cstddef>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantrel {

namespace {

std::atomic<std::uint64_t> g_wireSent { 0 };
std::atomic<std::uint64_t> g_wireReceived { 0 };

// Some firewalls turn away requests that do not say what sent them.
constexpr const char* kUserAgent = "Vantrel3/" VANTREL_VERSION;

int closeCounted(void*, curl_socket_t socket)
{
    tcp_info info {};
    socklen_t length = sizeof info;
    if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) == 0
        && length >= offsetof(tcp_info, tcpi_bytes_sent) + sizeof info.tcpi_bytes_sent) {
        // Sent, less what was sent twice, plus what still waits to go: a socket closed right
        // after its last write has not had all of it acknowledged yet.
        g_wireSent += info.tcpi_bytes_sent - info.tcpi_bytes_retrans + info.tcpi_notsent_bytes;
        g_wireReceived += info.tcpi_bytes_received;
    }
    return ::close(socket);
}

int abortWhenCancelled(void* job, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<curl::Job*>(job)->cancelled.load() ? 1 : 0;
}

} // namespace

WireBytes wireBytesSoFar()
{
    return { g_wireSent.load(), g_wireReceived.load() };
}

namespace curl {

namespace {

// Sets up handle (new, or an FTP session's, reset but still connected) for request.
void prepareEasy(CURL* e, const Request& request, Job& job, char* errorBuffer,
    std::chrono::milliseconds connect, std::chrono::milliseconds overall)
{
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect.count()));
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(overall.count()));
    if (request.lowSpeedBytes > 0) {
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, request.lowSpeedBytes);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, request.lowSpeedSeconds);
    }
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, closeCounted);
    // libcurl calls this about once a second even while it waits for a reply.
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, abortWhenCancelled);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &job);
    if (!request.ftp()) {
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L); // redirects are judged one by one
        curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent);
    } else {
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp,ftps");
        curl_easy_setopt(e, CURLOPT_USERNAME, request.userName.c_str());
        curl_easy_setopt(e, CURLOPT_PASSWORD, request.password.c_str());
        // Names are relative to the account's starting folder, also in the rename commands.
        curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    }
}

TransferOutcome runKind(Transfer& transfer)
{
    switch (transfer.request.kind) {
    case Request::Kind::Http:
        return runHttp(transfer);
    case Request::Kind::Fetch:
        return runFetch(transfer);
    case Request::Kind::Store:
        return runStore(transfer);
    case Request::Kind::Get:
        return runGet(transfer);
    case Request::Kind::Commands:
        return runCommands(transfer);
    case Request::Kind::List:
        return runList(transfer);
    }
    return failure(TransferStatus::OtherError, "Not a request this control runs");
}

} // namespace

size_t appendBounded(char* data, size_t size, size_t count, void* target)
{
    auto* sink = static_cast<BoundedString*>(target);
    const size_t n = size * count;
    if (sink->text->size() + n > sink->limit) {
        sink->overflowed = true;
        return 0;
    }
    sink->text->append(data, n);
    return n;
}

bool writeAll(int fd, const char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

EasyHandle newEasy(const Request& request, Job& job, char* errorBuffer, std::chrono::milliseconds connect,
    std::chrono::milliseconds overall)
{
    EasyHandle easy(curl_easy_init());
    if (easy)
        prepareEasy(easy.get(), request, job, errorBuffer, connect, overall);
    return easy;
}

// libcurl 7.88 can miss the moment an FTP data connection is ready and then sleep until
// its next timer, a whole second.
CURLcode performPolled(CURL* easy, CURLM* multi)
{
    MultiHandle own;
    if (!multi) {
        own.reset(curl_multi_init());
        multi = own.get();
    }
    if (!multi || curl_multi_add_handle(multi, easy) != CURLM_OK)
        return CURLE_OUT_OF_MEMORY;
    CURLcode result = CURLE_OK;
    int running = 1;
    while (running) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
        if (running && curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
            result = message->data.result;
    }
    curl_multi_remove_handle(multi, easy);
    return result;
}

TransferOutcome perform(Transfer& transfer)
{
    const CURLcode code = performPolled(transfer.easy, transfer.multi);
    long responseCode = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &responseCode);
    const bool ftp = transfer.request.ftp();
    TransferOutcome outcome
        = outcomeOf(code, ftp ? 0 : responseCode, ftp ? responseCode : 0, transfer.errorBuffer);
    if (!outcome.ok())
        outcome.serverReply = transfer.lastErrorReply;
    return outcome;
}

void runTransfer(Request request, Job& job)
{
    Transfer transfer { request, job };
    EasyHandle easy;
    MultiHandle multi;
    if (request.onSession() && request.session) {
        easy = std::move(request.session.easy);
        multi = std::move(request.session.multi);
        curl_easy_reset(easy.get());
        prepareEasy(
            easy.get(), request, job, transfer.errorBuffer, request.connectTimeout, request.overallTimeout);
    } else {
        easy = newEasy(request, job, transfer.errorBuffer, request.connectTimeout, request.overallTimeout);
        if (request.onSession())
            multi.reset(curl_multi_init());
    }
    TransferOutcome outcome;
    if (!easy) {
        outcome = failure(TransferStatus::OtherError, "Cannot create a transfer");
        if (!request.downloadTemporary.empty())
            ::unlink(request.downloadTemporary.c_str());
    } else {
        transfer.easy = easy.get();
        transfer.multi = multi.get();
        curl_easy_setopt(transfer.easy, CURLOPT_URL, request.url.c_str());
        if (request.ftp())
            captureReplies(transfer);
        outcome = runKind(transfer);
    }

    std::lock_guard lock(job.mutex);
    job.outcome = std::move(outcome);
    job.body = std::move(transfer.body);
    job.replies = std::move(transfer.replies);
    job.fetched = std::move(transfer.fetched);
    if (request.onSession())
        job.session = Session { std::move(easy), std::move(multi) };
    job.done = true;
    job.finished.notify_all();
}

} // namespace curl

} // namespace vantrel
