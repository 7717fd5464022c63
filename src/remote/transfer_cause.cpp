#include "remote/transfer_cause.h"

namespace vantrel {

namespace {

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace

std::string describeTransferFailure(const TransferOutcome& outcome)
{
    switch (outcome.status) {
    case TransferStatus::Unreachable:
        return "the results host could not be reached";
    case TransferStatus::TimedOut:
        return "the results host did not answer in time";
    case TransferStatus::HttpError:
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
