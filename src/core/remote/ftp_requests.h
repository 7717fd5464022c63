#pragma once

// FTP requests: each built from what the caller asked for (false, with why, when it cannot be
// sent as asked), then run on the worker.
#include "core/remote/transfer.h"

namespace vantrel::curl {

// request.ftpBase is set; these fill in the rest.
// "PUT local remote", "GET remote local" or "DELETE remote".
bool prepareCommand(const std::string& operation, Request& request, TransferOutcome& why);
bool prepareQuote(std::vector<std::string> commands, Request& request, TransferOutcome& why);
bool prepareList(const std::string& folder, Request& request, TransferOutcome& why);
bool prepareStore(const std::string& remote, UploadSource source, UploadMode mode, std::uint64_t restAt,
    Request& request, TransferOutcome& why);

// Keeps every reply line of the transfer, and its last error reply.
void captureReplies(Transfer& transfer);
TransferOutcome runStore(Transfer& transfer);
TransferOutcome runGet(Transfer& transfer);
TransferOutcome runCommands(Transfer& transfer);
TransferOutcome runList(Transfer& transfer);

} // namespace vantrel::curl
