#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcStrVec.h"
#include "qvTestUtil.h"

namespace {

using Strings = std::vector<std::string>;

rc::StrVec makeVec(const Strings& strs) {
  rc::StrVec v;
  for (const std::string& s : strs) v.append(s.data(), static_cast<unsigned int>(s.size()));
  return v;
}

Strings contents(const rc::StrVec& v) {
  Strings out;
  for (unsigned int i = 0; i < v.entries(); ++i) out.emplace_back(v[i], v.strLen(i));
  return out;
}

std::vector<const char*> addresses(const rc::StrVec& v) {
  std::vector<const char*> out;
  for (unsigned int i = 0; i < v.entries(); ++i) out.push_back(v[i]);
  return out;
}

qvtest::Bytes encoded(const rc::StrVec& v) {
  rc::ByteStrm s(0);
  v.saveOn(s);
  return qvtest::bytesOf(s);
}

TEST(StrVec, DefaultVectorDoublesOnlyWhenFullAndKeepsItsStrings) {
  rc::StrVec v;
  EXPECT_EQ(v.capacity(), 64u);
  EXPECT_EQ(v.totalStrSpace(), 4096u);
  std::vector<std::string> expected;
  for (int i = 0; i < 64; ++i) {
    expected.push_back(std::string(62, 'a' + i % 26) + std::to_string(i % 10));
    v.append(expected.back().c_str());
  }
  EXPECT_EQ(v.capacity(), 64u);
  EXPECT_EQ(v.totalStrSpace(), 4096u);
  EXPECT_EQ(v.availStrSpace(), 64u);  // bytes left, but no entry to use them
  const std::vector<const char*> before = addresses(v);

  v.append("the 65th");
  EXPECT_EQ(v.capacity(), 128u);
  EXPECT_EQ(v.totalStrSpace() + v.capacity(), 8320u);
  const std::vector<const char*> after = addresses(v);
  EXPECT_EQ(std::vector<const char*>(after.begin(), after.begin() + 64), before);
  expected.push_back("the 65th");
  EXPECT_EQ(contents(v), expected);
  EXPECT_EQ(v.byteCount(false), 64u * 63 + 8);
  EXPECT_EQ(v.byteCount(true), 64u * 64 + 9);
}

TEST(StrVec, StringThatDoesNotFitGoesToTheNextPoolWithRoom) {
  rc::StrVec v(4, 16);  // one pool of 20 bytes
  const char* first = v.append("abcdefghij");
  const char* second = v.append("0123456789");  // 11 bytes, 9 left: a new pool
  EXPECT_NE(second, first + 11);
  // Growth doubles the entries and the total pool space (20 + 20 bytes, less 8 entries' NULs).
  EXPECT_EQ(v.capacity(), 8u);
  EXPECT_EQ(v.totalStrSpace(), 32u);
  // The skipped tail of the first pool stays unused until clear().
  const char* third = v.append("x");
  EXPECT_EQ(third, second + 11);
  EXPECT_EQ(contents(v), (Strings{"abcdefghij", "0123456789", "x"}));

  v.clear();
  EXPECT_TRUE(v.isEmpty());
  EXPECT_EQ(v.capacity(), 8u);
  EXPECT_EQ(v.append("again"), first);

  // A string far beyond the doubled space is stored whole, and the others stay put.
  const std::string big(100000, 'B');
  const char* bigCopy = v.append(big.c_str());
  EXPECT_EQ(std::string(bigCopy), big);
  EXPECT_STREQ(v.append("after"), "after");
  EXPECT_EQ(v[0], first);
  EXPECT_STREQ(v[0], "again");
  EXPECT_EQ(v[1], bigCopy);
  EXPECT_EQ(std::string(bigCopy), big);
}

TEST(StrVec, VectorsWithoutRoomStillGrow) {
  const struct {
    const char* what;
    std::function<rc::StrVec*()> make;
  } cases[] = {
      {"no entries", [] { return new rc::StrVec(0); }},
      {"no characters", [] { return new rc::StrVec(0, 0); }},
      {"copy of an empty vector",
       [] {
         const rc::StrVec empty(0);
         return new rc::StrVec(empty);
       }},
      {"one tiny entry", [] { return new rc::StrVec(1, 1); }},
  };
  for (const auto& c : cases) {
    std::unique_ptr<rc::StrVec> v(c.make());
    Strings expected;
    for (int i = 0; i < 300; ++i) {
      expected.push_back(std::string(static_cast<size_t>(i % 70), 'q'));
      v->append(expected.back().c_str());
    }
    EXPECT_EQ(contents(*v), expected) << c.what;
  }
}

TEST(StrVec, AppendsStoreCopiesWithTheirLengths) {
  rc::StrVec v;
  char source[] = "mutable";
  const char* stored = v.append(source);
  source[0] = 'X';
  const struct {
    std::function<const char*()> append;
    std::string expected;
  } cases[] = {
      {[&] { return v.append(nullptr); }, ""},
      {[&] { return v.append("truncated", 5u); }, "trunc"},
      {[&] { return v.append(std::string("a\0b", 3).data(), 3u); }, std::string("a\0b", 3)},
      {[&] { return v.append(nullptr, 4u); }, ""},
      {[&] { return v.append(-42, "%05d"); }, "-0042"},
      {[&] { return v.append(18446744073709551615ULL, "%llu"); }, "18446744073709551615"},
      {[&] { return v.append(1.5f, "%.3f"); }, "1.500"},
      {[&] { return v.append(123456789, "%d and some more text"); }, "123456789 and some "},
  };
  for (const auto& c : cases) {
    const char* copy = c.append();
    const unsigned int i = v.entries() - 1;
    EXPECT_EQ(copy, v[i]);
    EXPECT_EQ(std::string(v[i], v.strLen(i)), c.expected);
    EXPECT_EQ(v[i][v.strLen(i)], '\0');
  }
  EXPECT_STREQ(stored, "mutable");
  EXPECT_STREQ(v[v.entries()], "<rc::StrVec index too big>");
  EXPECT_STREQ(v[~0u], "<rc::StrVec index too big>");
  EXPECT_EQ(v.strLen(v.entries()), 0u);

  v.append(v);
  EXPECT_EQ(v.entries(), 2 * (std::size(cases) + 1));
  EXPECT_EQ(std::string(v[v.entries() - 1]), "123456789 and some ");
}

TEST(StrVec, CopyBytesNeverWritesPastTheGivenSize) {
  const struct {
    Strings strs;
    unsigned int size;
    bool copyNulls;
    std::string expected;
  } cases[] = {
      {{"ab", "cd"}, 5, true, std::string("ab\0cd", 5)},
      {{"ab", "cd"}, 6, true, std::string("ab\0cd\0", 6)},
      {{"ab", "cd"}, 4, true, std::string("ab\0", 3)},
      {{"ab", "cd"}, 3, false, "ab"},
      {{"ab", "cd"}, 4, false, "abcd"},
      {{"ab", "", "cd"}, 4, true, std::string("ab\0\0", 4)},
      {{"abc"}, 2, true, ""},
      {{}, 8, true, ""},
      {{"ab"}, 0, true, ""},
  };
  for (const auto& c : cases) {
    const rc::StrVec v = makeVec(c.strs);
    char buf[16];
    memset(buf, '#', sizeof buf);
    const unsigned int n = v.copyBytes(buf, c.size, c.copyNulls);
    EXPECT_EQ(std::string(buf, n), c.expected) << c.size;
    for (size_t i = c.size; i < sizeof buf; ++i) EXPECT_EQ(buf[i], '#') << "byte " << i;
  }
  // No buffer at all is fine when nothing is to be written.
  EXPECT_EQ(makeVec({"", "a"}).copyBytes(nullptr, 0, false), 0u);
}

TEST(StrVec, ComparesEntryByEntry) {
  const struct {
    Strings a, b;
    int sign;
  } cases[] = {
      {{"a", "b"}, {"a", "c"}, -1},
      {{"a", "c"}, {"a", "b"}, 1},
      {{"a"}, {"a", "b"}, -1},
      {{"a", "b"}, {"a"}, 1},
      {{}, {}, 0},
      {{"x", "y"}, {"x", "y"}, 0},
      {{"ab"}, {"a"}, 1},
      {{"a"}, {"ab"}, -1},
      {{"\xff"}, {"a"}, 1},
      {{""}, {}, 1},
  };
  for (const auto& c : cases) {
    const rc::StrVec a = makeVec(c.a);
    const rc::StrVec b = makeVec(c.b);
    const int r = a.compareTo(b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
    EXPECT_EQ(a == b, c.sign == 0);
    EXPECT_EQ(a != b, c.sign != 0);
  }
  EXPECT_EQ(makeVec({"a"}).compareTo(makeVec({"a", "b"})), -1);
}

TEST(StrVec, CopiesAreDeepAndIndependent) {
  rc::StrVec src(2, 8);
  src.append("0123456789");  // forces a second pool and leaves a skipped tail
  src.append("ab");
  src.append("cdefghijkl");
  src.append("");
  const Strings expected = contents(src);

  rc::StrVec copy(src);
  EXPECT_EQ(contents(copy), expected);
  EXPECT_NE(copy[0], src[0]);
  EXPECT_LE(copy.capacity(), src.capacity());

  // Assignment into a vector too small, one large enough, and itself.
  rc::StrVec small(1, 1);
  small.append("z");
  small = src;
  EXPECT_EQ(contents(small), expected);
  rc::StrVec large(100, 1000);
  large.append("old");
  const char* largeFirst = large[0];
  large = src;
  EXPECT_EQ(contents(large), expected);
  EXPECT_EQ(large[0], largeFirst) << "a buffer that can hold the source is reused";
  const rc::StrVec& alias = large;
  large = alias;
  EXPECT_EQ(contents(large), expected);

  src.clear();
  src.append("changed");
  EXPECT_EQ(contents(copy), expected);
  copy.append("more");
  EXPECT_EQ(copy.entries(), 5u);
  EXPECT_STREQ(copy[4], "more");
}

TEST(StrVec, CapacityChangesKeepOrDropTheStringsAsAsked) {
  rc::StrVec v(4, 40);  // 10 characters per entry
  v.append("keep");
  const char* kept = v[0];

  v.expand(16);
  EXPECT_EQ(v.capacity(), 16u);
  EXPECT_EQ(v[0], kept);
  EXPECT_GE(v.totalStrSpace(), 160u);
  v.expand(2);  // never shrinks
  EXPECT_EQ(v.capacity(), 16u);
  EXPECT_EQ(v[0], kept);

  v.setCapacity(2, 0);  // fits: only emptied
  EXPECT_TRUE(v.isEmpty());
  EXPECT_EQ(v.capacity(), 16u);
  v.setCapacity(1000, 0);  // rebuilt at the same characters per entry
  EXPECT_EQ(v.capacity(), 1000u);
  EXPECT_EQ(v.totalStrSpace(), 10000u);
  v.append("x");
  v.setCapacity(2000, 5);
  EXPECT_TRUE(v.isEmpty());
  EXPECT_EQ(v.capacity(), 2000u);
  EXPECT_EQ(v.totalStrSpace(), 5u);

  rc::StrVec empty(0);
  empty.expand(3, 30);
  EXPECT_EQ(empty.capacity(), 3u);
  EXPECT_EQ(empty.totalStrSpace(), 30u);
  EXPECT_EQ(empty.availStrSpace(), 30u);
  empty.append("abc");
  EXPECT_EQ(empty.availStrSpace(), 30u - 3);
}

TEST(StrVec, SavesAsCountAndPaddedStrings) {
  const rc::StrVec v = makeVec({"a", "bc"});
  EXPECT_EQ(encoded(v), qvtest::Bytes(qvtest::ByteImage()
                                          .words({2, 1})
                                          .text({'a', 0, 0, 0})
                                          .words({2})
                                          .text({'b', 'c', 0, 0})));
  EXPECT_EQ(encoded(rc::StrVec()), qvtest::Bytes(qvtest::ByteImage().words({0})));

  const Strings samples[] = {
      {},
      {""},
      {"a", "bc"},
      {"abc", "abcd", "abcde", std::string("\0\0", 2)},
      Strings(500, std::string(37, 'm')),
  };
  for (const Strings& strs : samples) {
    const rc::StrVec src = makeVec(strs);
    rc::ByteStrm s(0);
    src.saveOn(s);
    s << 99;
    EXPECT_LE(s.size() - 4, src.binarySize());

    rc::StrVec back;
    back.append("stale");
    back.restoreFrom(s);
    EXPECT_EQ(contents(back), strs);
    EXPECT_TRUE(back == src);
    int trailer;
    s >> trailer;
    EXPECT_EQ(trailer, 99);
  }
}

TEST(StrVec, BrokenEncodingsAreRefusedAndLeaveTheVectorEmpty) {
  using Image = qvtest::ByteImage;
  const struct {
    const char* what;
    qvtest::Bytes bytes;
  } cases[] = {
      {"empty input", {}},
      {"count cut", {1, 0}},
      {"fewer strings than counted", Image().words({2, 1}).text({'a', 0, 0, 0})},
      {"string cut", Image().words({1, 8}).text("abcd")},
      {"padding cut", Image().words({1, 3}).text("abc")},
      {"huge count", Image().words({0xFFFFFFFF, 0, 0})},
      {"length overflows", Image().words({1, 0xFFFFFFFE}).text("abcd")},
  };
  for (const auto& c : cases) {
    rc::ByteStrm s(0);
    qvtest::writeImage(s, c.bytes);
    rc::StrVec v;
    v.append("stale");
    EXPECT_THROWS_CODE(v.restoreFrom(s), RC_SC_READ_FAILED) << c.what;
    EXPECT_TRUE(v.isEmpty()) << c.what;
    v.append("usable");
    EXPECT_STREQ(v[0], "usable");
  }
}

}  // namespace
