// A connection accepted on a program's control channel. It keeps when bytes last went either
// way, so that its server can close a peer that holds a descriptor and buffers without using
// them: one that connects and says nothing, or stops in the middle of a frame. A connection whose
// replies are still queued waits on its peer, not the peer on us, and is never idle. Times are on
// rc::Timeval::monotonicNow. Not thread-safe; not for signal handlers.
#pragma once

#include <string>

#include "comps/appcomps/acIpcStrmProto.h"

namespace ac {

class IpcAcceptedConn : public IpcStrmConn {
 public:
  // Takes over fd (non-blocking), accepted at now.
  IpcAcceptedConn(int fd, std::string peer, const rc::Timeval& now)
      : IpcStrmConn(fd, std::move(peer)), m_lastActive(now) {}

  void touch(const rc::Timeval& now) override { m_lastActive = now; }
  // The last activity plus idleTimeout; NO_TIMEVAL while replies are queued or when idleTimeout
  // is not above zero or is NO_TIMEVAL.
  rc::Timeval idleDeadline(const rc::Timeval& idleTimeout) const override;

 private:
  rc::Timeval m_lastActive;
};

}  // namespace ac
