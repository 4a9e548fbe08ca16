// The connections of a program's message transport: the listening control channel socket, the
// connections accepted on it and the connections the program made itself (connectTo). All of
// them are served by the application's event loop through one descriptor-set provider; every
// descriptor is non-blocking and every connection has its own buffers, so a slow or silent
// peer never holds up the program or the other peers. A connection with replies still queued is
// not read from until the peer has taken them, which bounds what one peer can make us buffer.
//
// Accepted connections of another user (neither this user nor root) are refused: the error
// AC_SC_CTL_PEER_REFUSED is printed and the connection closed. A connection that sends a bad
// frame or a message that cannot be restored, or that fails while we write to it, is closed
// after its error has been printed through rc::Out; the program keeps serving the others.
//
// An accepted connection that neither sends nor takes bytes for the idle time-out (30 s unless
// set; measured on rc::Timeval::monotonicNow, which tests replace) is closed after
// AC_SC_CTL_IDLE_TIMEOUT has been printed: a peer that connects and says nothing, or stops in
// the middle of a frame, would otherwise hold its descriptor and buffers for ever. A connection
// whose replies are still queued waits on its peer, not the peer on us, and is never idle; the
// connections the program made itself are its own to keep.
//
// The server owns every descriptor; the destructor closes them, leaves the event loop and
// removes the socket file. Not thread-safe; not for signal handlers.
#pragma once

#include <map>
#include <string>

#include "comps/appcomps/acIpcStrmProto.h"
#include "comps/recomps/rcFdSet.h"

namespace ac {

class App;

class CtlServer : public mem::newDelete<mt_anonymous> {
 public:
  explicit CtlServer(App* app);
  ~CtlServer();
  CtlServer(const CtlServer&) = delete;
  CtlServer& operator=(const CtlServer&) = delete;

  // Listens at path (see CtlChannel::listenAt); one listening socket per server.
  void listen(const std::string& path);
  // A connection to the channel at path, served like the accepted ones; the server owns it.
  IpcStrmConn* connectTo(const std::string& path);
  // The first connection made by connectTo that is still open, or null.
  IpcStrmConn* outgoing() const;

  // NO_TIMEVAL (or any value not above zero) keeps idle connections for ever. A new value counts
  // from each connection's last activity.
  void setIdleTimeout(const rc::Timeval& timeout) { m_idleTimeout = timeout; }
  const rc::Timeval& idleTimeout() const { return m_idleTimeout; }
  static constexpr rc::Timeval DEFAULT_IDLE_TIMEOUT{30, 0};

  const std::string& path() const { return m_path; }
  int listenFd() const { return m_listenFd; }
  size_t numConns() const { return m_conns.size(); }

 private:
  struct ConnRec {
    IpcStrmConn* conn;
    bool outgoing;
    // When bytes last went either way, on the monotonic clock.
    rc::Timeval lastActive;
  };

  static const rc::FdSet& fdSetCCb(void* cbObj);
  static void fdCCb(void* cbObj, rc::FdSet::CbType cbType, int fd, void* userData);
  void accept();
  void serve(int fd, rc::FdSet::FdType fdType);
  void add(int fd, const std::string& peer, bool outgoing);
  // Closes the connection of fd, after printing err when given.
  void drop(int fd, const rc::Err* err);
  // When rec counts as idle; NO_TIMEVAL when it never does.
  rc::Timeval idleDeadline(const ConnRec& rec) const;
  // Closes every connection idle by now.
  void dropIdle();

  App* m_app;
  std::string m_path;
  int m_listenFd = -1;
  rc::Timeval m_idleTimeout = DEFAULT_IDLE_TIMEOUT;
  std::map<int, ConnRec> m_conns;
  rc::FdSet m_fdSet;
};

}  // namespace ac
