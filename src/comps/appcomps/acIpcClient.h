// A blocking client of a program's control channel, for commands that ask one question at a time:
// it connects to the socket at a path, sends a call and waits for the reply of that call (its
// reply type and interaction id; anything else that arrives is dropped) for at most a given
// time. The client owns its descriptor. A round trip costs two system calls on this side: the
// wait is a blocking read under a receive time-out, set again only when the time left changes.
//
// Errors: AC_SC_CONNECT_FAILED with errno when nobody listens at the path;
// AC_SC_DBOS_REPLY_TIMED_OUT with the path when no reply comes in time; AC_SC_RECV_FAILED with
// the second code AC_SC_CONNECTION_RESET when the program closes the connection first (it
// refused us, or the call was bad); the status of a server that turned us away (a busy one:
// AC_SC_CONNECTION_LIMIT_EXCEEDED), also when it closed before our call went; the frame and
// message errors of IpcStrmProto::decode.
// Not thread-safe; not for signal handlers.
#pragma once

#include <string>

#include "comps/appcomps/acIpcStrmProto.h"

namespace ac {

class IpcClient : public mem::newDelete<mt_anonymous> {
 public:
  explicit IpcClient(const std::string& path);
  ~IpcClient();
  IpcClient(const IpcClient&) = delete;
  IpcClient& operator=(const IpcClient&) = delete;

  // Sends msg (blocking until the kernel has taken it).
  void send(const IpcMsgHdr& msg);
  // Sends call and returns its restored reply; waits at most timeoutMs milliseconds.
  IpcMsgPtr call(const IpcMsgHdr& call, int timeoutMs);
  // Waits for the reply of a call sent before (send), so that many calls can be in flight.
  IpcMsgPtr awaitReply(const IpcMsgHdr& call, int timeoutMs);

  int fd() const { return m_fd.get(); }
  const std::string& path() const { return m_path; }

 private:
  // Raises the turn-away status the server left before closing, when one waits.
  void raiseWaitingTurnAway();
  // Makes a read wait at most ms milliseconds (more than 0).
  void limitWait(int ms);

  std::string m_path;
  rc::Fd m_fd;
  IpcFrameReader m_reader;
  int m_waitLimitMs = 0;
};

}  // namespace ac
