// Signal handling of ac::App, watched from outside on real processes (tests/apps/acLoopApp) and,
// for the installed dispositions, in forked children.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcOs.h"
#include "qvTestApp.h"
#include "qvTestUtil.h"

namespace {

// Starts acLoopApp from a known state whatever the test runner left: no core files from the
// abort tests, default dispositions (SIGHUP ignored when asked), nothing blocked.
void execLoopApp(const std::vector<std::string>& args, bool ignoreHup) {
  rlimit noCore = {0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  for (int sig = 1; sig < 32; ++sig) signal(sig, SIG_DFL);
  if (ignoreHup) signal(SIGHUP, SIG_IGN);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  const std::string path = qvtest::testAppPath("acLoopApp");
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(path.c_str(), argv.data());
  _exit(127);
}

class LiveApp : public qvtest::LiveProc {
 public:
  explicit LiveApp(const std::vector<std::string>& args, bool ignoreHup = false)
      : qvtest::LiveProc([&] { execLoopApp(args, ignoreHup); }) {}
  void kill(int sig) { ASSERT_EQ(::kill(pid(), sig), 0); }
  // Lets a "hold" app go on.
  void release() { ASSERT_TRUE(writeInput("g", 1)); }
};

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The printed AC_SC_TERMINATED report (an informational line, so on standard output), up to
// the signal number.
const char* const kTerminatedPrefix = "Info: program 'acLoopApp' terminated by signal ";

}  // namespace

TEST(AppSignals, TerminationSignalsEndTheProgramThroughTheLoop) {
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) {
    LiveApp app({"cli", "shm"});
    ASSERT_TRUE(app.waitForLine("ready")) << sig;
    app.kill(sig);
    const auto r = app.finish();
    EXPECT_EQ(r.exitStatus, 237) << sig;
    EXPECT_TRUE(contains(r.out, "handleSignal " + std::to_string(sig) + " piped\n")) << r.out;
    EXPECT_TRUE(contains(r.out, kTerminatedPrefix)) << r.out;
    // A piped signal asks isOkToExit: the exit is not forced. The shared catalog was detached.
    EXPECT_TRUE(contains(r.out, "exitCleanup 0\ncatalog own\nappCleanup 0\n")) << r.out;
    EXPECT_EQ(r.err, "");
  }
}

TEST(AppSignals, SubProcessEndsSilentlyOnSigtermOnly) {
  const struct {
    int sig;
    bool reported;
  } rows[] = {{SIGTERM, false}, {SIGINT, true}};
  for (const auto& row : rows) {
    LiveApp app({"sub"});
    ASSERT_TRUE(app.waitForLine("ready"));
    app.kill(row.sig);
    const auto r = app.finish();
    EXPECT_EQ(r.exitStatus, 237) << row.sig;
    EXPECT_EQ(contains(r.out, kTerminatedPrefix), row.reported) << row.sig << ": " << r.out;
  }
}

TEST(AppSignals, WithoutThePipeSignalsAreHandledInsideTheHandler) {
  LiveApp app({"cli", "nopipe"});
  ASSERT_TRUE(app.waitForLine("ready"));
  app.kill(SIGTERM);
  const auto r = app.finish();
  EXPECT_EQ(r.exitStatus, 237);
  EXPECT_TRUE(contains(r.out, "handleSignal 15 direct\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "exitCleanup 1\n")) << r.out;  // forced
}

TEST(AppSignals, RepeatedSignalsBeforeTheLoopReadsGiveOneRecord) {
  LiveApp app({"cli", "count", "block=2"});
  ASSERT_TRUE(app.waitForLine("blocked"));
  for (int i = 0; i < 2; ++i) {
    app.kill(SIGTERM);
    ASSERT_TRUE(app.waitForLine("woke"));
  }
  const auto r = app.finish();
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_TRUE(contains(r.out, "woke\nhandleSignal 15 piped\nhandled 1\n")) << r.out;
}

TEST(AppSignals, FourthTerminationSignalEndsAStuckProgramFromTheHandler) {
  LiveApp app({"cli", "block=10"});
  ASSERT_TRUE(app.waitForLine("blocked"));
  for (int i = 0; i < 3; ++i) {
    app.kill(SIGINT);
    ASSERT_TRUE(app.waitForLine("woke")) << i;
  }
  app.kill(SIGINT);
  const auto r = app.finish();
  EXPECT_EQ(r.exitStatus, 237);
  EXPECT_TRUE(contains(r.out, "woke\nhandleSignal 2 direct\n")) << r.out;
  EXPECT_TRUE(contains(r.out, kTerminatedPrefix)) << r.out;
  EXPECT_TRUE(contains(r.out, "exitCleanup 1\nappCleanup 1\n")) << r.out;
  EXPECT_FALSE(contains(r.out, "piped")) << r.out;
}

TEST(AppSignals, FourthTerminationSignalOverridesARefusedExit) {
  LiveApp app({"cli", "refuse"});
  ASSERT_TRUE(app.waitForLine("ready"));
  for (int i = 0; i < 3; ++i) {
    app.kill(SIGTERM);
    ASSERT_TRUE(app.waitForLine("handleSignal 15 piped")) << i;
  }
  app.kill(SIGTERM);
  const auto r = app.finish();
  EXPECT_EQ(r.exitStatus, 237);
  EXPECT_TRUE(contains(r.out, "handleSignal 15 direct\n")) << r.out;
}

TEST(AppSignals, HangupStaysIgnoredWhenStartedIgnored) {
  const struct {
    bool ignoreHup;
    const char* handled;
  } rows[] = {{false, "handled 2"}, {true, "handled 1"}};
  for (const auto& row : rows) {
    LiveApp app({"cli", "count", "hold"}, row.ignoreHup);
    ASSERT_TRUE(app.waitForLine("blocked"));
    app.kill(SIGHUP);
    app.kill(SIGTERM);
    app.release();
    ASSERT_TRUE(app.waitForLine(row.handled)) << row.ignoreHup;
    const auto r = app.finish();
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(contains(r.out, "handleSignal 1 "), !row.ignoreHup) << r.out;
  }
}

TEST(AppSignals, AlarmAndNotificationSignalsNeverEndTheProgram) {
  LiveApp app({"cli"});
  ASSERT_TRUE(app.waitForLine("ready"));
  app.kill(SIGALRM);
  app.kill(40);
  ASSERT_TRUE(app.waitForLine("handleSignal 40 piped"));
  app.kill(SIGTERM);
  const auto r = app.finish();
  EXPECT_EQ(r.exitStatus, 237);
  EXPECT_FALSE(contains(r.out, "handleSignal 14")) << r.out;
}

TEST(AppSignals, CoreSignalIsReportedAndAborts) {
  LiveApp app({"cli"});
  ASSERT_TRUE(app.waitForLine("ready"));
  app.kill(SIGSEGV);
  const pid_t pid = app.pid();
  const auto r = app.finish();
  EXPECT_EQ(r.termSignal, SIGABRT);
  char expected[128];
  snprintf(expected, sizeof expected,
           "(%d) SIGSEGV/11 (segmentation violation) received, exiting.\n", static_cast<int>(pid));
  EXPECT_EQ(r.err, expected);
  EXPECT_TRUE(contains(r.out, "handleSignal 11 direct\nexitCleanup 1\nappCleanup 1\n")) << r.out;
}

namespace {

// One letter per signal: p piped, s direct, n another handler, D default, I ignored.
char dispositionOf(int sig) {
  const rc::Os::SigHandler h = rc::Os::setSigHandler(sig, SIG_DFL);
  if (h == ac::App::pipedSignalCCb) return 'p';
  if (h == ac::App::stdSignalCCb) return 's';
  if (h == SIG_DFL) return 'D';
  if (h == SIG_IGN) return 'I';
  return 'n';
}

}  // namespace

TEST(AppSignals, InitSignalHandlingFollowsTheFlags) {
  using A = ac::App;
  const struct {
    unsigned flags;
    bool ignoreHup;
    const char* dispositions;  // 40 HUP QUIT INT TERM BUS FPE SEGV ALRM CHLD, then the pipe
  } rows[] = {
      {A::AF_DEFAULT, false, "ppppp sss n D pipe"},
      {A::AF_DEFAULT, true, "pIppp sss n D pipe"},
      {A::AF_NO_SIGNAL_PIPE, false, "sssss sss n D -"},
      {A::AF_NO_SIGNALS, false, "DDDDD DDD D D -"},
      {A::AF_NO_SIGNALS | A::AF_NO_SIGNAL_PIPE, false, "DDDDD DDD D D -"},
      {A::AF_HAS_MSG_SIG_ONLY, false, "pDDDD DDD D D pipe"},
      {A::AF_HAS_MSG_SIG_ONLY | A::AF_NO_SIGNALS, false, "pDDDD DDD D D pipe"},
      {A::AF_HAS_MSG_SIG_ONLY | A::AF_NO_SIGNAL_PIPE, false, "sDDDD DDD D D -"},
  };
  for (const auto& row : rows) {
    const auto r = qvtest::runInChild([&] {
      for (int sig = 1; sig < 32; ++sig) signal(sig, SIG_DFL);
      signal(40, SIG_DFL);
      if (row.ignoreHup) signal(SIGHUP, SIG_IGN);
      qvtest::TestApp app("flagsApp", row.flags);
      app.initSignalHandling();
      std::string seen;
      for (int sig : {40, SIGHUP, SIGQUIT, SIGINT, SIGTERM}) seen += dispositionOf(sig);
      seen += ' ';
      for (int sig : {SIGBUS, SIGFPE, SIGSEGV}) seen += dispositionOf(sig);
      seen += std::string(" ") + dispositionOf(SIGALRM) + " " + dispositionOf(SIGCHLD);
      seen += app.staticFdSet().isEmpty() ? " -" : " pipe";
      printf("%s", seen.c_str());
      app.uninitApp();
    });
    EXPECT_EQ(r.out, row.dispositions) << "flags " << row.flags;
  }
}

TEST(AppSignals, PipeIsClosedByUninitAndSignalsThenTakeTheirDefault) {
  const auto r = qvtest::runInChild([] {
    {
      qvtest::TestApp app("flagsApp");
      app.initSignalHandling();
      const int probe = open("/dev/null", O_RDONLY);
      close(probe);
      app.uninitApp();
      // Both ends are closed (descriptors below the probe are free again) and unregistered.
      const int after = open("/dev/null", O_RDONLY);
      printf("%s %s ", after < probe ? "closed" : "open",
             app.staticFdSet().readFds().isAnySet(1024) ? "registered" : "unregistered");
      close(after);
    }
    // The handler outlived the application: SIGTERM gets its default action.
    fflush(stdout);
    raise(SIGTERM);
    printf("survived");
  });
  EXPECT_EQ(r.out, "closed unregistered ");
  EXPECT_EQ(r.termSignal, SIGTERM);
}
