#pragma once

#include "results_host_process.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace vantrel::test {

// One results host for a whole test suite, its data folder emptied before each test,
// and a fresh local folder per test.
class SharedResultsHost : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_host = new ResultsHostProcess(); }
    static void TearDownTestSuite()
    {
        delete s_host;
        s_host = nullptr;
    }
    void SetUp() override
    {
        for (auto& name : filesIn(s_host->root()))
            std::filesystem::remove_all(s_host->root() + name);
    }

    static inline ResultsHostProcess* s_host = nullptr;
    TempDir m_local;
};

} // namespace vantrel::test
