#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcUtils.h"
#include "qvTestUtil.h"

namespace {

struct NeedCase {
  const char* value;
  int code;  // 0: accepted
  std::vector<std::string> args;
};

// Runs each case through read and checks the value or the error (severity, code, arguments).
template <typename T>
void checkNeed(const char* what, const std::function<T(const char*)>& read,
               const std::vector<NeedCase>& cases, const std::vector<T>& accepted) {
  size_t nextAccepted = 0;
  for (const auto& c : cases) {
    const std::string label =
        std::string(what) + "(" + (c.value != nullptr ? c.value : "null") + ")";
    try {
      const T value = read(c.value);
      EXPECT_EQ(c.code, 0) << label << " was accepted";
      if (c.code == 0 && nextAccepted < accepted.size()) {
        EXPECT_EQ(value, accepted[nextAccepted]) << label;
      }
    } catch (const rc::Err& err) {
      EXPECT_EQ(err.code(), c.code) << label;
      EXPECT_EQ(err.severity(), RC_ERROR) << label;
      const rc::VarArgs* args = err.args();
      ASSERT_EQ(args != nullptr ? args->size() : 0u, c.args.size()) << label;
      for (size_t i = 0; i < c.args.size(); ++i) EXPECT_EQ((*args)[i], c.args[i]) << label;
      EXPECT_EQ(std::string(err.routine()), std::string("recomps/Utils::") + what) << label;
    }
    if (c.code == 0) ++nextAccepted;
  }
}

}  // namespace

TEST(Utils, NeedIntFamily) {
  checkNeed<int>("needInt", [](const char* v) { return rc::Utils::needInt("-x", v); },
                 {{"12", 0, {}},
                  {"-2147483648", 0, {}},
                  {"2147483647", 0, {}},
                  {"010", 0, {}},  // decimal: the leading zero is not octal
                  {"12a", RC_SC_NEED_INT, {"-x", "12a"}},
                  {"0x10", RC_SC_NEED_INT, {"-x", "0x10"}},
                  {"abc", RC_SC_NEED_INT, {"-x", "abc"}},
                  {"12 ", RC_SC_NEED_INT, {"-x", "12 "}},
                  {"2147483648", RC_SC_OUT_OF_RANGE, {"2147483648"}},
                  {"-99999999999999999999", RC_SC_OUT_OF_RANGE, {"-99999999999999999999"}},
                  {"", RC_SC_NEED_ARG_VAL, {"-x"}},
                  {nullptr, RC_SC_NEED_ARG_VAL, {"-x"}}},
                 {12, INT_MIN, INT_MAX, 10});
  checkNeed<int>("needIntOptRadix",
                 [](const char* v) { return rc::Utils::needIntOptRadix("-r", v); },
                 {{"0x1f", 0, {}},
                  {"017", 0, {}},
                  {"-9", 0, {}},
                  {"08", RC_SC_NEED_INT, {"-r", "08"}},
                  {"0x100000000", RC_SC_OUT_OF_RANGE, {"0x100000000"}}},
                 {31, 15, -9});
  checkNeed<int64_t>("needInt64", [](const char* v) { return rc::Utils::needInt64("-n", v); },
                     {{"9000000000", 0, {}},
                      {"-9223372036854775808", 0, {}},
                      {"9223372036854775808", RC_SC_OUT_OF_RANGE, {"9223372036854775808"}},
                      {"1e3", RC_SC_NEED_INT, {"-n", "1e3"}},
                      {"", RC_SC_NEED_ARG_VAL, {"-n"}}},
                     {9000000000LL, INT64_MIN});
  checkNeed<int64_t>(
      "needInt64OptRadix", [](const char* v) { return rc::Utils::needInt64OptRadix("-n", v); },
      {{"0x7fffffffffffffff", 0, {}}, {"0xg", RC_SC_NEED_INT, {"-n", "0xg"}}}, {INT64_MAX});
  checkNeed<int>("needPositiveInt",
                 [](const char* v) { return rc::Utils::needPositiveInt("-p", v); },
                 {{"0", 0, {}},
                  {"7", 0, {}},
                  {"-1", RC_SC_NEED_POSITIVE_INT, {"-p", "-1"}},
                  {"1x", RC_SC_NEED_INT, {"-p", "1x"}},
                  {"4294967296", RC_SC_OUT_OF_RANGE, {"4294967296"}},
                  {nullptr, RC_SC_NEED_ARG_VAL, {"-p"}}},
                 {0, 7});
}

TEST(Utils, NeedIntervalsKeepTheirLimits) {
  const std::vector<std::string> range = {"-t", "1", "100000000"};
  checkNeed<int>("needTimeoutInterval",
                 [](const char* v) { return rc::Utils::needTimeoutInterval("-t", v); },
                 {{"1", 0, {}},
                  {"100000000", 0, {}},
                  {"0", RC_SC_VAL_OUT_OF_RANGE, range},
                  {"100000001", RC_SC_VAL_OUT_OF_RANGE, range},
                  {"-5", RC_SC_VAL_OUT_OF_RANGE, range},
                  {"99999999999", RC_SC_VAL_OUT_OF_RANGE, range},  // an overflow is out of range
                  {"5s", RC_SC_NEED_INT, {"-t", "5s"}},
                  {"", RC_SC_NEED_ARG_VAL, {"-t"}}},
                 {1, 100000000});
  const std::vector<std::string> nowRange = {"-t", "1", "100000000"};
  checkNeed<int>("needNowAfterInterval",
                 [](const char* v) { return rc::Utils::needNowAfterInterval("-t", v); },
                 {{"42", 0, {}},
                  {"0", RC_SC_VAL_OUT_OF_RANGE, nowRange},
                  {"99999999999", RC_SC_OUT_OF_RANGE, {"99999999999"}},
                  {"4x", RC_SC_NEED_INT, {"-t", "4x"}},
                  {nullptr, RC_SC_NEED_ARG_VAL, {"-t"}}},
                 {42});
}

TEST(Utils, NeedStringsBoolsAddressesAndLevels) {
  checkNeed<std::string>("needStr",
                         [](const char* v) { return std::string(rc::Utils::needStr("-s", v)); },
                         {{"abc", 0, {}},
                          {" ", 0, {}},
                          {"", RC_SC_NEED_ARG_VAL, {"-s"}},
                          {nullptr, RC_SC_NEED_ARG_VAL, {"-s"}}},
                         {"abc", " "});
  checkNeed<std::string>(
      "needBlankableStr",
      [](const char* v) { return std::string(rc::Utils::needBlankableStr("-s", v)); },
      {{"", 0, {}}, {nullptr, RC_SC_NEED_ARG_VAL, {"-s"}}}, {""});
  checkNeed<bool>("needBool", [](const char* v) { return rc::Utils::needBool("-b", v); },
                  {{"YES", 0, {}},
                   {"off", 0, {}},
                   {"maybe", RC_SC_NEED_BOOL, {"-b", "maybe", rc::Utils::BOOL_WORDS}},
                   {"", RC_SC_NEED_ARG_VAL, {"-b"}}},
                  {true, false});
  checkNeed<uint32_t>("needIpAddr", [](const char* v) { return rc::Utils::needIpAddr("-ip", v); },
                      {{"10.0.0.1", 0, {}},
                       {"10.0.0", 0, {}},  // inet_aton's short forms are addresses too
                       {"10.0.0.256", RC_SC_NEED_IP_ADDR, {"-ip", "10.0.0.256"}},
                       {"host.example", RC_SC_NEED_IP_ADDR, {"-ip", "host.example"}},
                       {nullptr, RC_SC_NEED_ARG_VAL, {"-ip"}}},
                      {htonl(0x0A000001u), htonl(0x0A000000u)});
  checkNeed<std::string>(
      "needSecLevel", [](const char* v) { return std::string(rc::Utils::needSecLevel("-sec", v)); },
      {{"preferredUnSecured", 0, {}},
       {"onlyUnSecured", 0, {}},
       {"preferredSecured", 0, {}},
       {"onlySecured", 0, {}},
       {"onlysecured", RC_SC_INVALID_SEC_VAL, {"-sec", "onlysecured"}},
       {"", RC_SC_NEED_ARG_VAL, {"-sec"}}},
      {"preferredUnSecured", "onlyUnSecured", "preferredSecured", "onlySecured"});
}

TEST(Utils, StrToBoolWords) {
  const struct {
    const char* text;
    int expected;
  } rows[] = {
      {"1", 1},   {"t", 1},     {"TRUE", 1}, {"y", 1},     {"Yes", 1}, {"On", 1},     {"0", 0},
      {"F", 0},   {"false", 0}, {"n", 0},    {"NO", 0},    {"oFF", 0}, {"2", -1},     {"10", -1},
      {"01", -1}, {"", -1},     {"o", -1},   {"yess", -1}, {" y", -1}, {"truth", -1}, {nullptr, -1},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(rc::Utils::strToBool(r.text), r.expected) << (r.text != nullptr ? r.text : "null");
  }
}

TEST(Utils, LenientNumberConversions) {
  const struct {
    const char* text;
    bool ok;
    long value;
  } longs[] = {
      {"42", true, 42},    {"0x1f", true, 31}, {"010", true, 8},
      {"-3abc", true, -3}, {"  7", true, 7},   {"abc", false, 0},
      {"", false, 0},      {"0", true, 0},     {"99999999999999999999", false, LONG_MAX},
  };
  for (const auto& r : longs) {
    long value = -1;
    EXPECT_EQ(rc::Utils::strToLong(r.text, &value), r.ok) << r.text;
    if (r.ok || r.value != 0) {
      EXPECT_EQ(value, r.value) << r.text;
    }
  }
  unsigned long ul = 0;
  EXPECT_TRUE(rc::Utils::strToUlong("0xffffffff", &ul));
  EXPECT_EQ(ul, 0xffffffffUL);
  EXPECT_FALSE(rc::Utils::strToUlong(" -1", &ul));  // no wrap-around to a huge number
  unsigned long long ull = 0;
  EXPECT_TRUE(rc::Utils::strToUlonglong("18446744073709551615", &ull));
  EXPECT_EQ(ull, 18446744073709551615ULL);
  EXPECT_FALSE(rc::Utils::strToUlonglong("18446744073709551616", &ull));
  EXPECT_FALSE(rc::Utils::strToUlonglong("-5", &ull));
  EXPECT_FALSE(rc::Utils::strToLong(nullptr, nullptr));

  double d = 0;
  EXPECT_TRUE(rc::Utils::strToDouble("2.5e3x", &d));
  EXPECT_DOUBLE_EQ(d, 2500.0);
  EXPECT_TRUE(rc::Utils::strToDouble("1e-400", &d));  // an underflow is a value
  EXPECT_FALSE(rc::Utils::strToDouble("1e400", &d));
  EXPECT_FALSE(rc::Utils::strToDouble("x", &d));
  EXPECT_TRUE(rc::Utils::isNumber("-0.5"));
  EXPECT_FALSE(rc::Utils::isNumber("."));
  EXPECT_FALSE(rc::Utils::isNumber(nullptr));

  // QvStrtod gives the caller's errno back unless the value overflowed.
  char* end = nullptr;
  errno = EBADF;
  EXPECT_DOUBLE_EQ(rc::Utils::QvStrtod("1.5", &end), 1.5);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(*end, '\0');
  rc::Utils::QvStrtod("1e-400", &end);
  EXPECT_EQ(errno, EBADF);
  rc::Utils::QvStrtod("1e400", &end);
  EXPECT_EQ(errno, ERANGE);
}

TEST(Utils, TokenizeSplitsInPlace) {
  const struct {
    const char* text;
    char sep;
    char alt;
    char comment;
    std::vector<std::string> tokens;
  } rows[] = {
      {"a b \"c d\"", ' ', 0, 0, {"a", "b", "c d"}},
      {"  lead   trail  ", ' ', 0, 0, {"lead", "trail"}},
      {"a,b;c", ',', ';', 0, {"a", "b", "c"}},
      {"a,,b,", ',', 0, 0, {"a", "b"}},  // separators between tokens are skipped
      {",a", ',', 0, 0, {"a"}},
      {"a b,c", ',', 0, 0, {"a b", "c"}},
      {"\"\"", ' ', 0, 0, {""}},  // two quotes: one empty token
      {"x \"a,b # c\" y", ',', 0, '#', {"x ", "a,b # c", "y"}},
      {"key val # comment", ' ', 0, '#', {"key", "val"}},
      {"key#comment", ' ', 0, '#', {"key"}},
      {"# all comment", ' ', 0, '#', {}},
      {"ab\"cd\"ef", ' ', 0, 0, {"ab", "cd", "ef"}},
      {"\"open to the end", ' ', 0, 0, {"open to the end"}},
      {"trailing \"", ' ', 0, 0, {"trailing", ""}},
      {"tab\tsep", ' ', '\t', 0, {"tab", "sep"}},
      {"", ' ', 0, 0, {}},
      {"   ", ' ', 0, 0, {}},
  };
  for (const auto& r : rows) {
    std::string text = r.text;
    char* tokens[8];
    const int n = rc::Utils::tokenize(text.data(), tokens, 8, r.sep, r.alt, r.comment);
    ASSERT_EQ(n, static_cast<int>(r.tokens.size())) << r.text;
    for (int i = 0; i < n; ++i) EXPECT_EQ(tokens[i], r.tokens[i]) << r.text;
    EXPECT_EQ(tokens[n], nullptr) << r.text;
  }
  char* tokens[2];
  EXPECT_EQ(rc::Utils::tokenize(nullptr, tokens, 2, ' '), 0);
  EXPECT_EQ(tokens[0], nullptr);
}

TEST(Utils, TokenizeNeverOverrunsTheTokenArray) {
  rc::Assert::setAbortOnFail(false);
  for (const char* text : {"a b c d", "\"a\"\"b\"\"c\"\"d\"", "a\"b\"c\"d\""}) {
    std::string copy = text;
    char* tokens[4] = {};
    try {
      rc::Utils::tokenize(copy.data(), tokens, 3, ' ');
      ADD_FAILURE() << text;
    } catch (const rc::IntnlErr& err) {
      ASSERT_NE(err.err().args(), nullptr);
      EXPECT_STREQ((*err.err().args())[0], "numTokens < (maxTokens-1)");
    }
    EXPECT_EQ(tokens[3], nullptr) << text;  // the slot past the array is untouched
  }
  std::string fits = "a b ";
  char* tokens[3];
  EXPECT_EQ(rc::Utils::tokenize(fits.data(), tokens, 3, ' '), 2);
  rc::Assert::setAbortOnFail(true);
}

TEST(Utils, SplitAndStrip) {
  const struct {
    const char* text;
    const char* token;
    bool found;
    const char* lhs;
    const char* rhs;
  } rows[] = {
      {"a = b", "=", true, "a", "b"},         {"  a b  ", "=", false, "a b", ""},
      {"k=v=w", "=", true, "k", "v=w"},       {"name.attr", ".", true, "name", "attr"},
      {"x :: y", "::", true, "x", "y"},       {"=", "=", true, "", ""},
      {"\ta = b\t", "=", true, "\ta", "b\t"},  // only the space character is a blank here
      {"abc", "", false, "abc", ""},          {nullptr, "=", false, "", ""},
  };
  for (const auto& r : rows) {
    std::string lhs = "stale";
    std::string rhs = "stale";
    EXPECT_EQ(rc::Utils::split(r.text, &lhs, &rhs, r.token), r.found) << r.text;
    EXPECT_EQ(lhs, r.lhs) << (r.text ? r.text : "null");
    EXPECT_EQ(rhs, r.rhs) << (r.text ? r.text : "null");
  }
  EXPECT_TRUE(rc::Utils::split("a=b", nullptr, nullptr, "="));

  const struct {
    const char* in;
    rc::Utils::StripType type;
    const char* out;
    const char* outWhite;
  } strips[] = {
      {"  a b  ", rc::Utils::ST_BOTH, "a b", "a b"},
      {"  a b  ", rc::Utils::ST_PRE, "a b  ", "a b  "},
      {"  a b  ", rc::Utils::ST_POST, "  a b", "  a b"},
      {" \t\na\n ", rc::Utils::ST_BOTH, "\t\na\n", "a"},
      {"    ", rc::Utils::ST_BOTH, "", ""},
      {"", rc::Utils::ST_BOTH, "", ""},
  };
  for (const auto& s : strips) {
    std::string text = s.in;
    EXPECT_EQ(rc::Utils::strip(text, ' ', s.type), s.out) << "[" << s.in << "]";
    text = s.in;
    EXPECT_EQ(rc::Utils::stripWhiteSpace(text, s.type), s.outWhite) << "[" << s.in << "]";
  }
  std::string dashes = "--x--";
  EXPECT_EQ(rc::Utils::strip(dashes, '-'), "x");

  const struct {
    const char* in;
    const char* out;
  } quotes[] = {{"\"a\"", "a"}, {"'a'", "a"}, {"\"a'", "a'"}, {"'a", "a"},
                {"a\"", "a\""}, {"\"", ""},   {"''", ""},     {"", ""}};
  for (const auto& q : quotes) {
    std::string text = q.in;
    EXPECT_EQ(rc::Utils::stripQuotes(text), q.out) << q.in;
  }
  EXPECT_EQ(rc::Utils::parseSqlName("\"MixedCase\""), "MixedCase");
  EXPECT_EQ(rc::Utils::parseSqlName("MixedCase"), "MixedCase");
  EXPECT_EQ(rc::Utils::parseSqlName("\"half"), "\"half");
  EXPECT_EQ(rc::Utils::parseSqlName("\""), "\"");
}

TEST(Utils, SmallTextHelpers) {
  EXPECT_EQ(rc::Utils::truncate("abcdef", 3), "abc");
  EXPECT_EQ(rc::Utils::truncate("ab", 3), "ab");

  char buf[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(rc::Utils::copyStr(buf, "abcdef", sizeof buf), 3u);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(rc::Utils::copyStr(buf, "a", sizeof buf), 1u);
  EXPECT_STREQ(buf, "a");
  EXPECT_EQ(rc::Utils::copyStr(buf, nullptr, sizeof buf), 0u);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(rc::Utils::copyStr(buf, "abc", 0), 0u);

  EXPECT_EQ(rc::Utils::toLower("MiXeD 1"), "mixed 1");
  EXPECT_EQ(rc::Utils::toUpper("MiXeD 1"), "MIXED 1");
  EXPECT_EQ(rc::Utils::toLower(nullptr), "");

  const struct {
    const char* text;
    int width;
    int height;
  } blocks[] = {{"", 0, 1}, {"abc", 3, 1}, {"a\nlonger\nb", 6, 3}, {"ab\n", 2, 2}, {nullptr, 0, 0}};
  for (const auto& b : blocks) {
    EXPECT_EQ(rc::Utils::textWidth(b.text), b.width);
    EXPECT_EQ(rc::Utils::textHeight(b.text), b.height);
  }

  const struct {
    int n;
    const char* suffix;
  } ordinals[] = {{1, "st"},  {2, "nd"},   {3, "rd"},      {4, "th"},   {11, "th"},
                  {12, "th"}, {13, "th"},  {21, "st"},     {112, "th"}, {-22, "nd"},
                  {0, "th"},  {101, "st"}, {INT_MIN, "th"}};
  for (const auto& o : ordinals) EXPECT_STREQ(rc::Utils::getOrdinalSuffix(o.n), o.suffix) << o.n;

  EXPECT_STREQ(rc::Utils::toStr(true), "true");
  EXPECT_STREQ(rc::Utils::toStr(false, "on", "off"), "off");
  EXPECT_EQ(rc::Utils::toString(-42), "-42");
  EXPECT_EQ(rc::Utils::toString(255, "%#x"), "0xff");
  EXPECT_EQ(rc::Utils::toString(1234567890L), "1234567890");
  EXPECT_EQ(rc::Utils::toString(0.5f), "0.5");
  EXPECT_EQ(rc::Utils::toString(7, "%030d").size(), 19u);  // cut, never overrun
  EXPECT_EQ(rc::Utils::ptrToString(nullptr, "%p"), "(nil)");
  EXPECT_EQ(rc::Utils::ipToString(0x0A000102u), "10.0.1.2");
  EXPECT_EQ(rc::Utils::ipToString(0xFFFFFFFFu), "255.255.255.255");
  EXPECT_TRUE(rc::Utils::trueAlways(nullptr, nullptr));
  EXPECT_FALSE(rc::Utils::falseAlways(nullptr, nullptr));
}

TEST(Utils, TimeStampsAndTimeText) {
  EXPECT_EQ(rc::Utils::qvTimeStamp(946684800), 0u);
  EXPECT_EQ(rc::Utils::qvTimeStamp(946684801), 1000000u);
  EXPECT_EQ(rc::Utils::epochTimeStamp(0), 946684800);
  EXPECT_EQ(rc::Utils::epochTimeStamp(1999999), 946684801);  // whole seconds
  const int64_t now = 1700000000;
  EXPECT_EQ(rc::Utils::epochTimeStamp(rc::Utils::qvTimeStamp(now)), now);

  // Local time follows TZ; run in a child so that the test process keeps its zone.
  const auto result = qvtest::runInChild([] {
    setenv("TZ", "UTC", 1);
    tzset();
    printf("%s|", rc::Utils::timeToString(946684800, "%Y-%m-%d %H:%M:%S").c_str());
    printf("%zu|", rc::Utils::timeToString(0,
                                           "%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%"
                                           "%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%"
                                           "%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%"
                                           "%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%"
                                           "%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%")
                       .size());
    printf("%zu", rc::Utils::timeToString("%Y").size());
    fflush(stdout);
  });
  // 110 characters do not fit the 100-byte buffer: nothing is returned rather than a part.
  EXPECT_EQ(result.out, "2000-01-01 00:00:00|0|4");
}

TEST(Utils, UsageLines) {
  const auto result = qvtest::runInChild([] {
    rc::Utils::printStdUsageHeader("prog");
    rc::Utils::printArgUsage("-dirSuffix", 15, "display directory suffix form");
    rc::Utils::printArgUsage("-h or -? or --help   ", 15, "display this help");
    fflush(stdout);
  });
  EXPECT_EQ(result.out,
            "Usage: prog [-h|-rev] [<options>]\n"
            "Options:\n"
            " -dirSuffix     display directory suffix form\n"
            " -h or -? or --help   display this help\n");
}

namespace {

// confirmAction in a child whose standard input holds input.
qvtest::ProcResult confirmWith(const std::string& input) {
  return qvtest::runInChild([input] {
    int fds[2];
    if (pipe(fds) != 0 || dup2(fds[0], 0) < 0) _exit(9);
    if (!input.empty() && write(fds[1], input.data(), input.size()) < 0) _exit(9);
    close(fds[1]);
    const bool yes = rc::Utils::confirmAction("Really");
    fflush(nullptr);
    _exit(yes ? 0 : 1);
  });
}

}  // namespace

TEST(Utils, ConfirmActionAsksUntilItUnderstands) {
  const struct {
    const char* input;
    int status;  // 0 yes, 1 no
    int prompts;
    int complaints;
  } rows[] = {
      {"y\n", 0, 1, 0}, {"YES\r\n", 0, 1, 0},           {"n\n", 1, 1, 0},   {"\n", 1, 1, 0},
      {"", 1, 1, 0},    {"maybe\nsure\non\n", 0, 3, 2}, {"maybe", 1, 1, 1}, {"  true  \n", 0, 1, 0},
  };
  for (const auto& r : rows) {
    const auto result = confirmWith(r.input);
    EXPECT_EQ(result.exitStatus, r.status) << r.input;
    int prompts = 0;
    for (size_t at = 0; (at = result.out.find("Really (y|n)? [n] ", at)) != std::string::npos;
         ++at) {
      ++prompts;
    }
    EXPECT_EQ(prompts, r.prompts) << r.input << " out: " << result.out;
    int complaints = 0;
    for (char c : result.err) complaints += c == '\n';
    EXPECT_EQ(complaints, r.complaints) << r.input << " err: " << result.err;
  }
}
