#include "core/remote/transfer_cause.h"

namespace vantrel {

namespace {

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The server's own words, shown as they came (control characters aside).
std::string printable(const std::string& text)
{
    std::string shown = trimmed(text);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    }
    return shown;
}

} // namespace

std::string describeTransferFailure(const TransferOutcome& outcome)
{
    // An FTP server's refusal says more than our reading of it ("500 OOPS: vsftpd:
    // refusing to run with writable root inside chroot()" is no wrong password).
    // A 421 ("too many connections") reaches libcurl as a time-out; it is the host's answer all the same.
    const std::string reply = printable(outcome.serverReply);
    if (!reply.empty() && outcome.status != TransferStatus::Cancelled) {
        if (outcome.status == TransferStatus::LogonRefused && reply.rfind("530", 0) == 0)
            return "the results host refused the logon: " + reply;
        return "the results host answered: " + reply;
    }
    switch (outcome.status) {
    case TransferStatus::Unreachable:
        return "the results host could not be reached";
    case TransferStatus::TimedOut:
        return "the results host did not answer in time";
    case TransferStatus::HttpError:
        if (outcome.httpStatus < 400)
            return "the results host answered with status " + std::to_string(outcome.httpStatus)
                + " instead of the results file";
        return "the results host answered with error " + std::to_string(outcome.httpStatus);
    case TransferStatus::CutShort:
        return "the transfer was cut short";
    case TransferStatus::LogonRefused:
        return "the results host refused the logon";
    case TransferStatus::CommandFailed:
        return "the results host refused to store the file";
    case TransferStatus::LocalFileError:
        return "a local file could not be read or written";
    case TransferStatus::Cancelled:
        return "the transfer was cancelled";
    default:
        return trimmed(outcome.text);
    }
}

} // namespace vantrel
