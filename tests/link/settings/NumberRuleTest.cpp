#include "link/settings/NumberRule.h"

#include <gtest/gtest.h>
#include <string>

namespace trv {
namespace {

struct LeadingRow {
    const char* name;
    std::string text;
    double expected;
};

void PrintTo(const LeadingRow& row, std::ostream* os) { *os << row.name; }

class LeadingNumber : public ::testing::TestWithParam<LeadingRow> {};

TEST_P(LeadingNumber, ReadsTheLeadingNumberRoundedHalfToEven) {
    EXPECT_EQ(NumberRule::readLeading(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    StoredTexts, LeadingNumber,
    ::testing::Values(LeadingRow{"Default", "DATAC", 0}, LeadingRow{"Empty", "", 0},
                      LeadingRow{"Plain", "3", 3}, LeadingRow{"HalfDown", "2.5", 2},
                      LeadingRow{"HalfUp", "3.5", 4}, LeadingRow{"AboveHalf", "2.51", 3},
                      LeadingRow{"BelowHalf", "2.49999", 2}, LeadingRow{"LeadingBlank", " 7", 7},
                      LeadingRow{"TrailingLetters", "12abc", 12}, LeadingRow{"Negative", "-2", -2},
                      LeadingRow{"Plus", "+5", 5}, LeadingRow{"SignAlone", "-", 0},
                      LeadingRow{"PointAlone", ".", 0}, LeadingRow{"FractionOnly", ".5", 0},
                      LeadingRow{"TrailingPoint", "7.", 7}, LeadingRow{"Exponent", "1e5", 1},
                      LeadingRow{"InnerBlank", "1 2", 1}, LeadingRow{"Baud", "19200", 19200},
                      LeadingRow{"LeadingZeros", "0007", 7},
                      LeadingRow{"NonAscii",
                                 "\xc3\xa9"
                                 "3",
                                 0},
                      LeadingRow{"Binary", std::string("\0\x01\xff", 3), 0},
                      LeadingRow{"NegativeHalf", "-2.5", -2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LeadingNumber, HundredsOfDigitsStayOutOfRangeWithoutOverflow) {
    const std::string huge(400, '9');
    EXPECT_FALSE(NumberRule::inRange(NumberRule::readLeading(huge), 1, 15));
    EXPECT_FALSE(NumberRule::inRange(NumberRule::readLeading("-" + huge), 1, 15));
    EXPECT_EQ(NumberRule::readLeading("0." + huge), 1);
    EXPECT_EQ(NumberRule::readLeading(std::string(300, '0') + "5"), 5);
}

TEST(WholeNumber, AcceptsOnlyOneNumberWithBlanksAround) {
    EXPECT_EQ(NumberRule::readWhole("12"), 12);
    EXPECT_EQ(NumberRule::readWhole(" 7 "), 7);
    EXPECT_EQ(NumberRule::readWhole("07"), 7);
    EXPECT_EQ(NumberRule::readWhole("2.5"), 2);
    EXPECT_EQ(NumberRule::readWhole("-3"), -3);
    EXPECT_EQ(NumberRule::readWhole(""), std::nullopt);
    EXPECT_EQ(NumberRule::readWhole("1a"), std::nullopt);
    EXPECT_EQ(NumberRule::readWhole("a"), std::nullopt);
    EXPECT_EQ(NumberRule::readWhole("1 2"), std::nullopt);
}

TEST(InRange, BoundsAreInclusive) {
    EXPECT_TRUE(NumberRule::inRange(1, 1, 15));
    EXPECT_TRUE(NumberRule::inRange(15, 1, 15));
    EXPECT_FALSE(NumberRule::inRange(0, 1, 15));
    EXPECT_FALSE(NumberRule::inRange(16, 1, 15));
}

} // namespace
} // namespace trv
