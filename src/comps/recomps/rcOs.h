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
  // Sets a signal's disposition; returns the previous handler, or SIG_ERR on failure.
  static SigHandler setSigHandler(int sigNum, SigHandler handler);
  static void sleep(unsigned seconds);

  static pid_t m_myPid;
};

}  // namespace rc
