// HTTP requests: the results file whole into memory, or into a file from an offset on, each
// answer checked before a byte of it is kept.
#include "core/remote/http_requests.h"

#include "core/remote/transfer_outcome.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace vantrel::curl {

namespace {

// An error page's start is kept to tell "no such file yet" from the file.
constexpr std::size_t kMaxErrorBody = 4096;
constexpr long kMaxRedirects = 5;

std::string sizeText(std::uint64_t bytes)
{
    return bytes >= (1u << 20) ? std::to_string(bytes >> 20) + " MiB" : std::to_string(bytes) + " bytes";
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
TransferOutcome performHttp(Transfer& transfer)
{
    CURL* easy = transfer.easy;
    const std::string origin = originOf(transfer.request.url);
    std::string url = transfer.request.url;
    for (long hop = 0;; ++hop) {
        TransferOutcome outcome = perform(transfer);
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

} // namespace

TransferOutcome runHttp(Transfer& transfer)
{
    BoundedString bounded { &transfer.body, kMaxTransferBytes };
    curl_easy_setopt(transfer.easy, CURLOPT_WRITEFUNCTION, appendBounded);
    curl_easy_setopt(transfer.easy, CURLOPT_WRITEDATA, &bounded);
    const TransferOutcome outcome = performHttp(transfer);
    if (bounded.overflowed)
        return failure(TransferStatus::OtherError,
            "The download is larger than " + std::to_string(kMaxTransferBytes >> 20) + " MiB");
    return outcome;
}

TransferOutcome runFetch(Transfer& transfer)
{
    CURL* e = transfer.easy;
    const FetchRequest& request = transfer.request.fetch;
    FetchResult& fetched = transfer.fetched;
    FetchSink sink { e, &request, &fetched };
    if (request.range)
        curl_easy_setopt(e, CURLOPT_RANGE, (std::to_string(request.from) + "-").c_str());
    // Compressed bodies would make the byte offsets meaningless.
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, nullptr);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, writeFetched);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, noteHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &fetched);
    TransferOutcome outcome = performHttp(transfer);

    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    fetched.httpStatus = status;
    if (status == (request.range ? 206 : 200)) {
        if (outcome.status == TransferStatus::HttpError)
            outcome = {}; // 206 is the answer a Range request asks for
        if (sink.mismatch)
            outcome = failure(TransferStatus::OtherError, "The host's file does not continue the local copy");
        if (fetched.tooLarge)
            outcome = failure(
                TransferStatus::OtherError, "The results file is larger than " + sizeText(request.maxBytes));
        curl_off_t length = -1;
        if (!fetched.total && status == 200
            && curl_easy_getinfo(e, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0)
            fetched.total = static_cast<std::uint64_t>(length);
    } else if (status != 0 && !transfer.job.cancelled && outcome.status != TransferStatus::HttpError) {
        // Not the bytes asked for; the transfer was ended as soon as that was plain.
        outcome = failure(
            TransferStatus::HttpError, "The server answered with HTTP status " + std::to_string(status));
        outcome.httpStatus = status;
    }
    return outcome;
}

} // namespace vantrel::curl
