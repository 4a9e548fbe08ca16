// ac::App's signal handling: the signal pipe, the handlers and the base handleSignal().
//
// Everything that runs inside a signal handler here (pipedSignalCCb, sendPipedSignal,
// checkForTermSignal) touches only the plain statics below and calls write() and time(); errno
// is preserved. Direct handling (stdSignalCCb, the fourth termination signal) runs the whole of
// handleSignal inside the handler, which is what lets a stuck program still end.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcOsSignals.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcPgmClass.h"
#include "comps/recomps/rcStrDb.h"

namespace ac {

namespace {

int s_signalRdPipe = -1;
int s_signalWrPipe = -1;
// Per signal number: a byte for it is in the pipe and not yet read. Covers every signal number,
// so that a handler installed for a real-time signal cannot write past the table.
volatile sig_atomic_t s_sigInPipe[_NSIG];

// The current series of one repeated termination signal.
int lastSigNum = 0;
int sigCount = 0;
time_t lastSigTime = 0;

constexpr int kTermSeriesSecs = 5;
constexpr int kTermSeriesHandledAt = 4;

void _null_sighandler(int /*sigNum*/) {}

bool isTermSignal(int sigNum) {
  return sigNum == SIGHUP || sigNum == SIGINT || sigNum == SIGQUIT || sigNum == SIGTERM;
}

bool hasPendingFlag(int sigNum) { return sigNum >= 0 && sigNum < _NSIG; }

// With no application (or no pipe) left to handle a signal, it gets its default action: it stays
// blocked until the handler returns and is delivered then.
void takeDefaultAction(int sigNum) {
  rc::Os::setSigHandler(sigNum, SIG_DFL);
  raise(sigNum);
}

void closeRetrying(int fd) {
  while (close(fd) != 0 && errno == EINTR) {
  }
}

}  // namespace

void App::initSignalHandling() {
  const bool msgSigOnly = isAppFlagSet(AF_HAS_MSG_SIG_ONLY);
  if (!msgSigOnly && isAppFlagSet(AF_NO_SIGNALS)) return;

  rc::Os::SigHandler handler = stdSignalCCb;
  if (!isAppFlagSet(AF_NO_SIGNAL_PIPE)) {
    initSignalPipe();
    handler = pipedSignalCCb;
  }
  rc::Os::setSigHandler(QV_MSG_Q_SIGNUM, handler);
  if (msgSigOnly) return;

  // A program started immune to hang-ups stays so.
  struct sigaction hup = {};
  if (sigaction(SIGHUP, nullptr, &hup) != 0 || (hup.sa_flags & SA_SIGINFO) ||
      hup.sa_handler != SIG_IGN) {
    rc::Os::setSigHandler(SIGHUP, handler);
  }
  for (int sigNum : {SIGQUIT, SIGINT, SIGTERM}) rc::Os::setSigHandler(sigNum, handler);
  for (int sigNum : {SIGBUS, SIGFPE, SIGSEGV}) rc::Os::setSigHandler(sigNum, stdSignalCCb);
  rc::Os::setSigHandler(SIGALRM, _null_sighandler);
}

void App::initSignalPipe() {
  RC_TRACE(DM_SIG, DF_INIT, "initializing signal pipe ...\n");
  uninitSignalPipe();
  int fds[2];
  // Close-on-exec: a program this one executes has no use for the pipe.
  if (pipe2(fds, O_CLOEXEC) != 0) {
    rc::Err_ThrowErrno(RC_SC_PIPE_FAILED, rc::VarArgs::NO_VARARGS, errno,
                       "appcomps/App::initSignalPipe");
  }
  for (auto& flag : s_sigInPipe) flag = 0;
  try {
    m_signalPipeFdSet.clear();
    m_signalPipeFdSet.add(rc::FdSet::FDT_READ, fds[0], this, signalPipeFdCCb, nullptr);
  } catch (...) {
    closeRetrying(fds[0]);
    closeRetrying(fds[1]);
    throw;
  }
  s_signalRdPipe = fds[0];
  s_signalWrPipe = fds[1];
  addToEventLoop(m_signalPipeFdSet);
}

void App::uninitSignalPipe() {
  if (s_signalRdPipe >= 0) {
    removeFromEventLoop(m_signalPipeFdSet);
    m_signalPipeFdSet.clear();
    const int fd = s_signalRdPipe;
    s_signalRdPipe = -1;
    closeRetrying(fd);
  }
  if (s_signalWrPipe >= 0) {
    // Forgotten before it is closed, so that a handler never writes to a reused descriptor.
    const int fd = s_signalWrPipe;
    s_signalWrPipe = -1;
    closeRetrying(fd);
  }
}

void App::uninitApp() {
  uninitSignalPipe();
  s_app = nullptr;
}

void App::stdSignalCCb(int sigNum) {
  const int savedErrno = errno;
  App* app = instance();
  if (app != nullptr) {
    app->handleSignal(sigNum, false);
  } else {
    takeDefaultAction(sigNum);
  }
  errno = savedErrno;
}

void App::pipedSignalCCb(int sigNum) {
  const int savedErrno = errno;
  checkForTermSignal(sigNum);
  sendPipedSignal(sigNum);
  errno = savedErrno;
}

void App::sendPipedSignal(int sigNum) {
  if (hasPendingFlag(sigNum) && s_sigInPipe[sigNum]) return;
  if (s_signalWrPipe < 0 || instance() == nullptr) {
    takeDefaultAction(sigNum);
    return;
  }
  const char buf[1] = {static_cast<char>(sigNum)};
  const ssize_t nWritten = write(s_signalWrPipe, buf, sizeof buf);
  if (nWritten != static_cast<ssize_t>(sizeof buf)) {
    rc::Assert_throwAssert("nWritten == sizeof (buf)", "writing to signal pipe", true, __FILE__,
                           __LINE__);
  }
  if (hasPendingFlag(sigNum)) s_sigInPipe[sigNum] = 1;
}

void App::checkForTermSignal(int sigNum) {
  if (!isTermSignal(sigNum)) return;
  const time_t now = time(nullptr);
  if (sigNum != lastSigNum || now - lastSigTime > kTermSeriesSecs) {
    lastSigNum = sigNum;
    sigCount = 1;
    lastSigTime = now;
    return;
  }
  if (++sigCount >= kTermSeriesHandledAt) {
    App* app = instance();
    if (app != nullptr) app->handleSignal(sigNum, false);
  }
}

int App::signalPipeFd() { return s_signalRdPipe; }

void App::signalPipeFdCCb(void* cbObj, rc::FdSet::CbType /*cbType*/, int /*fd*/, void* /*data*/) {
  signed char buf[1];
  ssize_t nRead;
  do {
    nRead = read(s_signalRdPipe, buf, sizeof buf);
  } while (nRead < 0 && errno == EINTR);
  if (nRead != static_cast<ssize_t>(sizeof buf)) {
    rc::Assert_throwAssert("nRead == sizeof (buf)", "reading from signal pipe", true, __FILE__,
                           __LINE__);
  }
  const int sigNum = buf[0];
  RC_TRACE(DM_SIG, DF_MINOR, "read signal %d from signal pipe\n", sigNum);
  if (hasPendingFlag(sigNum)) s_sigInPipe[sigNum] = 0;
  static_cast<App*>(cbObj)->handleSignal(sigNum, true);
}

void App::handleSignal(int sigNum, bool fromSignalPipe) {
  switch (sigNum) {
    case SIGHUP:
    case SIGINT:
    case SIGQUIT:
    case SIGTERM:
      // The exit's texts come from the process's own catalog: the shared one may be held locked
      // by the very code this signal interrupted.
      rc::StrDb::setShmInstance(nullptr);
      // A sub-process is ended by its parent with SIGTERM as a matter of course.
      if (!(sigNum == SIGTERM && rc::Env::pgmClass() == rc::PgmClass::SUB_PROCESS)) {
        rc::Out::instance()->print(
            rc::Err(RC_INFO, AC_SC_TERMINATED, rc::VarArgs() << m_programName << sigNum,
                    "appcomps/App::handleSignal"),
            true);
      }
      exitProgram(AC_SC_TERMINATED, !fromSignalPipe);
      break;
    case SIGILL:
    case SIGBUS:
    case SIGFPE:
    case SIGSEGV: handleCoreSignal(sigNum);
    case SIGCHLD: handleSigChild(); break;
    case QV_MSG_Q_SIGNUM: RC_TRACE(DM_SIG, DF_DEBUG, "got msg queue IO signal\n"); break;
    default: RC_TRACE(DM_SIG, DF_DEBUG, "ignoring signal %d\n", sigNum); break;
  }
}

void App::handleCoreSignal(int sigNum) {
  RC_TRACE(DM_SIG, DF_DEBUG, "handling core signal %s (%d)\n", rc::Os::sigName(sigNum), sigNum);
  // Written with one write(): stdio may be in an inconsistent state after a fault.
  char line[96];
  const int len = snprintf(line, sizeof line, "(%d) %s received, exiting.\n",
                           static_cast<int>(getpid()), rc::Os::sigName(sigNum));
  if (len > 0) {
    const ssize_t ignored =
        write(2, line, static_cast<size_t>(len) < sizeof line ? len : sizeof line - 1);
    (void)ignored;
  }
  errorWait();
  exitCleanup(true);
  appCleanup(true);
  abort();
}

}  // namespace ac
