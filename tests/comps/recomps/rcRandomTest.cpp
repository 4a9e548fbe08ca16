#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "comps/recomps/rcRandom.h"

namespace {
std::vector<long> draw(rc::Random& source, int n, long limit) {
  std::vector<long> values;
  for (int i = 0; i < n; ++i) values.push_back(source.random(limit));
  return values;
}
}  // namespace

TEST(Random, SeedsDecideTheSequence) {
  rc::Random a;
  rc::Random b;
  a.srandom(1700000000, 4242);
  b.srandom(1700000000, 4242);
  EXPECT_EQ(draw(a, 20, 0), draw(b, 20, 0));
  b.srandom(1700000000, 4243);  // another process id, another sequence
  a.srandom(1700000000, 4242);
  EXPECT_NE(draw(a, 20, 0), draw(b, 20, 0));

  rc::Random unseeded;
  EXPECT_FALSE(unseeded.isSeeded());
  const std::vector<long> first = draw(unseeded, 5, 1000);
  EXPECT_TRUE(unseeded.isSeeded());
  rc::Random defaulted;
  defaulted.srandom();
  EXPECT_EQ(draw(defaulted, 5, 1000), first);
}

TEST(Random, ValuesStayInRangeAndSpread) {
  rc::Random source;
  source.srandom(7, 11);
  std::set<long> seen;
  for (long v : draw(source, 2000, 10)) {
    ASSERT_GE(v, 0);
    ASSERT_LT(v, 10);
    seen.insert(v);
  }
  EXPECT_EQ(seen.size(), 10u);
  for (long v : draw(source, 2000, 0)) {
    ASSERT_GE(v, 0);
    ASSERT_LE(v, 2147483647L);
  }
  for (long v : draw(source, 100, 1)) ASSERT_EQ(v, 0);
  for (long v : draw(source, 100, -5)) ASSERT_GE(v, 0);
}
