#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "comps/memcomps/base/memHeap.h"
#include "comps/recomps/rcMutex.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcStrDb.h"
#include "comps/recomps/rcStrVec.h"
#include "qvTestSupport.h"
#include "qvTestUtil.h"

namespace {

using qvtest::CaptureDevice;

// A strings folder of the test's own, named by QV_STRINGS_DIR while the fixture lives; what
// the catalog prints is captured.
class StrDbTest : public ::testing::Test {
 protected:
  StrDbTest() {
    m_env.set("QV_STRINGS_DIR", m_tmp.path());
    rc::StrDb::cleanupInstance();  // each test starts with a catalog that has read no file
  }
  ~StrDbTest() override { rc::StrDb::cleanupInstance(); }
  void writeFile(const std::string& name, const std::string& content) {
    m_tmp.writeFile(name, content);
  }

  qvtest::TempDir m_tmp{"qvStrDbTest"};
  const std::string& m_dir = m_tmp.path();
  qvtest::ScopedEnv m_env;
  qvtest::StdStreamsCapture m_capture{true};
  CaptureDevice& m_err = m_capture.err;
};

bool semaphoreExists(int semId) { return semctl(semId, 0, GETVAL) != -1; }

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
  EXPECT_EQ(m_err.text,
            "Error: unable to open '" + m_dir + "/acStrings.C.txt' - No such file or directory.\n");
  EXPECT_STREQ(db.lookupString(251), "<rc::StrVec index too big>");
  EXPECT_EQ(m_err.text.find("unable to open", 10), std::string::npos);  // not tried again
}

TEST_F(StrDbTest, FileProblemsNameFileAndLineAndAreCapped) {
  // Line problems are logged in the parser's form; refused codes are non-fatal internal errors.
  const std::string path = m_dir + "/rcStrings.C.txt";
  const std::string parseErr = "Parsing error caught in strings file " + path + " at line number ";
  std::string dups = "30 'first'\n";
  for (int line = 2; line <= 26; ++line) dups += "30 'again'\n";
  const struct {
    std::string content;  // empty: the file's name is a directory
    const char* text32;
    std::string logged;
    int refused;  // reused-code reports on standard error
  } rows[] = {
      // A line too long for the reader is skipped; the lines after it still load.
      {"30 'first'\n31 '" + std::string(3000, 'x') + "'\n32x 'after'\n", "after",
       parseErr + "2,line longer than 2047 characters, skipped\n" + parseErr +
           "3,line not in format \"<id><white space><quoted message>\"\n",
       0},
      {dups + "32 'after'\n", "after",
       "Parsing errors in strings file " + path + ": 15 more not shown\n", 10},
      {"", "<rc::StrVec index too big>", "", 0},  // refused at the open
  };
  for (const auto& row : rows) {
    rc::StrDb::cleanupInstance();
    m_err.text.clear();
    qvtest::LogInstalled log;
    if (row.content.empty()) {
      unlink(path.c_str());
      ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    } else {
      writeFile("rcStrings.C.txt", row.content);
    }
    EXPECT_STREQ(rc::StrDb::instance()->lookupString(32), row.text32);
    std::string logged;
    for (const auto& line : log.device.lines) {
      logged += line.text.substr(std::min(line.text.find("Parsing"), line.text.size()));
    }
    EXPECT_EQ(logged, row.logged);
    size_t refused = 0;
    for (size_t pos = 0; (pos = m_err.text.find("(reused code)", pos)) != std::string::npos;
         ++pos) {
      ++refused;
    }
    EXPECT_EQ(refused, static_cast<size_t>(row.refused)) << m_err.text;
  }
}

TEST_F(StrDbTest, FilesThatAreNotRegularOrTooLargeAreRefused) {
  const std::string path = m_dir + "/acStrings.C.txt";
  const struct {
    std::function<int()> make;
    const char* reason;
  } rows[] = {
      // Opening a FIFO would wait for a writer for ever; /dev/zero never ends.
      {[&] { return mkfifo(path.c_str(), 0600); }, "not a regular file"},
      {[&] { return symlink("/dev/zero", path.c_str()); }, "not a regular file"},
      {[&] { return close(creat(path.c_str(), 0600)) | truncate(path.c_str(), (64 << 20) + 1); },
       "larger than the 64 MB limit"},
  };
  for (const auto& row : rows) {
    rc::StrDb::cleanupInstance();
    m_err.text.clear();
    unlink(path.c_str());
    ASSERT_EQ(row.make(), 0);
    EXPECT_STREQ(rc::StrDb::instance()->lookupString(250), "<rc::StrVec index too big>");
    EXPECT_EQ(m_err.text, "Error: unable to open '" + path + "' - " + row.reason + ".\n");
  }
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

TEST_F(StrDbTest, TextsNeverMove) {
  // Many lines, so that the range's storage has to grow well past its first size.
  std::string lines;
  for (int code = 29; code < 100; ++code) {
    lines += std::to_string(code) + " 'text of code " + std::to_string(code) + " padded out'\n";
  }
  writeFile("rcStrings.C.txt", lines);
  rc::StrDb& db = *rc::StrDb::instance();
  const char* ok = db.lookupString(RC_SC_OK);
  const char* login = db.lookupString(RC_SC_LOGIN_ERROR);
  const char* first = db.lookupString(29);  // reads the file
  db.addString(1250, "added later", rc::Locale::LT_US_ENG);
  EXPECT_EQ(db.lookupString(RC_SC_OK), ok);
  EXPECT_STREQ(ok, "ok");
  EXPECT_STREQ(login, "login error - {1}");
  EXPECT_EQ(db.lookupString(29), first);
  EXPECT_STREQ(first, "text of code 29 padded out");
  EXPECT_STREQ(db.lookupString(99), "text of code 99 padded out");
  EXPECT_STREQ(db.lookupString(1250), "added later");
  EXPECT_STREQ(db.lookupString(1249), "<unused>");
}

TEST_F(StrDbTest, CatalogLivesOnTheTypedHeap) {
  rc::StrDb* db = rc::StrDb::instance();
  EXPECT_TRUE(mem::validateBlock(db, mt_strdb));
  EXPECT_EQ(db->mutex(), nullptr);
  rc::LocVec* us = db->locVec(rc::Locale::LT_US_ENG);
  EXPECT_TRUE(mem::validateBlock(us, mt_strdb));
  const rc::StrVec* range0 = us->strVec(RC_SC_OK);
  ASSERT_NE(range0, nullptr);
  EXPECT_TRUE(mem::validateBlock(range0, mt_strvec));
  EXPECT_EQ(range0->entries(), static_cast<unsigned int>(rc::StrDb::NumStrDbRecs));
  EXPECT_EQ(us->strVec(250), nullptr);  // no range vector before the first use
  for (int code : {-150, 3300, 1 << 30}) {
    EXPECT_EQ(us->strVec(code), nullptr) << code;
    EXPECT_EQ(us->strVec(code, nullptr), nullptr) << code;
  }
  bool loaded = true;
  const rc::StrVec* range2 = us->strVec(250, &loaded);
  EXPECT_FALSE(loaded);
  ASSERT_NE(range2, nullptr);
  EXPECT_EQ(us->strVec(250), range2);
  EXPECT_EQ(range2->capacity(), static_cast<unsigned int>(rc::LocVec::STR_VEC_CAPACITY));

  rc::LocaleDb* locales = rc::LocaleDb::instance();
  EXPECT_TRUE(mem::validateBlock(locales, mt_locale_db));
  const rc::StrVec* names = locales->strings();
  ASSERT_NE(names, nullptr);
  EXPECT_TRUE(mem::validateBlock(names, mt_strvec));
  EXPECT_EQ(names->entries(), 12u);
  EXPECT_EQ(names->capacity(), static_cast<unsigned int>(rc::LocaleDb::STRINGS_CAPACITY));
  // The locales hand out the table's own copies.
  EXPECT_EQ(locales->dirName(rc::Locale::LT_US_ENG), (*names)[0]);
  EXPECT_EQ(locales->osLangName(rc::Locale::LT_JA), (*names)[11]);
  EXPECT_STREQ(locales->localeSymbol(rc::Locale::LT_UK_ENG), "ukEnglish");
  rc::Locale* loose = new rc::Locale();
  EXPECT_TRUE(mem::validateBlock(loose, mt_locale));
  delete loose;
}

TEST_F(StrDbTest, SharedCatalogSerialisesThroughItsMutex) {
  rc::StrDb* shm = rc::StrDb::instance(1);
  ASSERT_NE(shm, nullptr);
  EXPECT_EQ(rc::StrDb::instance(1), shm);
  EXPECT_EQ(rc::StrDb::shmInstance(), shm);
  EXPECT_EQ(rc::StrDb::instance(), shm);  // the shared catalog wins once it exists
  EXPECT_NE(rc::StrDb::instance(0), shm);
  rc::Mutex* mutex = shm->mutex();
  ASSERT_NE(mutex, nullptr);
  EXPECT_TRUE(mem::validateBlock(mutex, mt_rc_mutex));
  const int semId = mutex->id();
  ASSERT_GE(semId, 0);

  // Lookups and adds leave the lock as they found it, also inside a scope that holds it.
  EXPECT_STREQ(shm->lookupString(RC_SC_OPEN_FAILED), "unable to open '{1}'");
  EXPECT_EQ(mutex->lockCount(), 0);
  EXPECT_EQ(semctl(semId, 0, GETVAL), 0);
  mutex->acquire();
  shm->addString(1210, "held", rc::Locale::LT_US_ENG);
  EXPECT_STREQ(shm->lookupString(1210), "held");
  EXPECT_EQ(mutex->lockCount(), 1);
  EXPECT_EQ(semctl(semId, 0, GETVAL), 1);

  // Another process sharing the catalog waits for the lock, for a lookup and for an add alike.
  struct Step {
    std::function<void()> child;
    const char* line;
  } steps[] = {
      {[shm] { printf("%s\n", shm->lookupString(1210)); }, "held"},
      {[shm] {
         shm->addString(1211, "from the child", rc::Locale::LT_US_ENG);
         printf("%s\n", shm->lookupString(1211));
       },
       "from the child"},
  };
  for (const Step& step : steps) {
    if (!mutex->isAcquired()) mutex->acquire();
    qvtest::LiveProc child(step.child);
    ASSERT_TRUE(qvtest::eventually([&] { return semctl(semId, 0, GETZCNT) > 0; })) << step.line;
    mutex->release();
    EXPECT_TRUE(child.waitForLine(step.line));
    EXPECT_EQ(child.finish().exitStatus, 0) << step.line;
  }
  EXPECT_EQ(semctl(semId, 0, GETVAL), 0);

  // The semaphore goes with the catalog; the standard catalog answers again.
  rc::StrDb::cleanupInstance();
  EXPECT_FALSE(semaphoreExists(semId));
  EXPECT_EQ(rc::StrDb::shmInstance(), nullptr);
  EXPECT_EQ(rc::StrDb::instance()->mutex(), nullptr);

  rc::Assert::setAbortOnFail(false);
  std::string failure;
  try {
    rc::StrDb::instance(2);
  } catch (const rc::IntnlErr& err) {
    const rc::VarArgs* args = err.err().args();
    if (args != nullptr && args->size() > 1) failure = (*args)[1];
  }
  rc::Assert::setAbortOnFail(true);
  EXPECT_EQ(failure, "unknown mem region");
}
