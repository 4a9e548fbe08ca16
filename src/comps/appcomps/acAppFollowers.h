// The connections that follow the program's output (FollowCall; see acFollowMsgs.h), kept by the
// control server that serves them. While one follows, the line tap (rcLineTap.h) is installed
// and every line the program writes is added to each follower's pending lines; they go out as
// TraceLinesMsg frames when the loop is about to wait (flush) or once a batch is large, and only
// to a follower with nothing queued (IpcStrmConn::wantsLine). A follower that falls behind holds
// at most MAX_PENDING bytes of lines, and all of them together no more than the server's budget
// leaves: the lines beyond are dropped, counted and the count goes with the next frame. So a
// slow or stopped follower never blocks the program nor makes it buffer without bound. A quiet
// follower gets an empty frame every keepAlive() (a third of the idle time-out, at most
// MAX_KEEP_ALIVE): it is not taken for an idle connection, and a dead one shows in the write.
//
// The debug modules and flags a follower asks for are switched on when off; those followers
// switched on are switched off again when the last follower that asked for them has gone (for
// whatever reason its connection closed), unless someone else set them meanwhile: a change of
// the debug controls through the channel (changedByOthers) that carries modules (or flags)
// makes the modules (or flags) as they are then stand. The switching off is logged
// (AC_SC_CTL_FOLLOW_UNDONE). Writing lines never recurses into the tap's sending: a line written
// while lines are sent waits for the next batch. Not thread-safe; not for signal handlers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "comps/appcomps/acFollowMsgs.h"
#include "comps/appcomps/acIpcStrmProto.h"

namespace ac {

class App;
class AppTimer;

class AppFollowers : public mem::newDelete<mt_anonymous> {
 public:
  enum : size_t { MAX_PENDING = 256 * 1024, BATCH_BYTES = 64 * 1024 };
  static constexpr rc::Timeval MAX_KEEP_ALIVE{10, 0};

  // Lines are dropped rather than take *othersBuffered plus the followers' lines past budget.
  AppFollowers(App* app, const size_t* othersBuffered, const size_t* budget);
  ~AppFollowers();
  AppFollowers(const AppFollowers&) = delete;
  AppFollowers& operator=(const AppFollowers&) = delete;

  // conn (of peer, not owned) follows from now on; the modules and flags of on are switched on.
  // Returns those that were off.
  rc::DbgCtrls add(IpcStrmConn* conn, const IpcPeer& peer, const rc::DbgCtrls& on);
  // conn is about to close: it is forgotten and what no other follower needs is switched off.
  void remove(IpcStrmConn* conn);
  // Someone else set the debug controls with ctrls.
  void changedByOthers(const rc::DbgCtrls& ctrls);
  // Sends the pending lines of every follower that takes them now.
  void flush();
  // Follows the idle time-out of the server's connections.
  void setIdleTimeout(const rc::Timeval& idleTimeout);
  const rc::Timeval& keepAlive() const { return m_keepAlive; }

  // "m<sign><modules> f<sign><flags>" for the modules and flags of ctrls, as qvctl's steps write
  // them; empty when there are none.
  static std::string steps(const rc::DbgCtrls& ctrls, char sign);

  size_t size() const { return m_followers.size(); }
  size_t pendingBytes() const { return m_pendingBytes; }

 private:
  struct Follower {
    IpcStrmConn* conn;
    IpcPeer peer;
    rc::DbgCtrls asked{RC_B_NO};
    TraceLines pending;
    long long dropped = 0;
    // A send failed: the server closes the connection when it sees it.
    bool broken = false;
    bool sentSinceTick = false;
  };

  static void tapCCb(rc::LineKind kind, const char* text, bool addNewline);
  static bool keepAliveCCb(void* cbObj, AppTimer* timer);
  void take(rc::LineKind kind, const char* text, bool addNewline);
  void send(Follower* follower);
  // Switches off what followers switched on that none of them asks for any more.
  void undo(const IpcPeer& leaving);

  // The followers the tap feeds.
  static AppFollowers* s_tapped;

  const size_t* m_othersBuffered;
  const size_t* m_budget;
  std::vector<std::unique_ptr<Follower>> m_followers;
  size_t m_pendingBytes = 0;
  bool m_sending = false;
  // The modules and flags followers switched on that nobody else has set since.
  rc::DbgCtrls m_owned{RC_B_NO};
  rc::Timeval m_keepAlive = MAX_KEEP_ALIVE;
  AppTimer* m_keepAliveTimer;
};

}  // namespace ac
