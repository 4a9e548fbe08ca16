// The listening socket of a program's control channel (CtlChannel::listenAt): it owns the
// descriptor and the socket file, and removes the file when destroyed. accept() takes one waiting
// connection with its peer's credentials and applies the channel's peer rule: a connection of
// another user (neither this user nor root) is closed at once. It prints nothing: the server
// decides how often a failure or a refusal is worth a line. Not thread-safe; not for signal
// handlers.
#pragma once

#include <string>

#include "comps/appcomps/acIpcMsgProto.h"
#include "comps/memcomps/base/memNewDelete.h"
#include "comps/recomps/rcFd.h"

namespace ac {

class IpcListener : public mem::newDelete<mt_anonymous> {
 public:
  // What one accept() found.
  struct Accepted {
    // A non-blocking, close-on-exec connection of an allowed peer; not open otherwise.
    rc::Fd fd;
    // The peer's process, taken at accept.
    IpcPeer peer;
    // A peer of another user, closed.
    bool refused = false;
    // The errno of a failed accept; 0 when it succeeded, nobody was waiting (another wake-up
    // took the connection) or the peer gave up before we came to it.
    int error = 0;
  };

  // Raises the errors of CtlChannel::listenAt.
  explicit IpcListener(const std::string& path);
  ~IpcListener();
  IpcListener(const IpcListener&) = delete;
  IpcListener& operator=(const IpcListener&) = delete;

  Accepted accept();
  // The accept calls made so far, for tests that check the program does not retry in a loop.
  size_t acceptCalls() const { return m_acceptCalls; }

  int fd() const { return m_fd.get(); }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
  rc::Fd m_fd;
  size_t m_acceptCalls = 0;
};

}  // namespace ac
