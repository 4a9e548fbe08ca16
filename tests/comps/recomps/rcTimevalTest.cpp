#include <gtest/gtest.h>

#include "comps/recomps/rcTimeval.h"

using rc::Timeval;

namespace {
::testing::AssertionResult Is(const Timeval& tv, long sec, long usec) {
  if (tv.tv_sec == sec && tv.tv_usec == usec) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "{" << tv.tv_sec << ", " << tv.tv_usec << "} != {" << sec << ", " << usec << "}";
}
}  // namespace

TEST(Timeval, ConstantsMeanWhatTheLoopExpects) {
  EXPECT_TRUE(Is(Timeval::NO_TIMEVAL, 134217727, 0));
  EXPECT_EQ(Timeval::NO_TIMEVAL, Timeval::MAX_TIMEVAL);
  EXPECT_TRUE(Is(Timeval::ZERO_TIMEVAL, 0, 0));
  EXPECT_TRUE(Is(Timeval::ONE_MICROSEC_TIMEVAL, 0, 1));
  EXPECT_TRUE(Is(Timeval::ONE_MILLISEC_TIMEVAL, 0, 1000));
  EXPECT_TRUE(Is(Timeval::ONE_SEC_TIMEVAL, 1, 0));
}

TEST(Timeval, ArithmeticCarriesAndBorrowsMicroseconds) {
  const struct {
    Timeval a, b;
    long sumSec, sumUsec, diffSec, diffUsec;
  } rows[] = {
      {{1, 500000}, {2, 400000}, 3, 900000, -1, 100000},
      {{1, 600000}, {0, 400000}, 2, 0, 1, 200000},
      {{1, 999999}, {0, 1}, 2, 0, 1, 999998},
      {{0, 0}, {0, 1}, 0, 1, -1, 999999},
      {{5, 0}, {5, 0}, 10, 0, 0, 0},
  };
  for (const auto& r : rows) {
    EXPECT_TRUE(Is(r.a + r.b, r.sumSec, r.sumUsec));
    EXPECT_TRUE(Is(r.a - r.b, r.diffSec, r.diffUsec));
    Timeval acc = r.a;
    acc += r.b;
    EXPECT_EQ(acc, r.a + r.b);
    acc = r.a;
    acc -= r.b;
    EXPECT_EQ(acc, r.a - r.b);
  }
}

TEST(Timeval, ComparesSecondsBeforeMicroseconds) {
  const Timeval small{1, 999999};
  const Timeval big{2, 0};
  EXPECT_TRUE(small < big);
  EXPECT_TRUE(big > small);
  EXPECT_TRUE(small <= big && small <= small);
  EXPECT_TRUE(big >= small && big >= big);
  EXPECT_FALSE(big < small || small > big || big <= small);
  EXPECT_TRUE(Timeval(0, 1) < Timeval(0, 2));
  EXPECT_TRUE(Timeval(3, 0) < Timeval::NO_TIMEVAL);
}

TEST(Timeval, DoubleConversions) {
  const struct {
    double secs;
    long sec, usec;
  } rows[] = {
      {0.0, 0, 0},       {1.5, 1, 500000},   {2.3, 2, 300000},        {0.000001, 0, 1},
      {0.9999996, 1, 0}, {-1.5, -2, 500000}, {-0.000001, -1, 999999},
  };
  for (const auto& r : rows) {
    Timeval tv;
    tv.setFromDouble(r.secs);
    EXPECT_TRUE(Is(tv, r.sec, r.usec)) << r.secs;
    EXPECT_NEAR(tv.asDouble(), r.secs, 1e-6) << r.secs;
  }
  // A value from a double compares with the arithmetic's values.
  Timeval minusOneAndHalf;
  minusOneAndHalf.setFromDouble(-1.5);
  EXPECT_EQ(minusOneAndHalf, Timeval(0, 0) - Timeval(1, 500000));
}

TEST(Timeval, NowMovesForward) {
  const Timeval first = Timeval::now();
  Timeval second;
  second.setToNow();
  EXPECT_LE(first, second);
  EXPECT_GE(first.tv_usec, 0);
  EXPECT_LT(first.tv_usec, 1000000);
  EXPECT_GT(first.tv_sec, 1500000000);
}
