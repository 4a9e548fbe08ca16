#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <sstream>

#include "comps/appcomps/acApp.h"
#include "comps/memcomps/base/memHeap.h"
#include "qvTestApp.h"
#include "qvTestUtil.h"

namespace {

struct ArgErrCase {
  const char* val;
  int code;
  const char* arg;
  const char* routine;
};

template <typename Fn>
void expectArgErr(Fn read, const ArgErrCase& c) {
  const rc::Err err = qvtest::thrownErr([&] { read(c.val); });
  EXPECT_EQ(err.severity(), RC_ERROR);
  EXPECT_EQ(err.code(), c.code) << (c.val ? c.val : "(null)");
  ASSERT_NE(err.args(), nullptr);
  ASSERT_EQ(err.args()->size(), 1u);
  EXPECT_STREQ((*err.args())[0], c.arg);
  EXPECT_STREQ(err.routine(), c.routine);
}

}  // namespace

TEST(App, NeedIntArg) {
  EXPECT_EQ(ac::App::needIntArg("42", "-n", 10), 42);
  EXPECT_EQ(ac::App::needIntArg("-7", "-n", 10), -7);
  EXPECT_EQ(ac::App::needIntArg("0x1f", "-n", 16), 31);
  EXPECT_EQ(ac::App::needIntArg("", "-n", 10), 0);
  const char* r = "appcomps/App::needIntArg";
  const ArgErrCase cases[] = {
      {nullptr, AC_SC_NEED_ARG_VAL, "-n", r},
      {"12abc", AC_SC_NEED_INT, "12abc", r},
      {"abc", AC_SC_NEED_INT, "abc", r},
      {"99999999999999999999999", AC_SC_OUT_OF_RANGE, "99999999999999999999999", r},
  };
  for (const auto& c : cases)
    expectArgErr([](const char* v) { ac::App::needIntArg(v, "-n", 10); }, c);
}

TEST(App, NeedInt64Arg) {
  EXPECT_EQ(ac::App::needInt64Arg("9000000000", "-n", 10), 9000000000LL);
  const char* r = "appcomps/App::needInt64Arg";
  const ArgErrCase cases[] = {
      {nullptr, AC_SC_NEED_ARG_VAL, "-n", r},
      {"12abc", AC_SC_NEED_INT, "12abc", ""},
      {"-12abc", AC_SC_NEED_INT, "-12abc", ""},
      {"", AC_SC_NEED_INT, "", ""},
      {"99999999999999999999999", AC_SC_OUT_OF_RANGE, "99999999999999999999999", ""},
  };
  for (const auto& c : cases) {
    expectArgErr([](const char* v) { ac::App::needInt64Arg(v, "-n", 10); }, c);
  }
}

TEST(App, NeedFloatArg) {
  EXPECT_DOUBLE_EQ(ac::App::needFloatArg("2.75", "-f"), 2.75);
  EXPECT_DOUBLE_EQ(ac::App::needFloatArg("", "-f"), 0.0);
  // An underflow is not an error.
  EXPECT_LT(std::fabs(ac::App::needFloatArg("1e-400", "-f")), 1e-300);
  const char* r = "appcomps/App::needFloatArg";
  const ArgErrCase cases[] = {
      {nullptr, AC_SC_NEED_ARG_VAL, "-f", r},
      {"2.5x", AC_SC_NEED_FLOAT, "2.5x", r},
      {"1e400", AC_SC_OUT_OF_RANGE, "1e400", r},
  };
  for (const auto& c : cases)
    expectArgErr([](const char* v) { ac::App::needFloatArg(v, "-f"); }, c);
}

TEST(App, NeedStringArg) {
  EXPECT_EQ(ac::App::needStringArg("abc", "-s"), "abc");
  expectArgErr([](const char* v) { ac::App::needStringArg(v, "-s"); },
               {nullptr, AC_SC_NEED_ARG_VAL, "-s", "appcomps/App::needStringArg"});
}

TEST(App, PrintArgUsageOnAStream) {
  std::ostringstream os;
  ac::App::printArgUsage(os, "-dirSuffix", 15, "desc");
  EXPECT_EQ(os.str(), " -dirSuffix     desc\n");
  std::ostringstream wide;
  ac::App::printArgUsage(wide, "-h or -? or --help   ", 15, "help");
  EXPECT_EQ(wide.str(), " -h or -? or --help   help\n");
  std::ostringstream bad;
  ac::App::printArgUsage(bad, nullptr, 15, "x");
  EXPECT_TRUE(bad.fail());
}

TEST(App, DoExitNeverReportsFailureAsSuccess) {
  const struct {
    int status;
    int seen;
  } rows[] = {{0, 0}, {17, 17}, {256, 255}, {512, 255}, {272, 16}, {237, 237}, {-256, 255}};
  for (const auto& row : rows) {
    const auto r = qvtest::runInChild([&] { ac::_do_exit(row.status); });
    EXPECT_EQ(r.exitStatus, row.seen) << row.status;
  }
}

TEST(App, Main2CatchAllTurnsExceptionsIntoStatuses) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* errText;  // expected in standard error; "" means standard error stays empty
  } rows[] = {
      {{"none"}, 0, ""},
      {{"std"}, 16, "Error: unexpected exception: boom from run.\n"},
      {{"sql"}, 17, "Error: unexpected database exception: relation does not exist.\n"},
      {{"err"}, 6, "Error: unable to open '/x'."},
      {{"remap"}, 18, "Error: bad status '/x'."},
      {{"remap", "silent"}, 18, ""},
      {{"big"}, 255, "Error: "},
      {{"intnl"}, 5, "Internal Error: broken invariant - internal error."},
      {{"other"}, 238, "Internal Error: unhandled exception\n"},
      {{"err", "silent"}, 6, ""},
      {{"std", "silent"}, 16, ""},
  };
  for (const auto& row : rows) {
    const auto r = qvtest::runProgram(qvtest::testAppPath("acThrowingApp"), row.args,
                                      {qvtest::kitStringsEnv()});
    EXPECT_EQ(r.exitStatus, row.status) << ::testing::PrintToString(row.args);
    if (row.errText[0] == '\0') {
      EXPECT_EQ(r.err, "") << ::testing::PrintToString(row.args);
    } else {
      EXPECT_NE(r.err.find(row.errText), std::string::npos) << r.err;
    }
  }
}

TEST(App, Main1StartsBackgroundProgramsInTheirLogDirectory) {
  qvtest::TempDir tmp("acclass");
  const std::string logDir = tmp.path() + "/logs";
  const std::string unwritable = tmp.writeFile("plainfile", "") + "/logs";
  const std::string app = qvtest::testAppPath("acClassApp");
  char startDir[4096];
  ASSERT_NE(getcwd(startDir, sizeof startDir), nullptr);
  const struct {
    std::vector<std::string> args;
    std::string logDirEnv;
    int status;
    std::string cwd;
  } rows[] = {
      {{"daemon", "svr log"}, logDir, 0, logDir + "/svr_log"},
      {{"singleDaemon", "-"}, logDir, 0, logDir + "/acClassApp"},
      {{"subProcess", "-"}, logDir + "/", 0, logDir + "/acClassApp"},
      {{"cliApp", "svr"}, logDir, 0, startDir},
      {{"guiApp", "-"}, logDir, 0, startDir},
      // A log directory that cannot be made ends the program with the error's code.
      {{"daemon", "svr"}, unwritable, RC_SC_CHDIR_FAILED, ""},
  };
  for (const auto& row : rows) {
    const auto r = qvtest::runProgram(app, row.args, {"QV_LOG_DIR=" + row.logDirEnv});
    const std::string what = ::testing::PrintToString(row.args) + " in " + row.logDirEnv;
    EXPECT_EQ(r.exitStatus, row.status) << what << r.err;
    if (row.status != 0) {
      // Daemons show the code; the system's reason follows.
      EXPECT_NE(r.err.find("QV-00051"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("Not a directory"), std::string::npos) << r.err;
      continue;
    }
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "cwd=" + row.cwd) << what;
  }
  struct stat st;
  ASSERT_EQ(stat((logDir + "/svr_log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(App, Main1AgainInAForkedChildReinitialisesTheAttributes) {
  const auto r = qvtest::runProgram(qvtest::testAppPath("acClassApp"), {"cliApp", "-", "again"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  int child = 0;
  char prefix[64] = "";
  ASSERT_EQ(sscanf(r.out.c_str(), "child=%d prefix=%63[^\n]", &child, prefix), 2) << r.out;
  EXPECT_EQ(std::string(prefix), "(again." + std::to_string(child) + ") ");
  // The parent keeps its own label and identity.
  EXPECT_NE(r.out.find("prefix=(acClassApp."), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("prefix=(acClassApp." + std::to_string(child) + ")"), std::string::npos);
}

TEST(App, AssignedProgramIdTracksNewHeapBlocks) {
  const auto r = qvtest::runInChild([] {
    mem::setTrackingId(mem::MEM_TRACK_PID, 77);
    qvtest::TestApp app("idApp");
    app.assignPgmId(922);
    void* p = mem::allocBlock(4);
    mem::memHeader hdr;
    mem::Header::getHeader(p, &hdr);
    printf("%d %u %u\n", app.pgmId(), hdr.m_trackId, unsigned{hdr.m_trackType});
    mem::freeBlock(p);
  });
  EXPECT_EQ(r.out, "922 922 1\n") << r.err;
}

namespace {

// An application whose exit hooks report what they see, for tests run in a child process.
class ExitApp : public qvtest::TestApp {
 public:
  ExitApp(bool okToExit, bool reenter)
      : TestApp("exitApp"), m_okToExit(okToExit), m_reenter(reenter) {}
  bool isOkToExit(int status) override {
    printf("isOkToExit %d\n", status);
    return m_okToExit;
  }
  void exitCleanup(bool forceExit) override {
    printf("exitCleanup %d inProgress %d\n", forceExit, exitInProgress());
    // An exit requested while one is running returns at once and changes nothing.
    if (m_reenter) printf("again %d\n", exitProgram(99, true));
    fflush(stdout);
  }

 private:
  bool m_okToExit;
  bool m_reenter;
};

}  // namespace

TEST(App, ExitProgramAsksIsOkToExitUnlessForced) {
  const struct {
    bool okToExit;
    bool force;
    bool reenter;
    int status;
    const char* out;
  } rows[] = {
      {false, false, false, 7, "isOkToExit 5\nrefused 0\n"},
      {true, false, false, 5, "isOkToExit 5\nexitCleanup 0 inProgress 1\n"},
      {false, true, false, 5, "exitCleanup 1 inProgress 1\n"},
      {true, false, true, 5, "isOkToExit 5\nexitCleanup 0 inProgress 1\nagain 1\n"},
  };
  for (const auto& row : rows) {
    const auto r = qvtest::runInChild([&] {
      ExitApp app(row.okToExit, row.reenter);
      const bool ended = app.exitProgram(5, row.force);
      printf("refused %d\n", ended);
      fflush(stdout);
      _exit(7);
    });
    EXPECT_EQ(r.out, row.out);
    EXPECT_EQ(r.exitStatus, row.status);
  }
}

TEST(App, SecondApplicationObjectIsAnAssertionFailure) {
  const auto r = qvtest::runInChild([] {
    ExitApp first(true, false);
    ExitApp second(true, false);
  });
  EXPECT_NE(r.termSignal, 0);
  EXPECT_NE(r.err.find("assert 's_app == 0' failed"), std::string::npos) << r.err;
  // After the first is gone another may be made.
  const auto again = qvtest::runInChild([] {
    { ExitApp first(true, false); }
    ExitApp second(true, false);
    printf("%d\n", ac::App::instance() == &second);
  });
  EXPECT_EQ(again.out, "1\n");
}

TEST(App, TryHelpHintNamesTheSubcommand) {
  const auto r = qvtest::runInChild([] {
    ExitApp app(true, false);
    printf("%d\n", app.tryHelpStrCode());
    app.setTryHelpSubcmd("a-sub-command-name-longer-than-thirty-one-characters");
    printf("%d %s\n", app.tryHelpStrCode(), app.tryHelpSubcmd());
  });
  // At most 31 characters are kept.
  EXPECT_EQ(r.out, "49\n64 a-sub-command-name-longer-than-\n");
}
