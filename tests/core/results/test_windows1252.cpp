#include "core/results/windows1252.h"

#include <gtest/gtest.h>

using namespace std::string_literals;
using vantrel::Utf8ToWindows1252;
using vantrel::Windows1252ToUtf8;

namespace {

struct CodePageCase {
    const char* label;
    std::string utf8;
    std::string windows1252;
};

std::ostream& operator<<(std::ostream& os, const CodePageCase& c)
{
    return os << c.label;
}

class BothWays : public ::testing::TestWithParam<CodePageCase> { };

TEST_P(BothWays, Convert)
{
    EXPECT_EQ(Utf8ToWindows1252(GetParam().utf8), GetParam().windows1252);
    EXPECT_EQ(Windows1252ToUtf8(GetParam().windows1252), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(Windows1252, BothWays,
    ::testing::Values(CodePageCase { "Ascii", "Win 98", "Win 98" },
        CodePageCase { "ZeroByte", "a\0b"s, "a\0b"s }, CodePageCase { "Euro", "€", "\x80" },
        CodePageCase { "Undefined81", "\u0081", "\x81" }, CodePageCase { "Undefined9D", "\u009D", "\x9D" },
        CodePageCase { "QuotesAndDashes", "“–—”", "\x93\x96\x97\x94" },
        CodePageCase { "YDiaeresisBoth", "Ÿÿ", "\x9F\xFF" },
        CodePageCase { "NoBreakSpace", "\u00A0", "\xA0" },
        CodePageCase { "Latin1", "Jos\u00E9 M\u00FCller", "Jos\xE9 M\xFCller" }),
    [](const auto& info) { return std::string(info.param.label); });

class ToCodePageOnly : public ::testing::TestWithParam<CodePageCase> { };

TEST_P(ToCodePageOnly, ReplacesWhatItCantHold)
{
    EXPECT_EQ(Utf8ToWindows1252(GetParam().utf8), GetParam().windows1252);
}

// Each bad byte is one "?", and the good text around it survives.
INSTANTIATE_TEST_SUITE_P(Windows1252, ToCodePageOnly,
    ::testing::Values(CodePageCase { "NotInPage", "a日b", "a?b" },
        CodePageCase { "Astral", "x\U0001F600", "x?" }, CodePageCase { "C1NotInPage", "\u0080\u0085", "??" },
        CodePageCase { "LoneLead", "a\xC3", "a?" }, CodePageCase { "CutShortEuro", "\xE2\x82z", "??z" },
        CodePageCase { "StrayContinuation", "\x80\xBFok", "??ok" },
        CodePageCase { "Overlong", "\xC0\xAF\xE0\x80\xAF", "?????" },
        CodePageCase { "Surrogate", "\xED\xA0\x80", "???" },
        CodePageCase { "BeyondUnicode", "\xF4\x90\x80\x80\xF8", "?????" },
        CodePageCase { "LeadThenAscii", "\xE2(\xA1", "?(?" }),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Windows1252, EveryByteRoundTrips)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8(all)), all);
}

// The ASCII fast path reads eight bytes at a time: a special byte anywhere in or
// across a word must still be converted.
TEST(Windows1252, SpecialByteAtEveryPositionOfTheFastPath)
{
    for (std::size_t pos = 0; pos < 20; ++pos) {
        std::string bytes(20, 'a');
        bytes[pos] = '\xE9';
        std::string utf8(20, 'a');
        utf8.replace(pos, 1, "é");
        EXPECT_EQ(Windows1252ToUtf8(bytes), utf8) << pos;
        EXPECT_EQ(Utf8ToWindows1252(utf8), bytes) << pos;
    }
}

} // namespace
