// Linked into every GoogleTest program: a stuck case ends its program in a minute (or
// VANTREL_CASE_SECONDS), named, rather than when ctest's limit for the program runs out.
#include "case_time_limit.h"

#include <cstdlib>

namespace {

const bool kInstalled = [] {
    const char* seconds = std::getenv("VANTREL_CASE_SECONDS");
    const long limit = seconds && std::atol(seconds) > 0 ? std::atol(seconds) : 60;
    ::testing::UnitTest::GetInstance()->listeners().Append(
        new vantrel::test::CaseTimeLimit(std::chrono::seconds(limit)));
    return true;
}();

} // namespace
