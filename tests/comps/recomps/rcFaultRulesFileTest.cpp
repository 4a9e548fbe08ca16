#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "comps/recomps/rcFaultRulesFile.h"
#include "comps/recomps/rcStrVec.h"
#include "qvTestUtil.h"

namespace {

using rc::fault::DataType;
using rc::fault::Rule;
using rc::fault::Rules;
using rc::fault::RulesFile;
using rc::fault::Tkn;

// The rules read from a file with this content.
struct ReadResult {
  std::unique_ptr<RulesFile> file = std::make_unique<RulesFile>();
  rc::Err err;
  bool failed = false;
  Rules& rules() { return file->rules(); }
};

ReadResult readText(const std::string& content) {
  static const qvtest::TempDir dir("qvfault");
  const std::string path = dir.writeFile("rules", content);
  ReadResult r;
  try {
    r.file->open(path.c_str());
    r.file->read();
  } catch (const rc::Err& err) {
    r.err = err;
    r.failed = true;
  }
  r.file->close();
  return r;
}

const Rule& ruleOf(ReadResult& r, const char* name) {
  const Rule* rule = r.rules().lookup(name);
  EXPECT_NE(rule, nullptr) << name;
  static const Rule none;
  return rule != nullptr ? *rule : none;
}

// The tokens of a line as "type:text" items; stops at the end of the line.
std::vector<std::string> tokens(const char* line) {
  Tkn tkn;
  tkn.setLine(line);
  std::vector<std::string> out;
  for (int i = 0; i < 10; ++i) {
    String token("unset");
    const int type = tkn.next(token);
    out.push_back(std::to_string(type) + ":" + std::string(token));
    if (type == Tkn::T_EOL) break;
  }
  return out;
}

TEST(FaultTkn, SplitsWordsQuotesEqualsAndComments) {
  using V = std::vector<std::string>;
  EXPECT_EQ(tokens("a.b=1"), (V{"1:a.b", "2:=", "1:1", "3:unset"}));
  EXPECT_EQ(tokens("  a.b  =  1  # note"), (V{"1:a.b", "2:=", "1:1", "3:"}));
  EXPECT_EQ(tokens("x#y"), (V{"1:x", "3:"}));
  EXPECT_EQ(tokens("'x # y' z"), (V{"1:x # y", "1:z", "3:unset"}));
  EXPECT_EQ(tokens("'5'"), (V{"1:'5'", "3:unset"}));
  EXPECT_EQ(tokens("\"2.5e1x\""), (V{"1:\"2.5e1x\"", "3:unset"}));
  EXPECT_EQ(tokens("'yes'"), (V{"1:yes", "3:unset"}));
  EXPECT_EQ(tokens("\"it's\""), (V{"1:it's", "3:unset"}));
  EXPECT_EQ(tokens("'open quote"), (V{"1:open quote", "3:unset"}));
  EXPECT_EQ(tokens("'7"), (V{"1:'7", "3:unset"}));
  EXPECT_EQ(tokens("''"), (V{"1:", "3:unset"}));
  EXPECT_EQ(tokens("a'b\"c"), (V{"1:a'b\"c", "3:unset"}));
  EXPECT_EQ(tokens("==="), (V{"2:=", "2:=", "2:=", "3:unset"}));
  EXPECT_EQ(tokens(""), (V{"3:unset"}));
  EXPECT_EQ(tokens("   "), (V{"3:"}));
  EXPECT_EQ(tokens("\t# all comment"), (V{"3:"}));
}

TEST(FaultRulesFile, ExampleLinesGiveTheirValues) {
  struct Row {
    const char* line;
    int type;
    const char* text;
  } rows[] = {
      {"a.b = 5", DataType::DT_INT, "5"},
      {"a.b = '5'", DataType::DT_STR, "5"},
      {"a.b = 2.5", DataType::DT_FLT, "2.5"},
      {"a.b = yes", DataType::DT_BOOL, "yes"},
      {"a.b = 'yes'", DataType::DT_BOOL, "yes"},
      {"a.b = 'two words'", DataType::DT_STR, "two words"},
      {"a.b = two words", DataType::DT_STR, "two"},
      {"a.b = 7 # note", DataType::DT_INT, "7"},
      {"a.b = x#y", DataType::DT_STR, "x"},
      {"a.b = 'x # y'", DataType::DT_STR, "x # y"},
      {"a.b=5", DataType::DT_INT, "5"},
      {"   a.b   =   5   # trailing", DataType::DT_INT, "5"},
      {"a.b.val = 5", DataType::DT_INT, "5"},
      // The second token is skipped whatever it is.
      {"a.b : 5", DataType::DT_INT, "5"},
      // A missing value is the empty text.
      {"a.b =", DataType::DT_STR, ""},
      {"a.b", DataType::DT_STR, ""},
  };
  for (const Row& r : rows) {
    ReadResult res = readText(std::string(r.line) + "\n");
    ASSERT_FALSE(res.failed) << r.line;
    const Rule& a = ruleOf(res, "a");
    const rc::fault::Attr* b = a.attrs().lookup("b");
    ASSERT_NE(b, nullptr) << r.line;
    EXPECT_EQ(b->dataType(), r.type) << r.line;
    EXPECT_STREQ(b->strVal(), r.text) << r.line;
    EXPECT_EQ(res.rules().entries(), 1) << r.line;
  }
}

TEST(FaultRulesFile, SettingsApplyInOrder) {
  ReadResult r = readText(
      "# comment line\n"
      "\n"
      "x.on = no\n"
      "w.numOns = 0\n"
      "y.c.interval = 3\n"
      "y.c.repeat = 2\n"
      "z.c.interval = 3\n"
      "z.c.type = integer\n"
      "v.c = 1\n"
      "v.c.bogus = 2\n"
      "v.c.counter = 3\n"
      "v.c.type = number\n"
      "u.s = first\n"
      "u.s = second\n"
      "u.t = 5\n"
      "u.t.type = string\n"
      "t = bare\n");
  ASSERT_FALSE(r.failed) << rc::Err::format(r.err);
  EXPECT_FALSE(ruleOf(r, "x").boolVal("on", true));
  EXPECT_TRUE(ruleOf(r, "w").boolVal("on", false));
  EXPECT_EQ(ruleOf(r, "w").intVal("numOns", -1), 0);
  const Rule& y = ruleOf(r, "y");
  EXPECT_EQ(y.intVal("c.type", 0), DataType::DT_AUTO_COUNTER);
  EXPECT_EQ(y.intVal("c.interval", 0), 3);
  EXPECT_EQ(y.intVal("c.repeat", 0), 2);
  EXPECT_EQ(y.intVal("c.limit", -1), 0);
  const Rule& z = ruleOf(r, "z");
  EXPECT_EQ(z.intVal("c.type", 0), DataType::DT_INT);
  EXPECT_EQ(z.intVal("c", -1), 0);
  EXPECT_EQ(ruleOf(r, "v").intVal("c", 0), 1);
  EXPECT_EQ(ruleOf(r, "v").intVal("c.type", 0), DataType::DT_INT);
  EXPECT_STREQ(ruleOf(r, "u").strVal("s", ""), "second");
  EXPECT_STREQ(ruleOf(r, "u").strVal("t", "?"), "");
  EXPECT_EQ(ruleOf(r, "u").intVal("t.type", 0), DataType::DT_STR);
  // A name without "." sets the attribute with the empty name.
  EXPECT_STREQ(ruleOf(r, "t").strVal("", ""), "bare");
  EXPECT_EQ(r.rules().entries(), 7);
}

TEST(FaultRulesFile, LineEndsAndLongLines) {
  ReadResult noNewline = readText("a.b = 1\r\na.c = 2");
  ASSERT_FALSE(noNewline.failed);
  EXPECT_EQ(ruleOf(noNewline, "a").intVal("b", 0), 1);
  EXPECT_EQ(ruleOf(noNewline, "a").intVal("c", 0), 2);

  // 3000 characters: "a.b = " and 2042 x's, then a piece of 952 x's read as a line of its own
  // (a rule named by them).
  const std::string line = "a.b = " + std::string(2994, 'x');
  ReadResult longLine = readText(line + "\nc.d = 4\n");
  ASSERT_FALSE(longLine.failed);
  EXPECT_EQ(std::string(ruleOf(longLine, "a").strVal("b", "")), std::string(2042, 'x'));
  EXPECT_NE(longLine.rules().lookup(std::string(952, 'x')), nullptr);
  EXPECT_EQ(ruleOf(longLine, "c").intVal("d", 0), 4);
  EXPECT_EQ(longLine.rules().entries(), 3);

  // Exactly 2048 characters is one line.
  ReadResult exact = readText("a.b = " + std::string(2042, 'y') + "\n");
  EXPECT_EQ(exact.rules().entries(), 1);

  // The same pieces from a string vector.
  rc::StrVec lines;
  lines.append(line.c_str());
  lines.append("c.d = 4");
  RulesFile fromVec;
  fromVec.setLines(&lines);
  fromVec.read();
  EXPECT_EQ(std::string(fromVec.rules().lookup("a")->strVal("b", "")), std::string(2042, 'x'));
  EXPECT_NE(fromVec.rules().lookup(std::string(952, 'x')), nullptr);
  EXPECT_EQ(fromVec.rules().entries(), 3);
}

TEST(FaultRulesFile, ErrorsNameTheFileAndLine) {
  RulesFile missing;
  const rc::Err err = qvtest::thrownErr([&] { missing.open("/nonexistent/dir/rules"); });
  EXPECT_EQ(err.code(), RC_SC_OPEN_FAILED);
  EXPECT_EQ(err.code2(), ENOENT | rc::Err::UNIX_ERRNO);
  RulesFile unnamed;
  EXPECT_THROW(unnamed.open(""), rc::Err);
  // Anything but a regular file of a sensible size is refused before it is opened: a FIFO
  // without a writer would block, a device would never end.
  qvtest::TempDir tmp("rulesopen");
  const std::string fifo = tmp.path() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string big = tmp.writeFile("big", "x");
  ASSERT_EQ(truncate(big.c_str(), RulesFile::MAX_FILE_BYTES + 1), 0);
  for (const std::string& path : {fifo, std::string("/dev/urandom"), tmp.path(), big}) {
    RulesFile refused;
    const rc::Err e = qvtest::thrownErr([&] { refused.open(path.c_str()); });
    EXPECT_EQ(e.code(), RC_SC_OPEN_FAILED) << path;
    EXPECT_EQ(e.code2(), RC_SC_CERROR) << path;
  }

  // A plain value given to an auto-counter is refused with the line number.
  ReadResult r = readText("x.c.interval = 3\n# note\n\nx.c = 5\ny.v = 1\n");
  ASSERT_TRUE(r.failed);
  EXPECT_EQ(r.err.code(), RC_SC_BAD_VALUE);
  EXPECT_EQ(r.err.lineNo(), 4);
  ASSERT_NE(r.err.args(), nullptr);
  EXPECT_STREQ((*r.err.args())[0], "x.c");
  EXPECT_STREQ((*r.err.args())[1], "5");
  EXPECT_NE(rc::Err::format(r.err).find(", Line 4: Error: value '5' of 'x.c'"), std::string::npos)
      << rc::Err::format(r.err);
  EXPECT_EQ(r.rules().lookup("y"), nullptr);  // reading stopped there
  // Its fields may still be set.
  ReadResult fields = readText("x.c.interval = 3\nx.c.interval.val = 4\nx.c.limit.type = float\n");
  EXPECT_FALSE(fields.failed);

  rc::StrVec lines;
  lines.append("a.c.repeat = 1");
  lines.append("a.c = 2");
  RulesFile fromVec;
  fromVec.setLines(&lines);
  const rc::Err lineErr = qvtest::thrownErr([&] { fromVec.read(); });
  EXPECT_EQ(lineErr.lineNo(), 2);
  EXPECT_EQ(lineErr.fileName(), nullptr);
}

TEST(FaultRulesFile, HandWrittenGarbageIsReadWithoutHarm) {
  ReadResult r = readText(
      "=\n"
      "= = =\n"
      "a.b = 'unbalanced\n"
      "a.c = \"also\n"
      "a.d.e.f.g.h.i.j = 1\n"
      "a.k.interval.val.type.x.y = 3\n"
      "a.l.interval.interval.interval = 5\n"
      "a.m = 123456789012345678901234567890\n"
      "a.n = 1e99999\n"
      "a.o = -99999999999999999999999999999999999999999e999\n"
      "a.p = ''\n"
      "a.q = \n"
      "..... = .\n"
      ". = 1\n"
      "a.r.limit = 99999999999999999999\n");
  ASSERT_FALSE(r.failed) << rc::Err::format(r.err);
  const Rule& a = ruleOf(r, "a");
  EXPECT_STREQ(a.strVal("b", "?"), "unbalanced");
  EXPECT_STREQ(a.strVal("c", "?"), "also");
  EXPECT_EQ(a.intVal("d", -1), 0);  // created, unknown field passed over
  EXPECT_EQ(a.intVal("k.type", 0), DataType::DT_AUTO_COUNTER);
  EXPECT_EQ(a.intVal("l.interval", 0), 1);  // a nested counter is not made
  EXPECT_EQ(a.intVal("m.type", 0), DataType::DT_FLT);
  EXPECT_EQ(a.intVal("n.type", 0), DataType::DT_STR);
  EXPECT_EQ(a.intVal("o.type", 0), DataType::DT_STR);
  EXPECT_STREQ(a.strVal("p", "?"), "");
  EXPECT_STREQ(a.strVal("q", "?"), "");
  EXPECT_EQ(a.intVal("r.limit", 0), 2147483647);  // the float read as an int: held in range
  EXPECT_NE(r.rules().lookup("="), nullptr);
  EXPECT_NE(r.rules().lookup(""), nullptr);

  // Random bytes, NULs and newlines included: each file is read or refused with a coded error.
  std::mt19937 rng(4711);
  for (int i = 0; i < 200; ++i) {
    std::string bytes(rng() % 600, '\0');
    for (char& c : bytes) {
      const unsigned v = rng() % 20;
      c = v == 0 ? '\n' : v == 1 ? '=' : v == 2 ? '.' : v == 3 ? '\'' : static_cast<char>(rng());
    }
    ReadResult garbage = readText(bytes);
    if (garbage.failed) {
      EXPECT_EQ(garbage.err.code(), RC_SC_BAD_VALUE) << i;
    }
  }
}

}  // namespace
