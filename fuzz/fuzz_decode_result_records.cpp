// Any bytes as a downloaded results file: decoding must stay inside the data,
// and re-encoding what it found must give back exactly the bytes it consumed
// (every Windows-1252 byte survives the trip through UTF-8).
#include "core/results/results_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    (void)vantrel::IsHostErrorPage(bytes);

    std::string reencoded;
    for (const vantrel::ResultRecord& record : vantrel::DecodeResultRecords(bytes))
        reencoded += vantrel::EncodeResultRecord(record);
    if (reencoded.size() > bytes.size() || bytes.substr(0, reencoded.size()) != reencoded)
        std::abort();

    // The same bytes as typed text: never longer in the code page than in UTF-8.
    if (vantrel::Utf8ToWindows1252(bytes).size() > bytes.size())
        std::abort();
    return 0;
}
