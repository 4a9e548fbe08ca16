// The listening socket of a program's control channel (CtlChannel::listenAt): it owns the
// descriptor and the socket file, and removes the file when destroyed. accept() takes one waiting
// connection and applies the channel's peer rule: a connection of another user (neither this
// user nor root) is closed at once after AC_SC_CTL_PEER_REFUSED has been printed through
// rc::Out, and a failed accept is printed as AC_SC_ACCEPT_FAILED. Not thread-safe; not for
// signal handlers.
#pragma once

#include <string>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/recomps/rcFd.h"

namespace ac {

class IpcListener : public mem::newDelete<mt_anonymous> {
 public:
  // Raises the errors of CtlChannel::listenAt.
  explicit IpcListener(const std::string& path);
  ~IpcListener();
  IpcListener(const IpcListener&) = delete;
  IpcListener& operator=(const IpcListener&) = delete;

  // A new non-blocking, close-on-exec connection of an allowed peer; not open when none was
  // waiting, the peer gave up or was refused.
  rc::Fd accept();

  int fd() const { return m_fd.get(); }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
  rc::Fd m_fd;
};

}  // namespace ac
