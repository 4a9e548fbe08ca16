#include <gtest/gtest.h>

#include <climits>

#include "comps/recomps/rcStringUtils.h"

TEST(StringUtils, ToStringForEveryWidth) {
  EXPECT_EQ(rc::StringUtils::toString(-7), "-7");
  EXPECT_EQ(rc::StringUtils::toString(4294967295u), "4294967295");
  EXPECT_EQ(rc::StringUtils::toString(-123456789L), "-123456789");
  EXPECT_EQ(rc::StringUtils::toString(LLONG_MIN), "-9223372036854775808");  // needs 20
  EXPECT_EQ(rc::StringUtils::toString(0.25f), "0.25");
  EXPECT_EQ(rc::StringUtils::toString(10, "%05d"), "00010");
  EXPECT_EQ(rc::StringUtils::toString(1LL, "%030lld").size(), 23u);  // cut, never overrun
}

TEST(StringUtils, StripSplitAndStreamSize) {
  String text = "  pad  ";
  EXPECT_EQ(rc::StringUtils::strip(text), "pad");
  text = "xxaxx";
  EXPECT_EQ(rc::StringUtils::strip(text, 'x', rc::Utils::ST_POST), "xxa");

  String lhs;
  String rhs;
  EXPECT_TRUE(rc::StringUtils::split(" fault . count ", &lhs, &rhs, "."));
  EXPECT_EQ(lhs, "fault");
  EXPECT_EQ(rhs, "count");
  EXPECT_FALSE(rc::StringUtils::split("fault", &lhs, &rhs, "."));
  EXPECT_EQ(lhs, "fault");
  EXPECT_EQ(rhs, "");

  EXPECT_EQ(rc::StringUtils::binarySize(String()), 7u);
  EXPECT_EQ(rc::StringUtils::binarySize(String("abcde")), 12u);
}
