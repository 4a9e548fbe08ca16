// Child processes of the operating-system layer: fork and execute with a start-up status pipe,
// exit-status texts and the signal-name check.
//
// The status pipe is close-on-exec. The child writes its errno into it when it cannot set itself
// up or execute its program (_errno_exit); the parent reads it synchronously and throws, so a
// failed exec is reported to the caller like any other error instead of as a mysterious exit 1.
//
// invokePgm starts its child with clone(CLONE_VM | CLONE_VFORK) where that is safe: the child
// borrows the parent's memory until it executes its program, so starting a program does not cost
// a copy of the parent's page tables. Everything the child runs is therefore limited to system
// calls on its own stack: the signal-name cache is filled by the parent beforehand, descriptors
// are marked through close_range (or the list in /proc/self/fd), and _errno_exit allocates
// nothing. All signals stay blocked across the clone or fork so that no handler of the parent
// runs in the child before the child has put the default dispositions back.
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFd.h"
#include "comps/recomps/rcOs.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QV_SPAWN_SHARES_MEMORY 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QV_SPAWN_SHARES_MEMORY 0
#endif
#endif
#ifndef QV_SPAWN_SHARES_MEMORY
#define QV_SPAWN_SHARES_MEMORY 1
#endif

namespace rc {

namespace {

constexpr int kMaxSignal = 64;
// Per signal: 0 not yet asked, 1 named, 2 unknown.
signed char s_validSignal[kMaxSignal + 1];

bool closeRangeCloexec(unsigned first, unsigned last) {
#ifdef SYS_close_range
  return first > last || syscall(SYS_close_range, first, last, CLOSE_RANGE_CLOEXEC) == 0;
#else
  (void)first;
  (void)last;
  return false;
#endif
}

// Every descriptor from 3 up except fdToKeep becomes close-on-exec. The cost must not grow with
// the descriptor limit, which daemons raise to a million: the kernel's range operation looks
// only at open descriptors, and so does the /proc listing that stands in for it on old kernels.
void markCloexecFrom3(int fdToKeep) {
  const bool ok = fdToKeep >= 3 ? closeRangeCloexec(3, static_cast<unsigned>(fdToKeep) - 1) &&
                                      closeRangeCloexec(static_cast<unsigned>(fdToKeep) + 1, ~0U)
                                : closeRangeCloexec(3, ~0U);
  if (ok) return;
  const int dirFd = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    alignas(8) char buf[2048];
    ssize_t n;
    while ((n = getdents64(dirFd, buf, sizeof buf)) > 0) {
      for (ssize_t off = 0; off < n;) {
        const auto* ent = reinterpret_cast<const struct dirent64*>(buf + off);
        off += ent->d_reclen;
        int fd = 0;
        const char* p = ent->d_name;
        for (; *p >= '0' && *p <= '9'; ++p) fd = fd * 10 + (*p - '0');
        if (*p == '\0' && p != ent->d_name && fd >= 3 && fd != fdToKeep && fd != dirFd)
          fcntl(fd, F_SETFD, FD_CLOEXEC);
      }
    }
    close(dirFd);
    return;
  }
  const long limit = sysconf(_SC_OPEN_MAX);
  for (long fd = 3; fd < limit && fd <= INT_MAX; ++fd) {
    if (fd != fdToKeep) fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
  }
}

// Default dispositions for every named signal (SIGKILL and SIGSTOP cannot be changed), then an
// empty mask: the parent may have had signals blocked when it forked, and a program started with
// SIGTERM blocked could not be stopped.
void resetSignals(bool keepUpdateSignals) {
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig = 1; sig <= kMaxSignal; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP || s_validSignal[sig] != 1) continue;
    if (keepUpdateSignals && (sig == QV_UPDATE_DBG_SIGNUM || sig == QV_UPDATE_FAULT_SIGNUM))
      continue;
    sigaction(sig, &dfl, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

void primeSignalCache() {
  for (int sig = 1; sig <= kMaxSignal; ++sig) Os::validSignal(sig);
}

// Blocks every signal for its lifetime (the parent's side of a fork or clone).
class AllSignalsBlocked {
 public:
  AllSignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, &m_saved);
  }
  ~AllSignalsBlocked() {
    if (m_restore) sigprocmask(SIG_SETMASK, &m_saved, nullptr);
  }
  AllSignalsBlocked(const AllSignalsBlocked&) = delete;
  AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;
  // In the child: its mask is set up separately.
  void dismiss() { m_restore = false; }

 private:
  sigset_t m_saved;
  bool m_restore = true;
};

struct InvokeArgs {
  const char* const* argv;
  int fdToKeep;
  const char* childDir;
  int stdOutFd;
  int stdErrFd;
  unsigned flags;
  int statusFd;
  int stdInFd;
};

int invokeChild(void* arg) {
  const InvokeArgs& a = *static_cast<const InvokeArgs*>(arg);
  markCloexecFrom3(a.fdToKeep);
  if ((a.flags & Os::INVOKE_NEWPGRP) && setpgid(0, 0) != 0) Os::_errno_exit(a.statusFd);
  resetSignals(false);
  if (a.childDir != nullptr && chdir(a.childDir) != 0) Os::_errno_exit(a.statusFd);
  if (a.stdOutFd != -1 && dup2(a.stdOutFd, 1) < 0) Os::_errno_exit(a.statusFd);
  if (a.stdErrFd != -1 && dup2(a.stdErrFd, 2) < 0) Os::_errno_exit(a.statusFd);
  if (a.stdInFd != -1 && dup2(a.stdInFd, 0) < 0) Os::_errno_exit(a.statusFd);
  // The originals are no longer needed; standard descriptors and the one to keep stay.
  for (int fd : {a.stdOutFd, a.stdErrFd, a.stdInFd}) {
    if (fd > 2 && fd != a.fdToKeep && fd != a.statusFd) close(fd);
  }
  execvp(a.argv[0], const_cast<char* const*>(a.argv));
  Os::_errno_exit(a.statusFd);
}

#if QV_SPAWN_SHARES_MEMORY
// The borrowed stack of a child that shares the parent's memory; the parent is suspended until
// the child has executed its program or ended, so one stack serves every spawn.
alignas(64) char s_childStack[128 * 1024];
#endif

pid_t startInvokeChild(InvokeArgs* args) {
#if QV_SPAWN_SHARES_MEMORY
  return clone(invokeChild, s_childStack + sizeof s_childStack, CLONE_VM | CLONE_VFORK | SIGCHLD,
               args);
#else
  const pid_t pid = fork();
  if (pid == 0) invokeChild(args);
  return pid;
#endif
}

// The two ends of a status pipe, each closed on every way out unless handed on.
struct StatusPipe {
  Fd rd;
  Fd wr;
};

StatusPipe makeStatusPipe(const char* arg, const char* routine) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    Err_ThrowErrno(RC_SC_PIPE_FAILED, arg != nullptr ? VarArgs() << arg : VarArgs(), errno,
                   routine);
  }
  return StatusPipe{Fd(fds[0]), Fd(fds[1])};
}

[[noreturn]] void throwForkFailed(const char* arg, const char* routine) {
  const int savedErrno = errno;
  Err_ThrowErrno(RC_SC_FORK_FAILED, arg != nullptr ? VarArgs() << arg : VarArgs(), savedErrno,
                 routine);
}

pid_t waitRetrying(pid_t pid, int* rawStatus, int options) {
  pid_t reaped;
  do {
    reaped = waitpid(pid, rawStatus, options);
  } while (reaped < 0 && errno == EINTR);
  return reaped;
}

}  // namespace

bool Os::validSignal(int sig) {
  if (sig < 1 || sig > kMaxSignal) return false;
  if (s_validSignal[sig] == 0) {
    static const char kUnknown[] = "Unknown signal ";
    const char* name = strsignal(sig);
    s_validSignal[sig] =
        name != nullptr && strncmp(name, kUnknown, sizeof kUnknown - 1) != 0 ? 1 : 2;
  }
  return s_validSignal[sig] == 1;
}

pid_t Os::forkPgm(int fdToKeep, const char* childDir) {
  static const char kRoutine[] = "recomps/Os::forkPgm";
  primeSignalCache();
  StatusPipe status = makeStatusPipe(nullptr, kRoutine);
  pid_t pid;
  {
    AllSignalsBlocked blocked;
    pid = fork();
    if (pid == 0) blocked.dismiss();
  }
  if (pid == 0) {
    markCloexecFrom3(fdToKeep);
    resetSignals(true);
    if (childDir != nullptr && chdir(childDir) != 0) _errno_exit(status.wr.get());
    reinit();
  }
  if (pid < 0) throwForkFailed(nullptr, kRoutine);
  status.wr.reset();
  if (pid == 0) {
    // Set up; wait until the parent has let go of its write end too.
    char byte;
    while (read(status.rd.get(), &byte, 1) < 0 && errno == EINTR) {
    }
    return 0;
  }
  _read_child_status(pid, status.rd.release(), RC_SC_FORK_FAILED, nullptr);
  return pid;
}

pid_t Os::invokePgm(const char* const* argv, int fdToKeep, const char* childDir, int stdOutFd,
                    int stdErrFd, unsigned flags, int stdInFd) {
  static const char kRoutine[] = "recomps/Os::invokePgm";
  RC_ASSERT(argv && argv[0]);
  primeSignalCache();
  StatusPipe status = makeStatusPipe(argv[0], kRoutine);
  InvokeArgs args = {argv, fdToKeep, childDir, stdOutFd, stdErrFd, flags, status.wr.get(), stdInFd};
  pid_t pid;
  {
    AllSignalsBlocked blocked;
    pid = startInvokeChild(&args);
  }
  if (pid < 0) throwForkFailed(argv[0], kRoutine);
  status.wr.reset();
  _read_child_status(pid, status.rd.release(), RC_SC_EXEC_FAILED, argv[0]);
  return pid;
}

void Os::_read_child_status(pid_t pid, int fd, int errCode, const char* errArg) {
  static const char kRoutine[] = "recomps/Os::_read_child_status";
  int32_t childErrno = 0;
  char* buf = reinterpret_cast<char*>(&childErrno);
  size_t got = 0;
  int readErrno = 0;
  while (got < sizeof childErrno) {
    const ssize_t n = read(fd, buf + got, sizeof childErrno - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) readErrno = errno;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  if (got == 0 && readErrno == 0) return;

  // The child failed: leave no zombie. One that reported its errno is about to _exit; one whose
  // report is broken may still run and is ended first.
  int rawStatus = 0;
  pid_t reaped = waitRetrying(pid, &rawStatus, WNOHANG);
  if (reaped == 0) {
    if (got != sizeof childErrno) kill(pid, SIGKILL);
    reaped = waitRetrying(pid, &rawStatus, 0);
  }
  trace(DM_RC, DF_DEBUG, "childPid %d, status %d, errno %d : %s\n", static_cast<int>(pid),
        rawStatus, static_cast<int>(childErrno), strerror(childErrno));
  if (got == sizeof childErrno) {
    Err_ThrowErrno(errCode, errArg != nullptr ? VarArgs() << errArg : VarArgs(), childErrno,
                   kRoutine);
  }
  if (readErrno != 0) Err_ThrowErrno(RC_SC_READ_FAILED, VarArgs() << "(pipe)", readErrno, kRoutine);
  Err_Throw(Err(RC_ERROR, RC_SC_READ_FAILED, VarArgs() << "(pipe)", kRoutine));
}

const char* Os::decodeExitStatus(char* buf, unsigned len, int status) {
  if (WIFSIGNALED(status)) {
    snprintf(buf, len, "%s (signal %d)%s", strsignal(WTERMSIG(status)), WTERMSIG(status),
             WCOREDUMP(status) ? " (core dumped)" : "");
  } else if (WIFSTOPPED(status)) {
    snprintf(buf, len, "%s (signal %d)", strsignal(WSTOPSIG(status)), WSTOPSIG(status));
  } else if (!WIFEXITED(status)) {
    snprintf(buf, len, "status %d", status);
  } else if (WEXITSTATUS(status) != 0) {
    snprintf(buf, len, "exit %d", WEXITSTATUS(status));
  } else {
    snprintf(buf, len, "done");
  }
  return buf;
}

const char* Os::decodeExitStatus(int status) {
  static char buf[64];
  return decodeExitStatus(buf, sizeof buf, status);
}

}  // namespace rc
