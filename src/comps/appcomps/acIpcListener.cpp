#include "comps/appcomps/acIpcListener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "comps/appcomps/acCtlChannel.h"

namespace ac {

IpcListener::IpcListener(const std::string& path)
    : m_path(path), m_fd(CtlChannel::listenAt(path)) {}

IpcListener::~IpcListener() {
  m_fd.reset();
  unlink(m_path.c_str());
}

IpcListener::Accepted IpcListener::accept() {
  Accepted got;
  ++m_acceptCalls;
  got.fd.reset(accept4(m_fd.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!got.fd.isOpen()) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
      got.error = errno;
    return got;
  }
  if (!CtlChannel::peerAllowed(got.fd.get(), &got.peer)) {
    got.fd.reset();
    got.refused = true;
  }
  return got;
}

}  // namespace ac
