#pragma once

// How libcurl's results become the control's outcomes: the one place that reads CURLcode.
#include "core/remote/inet_control.h"

#include <cstddef>
#include <curl/curl.h>
#include <string>
#include <vector>

namespace vantrel::curl {

TransferOutcome outcomeOf(CURLcode code, long httpStatus, long ftpReply, const char* errorText);
TransferOutcome failure(TransferStatus status, std::string text);
// "Cannot <what> <path>: <errno's text>".
std::string systemError(const std::string& what, const std::string& path);
// The outcome of the last `count` FTP commands, from their reply lines: the first refusal, if any.
TransferOutcome firstRefusal(const std::vector<std::string>& lines, std::size_t count);

} // namespace vantrel::curl
