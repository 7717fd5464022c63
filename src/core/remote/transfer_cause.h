#pragma once

#include "core/remote/inet_control.h"

#include <string>

namespace vantrel {

// A few words for the user on why a transfer failed ("the results host could not be
// reached"), the same in the windows and on the console.
std::string describeTransferFailure(const TransferOutcome& outcome);

} // namespace vantrel
