#include "core/compare/comparison_graph.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

using vantrel::BarWidths;
using vantrel::ComparisonBarWidths;
using vantrel::LeadingNumber;
using vantrel::ValueLabelLeft;

namespace {

constexpr std::int32_t kFull = 5655;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct NumberCase {
    std::string text;
    double expected;
};

class LeadingNumberTest : public testing::TestWithParam<NumberCase> { };

TEST_P(LeadingNumberTest, ReadsTheNumberAtTheStart)
{
    EXPECT_EQ(LeadingNumber(GetParam().text), GetParam().expected) << "text: \"" << GetParam().text << "\"";
}

INSTANTIATE_TEST_SUITE_P(Texts, LeadingNumberTest,
    testing::Values(NumberCase { "250", 250 }, NumberCase { "123456789012345", 123456789012345.0 },
        NumberCase { "1.5", 1.5 }, NumberCase { ".5", 0.5 }, NumberCase { "7.", 7 },
        NumberCase { "-12", -12 }, NumberCase { "+3", 3 }, NumberCase { "  42", 42 },
        NumberCase { "1 000", 1000 }, NumberCase { "\t1\r\n2", 12 }, NumberCase { "- 4", -4 },
        NumberCase { "12abc", 12 }, NumberCase { "3,5", 3 }, NumberCase { "1.2.3", 1.2 },
        NumberCase { "1E3", 1000 }, NumberCase { "1e+3", 1000 }, NumberCase { "2.5D-1", 0.25 },
        NumberCase { "12E", 12 }, NumberCase { "12E+", 12 }, NumberCase { "4Ex", 4 }, NumberCase { "", 0 },
        NumberCase { "   ", 0 }, NumberCase { "abc", 0 }, NumberCase { "-", 0 }, NumberCase { ".", 0 },
        NumberCase { "nan", 0 }, NumberCase { "inf", 0 }, NumberCase { "-inf", 0 }, NumberCase { "0x10", 0 },
        NumberCase { "1e999", kInf }, NumberCase { "-1e999", -kInf }, NumberCase { "1e-999", 0 }));

TEST(FullBarWidth, RoundsTiesToEven)
{
    EXPECT_EQ(vantrel::FullBarWidth(5655.0), 5655);
    EXPECT_EQ(vantrel::FullBarWidth(5655.4), 5655);
    EXPECT_EQ(vantrel::FullBarWidth(5655.5), 5656);
    EXPECT_EQ(vantrel::FullBarWidth(5656.5), 5656);
    EXPECT_EQ(vantrel::FullBarWidth(2.5), 2);
}

struct BarCase {
    const char* name;
    double own;
    double selected;
    float yours;
    float chosen;
};

class BarWidthsTest : public testing::TestWithParam<BarCase> { };

TEST_P(BarWidthsTest, LargerScoreFillsTheBar)
{
    const BarCase& c = GetParam();
    const BarWidths widths = ComparisonBarWidths(c.own, c.selected, kFull, { 111.0f, 222.0f });
    EXPECT_EQ(widths.yours, c.yours);
    EXPECT_EQ(widths.selected, c.chosen);
}

INSTANTIATE_TEST_SUITE_P(Scores, BarWidthsTest,
    testing::Values(BarCase { "SelectedTwiceOwn", 1000, 2000, 2827.5f, 5655 },
        BarCase { "OwnTwiceSelected", 2000, 1000, 5655, 2827.5f },
        BarCase { "Equal", 1234, 1234, 5655, 5655 }, BarCase { "SelectedZero", 1000, 0, 5655, 0 },
        BarCase { "TinyShare", 1e15, 1, 5655, 5.655e-12f },
        BarCase { "SelectedNegative", 1000, -500, 5655, 0 },
        BarCase { "BothNegative", -1000, -500, 5655, 5655 },
        BarCase { "SelectedInfinite", 1000, kInf, 0, 5655 },
        BarCase { "SelectedMinusInfinity", 1000, -kInf, 5655, 0 },
        BarCase { "OwnNegativeSelectedZero", -5, 0, 0, 5655 }),
    [](const testing::TestParamInfo<BarCase>& info) { return std::string(info.param.name); });

TEST(BarWidths, NaNScoreKeepsTheBarsAsTheyWere)
{
    const BarWidths before { 100.0f, 15.0f };
    for (auto [own, selected] : { std::pair { 1000.0, kNaN }, std::pair { kNaN, 1000.0 } }) {
        const BarWidths after = ComparisonBarWidths(own, selected, kFull, before);
        EXPECT_EQ(after.yours, before.yours);
        EXPECT_EQ(after.selected, before.selected);
    }
}

TEST(BarWidths, NeverLeaveZeroToFullWidth)
{
    const double scores[] = { -kInf, -1e308, -1, -0.0, 0, 1e-300, 1, 2, 1e308, kInf, kNaN };
    for (double own : scores) {
        for (double selected : scores) {
            const BarWidths widths = ComparisonBarWidths(own, selected, kFull, { 0, 15 });
            EXPECT_TRUE(widths.yours >= 0 && widths.yours <= kFull) << own << " vs " << selected;
            EXPECT_TRUE(widths.selected >= 0 && widths.selected <= kFull) << own << " vs " << selected;
        }
    }
}

TEST(ValueLabelLeft, TwoThirdsLeftOfTheBarsEnd)
{
    EXPECT_EQ(ValueLabelLeft(1440, 5655, 300), 6895.0f);
    EXPECT_EQ(ValueLabelLeft(1440, 2827.5f, 300), 4067.5f);
    // A bar of width 0: the label starts left of the bar.
    EXPECT_EQ(ValueLabelLeft(1440, 0, 90), 1380.0f);
}

} // namespace
