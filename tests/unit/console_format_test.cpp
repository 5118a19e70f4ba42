#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "run/console.h"

TEST(Console, NumbersArePaddedOnTheLeftToTheWidth) {
  EXPECT_EQ(FormatInt(0, 10), "         0");
  EXPECT_EQ(FormatInt(1234567, 10), "   1234567");
  EXPECT_EQ(FormatInt(1234567890, 10), "1234567890");
  EXPECT_EQ(FormatInt(-5, 10), "        -5");
  EXPECT_EQ(FormatInt(-123456789, 10), "-123456789");
  EXPECT_EQ(FormatInt(7, 1), "7");
  EXPECT_EQ(FormatInt(7, 3), "  7");
}

TEST(Console, NumbersLongerThanTheWidthAreWrittenWhole) {
  EXPECT_EQ(FormatInt(12345678901, 10), "12345678901");
  EXPECT_EQ(FormatInt(-1234567890, 10), "-1234567890");
  EXPECT_EQ(FormatInt(5000000000, 10), "5000000000");
  EXPECT_EQ(FormatInt(100, 2), "100");
}

TEST(Console, WidthZeroAddsNoSpaces) {
  EXPECT_EQ(FormatInt(0, 0), "0");
  EXPECT_EQ(FormatInt(42, 0), "42");
  EXPECT_EQ(FormatInt(-42, 0), "-42");
}

TEST(Console, ExtremeValuesAreWrittenWholeWithTheirSign) {
  EXPECT_EQ(FormatInt(std::numeric_limits<int32_t>::min(), 10), "-2147483648");
  EXPECT_EQ(FormatInt(std::numeric_limits<int32_t>::max(), 10), "2147483647");
  EXPECT_EQ(FormatInt(std::numeric_limits<int64_t>::min(), 10), "-9223372036854775808");
  EXPECT_EQ(FormatInt(std::numeric_limits<int64_t>::min(), 0), "-9223372036854775808");
  EXPECT_EQ(FormatInt(std::numeric_limits<int64_t>::max(), 25), "      9223372036854775807");
}
