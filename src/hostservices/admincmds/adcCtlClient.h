// The command side of a program's control channel: ac::IpcClient (connect, send a call, wait for
// its reply) with every wait bounded by the time-out given, and its failures told in the admin
// commands' terms, naming the program and its pid: ADC_SC_REFUSED (the socket may not be used,
// the program runs as a user we may not talk to, or it closed on us because we are another user),
// ADC_SC_NO_SUCH_PID (the program ended before it could be reached), ADC_SC_NO_SUCH_TARGET (its
// process runs but nothing listens on the socket any more), ADC_SC_TIMED_OUT,
// ADC_SC_BUSY (it turned the connection away: it serves as many as it can, or its buffers are
// full), ADC_SC_CONNECTION_LOST (closed before the reply), ADC_SC_BAD_REPLY (damaged bytes, a reply
// of an unexpected class), ADC_SC_NOT_SUPPORTED (the program has no handler for the call),
// ADC_SC_CALL_FAILED (a reply whose status is an error, its text as the last argument) and
// ADC_SC_REQUEST_TOO_LARGE (a call over the frame limit, with its size and the limit; nothing was
// sent). While it waits, the application's signal pipe is watched, so that a termination signal
// ends the command at once (status 237). Not for signal handlers.
#pragma once

#include <unistd.h>

#include <memory>
#include <string>

#include "comps/appcomps/acCtlChannel.h"
#include "comps/appcomps/acIpcClient.h"
#include "hostservices/admincmds/adcStrCodes.h"

namespace adc {

class CtlClient {
 public:
  // The program must run as user (this one by default) or root.
  CtlClient(const ac::CtlChannel::Entry& target, int timeoutSec, uid_t user = geteuid());
  ~CtlClient();
  CtlClient(const CtlClient&) = delete;
  CtlClient& operator=(const CtlClient&) = delete;

  // Sends call and returns its reply, of the call's reply class.
  ac::IpcMsgPtr call(const ac::IpcMsgHdr& call);
  template <class Reply>
  std::unique_ptr<Reply> rpc(const ac::IpcMsgHdr& msg) {
    ac::IpcMsgPtr reply = call(msg);
    auto* typed = dynamic_cast<Reply*>(reply.get());
    if (typed == nullptr) fail(ADC_SC_BAD_REPLY, "reply of an unexpected class");
    reply.release();
    return std::unique_ptr<Reply>(typed);
  }

  // For a follower of the program's output, waiting in the caller's poll (on fd()): receive
  // reads what has come, nextMsg hands out each message received, null when none is left. Their
  // failures are told as the call's (the program's end is ADC_SC_CONNECTION_LOST).
  void receive();
  ac::IpcMsgPtr nextMsg();
  int fd() const { return m_client->fd(); }

  const ac::CtlChannel::Entry& target() const { return m_target; }

 private:
  // Turns a failure of the connection into the command's error.
  [[noreturn]] void rethrow(const rc::Err& err) const;
  [[noreturn]] void fail(int code, const std::string& why) const;

  ac::CtlChannel::Entry m_target;
  int m_timeoutSec;
  uid_t m_user;
  uid_t m_peerUid;
  std::unique_ptr<ac::IpcClient> m_client;
};

}  // namespace adc
