// Operating-system services: process identity, signal dispositions and sleeping.
// Process-wide state; single-threaded.
#pragma once

#include <sys/types.h>

#include <cstdio>

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

  struct WinSize {
    int width;
    int height;
  };
  // Whether the stream (asserted non-null) or descriptor is a terminal.
  static bool isTty(FILE* file);
  static bool isTty(int fd);
  // The terminal's columns and rows; 0 and 0 when the stream is not a terminal or the query fails.
  static WinSize getTtySize(FILE* file);

  static pid_t m_myPid;
};

}  // namespace rc
