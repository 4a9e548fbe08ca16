#include "comps/recomps/rcStrDb.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "comps/recomps/rcOut.h"
#include "qvTestUtil.h"

namespace {

using qvtest::CaptureDevice;

// A strings folder of the test's own, named by QV_STRINGS_DIR while the fixture lives.
class StrDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qvStrDbTest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
    const char* old = getenv("QV_STRINGS_DIR");
    m_hadOld = old != nullptr;
    if (m_hadOld) m_old = old;
    setenv("QV_STRINGS_DIR", m_dir.c_str(), 1);
    rc::Out::instance()->setStdErrDevice(&m_err);
    rc::Out::instance()->setStdOutDevice(&m_out);
    rc::StrDb::cleanupInstance();  // each test starts with a catalog that has read no file
  }
  void TearDown() override {
    rc::StrDb::cleanupInstance();
    rc::Out::instance()->setStdErrDevice(nullptr);
    rc::Out::instance()->setStdOutDevice(nullptr);
    if (m_hadOld) {
      setenv("QV_STRINGS_DIR", m_old.c_str(), 1);
    } else {
      unsetenv("QV_STRINGS_DIR");
    }
    system(("rm -rf " + m_dir).c_str());
  }
  void writeFile(const std::string& name, const std::string& content) {
    std::ofstream(m_dir + "/" + name, std::ios::binary) << content;
  }

  std::string m_dir;
  std::string m_old;
  bool m_hadOld = false;
  CaptureDevice m_err;
  CaptureDevice m_out;
};

}  // namespace

TEST_F(StrDbTest, BuiltInTextsNeedNoFile) {
  rc::StrDb& db = *rc::StrDb::instance();
  EXPECT_STREQ(db.lookupString(RC_SC_OPEN_FAILED), "unable to open '{1}'");
  EXPECT_STREQ(db.lookupString(RC_SC_LOGIN_ERROR), "login error - {1}");
  EXPECT_EQ(m_err.text, "");
}

TEST_F(StrDbTest, FileGrammar) {
  writeFile("rcStrings.C.txt",
            "# a comment line\n"
            "\n"
            "30 'quoted text' and ignored rest\n"
            "31 'it''s'\n"
            "  32\t\"dq \\\"x\\\" \\n\"\n"
            "33 unquoted with trailing blanks   \r\n"
            "35 'it\\'s'\n"
            "36\n"
            "37 last line without newline");
  rc::StrDb& db = *rc::StrDb::instance();
  const struct {
    int code;
    const char* text;
  } rows[] = {
      {29, "<unused>"},
      {30, "quoted text"},
      {31, "it"},
      {32, "dq \"x\" n"},
      {33, "unquoted with trailing blanks   "},
      {34, "<unused>"},
      {35, "it's"},
      {36, ""},
      {37, "last line without newline"},
      {38, "<rc::StrVec index too big>"},
  };
  for (const auto& row : rows) EXPECT_STREQ(db.lookupString(row.code), row.text) << row.code;
  EXPECT_EQ(m_err.text, "");
}

TEST_F(StrDbTest, BadLinesAreReportedAndTheFirstTextWins) {
  writeFile("rcStrings.C.txt",
            "5 'reuses a built-in code'\n"
            "40 'forty'\n"
            "40 'forty again'\n"
            "39 'out of order'\n"
            "3x 'abc'\n"
            "-7 'negative'\n"
            "99999999999999 'huge'\n"
            "41 'still read'\n");
  rc::StrDb& db = *rc::StrDb::instance();
  EXPECT_STREQ(db.lookupString(41), "still read");
  EXPECT_STREQ(db.lookupString(40), "forty");
  EXPECT_STREQ(db.lookupString(39), "<unused>");
  EXPECT_STREQ(db.lookupString(5), "internal error");
  // 5, 40 again, 39 and 3 (from "3x") are reused codes; "-7" has a sign that is no digit and
  // parses as code 0, also reused; the huge code has no range.
  size_t reused = 0;
  for (size_t pos = 0; (pos = m_err.text.find("(reused code)", pos)) != std::string::npos; ++pos) {
    ++reused;
  }
  EXPECT_EQ(reused, 5u) << m_err.text;
  EXPECT_NE(m_err.text.find("code outside the catalog's ranges"), std::string::npos) << m_err.text;
}

TEST_F(StrDbTest, MissingFilePrintsTheOpenFailureOnce) {
  rc::StrDb& db = *rc::StrDb::instance();
  EXPECT_STREQ(db.lookupString(250), "<rc::StrVec index too big>");
  EXPECT_EQ(m_err.text, "Error: unable to open '" + m_dir +
                            "/acStrings.C.txt' - No such file or directory.\n");
  EXPECT_STREQ(db.lookupString(251), "<rc::StrVec index too big>");
  EXPECT_EQ(m_err.text.find("unable to open", 10), std::string::npos);  // not tried again
}

TEST_F(StrDbTest, LongLineEndsTheFile) {
  writeFile("rcStrings.C.txt", "30 'before'\n31 '" + std::string(3000, 'x') + "'\n32 'after'\n");
  rc::StrDb& db = *rc::StrDb::instance();
  EXPECT_STREQ(db.lookupString(30), "before");
  EXPECT_STREQ(db.lookupString(31), "<rc::StrVec index too big>");
  EXPECT_STREQ(db.lookupString(32), "<rc::StrVec index too big>");
}

TEST_F(StrDbTest, GarbageNeverCrashes) {
  std::string garbage;
  unsigned seed = 12345;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1103515245 + 12345;
    garbage += static_cast<char>((seed >> 16) & 0xFF);
  }
  writeFile("rcStrings.C.txt", garbage);
  writeFile("acStrings.C.txt", "2147483647 'max'\n4294967296 'wraps'\n3300 'range 33'\n");
  rc::StrDb& db = *rc::StrDb::instance();
  for (int code = 29; code < 100; ++code) EXPECT_NE(db.lookupString(code), nullptr);
  EXPECT_STREQ(db.lookupString(220), "<rc::StrVec index too big>");
}

TEST_F(StrDbTest, CodesWithoutARangeAreNeverLookedUp) {
  rc::StrDb& db = *rc::StrDb::instance();
  for (int code : {-1, -100, 3300, 1 << 30, RC_SC_OPEN_FAILED | (1 << 28), 0x7FFFFFFF}) {
    EXPECT_STREQ(db.lookupString(code), "<no string defined>") << code;
  }
  db.addString(3300, "x", rc::Locale::LT_US_ENG);
  db.addString(-5, "x", rc::Locale::LT_US_ENG);
  EXPECT_NE(m_err.text.find("code outside the catalog's ranges"), std::string::npos);
}

TEST_F(StrDbTest, OtherLanguagesAndFormatting) {
  rc::StrDb& db = *rc::StrDb::instance();
  EXPECT_STREQ(db.lookupString(RC_SC_OK, rc::Locale::LT_UK_ENG), "<no string defined>");
  EXPECT_EQ(rc::StrDb::format(RC_ERROR, RC_SC_BAD_CMD_LINE_ARG, rc::VarArgs() << "-x", false),
            "Error: command line arg '-x' is unknown or invalid");
  EXPECT_EQ(rc::StrDb::format(RC_ERROR, RC_SC_BAD_CMD_LINE_ARG, rc::VarArgs() << "-x", true),
            "Error: QV-00017: command line arg '-x' is unknown or invalid");
  EXPECT_EQ(rc::StrDb::format(RC_NO_SEVERITY, RC_SC_OK, false), "None: ok");
  EXPECT_STREQ(rc::LocaleDb::instance()->dirName(rc::Locale::LT_DEFAULT), "C");
  EXPECT_STREQ(rc::LocaleDb::instance()->localeLabel(rc::Locale::LT_JA), "Japanese");
  EXPECT_STREQ(rc::LocaleDb::instance()->osLangName(rc::Locale::LT_UK_ENG), "en_UK");
}

TEST_F(StrDbTest, ShippedFilesCoverEveryCode) {
  setenv("QV_STRINGS_DIR", QV_TEST_KIT_DIR "/sys/strings", 1);
  rc::StrDb& db = *rc::StrDb::instance();
  auto expectText = [&](int code) {
    const std::string text = db.lookupString(code);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_NE(text[0], '<') << code << ": " << text;
    EXPECT_NE(text.back(), '.') << code << ": " << text;
  };
  for (int code = RC_SC_OK; code < RC_SC_LAST_CODE; ++code) {
    if (code != 29) expectText(code);
  }
  for (int code = AC_SC_SOCKET_FAILED; code < AC_SC_LAST_CODE; ++code) expectText(code);
  for (int code = DC_SC_BAD_VALUE; code < DC_SC_LAST_CODE; ++code) expectText(code);
  EXPECT_EQ(m_err.text, "");  // no parse error, no reused code
  EXPECT_EQ(rc::StrDb::format(RC_SC_TRY_PGM_HELP, rc::VarArgs() << "qvrev"),
            "try 'qvrev -h' for more information");
  EXPECT_EQ(rc::StrDb::format(AC_SC_TERMINATED, rc::VarArgs() << "qvd" << 15),
            "program 'qvd' terminated by signal 15");
}
