#include "core/remote/transfer_outcome.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace vantrel::curl {

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

std::string systemError(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

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

} // namespace vantrel::curl
