// A connection accepted on a program's control channel. It knows its peer's process (pid and
// uid from the credentials taken at accept), which names it in traces and error texts, and keeps
// when bytes last went either way, so that its server can close a peer that holds a descriptor
// and buffers without using them: one that connects and says nothing, stops in the middle of a
// frame, or leaves our replies unread. A follower (see IpcStrmConn) drops lines instead and is
// only idle when nothing is queued for it either. Times are on rc::Timeval::monotonicNow. Not
// thread-safe; not for signal handlers.
#pragma once

#include <string>

#include "comps/appcomps/acIpcStrmProto.h"

namespace ac {

class IpcAcceptedConn : public IpcStrmConn {
 public:
  // Takes over fd (non-blocking) of peer, accepted at now.
  IpcAcceptedConn(int fd, const IpcPeer& peer, const rc::Timeval& now);

  IpcPeer peerProcess() const override { return m_peerProcess; }
  void touch(const rc::Timeval& now) override { m_lastActive = now; }
  // The last activity plus idleTimeout; NO_TIMEVAL when idleTimeout is not above zero or is
  // NO_TIMEVAL, and for a follower with lines queued.
  rc::Timeval idleDeadline(const rc::Timeval& idleTimeout) const override;

 private:
  IpcPeer m_peerProcess;
  rc::Timeval m_lastActive;
};

}  // namespace ac
