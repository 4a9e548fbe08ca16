#include <gtest/gtest.h>

#include "comps/recomps/rcBool.h"
#include "qvTestUtil.h"

TEST(Bool, SymbolsAndLabels) {
  struct Case {
    int val;
    const char* symbol;
    const char* label;
  };
  const Case cases[] = {
      {RC_B_BAD, "bad", "Bad"}, {RC_B_AS_IS, "asIs", "As Is"}, {RC_B_NO, "no", "No"},
      {RC_B_YES, "yes", "Yes"}, {2, "unknown", "Unknown"},     {-3, "unknown", "Unknown"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(rc::Bool(c.val).symbol(), c.symbol) << c.val;
    EXPECT_STREQ(rc::Bool::label(c.val), c.label) << c.val;
  }
}

TEST(Bool, ValOfOptionWords) {
  struct Case {
    const char* symbol;
    int val;
  };
  const Case cases[] = {
      {"0", RC_B_NO},     {"1", RC_B_YES},    {"f", RC_B_NO},       {"FALSE", RC_B_NO},
      {"n", RC_B_NO},     {"No", RC_B_NO},    {"T", RC_B_YES},      {"true", RC_B_YES},
      {"y", RC_B_YES},    {"YeS", RC_B_YES},  {"asIs", RC_B_AS_IS}, {"asis", RC_B_BAD},
      {"ASIS", RC_B_BAD}, {"on", RC_B_BAD},   {"off", RC_B_BAD},    {"01", RC_B_BAD},
      {"10", RC_B_BAD},   {"yess", RC_B_BAD}, {"", RC_B_BAD},       {nullptr, RC_B_BAD},
  };
  for (const Case& c : cases) {
    const char* shown = c.symbol != nullptr ? c.symbol : "(null)";
    EXPECT_EQ(rc::Bool::val(c.symbol), c.val) << shown;
    EXPECT_EQ(rc::Bool(c.symbol).val(), c.val) << shown;
  }
}

namespace {

struct ErrCase {
  const char* value;
  int code;
  std::vector<std::string> args;
};

void expectErr(const rc::Err& err, const ErrCase& c, const char* routine) {
  EXPECT_EQ(err.severity(), RC_ERROR);
  EXPECT_EQ(err.code(), c.code) << (c.value != nullptr ? c.value : "(null)");
  ASSERT_NE(err.args(), nullptr);
  ASSERT_EQ(err.args()->size(), c.args.size());
  for (size_t i = 0; i < c.args.size(); ++i) EXPECT_STREQ((*err.args())[i], c.args[i].c_str());
  EXPECT_STREQ(err.routine(), routine);
}

}  // namespace

TEST(Bool, NeedArgAcceptsWordsAndReportsMissingOrBadValues) {
  EXPECT_EQ(rc::Bool::needArg("-Dsrc", "yes"), RC_B_YES);
  EXPECT_EQ(rc::Bool::needArg("-Dsrc", "0"), RC_B_NO);
  EXPECT_EQ(rc::Bool::needArg("-Dsrc", "asIs"), RC_B_AS_IS);
  const ErrCase cases[] = {
      {nullptr, RC_SC_NEED_ARG_VAL, {"-Dsrc"}},
      {"", RC_SC_NEED_ARG_VAL, {"-Dsrc"}},
      {"on", RC_SC_NEED_BOOL, {"-Dsrc", "on", rc::Bool::WORDS}},
      {"maybe", RC_SC_NEED_BOOL, {"-Dsrc", "maybe", rc::Bool::WORDS}},
  };
  for (const ErrCase& c : cases) {
    const rc::Err err = qvtest::thrownErr([&] { rc::Bool::needArg("-Dsrc", c.value); });
    expectErr(err, c, "recomps/Bool::needArg");
  }
}

TEST(Bool, ParseStoresOrThrowsTheError) {
  EXPECT_EQ(rc::Bool::parse("TRUE", nullptr), RC_B_YES);
  rc::Err untouched;
  EXPECT_EQ(rc::Bool::parse("n", &untouched), RC_B_NO);
  EXPECT_EQ(untouched.code(), 0);

  const ErrCase cases[] = {
      {"sometimes", RC_SC_BAD_BOOL_VAL, {"sometimes"}},
      {"off", RC_SC_BAD_BOOL_VAL, {"off"}},
      {"", RC_SC_BAD_NULL, {"boolean"}},
      {nullptr, RC_SC_BAD_NULL, {"boolean"}},
  };
  for (const ErrCase& c : cases) {
    rc::Err err;
    EXPECT_EQ(rc::Bool::parse(c.value, &err), RC_B_BAD);
    expectErr(err, c, "recomps/Bool::parse");
    const rc::Err thrown = qvtest::thrownErr([&] { rc::Bool::parse(c.value, nullptr); });
    expectErr(thrown, c, "recomps/Bool::parse");
  }
}
