#include "comps/appcomps/acIpcListener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "comps/appcomps/acCtlChannel.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOut.h"

namespace ac {

IpcListener::IpcListener(const std::string& path)
    : m_path(path), m_fd(CtlChannel::listenAt(path)) {}

IpcListener::~IpcListener() {
  m_fd.reset();
  unlink(m_path.c_str());
}

rc::Fd IpcListener::accept() {
  rc::Fd fd(accept4(m_fd.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!fd.isOpen()) {
    // Another wake-up took it, or the peer gave up before we came to it.
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
      rc::Out::instance()->print(
          rc::Err::fromErrno(AC_SC_ACCEPT_FAILED, rc::VarArgs() << m_fd.get(), errno,
                             "appcomps/IpcListener::accept"),
          true);
    }
    return fd;
  }
  uid_t uid = 0;
  if (!CtlChannel::peerAllowed(fd.get(), &uid)) {
    fd.reset();
    rc::Out::instance()->print(
        rc::Err(RC_ERROR, AC_SC_CTL_PEER_REFUSED, rc::VarArgs() << static_cast<int>(uid),
                "appcomps/IpcListener::accept"),
        true);
  }
  return fd;
}

}  // namespace ac
