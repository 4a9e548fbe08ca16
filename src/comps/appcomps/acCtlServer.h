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
// An accepted connection that moves no bytes either way for the idle time-out (30 s unless set;
// measured on rc::Timeval::monotonicNow, which tests replace) is closed after
// AC_SC_CTL_IDLE_TIMEOUT has been printed: one that says nothing, stops in the middle of a frame
// or leaves our replies unread (see IpcAcceptedConn). One timer of the application watches the
// earliest such deadline.
//
// The channel keeps room for the rest of the program. It serves at most maxConns() accepted
// connections: by default 256, fewer when the descriptor limit (RLIMIT_NOFILE) or the select
// limit (1024), less a quarter of the lower one (at least 16) kept for the program's own
// descriptors, leaves less room. A client beyond that gets the busy status frame
// (AC_SC_CONNECTION_LIMIT_EXCEEDED, see acIpcFrame.h) and is closed. The frames buffered for all
// connections, both ways and replies included, stay within budget() (16 MiB unless set): a
// connection that would take them past it, counting the whole of a frame once its header has
// come, is closed with AC_SC_CTL_BUDGET_EXCEEDED, told the same way. When accept fails (out of
// descriptors: EMFILE, ENFILE, or any other failure) the listener leaves the loop for
// ACCEPT_PAUSE and then tries again; one line reports each such episode. The texts of the
// channel's errors are loaded when it starts to listen, since a program out of descriptors
// cannot open its strings files.
//
// Connections that follow the program's output are kept by followers() (see AppFollowers): they
// are never closed for the budget, since their lines are dropped before they would pass it, and
// their pending lines go out whenever the loop is about to wait.
//
// Errors of a connection name its client (pid and uid from the credentials taken at accept,
// AC_SC_CTL_CLIENT_ERR) and are rate-limited per error code: REPORTS_PER_KIND lines per
// REPORT_WINDOW, then one AC_SC_CTL_ERRS_SUPPRESSED line with the count of those left out.
//
#pragma once

#include <map>
#include <memory>
#include <string>

#include "comps/appcomps/acAppFollowers.h"
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

  // The accepted connections served at once; applies to connections accepted from then on.
  void setMaxConns(size_t maxConns) { m_maxConns = maxConns; }
  size_t maxConns() const { return m_maxConns; }
  // What the descriptor and select limits leave room for, as described above.
  static size_t defaultMaxConns();
  enum : size_t { MAX_CONNS = 256, MIN_RESERVED_FDS = 16 };

  // The bytes all connections may buffer; checked as connections are served.
  void setBudget(size_t bytes) { m_budget = bytes; }
  size_t budget() const { return m_budget; }
  size_t bufferedBytes() const { return m_buffered; }
  enum : size_t { DEFAULT_BUDGET = 16 * 1024 * 1024 };

  static constexpr rc::Timeval ACCEPT_PAUSE{0, 250000};
  static constexpr rc::Timeval REPORT_WINDOW{10, 0};
  enum { REPORTS_PER_KIND = 5 };

  const std::string& path() const;
  int listenFd() const { return m_listener != nullptr ? m_listener->fd() : -1; }
  const IpcListener* listener() const { return m_listener.get(); }
  size_t numConns() const { return m_conns.size(); }
  // Calls fn(const IpcPeer&) for every connection, accepted or made; one made here has an
  // unknown peer.
  template <class Fn>
  void forEachPeer(Fn fn) const {
    for (const auto& entry : m_conns) fn(entry.second.conn->peerProcess());
  }
  AppFollowers& followers() { return m_followers; }

 private:
  struct Slot {
    IpcStrmConn* conn;
    // What the connection counts against the budget.
    size_t charged;
    bool accepted;
  };
  // The reports of one error code in the current window.
  struct Reports {
    rc::Timeval windowEnd;
    int printed = 0;
    int suppressed = 0;
  };

  static const rc::FdSet& fdSetCCb(void* cbObj);
  static void listenCCb(void* cbObj, rc::FdSet::CbType cbType, int fd, void* userData);
  static void readCCb(void* cbObj, rc::FdSet::CbType cbType, int fd, void* userData);
  static void writeCCb(void* cbObj, rc::FdSet::CbType cbType, int fd, void* userData);
  static void pendingCCb(void* cbObj, IpcStrmConn* conn);
  static bool idleCCb(void* cbObj, AppTimer* timer);
  static bool acceptCCb(void* cbObj, AppTimer* timer);
  static bool reportCCb(void* cbObj, AppTimer* timer);
  void accept();
  // Takes the listener out of the loop for ACCEPT_PAUSE after accept failed with errno error.
  void pauseAccepting(int error);
  void serve(int fd, bool writable);
  void add(IpcStrmConn* conn, bool accepted);
  // Reads while nothing is queued for the peer, else waits until it takes the queue.
  void watch(const IpcStrmConn* conn);
  // Charges the connection's buffers again; false when all connections are then over budget.
  bool recharge(Slot* slot);
  // Closes the connection of fd, after reporting err when given; with goodbye the peer is told
  // err first.
  void drop(int fd, const rc::Err* err, bool goodbye = false);
  // Prints err of a connection of peer, unless its code has had its lines for this window.
  void report(const IpcPeer& peer, const rc::Err& err);
  // Prints the counts of the windows that have ended (all of them when all), then watches the
  // next end.
  void reportSuppressed(bool all = false);
  // Closes every connection idle by now, then watches the earliest deadline left.
  void dropIdle();
  void armIdleTimer();

  App* m_app;
  void* m_msgObj;
  IpcMsgSinkRtn m_msgRtn;
  std::unique_ptr<IpcListener> m_listener;
  rc::Timeval m_idleTimeout = DEFAULT_IDLE_TIMEOUT;
  size_t m_maxConns = defaultMaxConns();
  size_t m_numAccepted = 0;
  size_t m_budget = DEFAULT_BUDGET;
  size_t m_buffered = 0;
  // An accept failure has been reported and no accept has succeeded since.
  bool m_acceptFailing = false;
  std::map<int, Slot> m_conns;
  std::map<int, Reports> m_reports;
  rc::FdSet m_fdSet;
  AppTimer* m_idleTimer;
  AppTimer* m_acceptTimer;
  AppTimer* m_reportTimer;
  AppFollowers m_followers;
};

}  // namespace ac
