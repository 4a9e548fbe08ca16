#include "comps/recomps/rcOsSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcOut.h"

namespace rc {

const Os::SigHandler Os::INVALID_HANDLER = SIG_ERR;

namespace {

// The caller's handler of each signal behind the common dispatcher; null for the default and
// ignore dispositions.
Os::SigHandler s_handlers[_NSIG];

const char* const kSigNames[] = {
    nullptr,
    "SIGHUP/1 (hangup)",
    "SIGINT/2 (interrupt)",
    "SIGQUIT/3 (quit)",
    "SIGILL/4 (illegal instruction)",
    "SIGTRAP/5 (trace trap)",
    "SIGABRT/6 (abort)",
    "SIGBUS/7 (bus error)",
    "SIGFPE/8 (floating-point exception)",
    "SIGKILL/9 (kill)",
    "SIGUSR1/10 (user-defined signal 1)",
    "SIGSEGV/11 (segmentation violation)",
    "SIGUSR2/12 (user-defined signal 2)",
    "SIGPIPE/13 (broken pipe)",
    "SIGALRM/14 (alarm clock)",
    "SIGTERM/15 (termination)",
    "SIGSTKFLT/16 (stack fault)",
    "SIGCHLD/17 (child status has changed)",
    "SIGCONT/18 (continue)",
    "SIGSTOP/19 (stop)",
    "SIGTSTP/20 (keyboard stop)",
    "SIGTTIN/21 (background read from tty)",
    "SIGTTOU/22 (background write to tty)",
    "SIGURG/23 (urgent condition on socket)",
    "SIGXCPU/24 (CPU limit exceeded)",
    "SIGXFSZ/25 (file size limit exceeded)",
    "SIGVTALRM/26 (virtual alarm clock)",
    "SIGPROF/27 (profiling alarm clock)",
    "SIGWINCH/28 (window size change)",
    "SIGIO/29 (I/O ready)",
    "SIGPWR/30 (power failure restart)",
    "SIGSYS/31 (bad system call)",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    "QV_MSG_Q_SIGNUM (message Q notify)",
    "QV_UPDATE_DBG_SIGNUM (update DDG info)",
    "QV_STATE_CHANGE_SIGNUM (state has changed)",
    "QV_AIO_SIGNUM (AOI ready)",
    nullptr,
    "QV_UPDATE_FAULT_SIGNUM (update fault info)",
};

bool isNotifySignal(int sigNum) { return sigNum >= QV_MSG_Q_SIGNUM && sigNum <= 45; }

void traceSignal(const siginfo_t& info) {
  const int savedErrno = errno;
  timeval now;
  gettimeofday(&now, nullptr);
  char line[512];
  const int len = OsSignals::formatSigInfoLine(line, sizeof line, info, now, getpid());
  // Until a log file exists, the trace goes to standard error.
  if (len > 0) Os::writeAll(2, line, static_cast<size_t>(len));
  errno = savedErrno;
}

void dispatchSignal(int sigNum, siginfo_t* info, void* /*context*/) {
  if (Dbg::s_anyOn && info != nullptr && OsSignals::traceWanted(sigNum)) traceSignal(*info);
  const Os::SigHandler handler = sigNum > 0 && sigNum < _NSIG ? s_handlers[sigNum] : nullptr;
  if (handler != nullptr) handler(sigNum);
}

void reportSigactionFailure(int sigNum) {
  char msg[64];
  snprintf(msg, sizeof msg, "sigaction failed for signum = %d", sigNum);
  IntnlErr intnlErr(RC_NON_FATAL, msg, 0, nullptr);
  intnlErr.err().addFileName(__FILE__, __LINE__);
  Out::instance()->print(intnlErr, true);
}

}  // namespace

Os::SigHandler Os::setSigHandler(int sigNum, SigHandler handler) {
  if (sigNum == SIGKILL) return nullptr;
  RC_ASSERT(sigNum > 0 && sigNum < _NSIG);
  struct sigaction action = {};
  struct sigaction previous = {};
  sigemptyset(&action.sa_mask);
  const SigHandler previousEntry = s_handlers[sigNum];
  if (handler == SIG_DFL || handler == SIG_IGN) {
    action.sa_handler = handler;
    action.sa_flags = 0;
  } else {
    // Stored first: the dispatcher may run as soon as sigaction returns.
    s_handlers[sigNum] = handler;
    action.sa_sigaction = dispatchSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
  }
  if (sigaction(sigNum, &action, &previous) != 0) {
    s_handlers[sigNum] = previousEntry;
    reportSigactionFailure(sigNum);
    return INVALID_HANDLER;
  }
  if (handler == SIG_DFL || handler == SIG_IGN) s_handlers[sigNum] = nullptr;
  if (!(previous.sa_flags & SA_SIGINFO)) return previous.sa_handler;
  if (previous.sa_sigaction == dispatchSignal) return previousEntry;
  return INVALID_HANDLER;
}

const char* Os::sigName(int sigNum) {
  constexpr int kNamed = sizeof kSigNames / sizeof kSigNames[0];
  if (sigNum >= 0 && sigNum < kNamed && kSigNames[sigNum] != nullptr) return kSigNames[sigNum];
  static char s_buf[32];
  snprintf(s_buf, sizeof s_buf, "SIG %d", sigNum);
  return s_buf;
}

bool OsSignals::traceWanted(int sigNum) {
  const Dbg* dbg = Dbg::instance();
  if (dbg->isOn(DM_SIG, DF_MINOR_DATA)) return true;
  return dbg->isOn(DM_SIG, DF_DEBUG_DATA) && sigNum != SIGCHLD && !isNotifySignal(sigNum);
}

const char* OsSignals::sigSource(const siginfo_t& info, char* buf, size_t size) {
  switch (info.si_code) {
    case SI_TIMER: return "<timer>";
    case SI_MESGQ: return "<mesgq>";
    case SI_ASYNCIO: return "<asyncio>";
    case SI_SIGIO: return "<sigio>";
    default: break;
  }
  if (info.si_code > 0) return "<kernel>";
  if (info.si_code != SI_USER && info.si_code != SI_QUEUE) return "<?\?\?>";

  char path[32];
  snprintf(path, sizeof path, "/proc/%d/cmdline", static_cast<int>(info.si_pid));
  char cmdline[257];
  ssize_t n = -1;
  const int fd = open(path, O_RDONLY);
  if (fd >= 0) {
    do {
      n = read(fd, cmdline, sizeof cmdline - 1);
    } while (n < 0 && errno == EINTR);
    close(fd);
  }
  if (n <= 0) return "unknown";
  // The arguments are NUL-separated; the program's directory is dropped, its arguments kept.
  const size_t progLen = strnlen(cmdline, static_cast<size_t>(n));
  size_t start = 0;
  for (size_t i = 0; i < progLen; ++i) {
    if (cmdline[i] == '/') start = i + 1;
  }
  size_t end = static_cast<size_t>(n);
  while (end > start && cmdline[end - 1] == '\0') --end;
  size_t out = 0;
  for (size_t i = start; i < end && out + 1 < size; ++i) {
    buf[out++] = cmdline[i] == '\0' ? ' ' : cmdline[i];
  }
  if (size > 0) buf[out] = '\0';
  return buf;
}

int OsSignals::formatSigInfoLine(char* buf, size_t size, const siginfo_t& info, const timeval& now,
                                 int ownPid) {
  char source[260];
  const int len = snprintf(
      buf, size, "%ld.%06ld [%d] signal: signo=%d errno=%d code=%d pid=%d uid=%d (%-.40s)\n",
      static_cast<long>(now.tv_sec), static_cast<long>(now.tv_usec), ownPid, info.si_signo,
      info.si_errno, info.si_code, static_cast<int>(info.si_pid), static_cast<int>(info.si_uid),
      sigSource(info, source, sizeof source));
  if (len < 0 || size == 0) return 0;
  return static_cast<size_t>(len) < size ? len : static_cast<int>(size - 1);
}

}  // namespace rc
