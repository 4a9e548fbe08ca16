#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcOutDevice.h"
#include "comps/recomps/rcStrDb.h"
#include "qvTestUtil.h"

TEST(Os, IpAddr) {
  struct Row {
    const char* text;
    bool ok;
    uint32_t hostOrder;
  };
  const Row rows[] = {
      {"10.0.0.1", true, 0x0A000001},
      {"255.255.255.255", true, 0xFFFFFFFF},
      {"127.1", true, 0x7F000001},
      {"0x7f.0.0.1", true, 0x7F000001},
      {"256.0.0.1", false, 0},
      {"10.0.0.1x", false, 0},
      {"host.example", false, 0},
      {"", false, 0},
      {nullptr, false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text != nullptr ? row.text : "(null)");
    uint32_t address = 0xDEADBEEF;
    EXPECT_EQ(rc::Os::ipAddr(row.text, &address), row.ok);
    EXPECT_EQ(address, row.ok ? htonl(row.hostOrder) : 0xDEADBEEF);
  }
}

TEST(Os, SplitIpAddr) {
  struct Row {
    const char* text;
    bool ok;
    const char* address;
    int port;  // -7: left untouched
  };
  const Row rows[] = {
      {"10.0.0.1:5481", true, "10.0.0.1", 5481},
      {"10.0.0.1", true, "10.0.0.1", -7},
      {"host:0", true, "host", 0},
      {"host:65535", true, "host", 65535},
      {"a:b:80", true, "a:b", 80},
      {":80", true, "", 80},
      {"10.0.0.1:54x", false, "", -7},
      {"10.0.0.1:", false, "", -7},
      {"10.0.0.1:-1", false, "", -7},
      {"10.0.0.1:+80", false, "", -7},
      {"10.0.0.1: 80", false, "", -7},
      {"10.0.0.1:65536", false, "", -7},
      {"10.0.0.1:99999999999999999999", false, "", -7},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    std::string address;
    int port = -7;
    EXPECT_EQ(rc::Os::splitIpAddr(row.text, &address, &port), row.ok);
    EXPECT_EQ(address, row.address);
    EXPECT_EQ(port, row.port);
  }
}

TEST(Os, HostNameAndCurrentDirectory) {
  char expected[256] = "";
  ASSERT_EQ(gethostname(expected, sizeof expected), 0);
  const char* name = rc::Os::hostName();
  EXPECT_STREQ(name, expected);
  EXPECT_EQ(rc::Os::hostName(), name);
  char* cwd = getcwd(nullptr, 0);
  EXPECT_STREQ(rc::Os::currentDir(), cwd);
  free(cwd);
}

TEST(Os, ChangeDir) {
  qvtest::TempDir tmp("rcOsTest");
  qvtest::ScopedCwd cwd(tmp.path());
  const std::string nested = tmp.path() + "/a/b/c";
  const std::string file = tmp.path() + "/plain";
  std::ofstream(file) << "x";

  struct Row {
    std::string path;
    bool create;
    int errnoValue;  // 0: succeeds
  };
  const Row rows[] = {
      {tmp.path() + "/missing", false, ENOENT},
      {file, false, ENOTDIR},
      {file, true, EEXIST},  // the file stands where the directory would be made
      {file + "/below", true, ENOTDIR},
      {"", false, ENOENT},
      {nested, true, 0},
      {tmp.path() + "/a", false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path + (row.create ? " (create)" : ""));
    try {
      rc::Os::changeDir(row.path.c_str(), row.create);
      EXPECT_EQ(row.errnoValue, 0);
      // The cached directory follows the change.
      char* now = getcwd(nullptr, 0);
      EXPECT_STREQ(rc::Os::currentDir(), now);
      EXPECT_EQ(std::string(now), row.path);
      free(now);
    } catch (const rc::Err& err) {
      EXPECT_EQ(err.severity(), RC_ERROR);
      EXPECT_EQ(err.code(), RC_SC_CHDIR_FAILED);
      EXPECT_EQ(err.code2(), row.errnoValue | rc::Err::UNIX_ERRNO);
      ASSERT_NE(err.args(), nullptr);
      EXPECT_EQ(std::string((*err.args())[0]), row.path);
      EXPECT_STREQ(err.routine(), "recomps/Os::changeDir");
    }
  }
  struct stat st;
  for (const char* part : {"/a", "/a/b", "/a/b/c"}) {
    ASSERT_EQ(stat((tmp.path() + part).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << part;
  }
}

TEST(Os, ReapChildAndWaitChild) {
  // Each child waits for a byte on its pipe, then ends as told.
  struct Child {
    pid_t pid;
    int wr;
  };
  auto spawn = [](int how) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[1]);
      char c;
      while (read(fds[0], &c, 1) < 0 && errno == EINTR) {
      }
      if (how > 0) _exit(how);
      raise(-how);
      _exit(99);
    }
    close(fds[0]);
    return Child{pid, fds[1]};
  };
  auto release = [](const Child& child) {
    EXPECT_EQ(write(child.wr, "x", 1), 1);
    close(child.wr);
    // Until the child has ended, without reaping it.
    siginfo_t info;
    EXPECT_EQ(waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOWAIT), 0);
  };

  struct Row {
    int how;  // exit code, or minus the signal
    int status;
    int signal;
  };
  const Row rows[] = {{3, 3, 0}, {-SIGKILL, SIGKILL, SIGKILL}, {-SIGTERM, SIGTERM, SIGTERM}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.how);
    // reapChild: still running, then ended.
    Child child = spawn(row.how);
    int status = 1234;
    EXPECT_TRUE(rc::Os::reapChild(child.pid, &status));
    EXPECT_EQ(status, -1);
    release(child);
    EXPECT_FALSE(rc::Os::reapChild(child.pid, &status));
    EXPECT_EQ(status, row.status);
    // Nothing left to reap.
    EXPECT_FALSE(rc::Os::reapChild(child.pid, &status));
    EXPECT_EQ(status, -1);

    // waitChild blocks until the end.
    child = spawn(row.how);
    EXPECT_EQ(write(child.wr, "x", 1), 1);
    close(child.wr);
    int sig = -5;
    const int raw = rc::Os::waitChild(child.pid, &status, &sig);
    EXPECT_EQ(status, row.signal == 0 ? row.status : -1);
    EXPECT_EQ(sig, row.signal);
    if (row.signal == 0) {
      EXPECT_TRUE(WIFEXITED(raw));
    } else {
      EXPECT_TRUE(WIFSIGNALED(raw));
    }
  }
  int status = 0;
  int sig = 0;
  EXPECT_EQ(rc::Os::waitChild(getpid(), &status, &sig), -1);
  EXPECT_EQ(status, -1);
}

TEST(Os, SleepmsLastsThroughSignals) {
  static volatile sig_atomic_t s_alarms = 0;
  struct sigaction action = {};
  struct sigaction previous = {};
  action.sa_handler = [](int) { s_alarms = s_alarms + 1; };
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
  struct itimerval every10ms = {{0, 10000}, {0, 10000}};
  struct itimerval off = {};
  setitimer(ITIMER_REAL, &every10ms, nullptr);
  struct timespec start;
  struct timespec end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  rc::Os::sleepms(120);
  clock_gettime(CLOCK_MONOTONIC, &end);
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &previous, nullptr);
  const long elapsedMs =
      (end.tv_sec - start.tv_sec) * 1000 + (end.tv_nsec - start.tv_nsec) / 1000000;
  EXPECT_GT(s_alarms, 0);
  EXPECT_GE(elapsedMs, 120);
  // Nothing to sleep.
  rc::Os::sleepms(0);
  rc::Os::sleepms(-5);
}

TEST(Os, GetMem) {
  qvtest::TempDir tmp("rcOsTest");
  struct Row {
    const char* name;
    const char* content;
    int result;
    unsigned long long total, used, cached;
  };
  const Row rows[] = {
      {"current layout",
       "MemTotal:       16318248 kB\nMemFree:         1218436 kB\nMemAvailable:   "
       "9012345 kB\nBuffers:          402100 kB\nCached:          7001000 kB\nSwapCached:       "
       "   1000 kB\n",
       0, 16318248, 15099812, 7403100},
      {"older layout", "MemTotal: 1000 kB\nMemFree: 400 kB\nBuffers: 10 kB\nCached: 20 kB\n", 0,
       1000, 600, 30},
      {"missing field", "MemTotal: 1000 kB\nMemFree: 400 kB\nBuffers: 10 kB\n", -1, 0, 0, 0},
      {"not meminfo", "garbage\n", -1, 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = tmp.path() + "/meminfo";
    std::ofstream(path) << row.content;
    rc::Os::memUsageRecord rec = {7, 7, 7};
    EXPECT_EQ(rc::Os::getMem(&rec, path.c_str()), row.result);
    if (row.result == 0) {
      EXPECT_EQ(rec.memTotalKB, row.total);
      EXPECT_EQ(rec.memUsedKB, row.used);
      EXPECT_EQ(rec.memCachedKB, row.cached);
    }
  }
  rc::Os::memUsageRecord rec = {};
  EXPECT_EQ(rc::Os::getMem(&rec, (tmp.path() + "/none").c_str()), -1);
  ASSERT_EQ(rc::Os::getMem(&rec), 0);
  EXPECT_GT(rec.memTotalKB, 0u);
  EXPECT_LE(rec.memUsedKB, rec.memTotalKB);
  EXPECT_LT(rec.memCachedKB, rec.memTotalKB);
}

TEST(Os, TerminalQueries) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  FILE* rd = fdopen(fds[0], "r");
  EXPECT_FALSE(rc::Os::isTty(rd));
  EXPECT_FALSE(rc::Os::isTty(fds[1]));
  EXPECT_FALSE(rc::Os::isTty(-1));
  const rc::Os::WinSize none = rc::Os::getTtySize(rd);
  EXPECT_EQ(none.width, 0);
  EXPECT_EQ(none.height, 0);
  fclose(rd);
  close(fds[1]);

  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    if (master >= 0) close(master);
    GTEST_SKIP() << "no pseudo-terminals here";
  }
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  struct winsize ws = {};
  ws.ws_col = 132;
  ws.ws_row = 43;
  ASSERT_EQ(ioctl(slave, TIOCSWINSZ, &ws), 0);
  FILE* tty = fdopen(slave, "w");
  EXPECT_TRUE(rc::Os::isTty(tty));
  const rc::Os::WinSize size = rc::Os::getTtySize(tty);
  EXPECT_EQ(size.width, 132);
  EXPECT_EQ(size.height, 43);
  // Devices ask the same questions about their stream.
  rc::OutDevice dev(tty, 1);
  EXPECT_TRUE(dev.isTty());
  EXPECT_EQ(dev.getTtySize().width, 132);
  EXPECT_FALSE(rc::OutDevice(nullptr, 1).isTty());
  fclose(tty);
  close(master);
}

TEST(Os, SignalMasks) {
  const auto r = qvtest::runInChild([] {
    static volatile sig_atomic_t s_got = 0;
    struct sigaction action = {};
    action.sa_handler = [](int sig) { s_got = sig; };
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
    printf("block=%d ", rc::Os::blockSignal(SIGUSR1));
    raise(SIGUSR1);
    printf("pending=%d got=%d ", rc::Os::signalPending(SIGUSR1), static_cast<int>(s_got));
    // Blocking a second signal keeps the first one blocked.
    rc::Os::blockSignal(SIGUSR2);
    printf("still=%d ", rc::Os::signalPending(SIGUSR1) && s_got == 0);
    printf("unblock=%d ", rc::Os::unblockSignal(SIGUSR1));
    printf("got=%d pending=%d ", static_cast<int>(s_got), rc::Os::signalPending(SIGUSR1));
    sigset_t mask;
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    printf("usr2=%d bad=%d", sigismember(&mask, SIGUSR2), rc::Os::blockSignal(-1));
  });
  EXPECT_EQ(r.out, "block=0 pending=1 got=0 still=1 unblock=0 got=10 pending=0 usr2=1 bad=1");
}

TEST(Os, ErrnoExitReportsToTheParent) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const auto r = qvtest::runInChild([&] {
    close(fds[0]);
    errno = ENOSPC;
    rc::Os::_errno_exit(fds[1]);
  });
  close(fds[1]);
  int32_t reported = 0;
  EXPECT_EQ(read(fds[0], &reported, sizeof reported), 4);
  char extra;
  EXPECT_EQ(read(fds[0], &extra, 1), 0);
  close(fds[0]);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(reported, ENOSPC);
}

TEST(Os, InitAndReinitInForkedProcesses) {
  rc::Os::init();
  EXPECT_EQ(rc::Os::m_myPid, getpid());
  EXPECT_EQ(rc::Os::getPid(), getpid());
  rc::Os::srandom(42, 7);
  // Reinit in each child: a fresh process id and its own random numbers.
  auto child = [] {
    return qvtest::runInChild([] {
      rc::Os::reinit();
      printf("%d", rc::Os::m_myPid == getpid());
      for (int i = 0; i < 4; ++i) printf(" %ld", rc::Os::random(1000000000L));
    });
  };
  const auto a = child();
  const auto b = child();
  EXPECT_EQ(a.out.substr(0, 1), "1");
  EXPECT_EQ(b.out.substr(0, 1), "1");
  EXPECT_NE(a.out, b.out);

  // Without reseeding, the sequence is fixed by the seed.
  rc::Random one;
  rc::Random two;
  one.srandom(5, 6);
  two.srandom(5, 6);
  for (int i = 0; i < 100; ++i) {
    const long v = one.random(10);
    EXPECT_EQ(v, two.random(10));
    EXPECT_GE(v, 0);
    EXPECT_LT(v, 10);
    const long w = one.random(0);
    EXPECT_EQ(w, two.random(0));
    EXPECT_GE(w, 0);
    EXPECT_LE(w, 0x7FFFFFFFL);
  }
  rc::Random unseeded;
  EXPECT_FALSE(unseeded.isSeeded());
  unseeded.random(5);
  EXPECT_TRUE(unseeded.isSeeded());
}

TEST(Os, TerminateReportsTheEscapedException) {
  struct Row {
    const char* name;
    void (*thrower)();
    std::string text;
  };
  const Row rows[] = {
      {"rc::Err",
       [] { rc::Err_Throw(rc::Err(RC_ERROR, RC_SC_OPEN_FAILED, rc::VarArgs() << "/x", nullptr)); },
       "Error: unable to open '/x'.\n"},
      {"std::exception", [] { throw std::runtime_error("boom"); },
       "Error: boom - internal error.\n"},
      {"other", [] { throw 42; },
       rc::StrDb::format(RC_FATAL, AC_SC_UNHANDLED_EXCEPTION, false) + "\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto r = qvtest::runInChild([&] {
      rc::Os::init();
      rc::Os::init();
      // Leaving a noexcept function with an exception ends in std::terminate.
      [&]() noexcept { row.thrower(); }();
    });
    EXPECT_EQ(r.termSignal, SIGABRT);
    EXPECT_EQ(r.err.rfind("Unexpected exception:\n" + row.text, 0), 0u) << r.err;
  }
}

TEST(Os, JobInterrupts) {
  // Held back inside a critical section, processed when immediate handling is switched on.
  const auto r = qvtest::runInChild([] {
    rc::_jobintr_process_interrupt();  // nothing deferred: returns
    rc::_s_jobintr_state.deferred_sig = SIGTERM;
    rc::_s_jobintr_state.critsec_count = 1;
    printf("%d", rc::jobintr_enable_immed_sigint(true));
    printf("%d", rc::jobintr_enable_immed_sigint(false));
    rc::_s_jobintr_state.critsec_count = 0;
    signal(SIGTERM, SIG_IGN);
    rc::Os::blockSignal(SIGTERM);
    fflush(stdout);
    rc::jobintr_enable_immed_sigint(true);
    printf("survived");
  });
  EXPECT_EQ(r.out, "01");
  EXPECT_EQ(r.termSignal, SIGTERM);
}
