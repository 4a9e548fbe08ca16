#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory_resource>
#include <new>
#include <string>
#include <vector>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcErr.h"
#include "qvTestUtil.h"

namespace {

using qvtest::ByteImage;
using qvtest::Bytes;
using qvtest::bytesOf;
using qvtest::failedAssertion;

Bytes fromString(const std::string& str) { return ByteImage().text(str); }

// The code and argument of the rc::Err fn raises.
std::string errOf(const std::function<void()>& fn) {
  const rc::Err err = qvtest::thrownErr(fn);
  return err.code() == 0 ? "(no error)" : std::to_string(err.code()) + ":" + qvtest::argsOf(err);
}

const std::string READ_FAILED = std::to_string(RC_SC_READ_FAILED) + ":rc::ByteStrm";

TEST(ByteStrm, PrimitivesAreWrittenAsFixedWidthHostOrderImages) {
  struct Case {
    const char* what;
    std::function<void(rc::ByteStrm&)> write;
    Bytes expected;
  };
  const Case cases[] = {
      {"char", [](rc::ByteStrm& s) { s << 'A'; }, {0x41}},
      {"unsigned char", [](rc::ByteStrm& s) { s << static_cast<unsigned char>(0xFE); }, {0xFE}},
      {"short -2", [](rc::ByteStrm& s) { s << static_cast<short>(-2); }, {0xFE, 0xFF}},
      {"unsigned short",
       [](rc::ByteStrm& s) { s << static_cast<unsigned short>(0x1234); },
       {0x34, 0x12}},
      {"int 1", [](rc::ByteStrm& s) { s << 1; }, {0x01, 0, 0, 0}},
      {"int -2", [](rc::ByteStrm& s) { s << -2; }, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"unsigned int", [](rc::ByteStrm& s) { s << 0x89ABCDEFu; }, {0xEF, 0xCD, 0xAB, 0x89}},
      // A long is 32 bits on the wire whatever the build.
      {"long -1", [](rc::ByteStrm& s) { s << -1L; }, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"unsigned long", [](rc::ByteStrm& s) { s << 0x01020304UL; }, {0x04, 0x03, 0x02, 0x01}},
      {"long long -2",
       [](rc::ByteStrm& s) { s << -2LL; },
       {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"unsigned long long",
       [](rc::ByteStrm& s) { s << 0x0102030405060708ULL; },
       {8, 7, 6, 5, 4, 3, 2, 1}},
      {"float 1.0", [](rc::ByteStrm& s) { s << 1.0f; }, {0x00, 0x00, 0x80, 0x3F}},
      {"double -2.5", [](rc::ByteStrm& s) { s << -2.5; }, {0, 0, 0, 0, 0, 0, 0x04, 0xC0}},
      {"null pointer",
       [](rc::ByteStrm& s) { s << static_cast<const void*>(nullptr); },
       {0, 0, 0, 0}},
      // Scalars are not aligned: the int follows the char at offset 1.
      {"char then int", [](rc::ByteStrm& s) { s << 'x' << 2; }, {0x78, 0x02, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    rc::ByteStrm s(64);
    c.write(s);
    EXPECT_EQ(bytesOf(s), c.expected) << c.what;
  }
}

TEST(ByteStrm, ReadsBackEachValueWithTheSameWidth) {
  rc::ByteStrm s(0);
  int anInt = 0;
  const void* nonNull = &anInt;
  s << 'c' << static_cast<unsigned char>(200) << static_cast<short>(-300)
    << static_cast<unsigned short>(65000) << -123456 << 4000000000u << -7L << 0xFFFFFFFFUL
    << -(1LL << 40) << 0xFEDCBA9876543210ULL << 0.25f << 1e300 << nonNull
    << static_cast<const void*>(nullptr) << std::string("tail");
  EXPECT_EQ(s.size(), 1u + 1 + 2 + 2 + 4 + 4 + 4 + 4 + 8 + 8 + 4 + 8 + 4 + 4 + 8);

  char c;
  unsigned char uc;
  short sh;
  unsigned short us;
  int i;
  unsigned int ui;
  long l;
  unsigned long ul;
  long long ll;
  unsigned long long ull;
  float f;
  double d;
  void* p1;
  void* p2;
  std::string str;
  s >> c >> uc >> sh >> us >> i >> ui >> l >> ul >> ll >> ull >> f >> d >> p1 >> p2 >> str;
  EXPECT_EQ(c, 'c');
  EXPECT_EQ(uc, 200);
  EXPECT_EQ(sh, -300);
  EXPECT_EQ(us, 65000);
  EXPECT_EQ(i, -123456);
  EXPECT_EQ(ui, 4000000000u);
  EXPECT_EQ(l, -7L);
  EXPECT_EQ(ul, 0xFFFFFFFFUL);
  EXPECT_EQ(ll, -(1LL << 40));
  EXPECT_EQ(ull, 0xFEDCBA9876543210ULL);
  EXPECT_EQ(f, 0.25f);
  EXPECT_EQ(d, 1e300);
  EXPECT_NE(p1, nullptr);
  EXPECT_EQ(p2, nullptr);
  EXPECT_EQ(str, "tail");
  EXPECT_EQ(s.unreadBytes(), 0u);
}

TEST(ByteStrm, LongsWiderThan32BitsAreNarrowed) {
  if (sizeof(long) == 4) GTEST_SKIP() << "a long is 32 bits here";
  rc::ByteStrm s(16);
  s << static_cast<long>(0x100000002L) << static_cast<unsigned long>(0x1FFFFFFFFUL);
  EXPECT_EQ(s.size(), 8u);
  long l;
  unsigned long ul;
  s >> l >> ul;
  EXPECT_EQ(l, 2);
  EXPECT_EQ(ul, 0xFFFFFFFFUL);
}

TEST(ByteStrm, StringsAreLengthBytesAndZeroPaddingToFour) {
  struct Case {
    std::string str;
    Bytes expected;
  };
  const Case cases[] = {
      {"", {0, 0, 0, 0}},
      {"a", {1, 0, 0, 0, 'a', 0, 0, 0}},
      {"ab", {2, 0, 0, 0, 'a', 'b', 0, 0}},
      {"abc", {3, 0, 0, 0, 'a', 'b', 'c', 0}},
      {"abcd", {4, 0, 0, 0, 'a', 'b', 'c', 'd'}},
      {"abcde", {5, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 0, 0, 0}},
      {std::string("a\0b", 3), {3, 0, 0, 0, 'a', 0, 'b', 0}},
  };
  for (const Case& c : cases) {
    // A fixed buffer full of junk: the padding must still come out zero.
    unsigned char junk[32];
    memset(junk, 0xAA, sizeof junk);
    rc::ByteStrm fixed(junk, sizeof junk);
    fixed.writeStr(c.str.data(), c.str.size());
    EXPECT_EQ(bytesOf(fixed), c.expected) << "writeStr of '" << c.str << "'";

    rc::ByteStrm resizeable(0);
    resizeable << c.str;
    EXPECT_EQ(bytesOf(resizeable), c.expected) << "operator<< of '" << c.str << "'";
    EXPECT_LE(resizeable.size(), rc::ByteStrm::binarySize(c.str));

    std::string back = "junk";
    resizeable >> back;
    EXPECT_EQ(back, c.str);
    EXPECT_EQ(resizeable.unreadBytes(), 0u);
  }
}

template <typename S>
concept WritesCharPointers = requires(S& s, const char* p) {
  s << p;
};
static_assert(!WritesCharPointers<rc::ByteStrm>, "text would be written as a pointer marker");

TEST(ByteStrm, StringsWithOtherAllocatorsUseTheSameEncoding) {
  rc::ByteStrm s(0);
  const std::pmr::string out("pmr text");
  s << out;
  EXPECT_EQ(s.size(), 12u);
  EXPECT_EQ(rc::ByteStrm::binarySize(out), 15u);
  std::pmr::string back;
  s >> back;
  EXPECT_EQ(back, out);
}

TEST(ByteStrm, StringPaddingCountsFromItsOwnLengthWord) {
  rc::ByteStrm s(64);
  s << 'z';
  s.writeStr("hi", 2);
  EXPECT_EQ(bytesOf(s), (Bytes{'z', 2, 0, 0, 0, 'h', 'i', 0, 0}));

  // A null string reserves its bytes for the caller and still zeroes the padding.
  rc::ByteStrm reserved(64);
  reserved.writeStr(nullptr, 5);
  EXPECT_EQ(reserved.size(), 12u);
  memcpy(reserved.buffer() + 4, "hello", 5);
  std::string back;
  reserved >> back;
  EXPECT_EQ(back, "hello");
  EXPECT_EQ(bytesOf(reserved), (Bytes{5, 0, 0, 0, 'h', 'e', 'l', 'l', 'o', 0, 0, 0}));
}

TEST(ByteStrm, ReadStrCutsToTheBufferAndPassesTheWholeString) {
  struct Case {
    std::string str;
    size_t bufSize;
    std::string expected;
  };
  const Case cases[] = {
      {"abcdefghij", 4, "abc"},
      {"abcdefghij", 11, "abcdefghij"},
      {"abcdefghij", 100, "abcdefghij"},
      {"abc", 1, ""},
      {"", 8, ""},
  };
  for (const Case& c : cases) {
    rc::ByteStrm s(0);
    s << c.str << 77;
    char buf[128];
    memset(buf, 'X', sizeof buf);
    s.readStr(buf, c.bufSize);
    EXPECT_STREQ(buf, c.expected.c_str());
    EXPECT_EQ(buf[c.bufSize], 'X') << "wrote past the buffer for '" << c.str << "'";
    EXPECT_EQ(s.readIndex(), 4 + ((c.str.size() + 3) & ~size_t{3}));
    int after;
    s >> after;
    EXPECT_EQ(after, 77);
  }

  // A zero-sized buffer receives nothing, not even the NUL.
  rc::ByteStrm s(0);
  s << std::string("abc");
  char untouched = 'U';
  s.readStr(&untouched, 0);
  EXPECT_EQ(untouched, 'U');
  EXPECT_EQ(s.unreadBytes(), 0u);
}

TEST(ByteStrm, StringsAndByteRunsCanBeReadInPlace) {
  rc::ByteStrm s(0);
  s << std::string("hello") << 9;
  s.writeBytes("xyz", 3, true);
  s.writeBytes("pq", 2, false);
  EXPECT_EQ(s.size(), 12u + 4 + 4 + 2);

  unsigned int len;
  s >> len;
  const char* inPlace = s.readStr(len);
  EXPECT_EQ(std::string(inPlace, len), "hello");
  EXPECT_EQ(inPlace, reinterpret_cast<const char*>(s.buffer()) + 4);
  int nine;
  s >> nine;
  EXPECT_EQ(nine, 9);
  char run[4] = {};
  s.readBytes(run, 3, true);
  EXPECT_STREQ(run, "xyz");
  EXPECT_EQ(s.buffer()[19], 0) << "aligned byte runs get zero padding";
  char two[2];
  s.readBytes(two, 2, false);
  EXPECT_EQ(std::string(two, 2), "pq");
  EXPECT_EQ(s.unreadBytes(), 0u);
}

TEST(ByteStrm, NestedStreamIsSizeThenBytesUnpadded) {
  rc::ByteStrm inner(8);
  inner << 'a' << 'b' << 'c' << 'd' << 'e';
  char skipped;
  inner >> skipped;  // the nested form starts at the buffer, not at the read position
  EXPECT_EQ(inner.binarySize(), 9u);

  rc::ByteStrm outer(0);
  outer << 'P';
  inner.saveOn(outer);
  outer << 'Q';
  EXPECT_EQ(bytesOf(outer), (Bytes{'P', 5, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'Q'}));

  char p;
  outer >> p;
  rc::ByteStrm restored(0);
  restored << 'R';
  restored.restoreFrom(outer);
  EXPECT_EQ(outer.readIndex(), 10u);
  EXPECT_EQ(bytesOf(restored), (Bytes{'R', 'a', 'b', 'c', 'd', 'e'}));
  char q;
  outer >> q;
  EXPECT_EQ(q, 'Q');
}

TEST(ByteStrm, GrowsByAtLeastItsInitialCapacity) {
  rc::ByteStrm s(16);
  EXPECT_TRUE(std::all_of(s.buffer(), s.buffer() + 16, [](unsigned char b) { return b == 0; }));
  for (int i = 1; i <= 4; ++i) s << i;
  EXPECT_EQ(s.capacity(), 16u);
  int first;
  s >> first;
  s << 5;
  EXPECT_EQ(s.capacity(), 32u);
  EXPECT_EQ(s.readIndex(), 4u);
  for (int i = 2; i <= 5; ++i) {
    int v;
    s >> v;
    EXPECT_EQ(v, i);
  }

  // A zero-capacity stream grows by exactly what each write needs.
  rc::ByteStrm exact(0);
  const struct {
    std::function<void()> write;
    size_t capacity;
  } steps[] = {
      {[&] { exact << 1; }, 4},
      {[&] { exact << static_cast<short>(2); }, 6},
      {[&] { exact << std::string("abc"); }, 14},
      {[&] { exact.writeBytes("12345", 5, true); }, 22},
  };
  for (const auto& step : steps) {
    step.write();
    EXPECT_EQ(exact.capacity(), step.capacity);
  }

  // expand never shrinks; resize below the capacity is refused.
  exact.expand(8);
  EXPECT_EQ(exact.capacity(), 22u);
  exact.expand(40);
  EXPECT_EQ(exact.capacity(), 40u);
  EXPECT_EQ(failedAssertion([&] { exact.resize(39); }), "newCapacity >= capacity ()");
  EXPECT_EQ(exact.capacity(), 40u);
}

TEST(ByteStrm, LargeStreamsGrowGeometrically) {
  rc::ByteStrm s(64);
  const std::string chunk(1000, 'x');
  size_t resizes = 0;
  size_t lastCapacity = s.capacity();
  for (int i = 0; i < 4000; ++i) {
    s.writeBytes(chunk.data(), chunk.size(), false);
    if (s.capacity() != lastCapacity) {
      ++resizes;
      lastCapacity = s.capacity();
    }
  }
  EXPECT_EQ(s.size(), 4000000u);
  // Linear steps of 64 bytes would take tens of thousands of copies of the whole buffer.
  EXPECT_LT(resizes, 200u);
  EXPECT_EQ(memcmp(s.buffer() + 3999000, chunk.data(), chunk.size()), 0);
}

TEST(ByteStrm, FixedBufferNeverGrowsNorFrees) {
  unsigned char buf[8];
  memset(buf, 0xAA, sizeof buf);
  rc::ByteStrm s(buf, sizeof buf);
  EXPECT_EQ(buf[0], 0xAA) << "a fixed buffer is not cleared";
  EXPECT_FALSE(s.isResizeable());
  s << 1 << 2;
  EXPECT_FALSE(s.hasRoom(1));
  EXPECT_EQ(failedAssertion([&] { s << 3; }), "m_resizeable");
  EXPECT_EQ(failedAssertion([&] { s.writeStr("x", 1); }), "m_resizeable");
  EXPECT_EQ(s.size(), 8u);
  EXPECT_EQ(s.buffer(), buf);
  EXPECT_EQ(Bytes(buf, buf + 8), (Bytes{1, 0, 0, 0, 2, 0, 0, 0}));
  int a, b;
  s >> a >> b;
  EXPECT_EQ(a + b, 3);
}

TEST(ByteStrm, PositionsMoveOnlyInsideTheBuffer) {
  rc::ByteStrm s(16);
  s << 1 << 2;
  s.reset(4);
  EXPECT_EQ(s.reserve(), 4u);
  EXPECT_EQ(s.size(), 4u);
  EXPECT_EQ(s.readIndex(), 4u);
  s << 7;
  int v;
  s >> v;
  EXPECT_EQ(v, 7);

  EXPECT_EQ(failedAssertion([&] { s.reset(17); }), "m_writePos <= m_bufferEnd");
  EXPECT_EQ(failedAssertion([&] { s.adjustWritePos(-9); }),
            "m_buffer <= m_writePos && m_writePos <= m_bufferEnd");
  EXPECT_EQ(failedAssertion([&] { s.adjustWritePos(9); }),
            "m_buffer <= m_writePos && m_writePos <= m_bufferEnd");
  EXPECT_EQ(s.size(), 8u);
  s.adjustWritePos(8);
  EXPECT_EQ(s.size(), 16u);
  s.adjustWritePos(-16);
  EXPECT_EQ(s.size(), 0u);

  // Space handed to the caller, then filled.
  rc::ByteStrm filled(0);
  auto* block = static_cast<unsigned char*>(filled.addWriteSpace(3));
  block[0] = 'a';
  block[1] = 'b';
  block[2] = 'c';
  EXPECT_EQ(bytesOf(filled), fromString("abc"));
}

TEST(ByteStrm, BytesMoveBetweenStreams) {
  rc::ByteStrm src(0);
  src << 1 << 2 << 3;
  int skip;
  src >> skip;
  rc::ByteStrm dst(0);
  dst.writeBytes(&src, 8);
  EXPECT_EQ(bytesOf(dst), (Bytes{2, 0, 0, 0, 3, 0, 0, 0}));
  EXPECT_EQ(src.unreadBytes(), 0u);
  // A source without enough data moves nothing.
  EXPECT_EQ(errOf([&] { dst.writeBytes(&src, 1); }), READ_FAILED);
  EXPECT_EQ(dst.size(), 8u);
}

TEST(ByteStrm, ReadsNeverPassTheWrittenData) {
  struct Case {
    const char* what;
    Bytes data;
    std::function<void(rc::ByteStrm&, char* dst)> read;
  };
  const Case cases[] = {
      {"empty stream, char", {}, [](rc::ByteStrm& s, char* d) { s >> d[0]; }},
      {"int from 3 bytes",
       {1, 2, 3},
       [](rc::ByteStrm& s, char*) {
         int v;
         s >> v;
       }},
      {"long long from 7 bytes",
       {1, 2, 3, 4, 5, 6, 7},
       [](rc::ByteStrm& s, char*) {
         long long v;
         s >> v;
       }},
      {"double from 4 bytes",
       {1, 2, 3, 4},
       [](rc::ByteStrm& s, char*) {
         double v;
         s >> v;
       }},
      {"pointer from 2 bytes",
       {1, 2},
       [](rc::ByteStrm& s, char*) {
         void* v;
         s >> v;
       }},
      {"string length cut", {3, 0}, [](rc::ByteStrm& s, char* d) { s.readStr(d, 16); }},
      {"string bytes cut", ByteImage().words({5}).text("abcd"),
       [](rc::ByteStrm& s, char* d) { s.readStr(d, 16); }},
      {"string padding cut", ByteImage().words({5}).text("abcde"),
       [](rc::ByteStrm& s, char* d) { s.readStr(d, 16); }},
      {"string length overflows", ByteImage().words({0xFFFFFFFF}).text("abcd"),
       [](rc::ByteStrm& s, char* d) { s.readStr(d, 16); }},
      {"string length at the limit", ByteImage().words({0xFFFFFFFD}).text("abcd"),
       [](rc::ByteStrm& s, char* d) { s.readStr(d, 16); }},
      {"std::string bytes cut", ByteImage().words({9}).text("abcdefgh"),
       [](rc::ByteStrm& s, char* d) {
         std::string str;
         s >> str;
         d[0] = str.empty() ? 0 : 1;
       }},
      {"std::string length overflows", ByteImage().words({0xFFFFFFFE}).text("abcd"),
       [](rc::ByteStrm& s, char*) {
         std::string str;
         s >> str;
       }},
      {"in-place string cut", fromString("abcdefg"),
       [](rc::ByteStrm& s, char*) { s.readStr(size_t{5}); }},
      {"in-place string overflows", fromString("abcd"),
       [](rc::ByteStrm& s, char*) { s.readStr(size_t{0xFFFFFFFF}); }},
      {"byte run cut", fromString("abc"), [](rc::ByteStrm& s, char* d) { s.readBytes(d, 4); }},
      {"aligned byte run without padding", fromString("abcde"),
       [](rc::ByteStrm& s, char* d) { s.readBytes(d, 5, true); }},
      {"nested count cut",
       {5, 0, 0},
       [](rc::ByteStrm& s, char*) {
         rc::ByteStrm n(0);
         n.restoreFrom(s);
       }},
      {"nested stream cut", ByteImage().words({6}).text("abcde"),
       [](rc::ByteStrm& s, char*) {
         rc::ByteStrm n(0);
         n.restoreFrom(s);
       }},
      {"nested count negative", ByteImage().words({0x80000000}).text("abcd"),
       [](rc::ByteStrm& s, char*) {
         rc::ByteStrm n(0);
         n.restoreFrom(s);
       }},
  };
  for (const Case& c : cases) {
    rc::ByteStrm s(0);
    qvtest::writeImage(s, c.data);
    char dst[16];
    memset(dst, 'D', sizeof dst);
    EXPECT_EQ(errOf([&] { c.read(s, dst); }), READ_FAILED) << c.what;
    EXPECT_EQ(s.readIndex(), 0u) << c.what << ": the read position moved";
    EXPECT_TRUE(std::all_of(dst, dst + sizeof dst, [](char ch) { return ch == 'D'; }))
        << c.what << ": the destination was written";
  }

  // Moving the write position back behind the read position leaves nothing to read.
  rc::ByteStrm s(0);
  s << 1 << 2;
  int v;
  s >> v;
  s.adjustWritePos(-8);
  EXPECT_EQ(s.unreadBytes(), 0u);
  EXPECT_EQ(errOf([&] { s >> v; }), READ_FAILED);
}

TEST(ByteStrm, UnencodableStringsAndImpossibleSizesAreRefused) {
  rc::ByteStrm s(16);
  s << 1 << 2;
  int v;
  s >> v;
  EXPECT_EQ(errOf([&] { s.writeStr(nullptr, rc::ByteStrm::MAX_STR_BYTES + 1); }),
            std::to_string(RC_SC_WRITE_FAILED) + ":rc::ByteStrm");
  EXPECT_EQ(s.size(), 8u);

  // A size no buffer can have is an allocation failure: the stream is emptied (its reserve
  // too), capacity kept.
  s.reset(4);
  EXPECT_THROW(s.needRoom(SIZE_MAX), std::bad_alloc);
  EXPECT_EQ(s.capacity(), 16u);
  EXPECT_EQ(s.size(), 0u);
  EXPECT_EQ(s.readIndex(), 0u);
  EXPECT_EQ(s.reserve(), 0u);
}

class ByteStrmFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/rcByteStrmTest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
  }
  void TearDown() override {
    for (const std::string& f : m_files) unlink(f.c_str());
    rmdir(m_dir.c_str());
  }
  std::string file(const std::string& name, const std::string* content = nullptr) {
    const std::string path = m_dir + "/" + name;
    m_files.push_back(path);
    if (content != nullptr) {
      FILE* fp = fopen(path.c_str(), "wb");
      fwrite(content->data(), 1, content->size(), fp);
      fclose(fp);
    }
    return path;
  }
  std::string m_dir;
  std::vector<std::string> m_files;
};

TEST_F(ByteStrmFile, BinaryContentRoundTrips) {
  rc::ByteStrm out(0);
  out << 42 << std::string("file") << 2.5;
  const std::string path = file("bin");
  ASSERT_TRUE(out.writeToFile(path.c_str()));

  rc::ByteStrm in(0);
  in << 'H';
  ASSERT_TRUE(in.readFromFile(path.c_str()));
  EXPECT_EQ(in.size(), 1 + out.size());
  char h;
  int i;
  std::string str;
  double d;
  in >> h >> i >> str >> d;
  EXPECT_EQ(i, 42);
  EXPECT_EQ(str, "file");
  EXPECT_EQ(d, 2.5);

  const std::string empty;
  const std::string emptyPath = file("empty", &empty);
  EXPECT_TRUE(in.readFromFile(emptyPath.c_str()));
  EXPECT_EQ(in.unreadBytes(), 0u);

  EXPECT_FALSE(in.readFromFile((m_dir + "/missing").c_str()));
  EXPECT_FALSE(out.writeToFile((m_dir + "/no/such/dir").c_str()));
}

TEST_F(ByteStrmFile, TextLinesBecomeStrings) {
  const std::string contents[] = {"a\nbc\n", "a\r\nbc\r\n", "a\nbc"};
  int n = 0;
  for (const std::string& content : contents) {
    const std::string path = file("text" + std::to_string(n++), &content);
    rc::ByteStrm s(0);
    ASSERT_TRUE(s.restoreFromTextFile(path.c_str()));
    EXPECT_EQ(bytesOf(s), (Bytes{1, 0, 0, 0, 'a', 0, 0, 0, 2, 0, 0, 0, 'b', 'c', 0, 0}));
  }

  // 2047 characters (a carriage return included) fit the line buffer; a longer line is left out
  // and reported, and the lines after it are still read.
  const std::string fits = "x\n" + std::string(2047, 'y') + "\n" + std::string(2046, 'w') + "\r\nz";
  const std::string tooLong = "x\n" + std::string(2048, 'y') + "\nz\n";
  rc::ByteStrm s(0);
  ASSERT_TRUE(s.restoreFromTextFile(file("fits", &fits).c_str()));
  std::string x, y, w, z;
  s >> x >> y >> w >> z;
  EXPECT_EQ(y, std::string(2047, 'y'));
  EXPECT_EQ(w, std::string(2046, 'w'));
  EXPECT_EQ(z, "z");

  rc::ByteStrm cut(0);
  EXPECT_FALSE(cut.restoreFromTextFile(file("long", &tooLong).c_str()));
  cut >> x >> z;
  EXPECT_EQ(x, "x");
  EXPECT_EQ(z, "z");
  EXPECT_EQ(cut.unreadBytes(), 0u);

  EXPECT_FALSE(cut.restoreFromTextFile((m_dir + "/missing").c_str()));
}

}  // namespace
