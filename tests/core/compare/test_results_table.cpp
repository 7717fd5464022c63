#include "core/compare/results_table.h"
#include "record_bytes.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace std::string_literals;
using vantrel::DecodeResultRecords;
using vantrel::EncodeResultRecord;
using vantrel::ResultRecord;
using vantrel::ResultsTable;
using vantrel::test::encodeRecords;
using vantrel::test::int32Le;

namespace {

std::vector<ResultRecord> tableRecords(const ResultsTable& table)
{
    std::vector<ResultRecord> records;
    for (std::size_t row = 0; row < table.size(); ++row)
        records.push_back(table.record(row));
    return records;
}

// Scores neither rising nor falling, so that a table sorted by score comes out in another order.
const std::vector<ResultRecord> kThree = {
    { "Ann", "ann@example.org", "Win XP", "Athlon XP 2400+", 250 },
    { "Bob", "", "Win 98", "Pentium III", 3120 },
    { "Cécile", "c@example.fr", "Win 2K", "K6-2 “333”", 1.5 },
};

struct TableCase {
    const char* name;
    std::string bytes;
};

class ResultsTableTest : public testing::TestWithParam<TableCase> { };

// The list must show exactly what the shared codec reads, malformed input included.
TEST_P(ResultsTableTest, AgreesWithTheCodec)
{
    const ResultsTable table(GetParam().bytes);
    EXPECT_EQ(tableRecords(table), DecodeResultRecords(GetParam().bytes));
}

const std::string kWhole = encodeRecords(kThree);
const std::string kFourth = EncodeResultRecord({ "Dan", "d@x", "Win ME", "Duron", 900 });

INSTANTIATE_TEST_SUITE_P(Inputs, ResultsTableTest,
    testing::Values(TableCase { "Empty", "" }, TableCase { "Three", kWhole },
        TableCase { "FourthCutShort", kWhole + kFourth.substr(0, kFourth.size() - 1) },
        TableCase { "FourthOnlyLength", kWhole + kFourth.substr(0, 3) },
        TableCase { "NegativeLength", kWhole + int32Le(-1) + "abcdefghijklmnopqrstuvwxyz" },
        TableCase { "LengthPastEnd", int32Le(1000) + "abc" },
        TableCase { "HugeLength", kWhole + int32Le(0x7FFFFFFF) + kFourth },
        TableCase { "ErrorPage", "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD></HTML>" },
        TableCase { "EmptyTexts", int32Le(0) + int32Le(0) + int32Le(0) + int32Le(0) + "\0\0\0\0\0\0\0\0"s }),
    [](const testing::TestParamInfo<TableCase>& info) { return std::string(info.param.name); });

TEST(ResultsTable, KeepsFileOrder)
{
    const ResultsTable table(kWhole);
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(tableRecords(table), kThree);
}

// What a list of results costs beyond the file it came from, per record.
TEST(ResultsTable, HoldsLittleMoreThanTheFile)
{
    const std::string record = EncodeResultRecord({ "", "", "", "", 1 });
    std::string bytes;
    for (int i = 0; i < 1000; ++i)
        bytes += record;
    bytes.shrink_to_fit();
    const std::size_t fileSize = bytes.size();
    const ResultsTable table(std::move(bytes));
    EXPECT_EQ(table.size(), 1000u);
    EXPECT_LT(table.byteSize(), fileSize * 3 / 2);
}

} // namespace
