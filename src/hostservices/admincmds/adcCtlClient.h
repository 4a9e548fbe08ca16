// The blocking client side of a program's control channel, for commands that ask one question
// and wait for the answer: connect to the program's socket, send a call as one frame (the message
// part and the payload part), and read frames until the reply with the call's type and
// interaction id arrives. Every wait is bounded by the time-out given.
//
// Failures raise rc::Err with the admin commands' codes, naming the program and its pid:
// ADC_SC_REFUSED (the socket may not be used, or the program answered AC_SC_CTL_PEER_REFUSED),
// ADC_SC_NO_SUCH_PID (the program ended before it could be reached), ADC_SC_TIMED_OUT,
// ADC_SC_CONNECTION_LOST (the program closed the connection before its reply),
// ADC_SC_BAD_REPLY (damaged bytes) and ADC_SC_CALL_FAILED (a reply whose status is an error,
// its text as the last argument). The client owns its descriptor. Not for signal handlers.
#pragma once

#include <memory>
#include <string>

#include "comps/appcomps/acCtlChannel.h"
#include "comps/appcomps/acIpcMsgHdr.h"
#include "comps/recomps/rcTimeval.h"
#include "hostservices/admincmds/adcStrCodes.h"

namespace adc {

class CtlClient {
 public:
  CtlClient(const ac::CtlChannel::Entry& target, int timeoutSec);
  ~CtlClient();
  CtlClient(const CtlClient&) = delete;
  CtlClient& operator=(const CtlClient&) = delete;

  // Sends call and returns its reply, of the call's reply class.
  std::unique_ptr<ac::IpcMsgHdr> call(const ac::IpcMsgHdr& call);
  template <class Reply>
  std::unique_ptr<Reply> rpc(const ac::IpcMsgHdr& msg) {
    std::unique_ptr<ac::IpcMsgHdr> reply = call(msg);
    auto* typed = dynamic_cast<Reply*>(reply.get());
    if (typed == nullptr) fail(ADC_SC_BAD_REPLY, "reply of an unexpected class");
    reply.release();
    return std::unique_ptr<Reply>(typed);
  }

  const ac::CtlChannel::Entry& target() const { return m_target; }

 private:
  // Reads frames until the reply to call arrives.
  std::unique_ptr<ac::IpcMsgHdr> awaitReply(const ac::IpcMsgHdr& call, const rc::Timeval& deadline);
  // Turns a failure of the connection into the command's error.
  [[noreturn]] void rethrow(const rc::Err& err) const;
  [[noreturn]] void fail(int code, const std::string& why) const;

  ac::CtlChannel::Entry m_target;
  int m_timeoutSec;
  int m_fd;
};

}  // namespace adc
