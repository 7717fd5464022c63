#pragma once

#include "core/remote/transfer.h"

namespace vantrel::curl {

// A whole body into memory (OpenURL).
TransferOutcome runHttp(Transfer& transfer);
// A body, or the rest of one from an offset, into a file (fetch), checked as it arrives.
TransferOutcome runFetch(Transfer& transfer);

} // namespace vantrel::curl
