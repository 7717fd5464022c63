#include "case_time_limit.h"
#include "core/compare/results_table.h"
#include "record_bytes.h"
#include "temp_dir.h"

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace std::string_literals;
using vantrel::DecodeResultRecords;
using vantrel::EncodeResultRecord;
using vantrel::ResultRecord;
using vantrel::ResultRecordLength;
using vantrel::ResultsTable;
using vantrel::test::encodeRecords;
using vantrel::test::int32Le;

namespace {

// A record loop that never ends fails in seconds, naming the case.
const bool kCaseTimeLimit = [] {
    testing::UnitTest::GetInstance()->listeners().Append(
        new vantrel::test::CaseTimeLimit(std::chrono::seconds(10)));
    return true;
}();

std::vector<ResultRecord> tableRecords(const ResultsTable& table)
{
    std::vector<ResultRecord> records;
    for (std::size_t row = 0; row < table.size(); ++row)
        records.push_back(table.record(row));
    return records;
}

std::vector<std::string_view> rowBytes(const ResultsTable& table)
{
    std::vector<std::string_view> rows;
    for (std::size_t row = 0; row < table.size(); ++row)
        rows.push_back(table.recordBytes(row));
    return rows;
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

void PrintTo(const TableCase& c, std::ostream* out)
{
    *out << c.name;
}

class ResultsTableTest : public testing::TestWithParam<TableCase> { };

// The list must show exactly what the shared codec reads, malformed input included.
TEST_P(ResultsTableTest, AgreesWithTheCodec)
{
    const std::string_view bytes = GetParam().bytes;
    const ResultsTable table(bytes);
    EXPECT_EQ(tableRecords(table), DecodeResultRecords(bytes));
    // Each row reads its own record and no further: the rows lie back to back from the
    // first byte, and the last one ends where the index does, not at the data's end.
    std::size_t at = 0;
    for (std::size_t row = 0; row < table.size(); ++row) {
        EXPECT_EQ(table.recordBytes(row), bytes.substr(at, ResultRecordLength(bytes, at))) << "row " << row;
        at += ResultRecordLength(bytes, at);
    }
    EXPECT_EQ(table.indexedBytes(), at);
    EXPECT_EQ(table.byteCount(), bytes.size());
    EXPECT_EQ(table.recordBytes(table.size()), std::string_view());
}

// The local copy grows at its end, maybe between two reads of one record: read in two
// parts, split at any byte, the table is the one read at once.
TEST_P(ResultsTableTest, ReadInTwoPartsAtAnyByte)
{
    const std::string_view bytes = GetParam().bytes;
    const ResultsTable once(bytes);
    for (std::size_t split = 0; split <= bytes.size(); ++split) {
        ResultsTable table(bytes.substr(0, split));
        ASSERT_TRUE(table.append(bytes.substr(split)));
        ASSERT_EQ(rowBytes(table), rowBytes(once)) << "split at byte " << split;
    }
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

// A refresh reads only what was appended, and only to the file it read before.
TEST(ResultsTable, ContinuesOnlyTheFileItRead)
{
    const vantrel::test::TempDir dir;
    const std::string path = dir.file("compare.zip");
    const std::string cut = kWhole + kFourth.substr(0, 5);
    struct Step {
        const char* what;
        std::string bytes; // the file's bytes now
        bool renamedOver; // a new file put in its place
        bool continued;
    };
    const Step steps[] = {
        { "grown, the cut record completed", kWhole + kFourth + kFourth, false, true },
        { "shorter", kWhole, false, false },
        { "its last byte changed", kWhole + kFourth.substr(0, 4) + "?" + kFourth.substr(5) + kFourth, false,
            false },
        { "the same bytes and more, renamed over it", kWhole + kFourth + kFourth + kFourth, true, false },
    };
    for (const Step& step : steps) {
        ResultsTable table;
        vantrel::test::writeFile(path, cut);
        int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_TRUE(table.readMore(fd));
        ASSERT_EQ(table.size(), 3u);
        ::close(fd);
        vantrel::test::writeFile(step.renamedOver ? dir.file("new") : path, step.bytes);
        if (step.renamedOver) {
            ASSERT_EQ(std::rename(dir.file("new").c_str(), path.c_str()), 0);
        }
        fd = ::open(path.c_str(), O_RDONLY);
        EXPECT_EQ(table.continuedBy(fd), step.continued) << step.what;
        if (step.continued) {
            EXPECT_TRUE(table.readMore(fd));
            EXPECT_EQ(tableRecords(table), DecodeResultRecords(step.bytes)) << step.what;
        }
        ::close(fd);
    }
}

// What a list of results costs beyond the file it came from: 8 bytes a record.
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
    EXPECT_LE(table.byteSize(), fileSize + 8 * (1000 + 1));
}

} // namespace
