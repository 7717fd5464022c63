// The Internet transfer control over libcurl: the caller's side of each request. The
// requests themselves are built and run by http_requests.cpp and ftp_requests.cpp on the
// worker thread (transfer_worker.cpp).
#include "core/remote/curl_inet.h"

#include "core/remote/ftp_requests.h"
#include "core/remote/transfer.h"
#include "core/remote/transfer_outcome.h"

#include <thread>
#include <utility>

namespace vantrel {

using namespace std::chrono_literals;
using curl::failure;
using curl::Job;
using curl::Request;
using curl::Session;

namespace {

bool startsWithScheme(const std::string& address)
{
    return address.find("://") != std::string::npos;
}

} // namespace

struct CurlInet::Private {
    std::function<void()> yield;
    std::shared_ptr<Job> job;
    std::thread worker;
    std::thread abandoned; // a cancelled transfer still winding down
    TransferOutcome outcome;
    std::string body;
    std::vector<std::string> replies;
    FetchResult fetched;
    std::int32_t protocol = kProtocolHttp;
    std::string url;
    std::string userName;
    std::string password;
    std::chrono::milliseconds connectTimeout = 15s;
    std::chrono::milliseconds overallTimeout = 60s;
    long lowSpeedBytes = 0;
    long lowSpeedSeconds = 0;
    Session session; // the connection kept between requests
    std::string sessionKey; // the FTP server and account it is logged on with, or the HTTP address

    // ftp://server/ for the server given to Execute, or else the one set through URL.
    std::string ftpBase(const std::string& server) const
    {
        std::string base = server.empty() ? url : server;
        if (!startsWithScheme(base))
            base = "ftp://" + base;
        while (!base.empty() && base.back() == '/')
            base.pop_back();
        return base + "/";
    }

    bool busy()
    {
        if (!job)
            return false;
        outcome = failure(TransferStatus::Busy, "Another transfer is still running");
        return true;
    }

    void joinAbandoned()
    {
        if (abandoned.joinable())
            abandoned.join();
    }

    void begin(Request request)
    {
        joinAbandoned();
        request.userName = userName;
        request.password = password;
        request.connectTimeout = connectTimeout;
        request.overallTimeout = overallTimeout;
        request.lowSpeedBytes = lowSpeedBytes;
        request.lowSpeedSeconds = lowSpeedSeconds;
        if (request.onSession()) {
            // FTP: the same server and account keep their logon; HTTP: the same address its connection.
            const std::string key
                = request.ftp() ? request.ftpBase + "\n" + userName + "\n" + password : request.url;
            if (key == sessionKey)
                request.session = std::move(session);
            session = {};
            sessionKey = key;
        }
        outcome = {};
        body.clear();
        replies.clear();
        fetched = {};
        job = std::make_shared<Job>();
        worker = std::thread([request = std::move(request), job = job]() mutable {
            curl::runTransfer(std::move(request), *job);
        });
    }

    // Waits up to a few milliseconds for the transfer; true once it has ended.
    bool poll()
    {
        {
            std::unique_lock lock(job->mutex);
            if (!job->finished.wait_for(
                    lock, std::chrono::milliseconds(curl::kPollMilliseconds), [&] { return job->done; }))
                return false;
            outcome = std::move(job->outcome);
            body = std::move(job->body);
            replies = std::move(job->replies);
            fetched = std::move(job->fetched);
            if (job->session)
                session = std::move(job->session);
        }
        worker.join();
        job.reset();
        return true;
    }

    void cancel()
    {
        if (!job)
            return;
        job->cancelled = true;
        joinAbandoned();
        abandoned = std::move(worker);
        job.reset();
        body.clear();
        outcome = failure(TransferStatus::Cancelled, "The transfer was cancelled");
    }

    // Builds an FTP request for the server given (or the one set through URL) and starts it.
    template <typename Prepare> bool start(const std::string& server, Prepare prepare)
    {
        Request request;
        request.ftpBase = ftpBase(server);
        if (!prepare(request))
            return false;
        begin(std::move(request));
        return true;
    }

    bool needFtp()
    {
        if (busy())
            return false;
        if (protocol != kProtocolFtp) {
            outcome = failure(TransferStatus::OtherError, "File commands need the FTP protocol");
            return false;
        }
        return true;
    }
};

CurlInet::CurlInet(std::function<void()> yield)
    : d(std::make_unique<Private>())
{
    curl::initOnce();
    d->yield = std::move(yield);
}

CurlInet::~CurlInet()
{
    d->cancel();
    d->joinAbandoned();
}

std::string CurlInet::OpenURL(const std::string& address, int /*dataType: bytes either way*/)
{
    if (d->busy())
        return {};
    Request request;
    request.kind = Request::Kind::Http;
    request.url = startsWithScheme(address) ? address : "http://" + address;
    d->begin(std::move(request));
    while (StillExecuting()) {
        if (d->yield)
            d->yield();
    }
    return std::move(d->body);
}

bool CurlInet::fetch(FetchRequest fetch)
{
    if (d->busy())
        return false;
    Request request;
    request.kind = Request::Kind::Fetch;
    request.url = startsWithScheme(fetch.address) ? fetch.address : "http://" + fetch.address;
    request.fetch = std::move(fetch);
    d->begin(std::move(request));
    return true;
}

const FetchResult& CurlInet::fetched() const
{
    return d->fetched;
}

bool CurlInet::Execute(const std::string& url, const std::string& operation)
{
    return d->needFtp() && d->start(url, [&](Request& request) {
        return curl::prepareCommand(operation, request, d->outcome);
    });
}

bool CurlInet::quote(std::vector<std::string> commands)
{
    return d->needFtp() && d->start({}, [&](Request& request) {
        return curl::prepareQuote(std::move(commands), request, d->outcome);
    });
}

bool CurlInet::list(const std::string& folder)
{
    return d->needFtp()
        && d->start({}, [&](Request& request) { return curl::prepareList(folder, request, d->outcome); });
}

bool CurlInet::store(const std::string& remote, UploadSource source, UploadMode mode, std::uint64_t restAt)
{
    return d->needFtp() && d->start({}, [&](Request& request) {
        return curl::prepareStore(remote, std::move(source), mode, restAt, request, d->outcome);
    });
}

const std::vector<std::string>& CurlInet::replies() const
{
    return d->replies;
}

const std::string& CurlInet::listing() const
{
    return d->body;
}

bool CurlInet::StillExecuting()
{
    if (!d->job)
        return false;
    return !d->poll();
}

void CurlInet::Cancel()
{
    d->cancel();
}

void CurlInet::disconnect()
{
    if (d->job || !d->session)
        return;
    d->joinAbandoned();
    d->abandoned = std::thread([session = std::move(d->session)]() mutable { session = {}; });
    d->session = {};
    d->sessionKey.clear();
}

void CurlInet::setProtocol(std::int32_t protocol)
{
    d->protocol = protocol;
}

void CurlInet::setURL(const std::string& url)
{
    d->url = url;
}

void CurlInet::setUserName(const std::string& userName)
{
    d->userName = userName;
}

void CurlInet::setPassword(const std::string& password)
{
    d->password = password;
}

std::int32_t CurlInet::Protocol() const
{
    return d->protocol;
}

std::string CurlInet::URL() const
{
    return d->url;
}

std::string CurlInet::UserName() const
{
    return d->userName;
}

std::string CurlInet::Password() const
{
    return d->password;
}

const TransferOutcome& CurlInet::outcome() const
{
    return d->outcome;
}

void CurlInet::setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds overall)
{
    d->connectTimeout = connect;
    d->overallTimeout = overall;
}

void CurlInet::setLowSpeedLimit(long bytesPerSecond, std::chrono::seconds time)
{
    d->lowSpeedBytes = bytesPerSecond;
    d->lowSpeedSeconds = static_cast<long>(time.count());
}

} // namespace vantrel
