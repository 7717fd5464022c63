// FTP requests: the Internet transfer control's file commands, and the raw commands, listings,
// stores and appends of the submission's protocol, on a session kept logged on between them.
#include "core/remote/ftp_requests.h"

#include "core/remote/transfer_outcome.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

std::optional<std::string> replyText(const std::vector<std::string>& replies, int code)
{
    const std::string prefix = std::to_string(code) + " ";
    for (auto line = replies.rbegin(); line != replies.rend(); ++line) {
        if (line->rfind(prefix, 0) == 0)
            return line->substr(prefix.size());
    }
    return std::nullopt;
}

namespace curl {

namespace {

using namespace std::chrono_literals;

// Removing a failed upload's temporary remote file is a courtesy; it must not hold
// the caller up for long.
constexpr auto kCleanupConnectTimeout = 5s;
constexpr auto kCleanupOverallTimeout = 10s;
// A listing longer than this is no folder of submitters' names: someone is filling it.
constexpr std::size_t kMaxListingBytes = 256 * 1024;

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

// Percent-encodes each part of a remote path, keeping the "/" between parts.
std::string escapePath(const std::string& path)
{
    std::string result;
    std::size_t start = 0;
    while (true) {
        std::size_t slash = path.find('/', start);
        std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        // libcurl has ignored the handle here since 7.82.
        char* escaped = curl_easy_escape(nullptr, part.c_str(), static_cast<int>(part.size()));
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

// Reads an UploadSource: the file's bytes, then the tail.
size_t readSource(char* buffer, size_t size, size_t count, void* target)
{
    auto* source = static_cast<SourceReader*>(target);
    const size_t room = size * count;
    size_t filled = 0;
    if (source->fileLeft > 0) {
        const size_t want = static_cast<size_t>(std::min<std::uint64_t>(room, source->fileLeft));
        const size_t got = std::fread(buffer, 1, want, source->file.get());
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

size_t writeToDescriptor(char* data, size_t size, size_t count, void* target)
{
    const int fd = *static_cast<int*>(target);
    return writeAll(fd, data, size * count) ? size * count : 0; // 0: libcurl ends with CURLE_WRITE_ERROR
}

// Keeps every FTP reply line, and the last error reply ("500 OOPS: ..."): it names the
// cause better than any guess from libcurl's code.
int noteReplies(CURL*, curl_infotype type, char* data, size_t size, void* target)
{
    if (type != CURLINFO_HEADER_IN)
        return 0;
    auto* transfer = static_cast<Transfer*>(target);
    std::string_view lines(data, size);
    while (!lines.empty()) {
        const std::size_t end = std::min(lines.find('\n'), lines.size());
        std::string_view line = lines.substr(0, end);
        lines.remove_prefix(std::min(end + 1, lines.size()));
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.remove_suffix(1);
        if (transfer->replies.size() < 256)
            transfer->replies.emplace_back(line.substr(0, 300));
        if (line.size() >= 4 && (line[0] == '4' || line[0] == '5')
            && std::isdigit(static_cast<unsigned char>(line[1]))
            && std::isdigit(static_cast<unsigned char>(line[2])) && line[3] == ' ')
            transfer->lastErrorReply.assign(line.substr(0, 300));
    }
    return 0;
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

} // namespace

bool prepareCommand(const std::string& operation, Request& request, TransferOutcome& why)
{
    const std::optional<Command> command = parseCommand(operation);
    if (!command) {
        why = failure(TransferStatus::CommandFailed, "Not a command this control runs: " + operation);
        return false;
    }
    request.remote = command->remote;
    switch (command->verb) {
    case Command::Verb::Put: {
        request.kind = Request::Kind::Store;
        request.source.file.reset(std::fopen(command->local.c_str(), "rb"));
        struct stat info { };
        if (!request.source.file || ::fstat(::fileno(request.source.file.get()), &info) != 0
            || !S_ISREG(info.st_mode)) {
            why = failure(TransferStatus::LocalFileError, systemError("Cannot read", command->local));
            return false;
        }
        request.source.fileLeft = static_cast<std::uint64_t>(info.st_size);
        request.remoteTemporary = temporaryRemoteName(command->remote);
        request.url = request.ftpBase + escapePath(request.remoteTemporary);
        return true;
    }
    case Command::Verb::Get: {
        request.kind = Request::Kind::Get;
        request.downloadTarget = command->local;
        const int fd = createDownloadFile(command->local, request.downloadTemporary);
        if (fd < 0) {
            why = failure(TransferStatus::LocalFileError, systemError("Cannot write", command->local));
            return false;
        }
        request.download.reset(fd);
        request.url = request.ftpBase + escapePath(command->remote);
        return true;
    }
    case Command::Verb::Delete:
        return prepareQuote({ "DELE " + command->remote }, request, why);
    }
    return false;
}

bool prepareQuote(std::vector<std::string> commands, Request& request, TransferOutcome& why)
{
    for (const std::string& command : commands) {
        if (!isSafeRemoteName(command)) {
            why = failure(TransferStatus::CommandFailed, "Not a command this control runs: " + command);
            return false;
        }
    }
    request.kind = Request::Kind::Commands;
    request.url = request.ftpBase;
    request.commands = std::move(commands);
    request.tolerant = true;
    return true;
}

bool prepareList(const std::string& folder, Request& request, TransferOutcome& why)
{
    if (!folder.empty() && !isSafeRemoteName(folder)) {
        why = failure(TransferStatus::CommandFailed, "Not a folder name: " + folder);
        return false;
    }
    request.kind = Request::Kind::List;
    // The trailing "/" makes libcurl list the folder rather than fetch a file.
    request.url = folder.empty() ? request.ftpBase : request.ftpBase + escapePath(folder) + "/";
    return true;
}

bool prepareStore(const std::string& remote, UploadSource source, UploadMode mode, std::uint64_t restAt,
    Request& request, TransferOutcome& why)
{
    if (!isSafeRemoteName(remote) || remote.find(' ') != std::string::npos) {
        why = failure(TransferStatus::CommandFailed, "Not a file name: " + remote);
        return false;
    }
    request.kind = Request::Kind::Store;
    request.url = request.ftpBase + escapePath(remote);
    request.mode = mode;
    request.restAt = restAt;
    if ((source.fd >= 0 || !source.path.empty()) && source.length > 0) {
        if (source.fd >= 0) {
            const int own = ::fcntl(source.fd, F_DUPFD_CLOEXEC, 0);
            request.source.file.reset(own >= 0 ? ::fdopen(own, "rb") : nullptr);
            if (own >= 0 && !request.source.file)
                ::close(own);
        } else {
            request.source.file.reset(std::fopen(source.path.c_str(), "rb"));
        }
        if (request.source.file
            && ::fseeko(request.source.file.get(), static_cast<off_t>(source.offset), SEEK_SET) != 0)
            request.source.file.reset();
        if (!request.source.file) {
            why = failure(TransferStatus::LocalFileError,
                systemError("Cannot read", source.path.empty() ? "the local copy" : source.path));
            return false;
        }
        request.source.fileLeft = source.length;
    }
    request.source.tail = std::move(source.tail);
    return true;
}

void captureReplies(Transfer& transfer)
{
    curl_easy_setopt(transfer.easy, CURLOPT_DEBUGFUNCTION, noteReplies);
    curl_easy_setopt(transfer.easy, CURLOPT_DEBUGDATA, &transfer);
    curl_easy_setopt(transfer.easy, CURLOPT_VERBOSE, 1L);
}

TransferOutcome runStore(Transfer& transfer)
{
    CURL* e = transfer.easy;
    Request& request = transfer.request;
    SList preQuote;
    SList postQuote;
    curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(e, CURLOPT_READFUNCTION, readSource);
    curl_easy_setopt(e, CURLOPT_READDATA, &request.source);
    curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE,
        static_cast<curl_off_t>(request.source.fileLeft + request.source.tail.size()));
    if (!request.remoteTemporary.empty()) {
        // The remote file is always the old one or the new one, whole.
        postQuote.append("RNFR " + request.remoteTemporary);
        postQuote.append("RNTO " + request.remote);
        curl_easy_setopt(e, CURLOPT_POSTQUOTE, postQuote.get());
    } else if (request.mode == UploadMode::Append) {
        curl_easy_setopt(e, CURLOPT_APPEND, 1L);
    } else if (request.restAt > 0) {
        // Sent right before STOR: write from there on, keeping what lies before.
        preQuote.append("REST " + std::to_string(request.restAt));
        curl_easy_setopt(e, CURLOPT_PREQUOTE, preQuote.get());
    }
    const TransferOutcome outcome = perform(transfer);
    request.source.file.reset();
    if (!outcome.ok() && !request.remoteTemporary.empty())
        removeTemporaryRemoteFile(request, transfer.job);
    return outcome;
}

TransferOutcome runGet(Transfer& transfer)
{
    Request& request = transfer.request;
    int fd = request.download.get();
    curl_easy_setopt(transfer.easy, CURLOPT_WRITEFUNCTION, writeToDescriptor);
    curl_easy_setopt(transfer.easy, CURLOPT_WRITEDATA, &fd);
    TransferOutcome outcome = perform(transfer);
    if (!request.download.close() && outcome.ok())
        outcome
            = failure(TransferStatus::LocalFileError, systemError("Cannot write", request.downloadTarget));
    if (outcome.ok() && !transfer.job.cancelled
        && ::rename(request.downloadTemporary.c_str(), request.downloadTarget.c_str()) != 0)
        outcome
            = failure(TransferStatus::LocalFileError, systemError("Cannot write", request.downloadTarget));
    if (!outcome.ok() || transfer.job.cancelled)
        ::unlink(request.downloadTemporary.c_str());
    return outcome;
}

TransferOutcome runCommands(Transfer& transfer)
{
    const Request& request = transfer.request;
    SList quote;
    // "*": libcurl goes on after a refusal instead of dropping the session.
    for (const std::string& command : request.commands)
        quote.append(request.tolerant ? "*" + command : command);
    curl_easy_setopt(transfer.easy, CURLOPT_QUOTE, quote.get());
    curl_easy_setopt(transfer.easy, CURLOPT_NOBODY, 1L);
    const TransferOutcome outcome = perform(transfer);
    if (request.tolerant && outcome.ok())
        return firstRefusal(transfer.replies, request.commands.size());
    return outcome;
}

TransferOutcome runList(Transfer& transfer)
{
    BoundedString bounded { &transfer.body, kMaxListingBytes };
    curl_easy_setopt(transfer.easy, CURLOPT_DIRLISTONLY, 1L);
    curl_easy_setopt(transfer.easy, CURLOPT_WRITEFUNCTION, appendBounded);
    curl_easy_setopt(transfer.easy, CURLOPT_WRITEDATA, &bounded);
    const TransferOutcome outcome = perform(transfer);
    if (bounded.overflowed)
        return failure(TransferStatus::OtherError,
            "The results host's folder listing is longer than " + std::to_string(kMaxListingBytes / 1024)
                + " KiB");
    return outcome;
}

} // namespace curl

} // namespace vantrel
