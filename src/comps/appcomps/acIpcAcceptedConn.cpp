#include "comps/appcomps/acIpcAcceptedConn.h"

namespace ac {

namespace {

std::string describe(const IpcPeer& peer) {
  return "client pid " + std::to_string(peer.pid) + " uid " + std::to_string(peer.uid);
}

}  // namespace

IpcAcceptedConn::IpcAcceptedConn(int fd, const IpcPeer& peer, const rc::Timeval& now)
    : IpcStrmConn(fd, describe(peer)), m_peerProcess(peer), m_lastActive(now) {}

rc::Timeval IpcAcceptedConn::idleDeadline(const rc::Timeval& idleTimeout) const {
  if ((isFollower() && hasPendingOutput()) || !(idleTimeout > rc::Timeval::ZERO_TIMEVAL) ||
      idleTimeout >= rc::Timeval::NO_TIMEVAL) {
    return rc::Timeval::NO_TIMEVAL;
  }
  return m_lastActive + idleTimeout;
}

}  // namespace ac
