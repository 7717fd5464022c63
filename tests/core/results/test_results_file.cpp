#include "core/results/results_file.h"
#include "record_bytes.h"
#include "temp_dir.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>

using namespace std::string_literals;
using vantrel::DecodeResultRecords;
using vantrel::EncodeResultRecord;
using vantrel::ResultRecord;
using vantrel::test::encodeRecords;
using vantrel::test::int32Le;

namespace {

std::string goldenFile(const std::string& name)
{
    const char* root = std::getenv("VANTREL_SOURCE_DIR");
    return vantrel::test::readFile(std::string(root ? root : ".") + "/tests/data/submit/" + name);
}

// The records of tests/data/submit/three_records.bin, as the program holds them.
const std::vector<ResultRecord>& threeRecords()
{
    static const std::vector<ResultRecord> records = {
        { "José Müller", "", "Win XP", "Pentium® 4 – 2.4 GHz", 12345.0 },
        { "€uro\u0081", "zöe@example.org", "Win 98", "K6-2 “333”", 4711.0 },
        { "easter egg", "a@b.c", "Win Blackcomb", "Athlon XP", 987654321.0 },
    };
    return records;
}

TEST(ResultsFile, ExampleRecordIsItsThirtyFourBytes)
{
    const std::string expected = "\x03\0\0\0abc\0\0\0\0\x06\0\0\0Win 98\x01\0\0\0x\0\0\0\0\0\0\xF8\x3F"s;
    ASSERT_EQ(expected.size(), 34u);
    EXPECT_EQ(goldenFile("example_record.bin"), expected);

    const ResultRecord record { "abc", "", "Win 98", "x", 1.5 };
    EXPECT_EQ(EncodeResultRecord(record), expected);
    EXPECT_EQ(DecodeResultRecords(expected), std::vector<ResultRecord> { record });
}

TEST(ResultsFile, GoldenFileDecodesAndEncodesByteForByte)
{
    const std::string file = goldenFile("three_records.bin");
    EXPECT_EQ(DecodeResultRecords(file), threeRecords());
    EXPECT_EQ(encodeRecords(threeRecords()), file);
}

TEST(ResultsFile, EveryCutKeepsOnlyTheCompleteRecordsBeforeIt)
{
    const std::string file = goldenFile("three_records.bin");
    const std::size_t ends[] = { 61, 121, 182 };
    ASSERT_EQ(file.size(), ends[2]);
    for (std::size_t cut = 0; cut <= file.size(); ++cut) {
        std::size_t complete = 0;
        while (complete < 3 && ends[complete] <= cut)
            ++complete;
        const std::vector<ResultRecord> expected(threeRecords().begin(), threeRecords().begin() + complete);
        EXPECT_EQ(DecodeResultRecords(std::string_view(file).substr(0, cut)), expected) << "cut at " << cut;
    }
}

struct BadLength {
    const char* label;
    int field; // 0..3, in the second record
    std::int32_t value; // or, when relative, added to the bytes left after the field
    bool relative;
};

std::ostream& operator<<(std::ostream& os, const BadLength& c)
{
    return os << c.label;
}

class BadLengths : public ::testing::TestWithParam<BadLength> { };

// A bad length in the second record ends the decoding there: the first record
// stays, nothing after it is read, and nothing is allocated for the claimed size.
TEST_P(BadLengths, EndTheDecodingKeepingEarlierRecords)
{
    const BadLength& c = GetParam();
    const ResultRecord second { "bbbb", "cc", "Win ME", "ddd", 7 };
    std::string bytes = EncodeResultRecord(threeRecords()[0]);
    const std::size_t firstEnd = bytes.size();
    bytes += EncodeResultRecord(second) + EncodeResultRecord(threeRecords()[2]);

    std::size_t at = firstEnd;
    const std::string* texts[] = { &second.name, &second.email, &second.os, &second.processor };
    for (int i = 0; i < c.field; ++i)
        at += 4 + texts[i]->size();
    const auto left = static_cast<std::int64_t>(bytes.size() - at - 4);
    const auto value = c.relative ? static_cast<std::int32_t>(left + c.value) : c.value;
    bytes.replace(at, 4, int32Le(value));

    const std::vector<ResultRecord> expected { threeRecords()[0] };
    EXPECT_EQ(DecodeResultRecords(bytes), expected);
}

INSTANTIATE_TEST_SUITE_P(ResultsFile, BadLengths,
    ::testing::Values(BadLength { "NegativeName", 0, -1, false },
        BadLength { "MinimumEmail", 1, std::numeric_limits<std::int32_t>::min(), false },
        BadLength { "MaximumOs", 2, std::numeric_limits<std::int32_t>::max(), false },
        BadLength { "OneByteBeyondEndProcessor", 3, 1, true },
        BadLength { "ExactlyToEndLeavesNoScore", 3, 0, true }, BadLength { "ToEndOfFileName", 0, 0, true }),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ResultsFile, ScoreKeepsAllItsBits)
{
    for (const double score : { -0.0, 5e-324, 1.7976931348623157e308, -3.25, std::nan("0x5") }) {
        const auto decoded = DecodeResultRecords(EncodeResultRecord({ "n", "", "Win 95", "p", score }));
        ASSERT_EQ(decoded.size(), 1u);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(decoded[0].score), std::bit_cast<std::uint64_t>(score));
    }
}

TEST(ResultsFile, LengthsCountCodePageBytesAndUnheldCharactersBecomeQuestionMarks)
{
    const std::string bytes = EncodeResultRecord({ "é日本", "", "Win 2K", "ü", 1 });
    EXPECT_EQ(bytes.substr(0, 7), int32Le(3) + "\xE9??"s);
    EXPECT_EQ(bytes.size(), 24u + 3 + 0 + 6 + 1);
    EXPECT_EQ(DecodeResultRecords(bytes).at(0).name, "é??");
}

struct ErrorPageCase {
    const char* label;
    std::string bytes;
    bool isErrorPage;
};

std::ostream& operator<<(std::ostream& os, const ErrorPageCase& c)
{
    return os << c.label;
}

class ErrorPage : public ::testing::TestWithParam<ErrorPageCase> { };

TEST_P(ErrorPage, IsToldByItsFirstNineteenBytes)
{
    EXPECT_EQ(vantrel::IsHostErrorPage(GetParam().bytes), GetParam().isErrorPage);
}

INSTANTIATE_TEST_SUITE_P(ResultsFile, ErrorPage,
    ::testing::Values(ErrorPageCase { "MarkerAlone", "<HTML><HEAD><TITLE>", true },
        ErrorPageCase { "FullPage", "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD></HTML>", true },
        ErrorPageCase { "LowerCase", "<html><head><title>404</title></head></html>", false },
        ErrorPageCase { "OtherTagsAfterHtml", "<HTML><BODY>Not found</BODY></HTML>", false },
        ErrorPageCase { "ShortOfOneByte", "<HTML><HEAD><TITLE", false }, ErrorPageCase { "Empty", "", false },
        ErrorPageCase { "LeadingSpace", " <HTML><HEAD><TITLE>", false },
        ErrorPageCase { "RecordsFile", "\x03\0\0\0abc\0\0\0\0"s, false }),
    [](const auto& info) { return std::string(info.param.label); });

struct AppendCase {
    const char* label;
    std::optional<std::string> before; // nullopt: no file yet
};

std::ostream& operator<<(std::ostream& os, const AppendCase& c)
{
    return os << c.label;
}

class Append : public ::testing::TestWithParam<AppendCase> { };

TEST_P(Append, KeepsEveryEarlierByteAndGrowsByTheRecord)
{
    vantrel::test::TempDir dir;
    const std::string path = dir.file("compare.zip");
    const std::string before = GetParam().before.value_or("");
    if (GetParam().before)
        vantrel::test::writeFile(path, before);

    const ResultRecord record { "abc", "", "Win 98", "x", 1.5 };
    std::string error;
    const auto after = vantrel::AppendRecordToFile(path, record, &error);
    ASSERT_TRUE(after) << error;
    EXPECT_EQ(*after, before + EncodeResultRecord(record));
    EXPECT_EQ(vantrel::test::readFile(path), *after);
}

INSTANTIATE_TEST_SUITE_P(ResultsFile, Append,
    ::testing::Values(AppendCase { "MissingFile", std::nullopt }, AppendCase { "EmptyFile", ""s },
        AppendCase { "ThreeRecords", goldenFile("three_records.bin") },
        // Earlier bytes pass through unparsed, even when they are no records.
        AppendCase { "CutShortRecordAndZeros", "\x05\0\0\0ab\0\xFF"s }),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ResultsFile, AppendToAnUnreachableFolderFails)
{
    vantrel::test::TempDir dir;
    std::string error;
    EXPECT_EQ(vantrel::AppendRecordToFile(dir.file("missing/compare.zip"), { "a", "", "b", "c", 1 }, &error),
        std::nullopt);
    EXPECT_FALSE(error.empty());
}

} // namespace
