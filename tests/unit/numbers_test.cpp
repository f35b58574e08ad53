#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/numbers.h"

namespace {

struct ParseCase {
    const char* text;
    const char* separator;
    bool holds;
    double value;
};

TEST(Numbers, HoldsANumberAndTheConversionAgree)
{
    const ParseCase cases[] = {
        {"25", ".", true, 25},
        {"  25\t", ".", true, 25},
        {"-3", ".", true, -3},
        {"+7", ".", true, 7},
        {"2.5", ".", true, 2.5},
        {".5", ".", true, 0.5},
        {"5.", ".", true, 5},
        {"1e2", ".", true, 100},
        {"1E-2", ".", true, 0.01},
        {"-2.5e+1", ".", true, -25},
        {"2,5", ",", true, 2.5},   // the locale's separator
        {"2.5", ",", false, 0},    // ... and only that one
        {"", ".", false, 0},
        {"   ", ".", false, 0},
        {"-", ".", false, 0},
        {".", ".", false, 0},
        {"25x", ".", false, 0},
        {"x25", ".", false, 0},
        {"2 5", ".", false, 0},
        {"1e", ".", false, 0},
        {"1e+", ".", false, 0},
        {"--1", ".", false, 0},
        {"0x10", ".", false, 0},
        {"1,000", ".", false, 0},
        {"abc", ".", false, 0},
        {"inf", ".", false, 0},
        {"nan", ".", false, 0},
        {"25\n", ".", false, 0},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\" with separator " + c.separator);
        const auto value = parseNumber(c.text, c.separator);
        EXPECT_EQ(holdsNumber(c.text, c.separator), c.holds);
        ASSERT_EQ(value.has_value(), c.holds);
        if (c.holds) {
            EXPECT_DOUBLE_EQ(*value, c.value);
        }
    }
}

TEST(Numbers, ValuesBeyondDoublePrecisionStillHoldANumber)
{
    EXPECT_EQ(parseNumber("1e400", "."), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseNumber("-1e400", "."), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseNumber("1e-400", "."), 0.0);
    EXPECT_EQ(parseNumber("0.0000000001e-400", "."), 0.0);
    EXPECT_EQ(parseNumber(std::string(400, '9'), "."), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseNumber("1e99999999999999999999", "."), std::numeric_limits<double>::infinity());
}

TEST(Numbers, RoundingIsHalfToEven)
{
    const std::pair<double, double> cases[] = {
        {2.5, 2}, {3.5, 4}, {6.25, 6}, {-2.5, -2}, {-3.5, -4}, {0.5, 0}, {1.5, 2},
        {7.5, 8}, {12.5, 12}, {17.5, 18}, {2.54, 3}, {-6.25, -6}, {0.4, 0}, {0.1, 0},
        {2.4999999, 2}, {2.5000001, 3}, {-0.5, 0}, {32767.5, 32768}, {1e300, 1e300},
    };
    for (auto [input, expected] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(roundHalfEven(input), expected);
    }
}

TEST(Numbers, IntegerConversionsRefuseWhatDoesNotFit)
{
    EXPECT_EQ(toInteger16(32767.4), 32767);
    EXPECT_EQ(toInteger16(32767.5), std::nullopt);  // rounds to 32768
    EXPECT_EQ(toInteger16(-32768.5), -32768);       // rounds to the even -32768
    EXPECT_EQ(toInteger16(-32769), std::nullopt);
    EXPECT_EQ(toInteger16(std::numeric_limits<double>::infinity()), std::nullopt);
    EXPECT_EQ(toInteger16(std::nan("")), std::nullopt);
    EXPECT_EQ(toInteger32(2147483647.0), 2147483647);
    EXPECT_EQ(toInteger32(2147483648.0), std::nullopt);
    EXPECT_EQ(toInteger32(-2147483648.0), -2147483648LL);
}

} // namespace
