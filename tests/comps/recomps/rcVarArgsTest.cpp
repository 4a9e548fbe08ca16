#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcStrVec.h"
#include "comps/recomps/rcVarArgs.h"
#include "qvTestUtil.h"

TEST(VarArgs, ValuesBecomeTextAsTheyAreAdded) {
  rc::VarArgs args;
  EXPECT_EQ(args[0], nullptr);  // no vector yet
  args << "s" << std::string("std") << -1 << static_cast<unsigned int>(-1) << -2L << 3UL << -4LL
       << 18446744073709551615ULL << 1.5f << 1e20 << 0.5;
  const char* expected[] = {"s",   "std",   "-1", "4294967295",
                            "-2",  "3",     "-4", "18446744073709551615",
                            "1.5", "1e+20", "0.5"};
  ASSERT_EQ(args.size(), 11u);
  for (size_t i = 0; i < args.size(); ++i) EXPECT_STREQ(args[i], expected[i]) << i;
  EXPECT_STREQ(args[11], "<rc::StrVec index too big>");
  rc::VarArgs more;
  more << args << "end";
  EXPECT_EQ(more.size(), 12u);
  EXPECT_EQ((rc::VarArgs() << "a"
                           << "b")
                .asString(),
            "a, b");
  EXPECT_EQ(rc::VarArgs().asString(), "");
}

TEST(VarArgs, PlaceholderSubstitution) {
  rc::VarArgs twelve;
  for (int i = 1; i <= 12; ++i) {
    char arg[8];
    snprintf(arg, sizeof arg, "a%d", i);
    twelve << arg;
  }
  const struct {
    rc::VarArgs args;
    const char* templ;
    const char* text;
  } rows[] = {
      {rc::VarArgs() << "/tmp/x", "unable to open '{1}'", "unable to open '/tmp/x'"},
      {rc::VarArgs() << "key"
                     << "v",
       "{1} value '{2}' is unknown or invalid", "key value 'v' is unknown or invalid"},
      {rc::VarArgs() << "a"
                     << "b",
       "{3} stays, {2}{1}", "{3} stays, ba"},
      {rc::VarArgs() << "a", "{0} never", "{0} never"},
      {rc::VarArgs() << "a", "x{1x y", "xa y"},  // the closing character is not examined
      {twelve, "{12}|{1}|{10}", "a12|a1|a10"},
      {rc::VarArgs() << "a", "{12}", "{12}"},
      {rc::VarArgs() << "a"
                     << "b"
                     << "c",
       "{12}", "{12}"},
      {rc::VarArgs() << "{1}", "<{1}>", "<{1}>"},  // inserted text is not expanded again
      {rc::VarArgs() << "a", "{1", "a"},
      {rc::VarArgs(), "{1}", "{1}"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.args.substituteArgs(row.templ), row.text) << row.templ;
}

TEST(VarArgs, NamedLookup) {
  rc::VarArgs args;
  args << "user=bob"
       << "x"
       << "=v"
       << "user=eve"
       << "empty=";
  EXPECT_EQ(args["user"], "bob");
  EXPECT_EQ(args[""], "v");
  EXPECT_EQ(args["x"], "");
  EXPECT_EQ(args["empty"], "");
  EXPECT_EQ(args["none"], "");
  EXPECT_EQ(rc::VarArgs()["user"], "");
}

TEST(VarArgs, CopiesAssignmentAndClear) {
  rc::VarArgs src;
  src << "a"
      << "b";
  rc::VarArgs copy(src);
  src.clear();
  EXPECT_EQ(copy.asString(), "a, b");
  EXPECT_TRUE(src.isEmpty());
  EXPECT_NE(src.args(), nullptr);  // clear keeps the vector
  rc::VarArgs target;
  target << "old";
  target = rc::VarArgs();
  EXPECT_TRUE(target.isEmpty());
  target = copy;
  target = target;
  EXPECT_EQ(target.asString(), "a, b");
  const rc::VarArgs sized(4, 100);
  EXPECT_NE(sized.args(), nullptr);
  EXPECT_EQ(sized.size(), 0u);
}

TEST(VarArgs, WireForm) {
  rc::ByteStrm s(0);
  rc::VarArgs().saveOn(s);
  EXPECT_EQ(s.size(), 4u);
  EXPECT_EQ(rc::VarArgs().binarySize(), 4u);
  rc::VarArgs filled;
  filled << "x";
  filled.restoreFrom(s);  // an absent list clears an existing one
  EXPECT_TRUE(filled.isEmpty());

  rc::VarArgs args;
  args << "one"
       << ""
       << "three";
  rc::ByteStrm s2(0);
  args.saveOn(s2);
  EXPECT_LE(s2.size(), args.binarySize());
  rc::VarArgs back;
  back.restoreFrom(s2);
  EXPECT_EQ(back.asString(), "one, , three");
  EXPECT_EQ(s2.unreadBytes(), 0u);

  qvtest::expectEveryCutRefused(
      qvtest::bytesOf(s2), [](rc::ByteStrm& in) { rc::VarArgs().restoreFrom(in); }, "", 1);
}
