// Child processes of ac::App on real processes (/bin/sh, /bin/sleep), reaped by the application's
// own loop. Every loop run is bounded: the awaited condition is checked at least every 2 ms and
// the run gives up after 20 s. Every test ends with no child of the test process left, reaped or
// not.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "comps/appcomps/acApp.h"
#include "qvTestApp.h"
#include "qvTestUtil.h"

using rc::FdSet;
using rc::Timeval;

namespace {

class ChildApp : public qvtest::TestApp {
 public:
  ChildApp() : TestApp("childTest") {}
  ~ChildApp() override { FdSet::clearStaticFdInfos(); }

  // "Child died" callbacks land here: pid -> status.
  static void diedCCb(void* obj, int pid, int status) {
    static_cast<ChildApp*>(obj)->m_died[pid] = status;
  }
  std::map<int, int> m_died;
};

// No child of this process is left, dead or alive.
bool noChildLeft() { return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

int openFdCount() {
  int n = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (dir != nullptr && readdir(dir) != nullptr) ++n;
  if (dir != nullptr) closedir(dir);
  return n;
}

// Blocks until the child has ended without reaping it.
void waitUntilDead(int pid) {
  siginfo_t info;
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
}

struct Captured {
  int pid = 0;
  int status = -1;
  std::string out, err;
  bool done = false;
  static void doneCCb(void* obj, int pid, int status, const std::string& out,
                      const std::string& err) {
    auto* c = static_cast<Captured*>(obj);
    *c = {pid, status, out, err, true};
  }
};

}  // namespace

TEST(AppChildren, ProgramThatCannotRunThrowsAndLeavesNothingBehind) {
  ChildApp app;
  const char* argv[] = {"/nonexistent/qvNoSuchPgm", nullptr};
  const int fdsBefore = openFdCount();
  const std::vector<std::function<void()>> starts = {
      [&] { app.invokePgm(argv, &app, ChildApp::diedCCb, -1, -1); },
      [&] { app.invokePgm("/nonexistent/qvNoSuchPgm -x", &app, ChildApp::diedCCb, -1, -1); },
      [&] { app.executePgm("/nonexistent/qvNoSuchPgm", &app, Captured::doneCCb, true, true); }};
  for (const auto& start : starts) {
    const rc::Err err = qvtest::thrownErr(start);
    EXPECT_EQ(err.code(), RC_SC_EXEC_FAILED);
    EXPECT_EQ(err.code2(), ENOENT | rc::Err::UNIX_ERRNO);
    ASSERT_NE(err.args(), nullptr);
    EXPECT_STREQ((*err.args())[0], "/nonexistent/qvNoSuchPgm");
    EXPECT_TRUE(noChildLeft());
    EXPECT_EQ(app.childTbl()->size(), 0u);
  }
  // executePgm's capture pipes are closed and gone from the loop: only the signal pipe is left.
  EXPECT_EQ(openFdCount(), fdsBefore + 2);
  EXPECT_EQ(app.staticFdSet().numFds() - 1, app.staticFdSet().readFds().highestBelow(1024));
  EXPECT_THROWS_CODE(app.invokePgm("   ", &app, ChildApp::diedCCb, -1, -1), RC_SC_EXEC_FAILED);
}

TEST(AppChildren, ExitStatusesAndSignalsReachTheCallback) {
  ChildApp app;
  const struct {
    const char* cmdLine;
    int status;
  } rows[] = {{"/bin/sh -c 'exit 3'", 3},
              {"/bin/sh -c 'exit 0'", 0},
              {"/bin/sh -c 'kill -KILL $$'", SIGKILL},
              {"/bin/sh -c 'kill -TERM $$'", SIGTERM}};
  std::map<int, int> expected;
  for (const auto& row : rows)
    expected[app.invokePgm(row.cmdLine, &app, ChildApp::diedCCb, -1, -1)] = row.status;
  EXPECT_TRUE(app.runUntil([&] { return app.m_died.size() == expected.size(); }));
  EXPECT_EQ(app.m_died, expected);
  EXPECT_EQ(app.childTbl()->size(), 0u);
  EXPECT_TRUE(noChildLeft());
}

TEST(AppChildren, CallbacksMayStartAndForgetChildren) {
  ChildApp app;
  const char* trueArgv[] = {"/bin/true", nullptr};
  // Two children, both dead before the loop hears of either: the first callback forgets the
  // second one (its end goes unreported but it is reaped) and starts a third.
  const int first = app.invokePgm(trueArgv, &app, ChildApp::diedCCb, -1, -1);
  const int second = app.invokePgm(trueArgv, &app, ChildApp::diedCCb, -1, -1);
  waitUntilDead(first);
  waitUntilDead(second);
  struct Ctx {
    ChildApp* app;
    int forget;
    int third = 0;
    bool firstTableOk = false;
    const char** argv;
  } ctx{&app, std::max(first, second), 0, false, trueArgv};
  auto firstCb = [](void* obj, int pid, int status) {
    auto* c = static_cast<Ctx*>(obj);
    c->firstTableOk = c->app->childTbl()->lookup(pid) == nullptr;
    c->app->removeSigChildCb(c->forget);
    c->third = c->app->invokePgm(c->argv, c->app, ChildApp::diedCCb, -1, -1);
    ChildApp::diedCCb(c->app, pid, status);
  };
  app.addSigChildCb(std::min(first, second), &ctx, firstCb);
  EXPECT_TRUE(app.runUntil([&] { return ctx.third != 0 && app.m_died.count(ctx.third) != 0; }));
  EXPECT_TRUE(ctx.firstTableOk);
  EXPECT_EQ(app.m_died.count(ctx.forget), 0u);
  EXPECT_EQ(app.m_died.size(), 2u);
  EXPECT_TRUE(noChildLeft());
}

TEST(AppChildren, KillPgmWithAndWithoutPreClear) {
  for (bool preClear : {false, true}) {
    ChildApp app;
    const char* argv[] = {"/bin/sleep", "30", nullptr};
    const int pid = app.invokePgm(argv, &app, ChildApp::diedCCb, -1, -1);
    EXPECT_TRUE(app.killPgm(pid, SIGTERM, preClear));
    EXPECT_TRUE(app.runUntil([&] { return app.childTbl()->size() == 0; })) << preClear;
    EXPECT_EQ(app.m_died, preClear ? (std::map<int, int>{}) : (std::map<int, int>{{pid, SIGTERM}}));
    EXPECT_TRUE(noChildLeft()) << preClear;
  }
}

TEST(AppChildren, ExecutePgmDeliversEverythingTheChildWrote) {
  const struct {
    const char* cmdLine;
    bool deadBeforeLoop;  // its end and its output reach the same loop iteration
    size_t outSize;
    const char* err;
  } rows[] = {{"/bin/sh -c \"head -c 1048576 /dev/zero | tr '\\0' x; printf oops >&2; exit 4\"",
               false, 1048576, "oops"},
              {"/bin/sh -c 'printf 12345; printf e >&2'", true, 5, "e"}};
  for (const auto& row : rows) {
    ChildApp app;
    Captured c;
    const int pid = app.executePgm(row.cmdLine, &c, Captured::doneCCb, true, true);
    ASSERT_GT(pid, 0);
    if (row.deadBeforeLoop) waitUntilDead(pid);
    EXPECT_TRUE(app.runUntil([&] { return c.done; })) << row.cmdLine;
    EXPECT_EQ(c.pid, pid);
    EXPECT_EQ(c.status, row.deadBeforeLoop ? 0 : 4);
    EXPECT_EQ(c.out.size(), row.outSize);
    EXPECT_EQ(c.out.find_first_not_of(row.deadBeforeLoop ? "12345" : "x"), std::string::npos);
    EXPECT_EQ(c.err, row.err);
    EXPECT_TRUE(noChildLeft());
  }
}

TEST(AppChildren, ClosedOutputOfARunningChildDoesNotSpinTheLoop) {
  ChildApp app;
  Captured c;
  // Writes, closes its output and stops itself: only the kill below ends it.
  const int pid = app.executePgm("/bin/sh -c 'printf hi; exec >&-; kill -STOP $$'", &c,
                                 Captured::doneCCb, true, false);
  siginfo_t info;
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(pid), &info, WSTOPPED | WNOWAIT), 0);
  const Timeval until = Timeval::monotonicNow() + Timeval(0, 100000);
  app.runUntil([&] { return Timeval::monotonicNow() > until; });
  // 100 ms of 2 ms polls and the pipe's data and end: far below what a spinning loop makes.
  EXPECT_LT(app.iterations(), 200);
  EXPECT_FALSE(c.done);
  ASSERT_TRUE(app.killPgm(pid, SIGKILL, false));
  EXPECT_TRUE(app.runUntil([&] { return c.done; }));
  EXPECT_EQ(c.out, "hi");
  EXPECT_EQ(c.status, SIGKILL);
}

TEST(AppChildren, BuildArgvSplitsQuotesAndBlanks) {
  const struct {
    const char* line;
    std::vector<std::string> args;
  } rows[] = {{"", {}},
              {"cmd \"two words\" 'say \"hi\"' last", {"cmd", "two words", "say \"hi\"", "last"}},
              {"abc\"def\"", {"abc", "def"}},
              {"   lead   and\trepeated  ", {"lead", "and\trepeated"}},
              {"empty \"\" pair", {"empty", "", "pair"}},
              {"open \"", {"open", ""}},
              {"open 'runs to the end", {"open", "runs to the end"}}};
  for (const auto& row : rows) {
    std::string buf = row.line;
    const char* argv[16];
    const int argc = ac::App::buildArgv(buf.data(), argv, 16, ' ');
    std::vector<std::string> got(argv, argv + argc);
    EXPECT_EQ(got, row.args) << row.line;
    EXPECT_EQ(argv[argc], nullptr);
  }
  // At most maxArgs - 1 arguments, plain or quoted.
  for (const char* line : {"a b c d", "a b c 'd'"}) {
    std::string buf = line;
    const char* argv[4];
    EXPECT_EQ(qvtest::failedAssertion([&] { ac::App::buildArgv(buf.data(), argv, 4, ' '); }),
              "argc < (maxArgs-1)")
        << line;
  }
}
