// Any bytes as the shared file a submitter downloaded: the whole-records test
// that guards every upload must say yes exactly when the bytes are nothing but
// complete records, which is when decoding and re-encoding them gives the
// bytes back. A run it accepts must stay whole with a new record after it.
#include "core/results/results_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const bool whole = vantrel::IsWholeRecordRun(bytes);

    std::string reencoded;
    for (const vantrel::ResultRecord& record : vantrel::DecodeResultRecords(bytes))
        reencoded += vantrel::EncodeResultRecord(record);
    if (whole != (reencoded == bytes))
        std::abort();
    if (!whole)
        return 0;

    // The record a user would add, with whatever was typed into the form.
    vantrel::ResultRecord added;
    added.name = std::string(bytes.substr(0, std::min<std::size_t>(size, 40)));
    added.os = "Linux";
    added.score = static_cast<double>(size);
    const std::string record = vantrel::EncodeResultRecord(added);
    const std::string appended = std::string(bytes) + record;
    if (!vantrel::IsWholeRecordRun(appended) || vantrel::ResultRecordLength(appended, size) != record.size())
        std::abort();
    return 0;
}
