// Signal delivery of the operating-system layer: the pieces of the common dispatcher behind
// rc::Os::setSigHandler (declared in rcOs.h, with the appliance's real-time notification signals).
//
// The dispatcher's trace line is written from inside signal handlers: everything here works on
// caller-supplied fixed buffers, allocates nothing and uses only open/read/close/write. Only the
// message-queue signal is installed by the framework; the others are sent and handled by
// programs outside it.
#pragma once

#include <signal.h>
#include <sys/time.h>

#include <cstddef>

#include "comps/recomps/rcOs.h"

namespace rc {

class OsSignals {
 public:
  // The dispatcher's trace line for one delivered signal:
  // "<sec>.<usec> [<pid>] signal: signo=.. errno=.. code=.. pid=.. uid=.. (<source>)\n".
  // Returns the length written into buf (cut to size - 1).
  static int formatSigInfoLine(char* buf, size_t size, const siginfo_t& info, const timeval& now,
                               int ownPid);
  // Who sent the signal: for codes 0 and -1 the sender's command line with its program's
  // directory dropped ("unknown" when /proc has none), "<timer>", "<mesgq>", "<asyncio>",
  // "<sigio>", "<???>" for other negative codes and "<kernel>" for positive ones.
  static const char* sigSource(const siginfo_t& info, char* buf, size_t size);
  // Whether the dispatcher traces this signal under the debug flags now on.
  static bool traceWanted(int sigNum);
};

}  // namespace rc
