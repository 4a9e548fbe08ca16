#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcOsSignals.h"
#include "qvTestUtil.h"

namespace {
void firstHandler(int) {}
void secondHandler(int) {}
}  // namespace

TEST(OsSignals, SetSigHandlerReturnsThePreviousHandler) {
  const auto r = qvtest::runInChild([] {
    std::string seen;
    auto mark = [&](bool ok) { seen += ok ? '+' : '-'; };
    signal(SIGUSR1, SIG_DFL);
    mark(rc::Os::setSigHandler(SIGUSR1, firstHandler) == SIG_DFL);
    mark(rc::Os::setSigHandler(SIGUSR1, secondHandler) == firstHandler);
    mark(rc::Os::setSigHandler(SIGUSR1, SIG_IGN) == secondHandler);
    mark(rc::Os::setSigHandler(SIGUSR1, SIG_DFL) == SIG_IGN);
    // A three-argument handler that is not the dispatcher cannot be given back.
    struct sigaction act = {};
    act.sa_sigaction = [](int, siginfo_t*, void*) {};
    act.sa_flags = SA_SIGINFO;
    sigaction(SIGUSR1, &act, nullptr);
    mark(rc::Os::setSigHandler(SIGUSR1, SIG_DFL) == rc::Os::INVALID_HANDLER);
    // SIGKILL is left alone.
    mark(rc::Os::setSigHandler(SIGKILL, firstHandler) == nullptr);
    struct sigaction kill = {};
    sigaction(SIGKILL, nullptr, &kill);
    mark(kill.sa_handler == SIG_DFL);
    printf("%s", seen.c_str());
    fflush(stdout);
    // sigaction refuses SIGSTOP: reported, and INVALID_HANDLER returned.
    printf(" %c",
           rc::Os::setSigHandler(SIGSTOP, firstHandler) == rc::Os::INVALID_HANDLER ? '+' : '-');
  });
  EXPECT_EQ(r.out, "+++++++ +");
  EXPECT_NE(r.err.find("sigaction failed for signum = 19"), std::string::npos) << r.err;
}

TEST(OsSignals, DispatcherCallsTheHandlerAndRestartsInterruptedCalls) {
  const auto r = qvtest::runInChild([] {
    static volatile sig_atomic_t got = 0;
    rc::Os::setSigHandler(SIGUSR2, [](int sig) { got = sig; });
    struct sigaction installed = {};
    sigaction(SIGUSR2, nullptr, &installed);
    const bool flags = (installed.sa_flags & SA_SIGINFO) && (installed.sa_flags & SA_RESTART);
    raise(SIGUSR2);
    const bool called = got == SIGUSR2;
    // Back to the default: the table entry is gone, and a delivered signal calls nothing.
    got = 0;
    rc::Os::setSigHandler(SIGUSR2, SIG_IGN);
    raise(SIGUSR2);
    printf("%d %d %d", flags, called, static_cast<int>(got));
  });
  EXPECT_EQ(r.out, "1 1 0");
}

TEST(OsSignals, SigNameForNamedRealTimeAndUnnamedNumbers) {
  const struct {
    int sig;
    const char* name;
  } rows[] = {
      {1, "SIGHUP/1 (hangup)"},
      {11, "SIGSEGV/11 (segmentation violation)"},
      {15, "SIGTERM/15 (termination)"},
      {17, "SIGCHLD/17 (child status has changed)"},
      {31, "SIGSYS/31 (bad system call)"},
      {40, "QV_MSG_Q_SIGNUM (message Q notify)"},
      {41, "QV_UPDATE_DBG_SIGNUM (update DDG info)"},
      {42, "QV_STATE_CHANGE_SIGNUM (state has changed)"},
      {43, "QV_AIO_SIGNUM (AOI ready)"},
      {45, "QV_UPDATE_FAULT_SIGNUM (update fault info)"},
      {0, "SIG 0"},
      {32, "SIG 32"},
      {44, "SIG 44"},
      {46, "SIG 46"},
      {64, "SIG 64"},
      {-3, "SIG -3"},
      {-2147483647 - 1, "SIG -2147483648"},
  };
  for (const auto& row : rows) EXPECT_STREQ(rc::Os::sigName(row.sig), row.name);
  // Unnamed numbers share one buffer.
  const char* first = rc::Os::sigName(44);
  rc::Os::sigName(50);
  EXPECT_STREQ(first, "SIG 50");
}

TEST(OsSignals, SourceNameFollowsTheSignalCode) {
  const struct {
    int code;
    const char* source;
  } rows[] = {
      {SI_TIMER, "<timer>"},   {SI_MESGQ, "<mesgq>"}, {SI_ASYNCIO, "<asyncio>"},
      {SI_SIGIO, "<sigio>"},   {SI_TKILL, "<?\?\?>"}, {-60, "<?\?\?>"},
      {SI_KERNEL, "<kernel>"}, {1, "<kernel>"},
  };
  for (const auto& row : rows) {
    siginfo_t info = {};
    info.si_code = row.code;
    char buf[64];
    EXPECT_STREQ(rc::OsSignals::sigSource(info, buf, sizeof buf), row.source) << row.code;
  }

  // A user-sent signal names the sender by its command line, without the program's directory.
  siginfo_t info = {};
  info.si_code = SI_USER;
  info.si_pid = getpid();
  char buf[300];
  const std::string self = rc::OsSignals::sigSource(info, buf, sizeof buf);
  EXPECT_EQ(self.rfind("qvtests", 0), 0u) << self;
  EXPECT_EQ(self.find('\0'), std::string::npos);
  char tiny[4];
  EXPECT_STREQ(rc::OsSignals::sigSource(info, tiny, sizeof tiny), "qvt");
  info.si_code = SI_QUEUE;
  info.si_pid = 0x7ffffff0;  // no such process
  EXPECT_STREQ(rc::OsSignals::sigSource(info, buf, sizeof buf), "unknown");
}

TEST(OsSignals, TraceLineLayout) {
  siginfo_t info = {};
  info.si_signo = SIGTERM;
  info.si_errno = 4;
  info.si_code = SI_TIMER;
  const timeval now = {1700000000, 42};
  char line[256];
  const int len = rc::OsSignals::formatSigInfoLine(line, sizeof line, info, now, 321);
  EXPECT_STREQ(line,
               "1700000000.000042 [321] signal: signo=15 errno=4 code=-2 pid=0 uid=0 (<timer>)\n");
  EXPECT_EQ(len, static_cast<int>(strlen(line)));
  char cut[20];
  EXPECT_EQ(rc::OsSignals::formatSigInfoLine(cut, sizeof cut, info, now, 321), 19);
  EXPECT_STREQ(cut, "1700000000.000042 [");
}
