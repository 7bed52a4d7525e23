#include "score/duration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

double parse(const std::string& text) { return parseDuration(text.data(), text.size()); }

TEST(Duration, ReadsPlainDecimalForms) {
  EXPECT_EQ(parse("0.5"), 0.5);
  EXPECT_EQ(parse("  \t\v\f\r+2"), 2.0);
  EXPECT_EQ(parse("-.25"), -0.25);
  EXPECT_EQ(parse("5."), 5.0);
  EXPECT_EQ(parse("007.50"), 7.5);
  EXPECT_EQ(parse("1.5e2"), 150.0);
  EXPECT_EQ(parse("15E-1"), 1.5);
  EXPECT_EQ(parse("0.1"), 0.1);  // correctly rounded, like the literal
  EXPECT_EQ(parse("0.5 seconds|1d|"), 0.5);
  EXPECT_EQ(parse("1.5.3"), 1.5);
}

TEST(Duration, ExponentWithoutDigitsIsIgnored) {
  EXPECT_EQ(parse("5e"), 5.0);
  EXPECT_EQ(parse("5e+"), 5.0);
  EXPECT_EQ(parse("5E-x"), 5.0);
}

TEST(Duration, TextWithoutNumberIsZero) {
  for (const char* text : {"", "abc", ".", "-", "+.", ".e5", "- 1", "inf", "nan", "infinity"}) {
    EXPECT_EQ(parse(text), 0.0) << text;
  }
  EXPECT_EQ(parse("0x10"), 0.0);  // no hexadecimal: the number is the 0
  EXPECT_EQ(parse("0x1p3"), 0.0);
}

TEST(Duration, KeepsFifteenSignificantDigits) {
  // Before the point, later digits only scale the value.
  EXPECT_EQ(parse("1234567890123456789"), 123456789012345e4);
  // After the point, later digits are dropped (no rounding up from them).
  EXPECT_EQ(parse("0.1234567890123456789"), 0.123456789012345);
  EXPECT_EQ(parse("0.999999999999999999"), 0.999999999999999);
  // Leading zeros do not count.
  EXPECT_EQ(parse("0000.000001234567890123459"), 0.00000123456789012345);
  EXPECT_EQ(parse("1234567890123456.75"), 1234567890123450.0);
}

TEST(Duration, OutOfRangeGivesInfinityOrZero) {
  double infinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(parse("1e400"), infinity);
  EXPECT_EQ(parse("-1e400"), -infinity);
  EXPECT_EQ(parse("1e99999999999999999999999"), infinity);
  EXPECT_EQ(parse("1e-400"), 0.0);
  EXPECT_EQ(parse("0e99999"), 0.0);
  EXPECT_EQ(parse("4.9406564584124654e-324"), 4.9406564584124654e-324);
  EXPECT_EQ(parse("1.7976931348623157e308"), 1.79769313486231e308);  // 15 digits kept
}

TEST(Duration, NegativeZeroKeepsItsSign) {
  double zero = parse("-0.0");
  EXPECT_EQ(zero, 0.0);
  EXPECT_TRUE(std::signbit(zero));
}

TEST(Duration, StopsAtTheGivenLength) {
  const char text[] = "12345";
  EXPECT_EQ(parseDuration(text, 2), 12.0);
  const char withNul[] = {'1', '\0', '5'};
  EXPECT_EQ(parseDuration(withNul, 3), 1.0);
}

}  // namespace
