// Children of the operating-system layer: what a started program inherits, how failures to start
// are reported, and exit-status texts. Every child is reaped by the test that made it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOs.h"
#include "qvTestUtil.h"

namespace {

bool noChildLeft() { return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

bool hasLine(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  for (std::string got; std::getline(in, got);) {
    if (got == line) return true;
  }
  return false;
}

std::string readAll(int fd) {
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  return text;
}

// Runs argv through invokePgm (in "/") with its output in a pipe; returns the output.
std::string runPgm(std::vector<const char*> argv, int fdToKeep) {
  qvtest::Pipe out;
  argv.push_back(nullptr);
  const pid_t pid = rc::Os::invokePgm(argv.data(), fdToKeep, "/", out.wr, -1, 0);
  close(out.wr);
  out.wr = -1;
  std::string text = readAll(out.rd);
  int status = -1;
  rc::Os::waitChild(pid, &status, nullptr);
  EXPECT_EQ(status, 0) << text;
  return text;
}

}  // namespace

TEST(OsProc, StartedProgramInheritsOnlyWhatItShould) {
  // The parent holds SIGTERM blocked, ignores SIGUSR1 and has an extra descriptor open without
  // close-on-exec; with the descriptor limit raised when the system allows it.
  rlimit saved;
  getrlimit(RLIMIT_NOFILE, &saved);
  for (rlim_t limit : {saved.rlim_cur, static_cast<rlim_t>(1048576)}) {
    rlimit raised = {std::min(limit, saved.rlim_max), saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_BLOCK, &term, &old);
    struct sigaction ign = {}, prevUsr1;
    ign.sa_handler = SIG_IGN;
    sigaction(SIGUSR1, &ign, &prevUsr1);
    qvtest::Pipe stray, kept;
    const std::string mask = runPgm({"grep", "-E", "^Sig(Blk|Ign)", "/proc/self/status"}, kept.rd);
    const std::string fds = runPgm({"ls", "/proc/self/fd"}, kept.rd);
    const std::string dir = runPgm({"pwd"}, kept.rd);
    sigaction(SIGUSR1, &prevUsr1, nullptr);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    EXPECT_EQ(mask, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
    EXPECT_TRUE(hasLine(fds, std::to_string(kept.rd))) << fds;
    EXPECT_FALSE(hasLine(fds, std::to_string(stray.wr))) << fds;
    EXPECT_EQ(dir, "/\n");
  }
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_TRUE(noChildLeft());
}

TEST(OsProc, FailuresToStartAreThrownWithTheChildsErrno) {
  const char* missing[] = {"qvNoSuchProgram", nullptr};
  const char* sh[] = {"/bin/sh", "-c", "exit 0", nullptr};
  const struct {
    std::function<void()> start;
    int code;
    int childErrno;
  } rows[] = {
      {[&] { rc::Os::invokePgm(missing, -1, nullptr, -1, -1, 0); }, RC_SC_EXEC_FAILED, ENOENT},
      {[&] { rc::Os::invokePgm(sh, -1, "/nonexistent/dir", -1, -1, 0); }, RC_SC_EXEC_FAILED,
       ENOENT},
      {[&] {
         if (rc::Os::forkPgm(-1, "/nonexistent/dir") == 0) _exit(0);
       },
       RC_SC_FORK_FAILED, ENOENT}};
  for (const auto& row : rows) {
    const rc::Err err = qvtest::thrownErr(row.start);
    EXPECT_EQ(err.code(), row.code);
    EXPECT_EQ(err.code2(), row.childErrno | rc::Err::UNIX_ERRNO);
    EXPECT_TRUE(noChildLeft());
  }
  // A forked child that set itself up runs on; its exit status is its own.
  const pid_t pid = rc::Os::forkPgm(-1, "/");
  if (pid == 0) _exit(rc::Os::getPid() == getpid() ? 7 : 1);
  int status = -1;
  rc::Os::waitChild(pid, &status, nullptr);
  EXPECT_EQ(status, 7);
}

TEST(OsProc, DecodeExitStatusAndValidSignal) {
  const std::string killed = strsignal(SIGKILL);
  const std::string stopped = strsignal(SIGSTOP);
  const struct {
    int raw;
    std::string text;
  } rows[] = {{3 << 8, "exit 3"},
              {0, "done"},
              {SIGKILL, killed + " (signal 9)"},
              {SIGKILL | 0x80, killed + " (signal 9) (core dumped)"},
              {(SIGSTOP << 8) | 0x7f, stopped + " (signal 19)"},
              {0xffff, "status 65535"}};
  for (const auto& row : rows) EXPECT_EQ(rc::Os::decodeExitStatus(row.raw), row.text);
  char small[8];
  EXPECT_STREQ(rc::Os::decodeExitStatus(small, sizeof small, 300 << 8), "exit 44");
  for (int sig : {1, 9, 34, 64}) EXPECT_TRUE(rc::Os::validSignal(sig)) << sig;
  for (int sig : {0, 65, -1}) EXPECT_FALSE(rc::Os::validSignal(sig)) << sig;
}
