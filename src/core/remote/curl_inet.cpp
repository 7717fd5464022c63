#include "core/remote/curl_inet.h"

#include "build_config.h"
#include "core/remote/file_descriptor.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <fcntl.h>
#include <linux/tcp.h>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vantrel {

namespace {

using namespace std::chrono_literals;

// How long one StillExecuting call may wait for the transfer to end: short enough that
// the interface stays lively, long enough that a polling loop mostly sleeps.
constexpr int kPollMilliseconds = 15;

// Removing a failed upload's temporary remote file is a courtesy; it must not hold
// the caller up for long.
constexpr auto kCleanupConnectTimeout = 5s;
constexpr auto kCleanupOverallTimeout = 10s;

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

// An FTP session: the transfer handle and the multi handle whose connection cache keeps
// the control connection logged on between requests.
struct Session {
    EasyHandle easy;
    MultiHandle multi;
    explicit operator bool() const { return easy && multi; }
};

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

class SList {
public:
    SList() = default;
    SList(const SList&) = delete;
    SList& operator=(const SList&) = delete;
    ~SList() { curl_slist_free_all(m_list); }
    void append(const std::string& line)
    {
        // On failure libcurl returns null and leaves the list as it was.
        if (curl_slist* longer = curl_slist_append(m_list, line.c_str()))
            m_list = longer;
    }
    curl_slist* get() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
};

// Creates a new file beside target for a download to go into and sets path to
// its name. The kernel gives it the mode any new file gets there (0666 less the
// umask, or the folder's default ACL): the process-wide umask is never changed,
// even for a moment, while other threads may be creating files.
int createDownloadFile(const std::string& target, std::string& path)
{
    static std::atomic<unsigned> counter { 0 };
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = target + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

std::string systemError(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

// Some firewalls turn away requests that do not say what sent them.
constexpr const char* kUserAgent = "Vantrel3/" VANTREL_VERSION;

// The one place where libcurl's results become the control's outcomes.
TransferOutcome outcomeOf(CURLcode code, long httpStatus, long ftpReply, const char* errorText)
{
    TransferOutcome outcome;
    outcome.httpStatus = httpStatus;
    outcome.ftpReply = ftpReply;
    const std::string text = errorText && *errorText ? errorText : curl_easy_strerror(code);
    switch (code) {
    case CURLE_OK:
        // After redirects only the file (200) or its absence (404) is an answer; a
        // 300 page from a case-correcting server, say, is neither.
        if (httpStatus != 0 && httpStatus != 200) {
            outcome.status = TransferStatus::HttpError;
            outcome.text = "The server answered with HTTP status " + std::to_string(httpStatus);
        }
        return outcome;
    case CURLE_PARTIAL_FILE:
        outcome.status = TransferStatus::CutShort;
        break;
    case CURLE_LOGIN_DENIED:
        outcome.status = TransferStatus::LogonRefused;
        break;
    case CURLE_UPLOAD_FAILED:
    case CURLE_QUOTE_ERROR:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_REMOTE_FILE_EXISTS:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_FTP_COULDNT_USE_REST:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_PRET_FAILED:
        outcome.status = TransferStatus::CommandFailed;
        break;
    case CURLE_OPERATION_TIMEDOUT:
        outcome.status = TransferStatus::TimedOut;
        break;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        outcome.status = TransferStatus::Unreachable;
        break;
    case CURLE_READ_ERROR:
    case CURLE_WRITE_ERROR:
    case CURLE_FILE_COULDNT_READ_FILE:
        outcome.status = TransferStatus::LocalFileError;
        break;
    case CURLE_ABORTED_BY_CALLBACK:
        outcome.status = TransferStatus::Cancelled;
        break;
    default:
        outcome.status = TransferStatus::OtherError;
        break;
    }
    outcome.text = text;
    return outcome;
}

TransferOutcome failure(TransferStatus status, std::string text)
{
    TransferOutcome outcome;
    outcome.status = status;
    outcome.text = std::move(text);
    return outcome;
}

bool startsWithScheme(const std::string& address)
{
    return address.find("://") != std::string::npos;
}

// Percent-encodes each part of a remote path, keeping the "/" between parts.
std::string escapePath(CURL* easy, const std::string& path)
{
    std::string result;
    std::size_t start = 0;
    while (true) {
        std::size_t slash = path.find('/', start);
        std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        char* escaped = curl_easy_escape(easy, part.c_str(), static_cast<int>(part.size()));
        result += escaped ? escaped : "";
        curl_free(escaped);
        if (slash == std::string::npos)
            return result;
        result += '/';
        start = slash + 1;
    }
}

// A remote name goes into FTP command lines as it stands; line breaks would smuggle in commands.
bool isSafeRemoteName(const std::string& name)
{
    return !name.empty() && name.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

// The temporary remote name an upload is sent to before it is renamed over the real one.
std::string temporaryRemoteName(const std::string& remote)
{
    static std::atomic<unsigned> counter { 0 };
    std::size_t slash = remote.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : remote.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? remote : remote.substr(slash + 1);
    return folder + "." + name + ".part-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

struct Command {
    enum class Verb { Put, Get, Delete } verb;
    std::string local;
    std::string remote;
};

// "PUT local remote": the remote name is the last word, the local path everything before it.
// "GET remote local": the remote name is the first word, the local path everything after it.
// Local paths may hold spaces; remote names may not.
std::optional<Command> parseCommand(const std::string& operation)
{
    std::size_t space = operation.find(' ');
    if (space == std::string::npos)
        return std::nullopt;
    std::string verb = operation.substr(0, space);
    for (char& c : verb)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string rest = operation.substr(space + 1);
    Command command;
    if (verb == "PUT") {
        std::size_t last = rest.rfind(' ');
        if (last == std::string::npos)
            return std::nullopt;
        command = { Command::Verb::Put, rest.substr(0, last), rest.substr(last + 1) };
    } else if (verb == "GET") {
        std::size_t first = rest.find(' ');
        if (first == std::string::npos)
            return std::nullopt;
        command = { Command::Verb::Get, rest.substr(first + 1), rest.substr(0, first) };
    } else if (verb == "DELETE") {
        command = { Command::Verb::Delete, {}, rest };
    } else {
        return std::nullopt;
    }
    if (command.verb != Command::Verb::Delete && command.local.empty())
        return std::nullopt;
    if (!isSafeRemoteName(command.remote) || command.remote.find(' ') != std::string::npos)
        return std::nullopt;
    return command;
}

// A listing longer than this is no folder of submitters' names: someone is filling it.
constexpr std::size_t kMaxListingBytes = 256 * 1024;
// An error page's start is kept to tell "no such file yet" from the file.
constexpr std::size_t kMaxErrorBody = 4096;
constexpr long kMaxRedirects = 5;

std::string sizeText(std::uint64_t bytes)
{
    return bytes >= (1u << 20) ? std::to_string(bytes >> 20) + " MiB" : std::to_string(bytes) + " bytes";
}

// Appends to a string, up to a limit; past it the transfer ends (CURLE_WRITE_ERROR).
struct BoundedString {
    std::string* text;
    std::size_t limit;
    bool overflowed = false;
};

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

size_t writeToDescriptor(char* data, size_t size, size_t count, void* target)
{
    const int fd = *static_cast<int*>(target);
    return writeAll(fd, data, size * count) ? size * count : 0; // 0: libcurl ends with CURLE_WRITE_ERROR
}

// The body of an HTTP fetch: checked against the expected start, then written to the
// file, but only from an answer of the status asked for.
struct FetchSink {
    CURL* easy = nullptr;
    const FetchRequest* request = nullptr;
    FetchResult* result = nullptr;
    std::size_t checked = 0; // bytes of request->expect seen so far
    bool mismatch = false;
};

size_t writeFetched(char* data, size_t size, size_t count, void* target)
{
    auto* sink = static_cast<FetchSink*>(target);
    const size_t n = size * count;
    long status = 0;
    curl_easy_getinfo(sink->easy, CURLINFO_RESPONSE_CODE, &status);
    if (status != (sink->request->range ? 206 : 200)) {
        // Not the bytes asked for: keep the start of it (an error page says "no file yet").
        std::string& kept = sink->result->errorBody;
        kept.append(data, std::min(n, kMaxErrorBody - std::min(kMaxErrorBody, kept.size())));
        return kept.size() < kMaxErrorBody || status / 100 == 3 ? n : 0;
    }
    std::size_t at = 0;
    const std::string& expect = sink->request->expect;
    if (sink->checked < expect.size()) {
        const std::size_t take = std::min(n, expect.size() - sink->checked);
        if (std::memcmp(data, expect.data() + sink->checked, take) != 0) {
            sink->mismatch = true;
            return 0;
        }
        sink->checked += take;
        at = take;
        if (sink->checked == expect.size())
            sink->result->expectMatched = true;
    }
    if (sink->result->written + (n - at) > sink->request->maxBytes) {
        sink->result->tooLarge = true;
        return 0;
    }
    if (!writeAll(sink->request->fd, data + at, n - at))
        return 0;
    sink->result->written += n - at;
    return n;
}

// "Content-Range: bytes 10-99/100" gives the whole file's size.
size_t noteHeader(char* data, size_t size, size_t count, void* target)
{
    auto* result = static_cast<FetchResult*>(target);
    std::string_view line(data, size * count);
    auto starts = [&](std::string_view prefix) {
        if (line.size() < prefix.size())
            return false;
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(line[i])) != prefix[i])
                return false;
        }
        return true;
    };
    if (starts("http/")) {
        *result = {}; // a new answer (after a redirect) starts afresh, but for what was written
    } else if (starts("content-range:")) {
        const std::size_t slash = line.find('/');
        if (slash != std::string_view::npos) {
            std::uint64_t total = 0;
            bool digits = false;
            for (std::size_t i = slash + 1;
                 i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i, digits = true)
                total = total * 10 + static_cast<std::uint64_t>(line[i] - '0');
            if (digits)
                result->total = total;
        }
    }
    return size * count;
}

// Reads an UploadSource: the file's bytes, then the tail.
struct SourceReader {
    FILE* file = nullptr;
    std::uint64_t fileLeft = 0;
    std::string tail;
    std::size_t tailSent = 0;
};

size_t readSource(char* buffer, size_t size, size_t count, void* target)
{
    auto* source = static_cast<SourceReader*>(target);
    const size_t room = size * count;
    size_t filled = 0;
    if (source->fileLeft > 0) {
        const size_t want = static_cast<size_t>(std::min<std::uint64_t>(room, source->fileLeft));
        const size_t got = std::fread(buffer, 1, want, source->file);
        if (got == 0)
            return CURL_READFUNC_ABORT; // the local copy shrank under the upload
        source->fileLeft -= got;
        filled = got;
    }
    if (source->fileLeft == 0 && filled < room) {
        const size_t take = std::min(room - filled, source->tail.size() - source->tailSent);
        std::memcpy(buffer + filled, source->tail.data() + source->tailSent, take);
        source->tailSent += take;
        filled += take;
    }
    return filled;
}

} // namespace

// What the worker needs to carry out one command; everything local that can fail at
// once (opening the file to send, making the temporary download file) is done before.
struct Request {
    enum class Kind { Http, Fetch, Put, Store, Get, Commands, Dir } kind = Kind::Http;
    std::string url;
    std::string ftpBase;
    std::string userName;
    std::string password;
    std::string remote;
    std::string remoteTemporary;
    FileHandle upload;
    curl_off_t uploadSize = 0;
    SourceReader source; // Kind::Store
    UploadMode mode = UploadMode::Store;
    std::uint64_t restAt = 0;
    FileDescriptor download;
    std::string downloadTemporary;
    std::string downloadTarget;
    std::vector<std::string> commands; // Kind::Commands: sent in order
    bool tolerant = false; // Kind::Commands: every one is sent, refusals are read from the replies
    FetchRequest fetch; // Kind::Fetch
    std::chrono::milliseconds connectTimeout {};
    std::chrono::milliseconds overallTimeout {};
    long lowSpeedBytes = 0;
    long lowSpeedSeconds = 0;
    Session session; // FTP: the handles whose connection is kept between requests
};

// Shared by the caller and the worker thread that runs one transfer.
struct Job {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::atomic<bool> cancelled { false };
    TransferOutcome outcome;
    std::string body;
    std::vector<std::string> replies;
    FetchResult fetched;
    Session session; // handed back for the next FTP request
};

namespace {

std::atomic<std::uint64_t> g_wireSent { 0 };
std::atomic<std::uint64_t> g_wireReceived { 0 };

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
    return static_cast<Job*>(job)->cancelled.load() ? 1 : 0;
}

bool isFtp(Request::Kind kind)
{
    return kind != Request::Kind::Http && kind != Request::Kind::Fetch;
}

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
    if (!isFtp(request.kind)) {
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

EasyHandle newEasy(const Request& request, Job& job, char* errorBuffer, std::chrono::milliseconds connect,
    std::chrono::milliseconds overall)
{
    EasyHandle easy(curl_easy_init());
    if (easy)
        prepareEasy(easy.get(), request, job, errorBuffer, connect, overall);
    return easy;
}

struct ReplyLog {
    std::vector<std::string> lines;
    std::string lastError; // the last 4xx or 5xx reply line
};

// Keeps every FTP reply line, and the last error reply ("500 OOPS: ..."): it names the
// cause better than any guess from libcurl's code.
int noteReplies(CURL*, curl_infotype type, char* data, size_t size, void* target)
{
    if (type != CURLINFO_HEADER_IN)
        return 0;
    auto* log = static_cast<ReplyLog*>(target);
    std::string_view lines(data, size);
    while (!lines.empty()) {
        const std::size_t end = std::min(lines.find('\n'), lines.size());
        std::string_view line = lines.substr(0, end);
        lines.remove_prefix(std::min(end + 1, lines.size()));
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.remove_suffix(1);
        if (log->lines.size() < 256)
            log->lines.emplace_back(line.substr(0, 300));
        if (line.size() >= 4 && (line[0] == '4' || line[0] == '5')
            && std::isdigit(static_cast<unsigned char>(line[1]))
            && std::isdigit(static_cast<unsigned char>(line[2])) && line[3] == ' ')
            log->lastError.assign(line.substr(0, 300));
    }
    return 0;
}

void captureReplies(CURL* easy, ReplyLog* log)
{
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, noteReplies);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, log);
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
}

// curl_easy_perform, but waking every few milliseconds: libcurl 7.88 can miss the moment
// an FTP data connection is ready and then sleep until its next timer, a whole second.
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

// The outcome of the last `count` commands, from their replies: the first refusal, if any.
TransferOutcome firstRefusal(const std::vector<std::string>& lines, std::size_t count)
{
    std::vector<const std::string*> finals;
    for (const std::string& line : lines) {
        if (line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0]))
            && std::isdigit(static_cast<unsigned char>(line[1]))
            && std::isdigit(static_cast<unsigned char>(line[2])) && line[3] == ' ')
            finals.push_back(&line);
    }
    TransferOutcome outcome;
    for (std::size_t i = finals.size() - std::min(count, finals.size()); i < finals.size(); ++i) {
        const std::string& line = *finals[i];
        if (line[0] == '4' || line[0] == '5') {
            outcome.status = TransferStatus::CommandFailed;
            outcome.ftpReply = std::stol(line.substr(0, 3));
            outcome.serverReply = line;
            outcome.text = "QUOT command failed with " + line.substr(0, 3);
            break;
        }
    }
    return outcome;
}

TransferOutcome performEasy(CURL* easy, const Request& request, const char* errorBuffer, CURLM* multi)
{
    CURLcode code = performPolled(easy, multi);
    long responseCode = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &responseCode);
    const bool http = !isFtp(request.kind);
    return outcomeOf(code, http ? responseCode : 0, http ? 0 : responseCode, errorBuffer);
}

// scheme://host:port of an address, as libcurl reads it; empty when it cannot.
std::string originOf(const std::string& address)
{
    CURLU* url = curl_url();
    std::string origin;
    if (url && curl_url_set(url, CURLUPART_URL, address.c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        char* host = nullptr;
        char* port = nullptr;
        if (curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK
            && curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK
            && curl_url_get(url, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
            origin = std::string(scheme) + "://" + host + ":" + port;
            for (char& c : origin)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        curl_free(scheme);
        curl_free(host);
        curl_free(port);
    }
    curl_url_cleanup(url);
    return origin;
}

// Follows redirects within the address's own host and port; a redirect anywhere else
// ends the transfer, since a body from another server is not this host's file.
TransferOutcome performHttp(CURL* easy, const Request& request, const char* errorBuffer)
{
    const std::string origin = originOf(request.url);
    std::string url = request.url;
    for (long hop = 0;; ++hop) {
        TransferOutcome outcome = performEasy(easy, request, errorBuffer, nullptr);
        char* next = nullptr;
        if (outcome.httpStatus / 100 != 3 || curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &next) != CURLE_OK
            || !next)
            return outcome;
        if (originOf(next) != origin || hop >= kMaxRedirects)
            return failure(TransferStatus::HttpError,
                hop >= kMaxRedirects ? std::string("Too many redirects")
                                     : "The server sent the request on to " + std::string(next)
                        + ", which is not the results host");
        url = next;
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    }
}

// Best effort: a failed upload's temporary file should not linger on the server.
void removeTemporaryRemoteFile(const Request& request, Job& job)
{
    char errorBuffer[CURL_ERROR_SIZE] = {};
    EasyHandle easy = newEasy(request, job, errorBuffer,
        std::min<std::chrono::milliseconds>(request.connectTimeout, kCleanupConnectTimeout),
        std::min<std::chrono::milliseconds>(request.overallTimeout, kCleanupOverallTimeout));
    if (!easy)
        return;
    // Runs after a cancel too, bounded by its own short time-outs: a cancelled upload
    // must not leave its partial file on the host.
    curl_easy_setopt(easy.get(), CURLOPT_NOPROGRESS, 1L);
    SList quote;
    quote.append("DELE " + request.remoteTemporary);
    curl_easy_setopt(easy.get(), CURLOPT_URL, request.ftpBase.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_QUOTE, quote.get());
    curl_easy_setopt(easy.get(), CURLOPT_NOBODY, 1L);
    performPolled(easy.get(), nullptr);
}

// Runs on the worker thread.
void runTransfer(Request request, Job& job)
{
    char errorBuffer[CURL_ERROR_SIZE] = {};
    TransferOutcome outcome;
    std::string body;
    ReplyLog replies;
    FetchResult fetched;
    EasyHandle easy;
    MultiHandle multi;
    if (isFtp(request.kind) && request.session && request.kind != Request::Kind::Put) {
        easy = std::move(request.session.easy);
        multi = std::move(request.session.multi);
        curl_easy_reset(easy.get());
        prepareEasy(easy.get(), request, job, errorBuffer, request.connectTimeout, request.overallTimeout);
    } else {
        easy = newEasy(request, job, errorBuffer, request.connectTimeout, request.overallTimeout);
        if (isFtp(request.kind) && request.kind != Request::Kind::Put)
            multi.reset(curl_multi_init());
    }
    if (!easy) {
        outcome = failure(TransferStatus::OtherError, "Cannot create a transfer");
    } else {
        CURL* e = easy.get();
        SList quote;
        SList preQuote;
        SList postQuote;
        int downloadFd = request.download.get();
        BoundedString bounded { &body,
            request.kind == Request::Kind::Dir ? kMaxListingBytes : kMaxTransferBytes };
        FetchSink sink { e, &request.fetch, &fetched };
        curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
        switch (request.kind) {
        case Request::Kind::Http:
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, appendBounded);
            curl_easy_setopt(e, CURLOPT_WRITEDATA, &bounded);
            break;
        case Request::Kind::Fetch:
            if (request.fetch.range)
                curl_easy_setopt(e, CURLOPT_RANGE, (std::to_string(request.fetch.from) + "-").c_str());
            // Compressed bodies would make the byte offsets meaningless.
            curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, nullptr);
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, writeFetched);
            curl_easy_setopt(e, CURLOPT_WRITEDATA, &sink);
            curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, noteHeader);
            curl_easy_setopt(e, CURLOPT_HEADERDATA, &fetched);
            break;
        case Request::Kind::Put:
            postQuote.append("RNFR " + request.remoteTemporary);
            postQuote.append("RNTO " + request.remote);
            curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(e, CURLOPT_READDATA, request.upload.get());
            curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, request.uploadSize);
            curl_easy_setopt(e, CURLOPT_POSTQUOTE, postQuote.get());
            break;
        case Request::Kind::Store:
            curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(e, CURLOPT_READFUNCTION, readSource);
            curl_easy_setopt(e, CURLOPT_READDATA, &request.source);
            curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE,
                static_cast<curl_off_t>(request.source.fileLeft + request.source.tail.size()));
            if (request.mode == UploadMode::Append) {
                curl_easy_setopt(e, CURLOPT_APPEND, 1L);
            } else if (request.restAt > 0) {
                // Sent right before STOR: write from there on, keeping what lies before.
                preQuote.append("REST " + std::to_string(request.restAt));
                curl_easy_setopt(e, CURLOPT_PREQUOTE, preQuote.get());
            }
            break;
        case Request::Kind::Get:
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, writeToDescriptor);
            curl_easy_setopt(e, CURLOPT_WRITEDATA, &downloadFd);
            break;
        case Request::Kind::Commands:
            // "*": libcurl goes on after a refusal instead of dropping the session.
            for (const std::string& command : request.commands)
                quote.append(request.tolerant ? "*" + command : command);
            curl_easy_setopt(e, CURLOPT_QUOTE, quote.get());
            curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
            break;
        case Request::Kind::Dir:
            curl_easy_setopt(e, CURLOPT_DIRLISTONLY, 1L);
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, appendBounded);
            curl_easy_setopt(e, CURLOPT_WRITEDATA, &bounded);
            break;
        }
        if (isFtp(request.kind))
            captureReplies(e, &replies);
        outcome = isFtp(request.kind) ? performEasy(e, request, errorBuffer, multi.get())
                                      : performHttp(e, request, errorBuffer);
        if (!outcome.ok())
            outcome.serverReply = replies.lastError;
        if (request.tolerant && outcome.ok())
            outcome = firstRefusal(replies.lines, request.commands.size());
        if (bounded.overflowed)
            outcome = failure(TransferStatus::OtherError,
                request.kind == Request::Kind::Dir
                    ? "The results host's folder listing is longer than "
                        + std::to_string(kMaxListingBytes / 1024) + " KiB"
                    : "The download is larger than " + std::to_string(kMaxTransferBytes >> 20) + " MiB");
        if (request.kind == Request::Kind::Fetch) {
            long status = 0;
            curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
            fetched.httpStatus = status;
            const long wanted = request.fetch.range ? 206 : 200;
            if (status == wanted) {
                if (outcome.status == TransferStatus::HttpError)
                    outcome = {}; // 206 is the answer a Range request asks for
                if (sink.mismatch)
                    outcome = failure(
                        TransferStatus::OtherError, "The host's file does not continue the local copy");
                if (fetched.tooLarge)
                    outcome = failure(TransferStatus::OtherError,
                        "The results file is larger than " + sizeText(request.fetch.maxBytes));
                curl_off_t length = -1;
                if (!fetched.total && status == 200
                    && curl_easy_getinfo(e, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK
                    && length >= 0)
                    fetched.total = static_cast<std::uint64_t>(length);
            } else if (status != 0 && !job.cancelled && outcome.status != TransferStatus::HttpError) {
                // Not the bytes asked for; the transfer was ended as soon as that was plain.
                outcome = failure(TransferStatus::HttpError,
                    "The server answered with HTTP status " + std::to_string(status));
                outcome.httpStatus = status;
            }
        }
    }

    if (request.kind == Request::Kind::Get) {
        if (!request.download.close() && outcome.ok())
            outcome = failure(
                TransferStatus::LocalFileError, systemError("Cannot write", request.downloadTarget));
        if (outcome.ok() && !job.cancelled
            && ::rename(request.downloadTemporary.c_str(), request.downloadTarget.c_str()) != 0)
            outcome = failure(
                TransferStatus::LocalFileError, systemError("Cannot write", request.downloadTarget));
        if (!outcome.ok() || job.cancelled)
            ::unlink(request.downloadTemporary.c_str());
    }
    if (request.kind == Request::Kind::Put && !outcome.ok())
        removeTemporaryRemoteFile(request, job);
    if (request.source.file)
        std::fclose(request.source.file);

    std::lock_guard lock(job.mutex);
    job.outcome = std::move(outcome);
    job.body = std::move(body);
    job.replies = std::move(replies.lines);
    job.fetched = std::move(fetched);
    if (isFtp(request.kind) && request.kind != Request::Kind::Put)
        job.session = Session { std::move(easy), std::move(multi) };
    job.done = true;
    job.finished.notify_all();
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
    Session session; // the FTP session kept between requests
    std::string sessionKey; // server and account it is logged on with

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
        if (isFtp(request.kind)) {
            const std::string key = request.ftpBase + "\n" + userName + "\n" + password;
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
        worker = std::thread(
            [request = std::move(request), job = job]() mutable { runTransfer(std::move(request), *job); });
    }

    // Waits up to a few milliseconds for the transfer; true once it has ended.
    bool poll()
    {
        {
            std::unique_lock lock(job->mutex);
            if (!job->finished.wait_for(
                    lock, std::chrono::milliseconds(kPollMilliseconds), [&] { return job->done; }))
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
    initCurlOnce();
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
    if (!d->needFtp())
        return false;
    // Only for escaping names into the address.
    EasyHandle escaper(curl_easy_init());
    if (!escaper) {
        d->outcome = failure(TransferStatus::OtherError, "Cannot create a transfer");
        return false;
    }
    const std::optional<Command> command = parseCommand(operation);
    if (!command) {
        d->outcome = failure(TransferStatus::CommandFailed, "Not a command this control runs: " + operation);
        return false;
    }

    Request request;
    request.ftpBase = d->ftpBase(url);
    request.remote = command->remote;
    switch (command->verb) {
    case Command::Verb::Put: {
        request.kind = Request::Kind::Put;
        request.upload.reset(std::fopen(command->local.c_str(), "rb"));
        struct stat info { };
        if (!request.upload || ::fstat(::fileno(request.upload.get()), &info) != 0
            || !S_ISREG(info.st_mode)) {
            d->outcome = failure(TransferStatus::LocalFileError, systemError("Cannot read", command->local));
            return false;
        }
        request.uploadSize = info.st_size;
        request.remoteTemporary = temporaryRemoteName(command->remote);
        request.url = request.ftpBase + escapePath(escaper.get(), request.remoteTemporary);
        break;
    }
    case Command::Verb::Get: {
        request.kind = Request::Kind::Get;
        request.downloadTarget = command->local;
        const int fd = createDownloadFile(command->local, request.downloadTemporary);
        if (fd < 0) {
            d->outcome = failure(TransferStatus::LocalFileError, systemError("Cannot write", command->local));
            return false;
        }
        request.download.reset(fd);
        request.url = request.ftpBase + escapePath(escaper.get(), command->remote);
        break;
    }
    case Command::Verb::Delete:
        request.kind = Request::Kind::Commands;
        request.url = request.ftpBase;
        request.commands = { "DELE " + command->remote };
        break;
    }
    d->begin(std::move(request));
    return true;
}

bool CurlInet::quote(std::vector<std::string> commands)
{
    if (!d->needFtp())
        return false;
    for (const std::string& command : commands) {
        if (!isSafeRemoteName(command)) {
            d->outcome
                = failure(TransferStatus::CommandFailed, "Not a command this control runs: " + command);
            return false;
        }
    }
    Request request;
    request.kind = Request::Kind::Commands;
    request.ftpBase = d->ftpBase({});
    request.url = request.ftpBase;
    request.commands = std::move(commands);
    request.tolerant = true;
    d->begin(std::move(request));
    return true;
}

bool CurlInet::list(const std::string& folder)
{
    if (!d->needFtp())
        return false;
    if (!folder.empty() && !isSafeRemoteName(folder)) {
        d->outcome = failure(TransferStatus::CommandFailed, "Not a folder name: " + folder);
        return false;
    }
    EasyHandle escaper(curl_easy_init());
    if (!escaper) {
        d->outcome = failure(TransferStatus::OtherError, "Cannot create a transfer");
        return false;
    }
    Request request;
    request.kind = Request::Kind::Dir;
    request.ftpBase = d->ftpBase({});
    request.url
        = folder.empty() ? request.ftpBase : request.ftpBase + escapePath(escaper.get(), folder) + "/";
    d->begin(std::move(request));
    return true;
}

bool CurlInet::store(const std::string& remote, UploadSource source, UploadMode mode, std::uint64_t restAt)
{
    if (!d->needFtp())
        return false;
    EasyHandle escaper(curl_easy_init());
    if (!isSafeRemoteName(remote) || remote.find(' ') != std::string::npos || !escaper) {
        d->outcome = failure(TransferStatus::CommandFailed, "Not a file name: " + remote);
        return false;
    }
    Request request;
    request.kind = Request::Kind::Store;
    request.ftpBase = d->ftpBase({});
    request.url = request.ftpBase + escapePath(escaper.get(), remote);
    request.mode = mode;
    request.restAt = restAt;
    if ((source.fd >= 0 || !source.path.empty()) && source.length > 0) {
        if (source.fd >= 0) {
            const int own = ::fcntl(source.fd, F_DUPFD_CLOEXEC, 0);
            request.source.file = own >= 0 ? ::fdopen(own, "rb") : nullptr;
            if (own >= 0 && !request.source.file)
                ::close(own);
        } else {
            request.source.file = std::fopen(source.path.c_str(), "rb");
        }
        if (request.source.file
            && ::fseeko(request.source.file, static_cast<off_t>(source.offset), SEEK_SET) != 0) {
            std::fclose(request.source.file);
            request.source.file = nullptr;
        }
        if (!request.source.file) {
            d->outcome = failure(TransferStatus::LocalFileError,
                systemError("Cannot read", source.path.empty() ? "the local copy" : source.path));
            return false;
        }
        request.source.fileLeft = source.length;
    }
    request.source.tail = std::move(source.tail);
    d->begin(std::move(request));
    return true;
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

WireBytes wireBytesSoFar()
{
    return { g_wireSent.load(), g_wireReceived.load() };
}

std::optional<std::string> replyText(const std::vector<std::string>& replies, int code)
{
    const std::string prefix = std::to_string(code) + " ";
    for (auto line = replies.rbegin(); line != replies.rend(); ++line) {
        if (line->rfind(prefix, 0) == 0)
            return line->substr(prefix.size());
    }
    return std::nullopt;
}

} // namespace vantrel
