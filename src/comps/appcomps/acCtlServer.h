// The connections of a program's message transport, served from the application's event loop:
// the listening control channel socket (IpcListener), the connections accepted on it
// (IpcAcceptedConn) and the connections the program made itself (IpcOutgoingConn, connectTo).
// Every received message goes to the sink given at construction (in a program
// App::handleIpcMsgCCb with the application). Every descriptor is non-blocking and every
// connection has its own buffers, so a slow or silent peer never holds up the program or the
// other peers. A connection with replies still queued is not read from until the peer has taken
// them, which bounds what one peer can make us buffer.
//
// The server is one provider of the loop; its set changes only when a connection comes, goes or
// turns between reading and waiting for its peer to take replies, never on a quiet iteration.
// A connection that sends a bad frame or a message that cannot be restored, or that fails while
// we write to it, is closed after its error has been printed through rc::Out; the program keeps
// serving the others.
//
// An accepted connection that neither sends nor takes bytes for the idle time-out (30 s unless
// set; measured on rc::Timeval::monotonicNow, which tests replace) is closed after
// AC_SC_CTL_IDLE_TIMEOUT has been printed (see IpcAcceptedConn); one timer of the application
// watches the earliest such deadline.
//
// The server owns every descriptor; the destructor closes them, leaves the event loop and
// removes the socket file. Not thread-safe; not for signal handlers.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "comps/appcomps/acIpcAcceptedConn.h"
#include "comps/appcomps/acIpcListener.h"
#include "comps/appcomps/acIpcOutgoingConn.h"
#include "comps/recomps/rcFdSet.h"

namespace ac {

class App;
class AppTimer;

class CtlServer : public mem::newDelete<mt_anonymous> {
 public:
  // Serves from app's loop and delivers to the sink (msgRtn with msgObj).
  CtlServer(App* app, void* msgObj, IpcMsgSinkRtn msgRtn);
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
  void setIdleTimeout(const rc::Timeval& timeout);
  const rc::Timeval& idleTimeout() const { return m_idleTimeout; }
  static constexpr rc::Timeval DEFAULT_IDLE_TIMEOUT{30, 0};

  const std::string& path() const;
  int listenFd() const { return m_listener != nullptr ? m_listener->fd() : -1; }
  size_t numConns() const { return m_conns.size(); }

 private:
  static const rc::FdSet& fdSetCCb(void* cbObj);
  static void listenCCb(void* cbObj, rc::FdSet::CbType cbType, int fd, void* userData);
  static void readCCb(void* cbObj, rc::FdSet::CbType cbType, int fd, void* userData);
  static void writeCCb(void* cbObj, rc::FdSet::CbType cbType, int fd, void* userData);
  static void pendingCCb(void* cbObj, IpcStrmConn* conn);
  static bool idleCCb(void* cbObj, AppTimer* timer);
  void accept();
  void serve(int fd, bool writable);
  void add(IpcStrmConn* conn);
  // Reads while nothing is queued for the peer, else waits until it takes the queue.
  void watch(const IpcStrmConn* conn);
  // Closes the connection of fd, after printing err when given.
  void drop(int fd, const rc::Err* err);
  // Closes every connection idle by now, then watches the earliest deadline left.
  void dropIdle();
  void armIdleTimer();

  App* m_app;
  void* m_msgObj;
  IpcMsgSinkRtn m_msgRtn;
  std::unique_ptr<IpcListener> m_listener;
  rc::Timeval m_idleTimeout = DEFAULT_IDLE_TIMEOUT;
  std::map<int, IpcStrmConn*> m_conns;
  rc::FdSet m_fdSet;
  AppTimer* m_idleTimer;
};

}  // namespace ac
