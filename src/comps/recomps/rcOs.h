// Operating-system services: process identity, signal dispositions and sleeping.
// Process-wide state; single-threaded.
#pragma once

#include <sys/types.h>

namespace rc {

class Os {
 public:
  typedef void (*SigHandler)(int);

  // Records the process id and installs the framework's unexpected-exception and terminate
  // handlers (once).
  static void init();
  // In a newly forked process: refreshes the process id.
  static void reinit();
  // Sets a signal's disposition. SIG_DFL and SIG_IGN are installed as they are; any other
  // handler is called with the signal number by one common SA_SIGINFO | SA_RESTART dispatcher.
  // Returns the previous handler (for the dispatcher, the handler it called); SIGKILL is left
  // alone and gives null; a failed sigaction is reported and gives INVALID_HANDLER, as does a
  // previous three-argument handler that is not the dispatcher.
  static SigHandler setSigHandler(int sigNum, SigHandler handler);
  // "SIGTERM/15 (termination)"; a number without a name gives "SIG <n>" in a static buffer that
  // the next such call overwrites.
  static const char* sigName(int sigNum);
  static const SigHandler INVALID_HANDLER;
  static void sleep(unsigned seconds);

  static pid_t m_myPid;
};

}  // namespace rc
