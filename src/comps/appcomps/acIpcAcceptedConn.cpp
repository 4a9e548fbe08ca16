#include "comps/appcomps/acIpcAcceptedConn.h"

namespace ac {

rc::Timeval IpcAcceptedConn::idleDeadline(const rc::Timeval& idleTimeout) const {
  if (hasPendingOutput() || !(idleTimeout > rc::Timeval::ZERO_TIMEVAL) ||
      idleTimeout >= rc::Timeval::NO_TIMEVAL) {
    return rc::Timeval::NO_TIMEVAL;
  }
  return m_lastActive + idleTimeout;
}

}  // namespace ac
