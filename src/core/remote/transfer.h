#pragma once

// One transfer as the worker thread carries it out: what the caller asked for, what the
// worker hands back, and the steps every kind of request shares.
#include "core/remote/curl_handles.h"
#include "core/remote/curl_inet.h"
#include "core/remote/file_descriptor.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel::curl {

// How long one StillExecuting call may wait for the transfer to end: short enough that
// the interface stays lively, long enough that a polling loop mostly sleeps.
inline constexpr int kPollMilliseconds = 15;

// Reads an UploadSource: the file's bytes, then the tail.
struct SourceReader {
    FileHandle file;
    std::uint64_t fileLeft = 0;
    std::string tail;
    std::size_t tailSent = 0;
};

// What the worker needs to carry out one request; everything local that can fail at
// once (opening the file to send, making the temporary download file) is done before.
struct Request {
    enum class Kind { Http, Fetch, Store, Get, Commands, List } kind = Kind::Http;
    std::string url;
    std::string ftpBase;
    std::string userName;
    std::string password;
    std::string remote;
    // Store: sent under this name and renamed over remote only once whole ("PUT").
    std::string remoteTemporary;
    SourceReader source; // Store
    UploadMode mode = UploadMode::Store;
    std::uint64_t restAt = 0;
    FileDescriptor download; // Get: the temporary file, renamed over downloadTarget once whole
    std::string downloadTemporary;
    std::string downloadTarget;
    std::vector<std::string> commands; // Commands: sent in order
    bool tolerant = false; // Commands: every one is sent, refusals are read from the replies
    FetchRequest fetch; // Fetch
    std::chrono::milliseconds connectTimeout {};
    std::chrono::milliseconds overallTimeout {};
    long lowSpeedBytes = 0;
    long lowSpeedSeconds = 0;
    Session session; // the handles whose connection is kept between requests

    bool ftp() const { return kind != Kind::Http && kind != Kind::Fetch; }
    // A PUT runs on a connection of its own; every other request on the kept session (FTP: its
    // logon; HTTP: a connection kept alive, so the read-back after a submission costs one round trip).
    bool onSession() const { return remoteTemporary.empty(); }
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
    Session session; // handed back for the next request
};

// One transfer under way on the worker: its handle and what the callbacks fill in.
struct Transfer {
    Request& request;
    Job& job;
    CURL* easy = nullptr;
    CURLM* multi = nullptr; // the FTP session's, or none
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::string body = {};
    std::vector<std::string> replies = {};
    std::string lastErrorReply = {}; // the last 4xx or 5xx reply line
    FetchResult fetched = {};
};

// Appends to a string, up to a limit; past it the transfer ends (CURLE_WRITE_ERROR).
struct BoundedString {
    std::string* text;
    std::size_t limit;
    bool overflowed = false;
};
size_t appendBounded(char* data, size_t size, size_t count, void* target);
// Writes all of data to fd; false when it cannot.
bool writeAll(int fd, const char* data, size_t size);

// A new handle set up for request, with these time-outs.
EasyHandle newEasy(const Request& request, Job& job, char* errorBuffer, std::chrono::milliseconds connect,
    std::chrono::milliseconds overall);
// curl_easy_perform, but waking every few milliseconds (multi: a session's, or null).
CURLcode performPolled(CURL* easy, CURLM* multi);
// Performs the request set up on transfer.easy and reads its outcome.
TransferOutcome perform(Transfer& transfer);

// Runs on the worker thread.
void runTransfer(Request request, Job& job);

} // namespace vantrel::curl
