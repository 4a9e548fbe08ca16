#include "comps/recomps/rcOs.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "comps/recomps/rcErr.h"

namespace rc {

pid_t Os::m_myPid = 0;

namespace {
std::terminate_handler s_prevTerminate = nullptr;
bool s_handlersInstalled = false;

[[noreturn]] void rc_os_terminate() {
  fprintf(stderr, "(%d) terminate called, aborting\n", static_cast<int>(getpid()));
  abort();
}
}  // namespace

void Os::init() {
  m_myPid = getpid();
  if (!s_handlersInstalled) {
    s_prevTerminate = std::set_terminate(rc_os_terminate);
    s_handlersInstalled = true;
  }
}

void Os::reinit() { m_myPid = getpid(); }

Os::SigHandler Os::setSigHandler(int sigNum, SigHandler handler) {
  struct sigaction action = {};
  struct sigaction previous = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  if (sigaction(sigNum, &action, &previous) != 0) return SIG_ERR;
  return previous.sa_handler;
}

void Os::sleep(unsigned seconds) { ::sleep(seconds); }

bool Os::isTty(FILE* file) {
  RC_ASSERT(file);
  return isTty(fileno(file));
}

bool Os::isTty(int fd) { return isatty(fd) == 1; }

Os::WinSize Os::getTtySize(FILE* file) {
  WinSize size = {0, 0};
  struct winsize ws = {};
  if (file != nullptr && isTty(file) && ioctl(fileno(file), TIOCGWINSZ, &ws) == 0) {
    size.width = ws.ws_col;
    size.height = ws.ws_row;
  }
  return size;
}

}  // namespace rc
