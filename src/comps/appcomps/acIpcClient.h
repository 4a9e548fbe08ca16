// A blocking client of a program's control channel, for commands that ask one question at a time:
// it connects to the socket at a path, sends a call and waits for the reply of that call (its
// reply type and interaction id; anything else that arrives is dropped) for at most a given
// time. The client owns its descriptor. Every wait is bounded: the connect (a listener whose
// backlog is full), the send (a peer that stops reading while the socket is full) and the reply.
// A wait can also watch one more descriptor (a program's signal pipe), whose callback then runs
// at once; the wait goes on afterwards for the time left, unless the callback ends the process.
//
// Errors: AC_SC_CONNECT_FAILED with errno when nobody listens at the path, with EAGAIN when the
// connect found no room in time; AC_SC_SEND_FAILED with the socket and EAGAIN when the peer took
// nothing more in time (AC_SC_BAD_PKT_HDR_FIELD, with nothing sent, for a message whose frame
// would pass the limit); AC_SC_DBOS_REPLY_TIMED_OUT with the path when no reply comes in time;
// AC_SC_RECV_FAILED with the second code AC_SC_CONNECTION_RESET when the program closes the
// connection first (it refused us, or the call was bad); the frame and message errors of
// IpcStrmProto::decode; the status of a server that turned us away (a busy one:
// AC_SC_CONNECTION_LIMIT_EXCEEDED), also when it closed before our call went. Not thread-safe;
// not for signal handlers.
#pragma once

#include <string>

#include "comps/appcomps/acIpcStrmProto.h"

namespace ac {

class IpcClient : public mem::newDelete<mt_anonymous> {
 public:
  // NO_LIMIT: a wait of no time limit.
  enum { NO_LIMIT = -1 };
  typedef void (*WatchRtn)(void* cbObj);

  // Waits at most connectTimeoutMs for room in the listener's backlog.
  explicit IpcClient(const std::string& path, int connectTimeoutMs = NO_LIMIT);
  ~IpcClient();
  IpcClient(const IpcClient&) = delete;
  IpcClient& operator=(const IpcClient&) = delete;

  // While a wait is on, fd readable calls cbRtn(cbObj), which must read what is there; fd -1
  // watches nothing.
  void watchWhileWaiting(int fd, void* cbObj, WatchRtn cbRtn);
  // Sends msg, waiting at most timeoutMs for the socket to take it all.
  void send(const IpcMsgHdr& msg, int timeoutMs = NO_LIMIT);
  // Sends call and returns its restored reply; each of the two waits at most timeoutMs.
  IpcMsgPtr call(const IpcMsgHdr& call, int timeoutMs);
  // Waits for the reply of a call sent before (send), so that many calls can be in flight.
  IpcMsgPtr awaitReply(const IpcMsgHdr& call, int timeoutMs);

  // For a client that also gets messages it did not ask for (a follower of a program's output),
  // served from the caller's own wait: receive reads what the socket has (call it when poll finds
  // it readable; it raises as a wait for a reply does, the program's close included) and
  // nextMsg hands out each complete message, null when none is left.
  void receive();
  IpcMsgPtr nextMsg();

  int fd() const { return m_fd.get(); }
  const std::string& path() const { return m_path; }

 private:
  // Waits until the socket has events or the deadline (of the steady clock, in ms) passes;
  // false then.
  bool waitFor(short events, int64_t deadlineMs);
  // Waits for the next bytes of a reply in one blocking read under a receive time-out of what is
  // left of the deadline (set again only when it changes): a round trip then costs no poll. A
  // signal ends that read (a socket with a receive time-out is not resumed), so the watched
  // descriptor is served at once. False when the time is up.
  bool readReply(int64_t deadlineMs);
  // Raises the turn-away status the server left before closing, when one waits.
  void raiseWaitingTurnAway();
  // Makes a read wait at most ms milliseconds (more than 0).
  void limitWait(int ms);

  std::string m_path;
  rc::Fd m_fd;
  IpcFrameReader m_reader;
  int m_watchFd = -1;
  void* m_watchObj = nullptr;
  WatchRtn m_watchRtn = nullptr;
  int m_waitLimitMs = 0;
};

}  // namespace ac
