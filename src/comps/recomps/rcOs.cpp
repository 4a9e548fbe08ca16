#include "comps/recomps/rcOs.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

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

void Os::sleep(unsigned seconds) { ::sleep(seconds); }

}  // namespace rc
