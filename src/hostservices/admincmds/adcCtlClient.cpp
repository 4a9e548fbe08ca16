#include "hostservices/admincmds/adcCtlClient.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "comps/appcomps/acIpcFrame.h"
#include "comps/appcomps/acIpcMsgFactory.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDbg.h"

namespace adc {

namespace {

constexpr const char* kRoutine = "admincmds/CtlClient::call";

// The whole frame part as a stream to restore from.
void fill(rc::ByteStrm& s, const char* bytes, size_t n) {
  if (n > 0) s.writeBytes(bytes, n);
}

bool isErrnoOf(const rc::Err& err, int errnoValue) {
  return err.code2() == rc::Err::errnoCode(errnoValue);
}

}  // namespace

CtlClient::CtlClient(const ac::CtlChannel::Entry& target, int timeoutSec)
    : m_target(target), m_timeoutSec(timeoutSec), m_fd(-1) {
  try {
    m_fd = ac::CtlChannel::connectTo(target.path);
  } catch (const rc::Err& err) {
    if (kill(target.pid, 0) != 0 && errno == ESRCH) {
      rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_NO_SUCH_PID, rc::VarArgs() << target.pid,
                            "admincmds/CtlClient::CtlClient"));
    }
    rethrow(err);
  }
  // The other end must be this user's (or root's) too: a socket planted by someone else gets
  // none of our calls.
  uid_t peerUid = 0;
  if (!ac::CtlChannel::peerAllowed(m_fd, &peerUid)) {
    fail(ADC_SC_REFUSED, "it runs as user id " + std::to_string(peerUid));
  }
  // A program that stops reading must not hold the command for ever on a full socket.
  timeval tv = {timeoutSec, 0};
  setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

CtlClient::~CtlClient() {
  if (m_fd >= 0) close(m_fd);
}

std::unique_ptr<ac::IpcMsgHdr> CtlClient::call(const ac::IpcMsgHdr& call) {
  rc::Timeval deadline = rc::Timeval::monotonicNow();
  deadline += rc::Timeval(m_timeoutSec, 0);
  rc::ByteStrm msg(call.binaryMsgSize());
  rc::ByteStrm payload(call.binaryPayloadSize() + 1);
  call.saveMsg(msg);
  if (call.hasPayload()) call.savePayload(payload);
  if (rc::Dbg::s_anyOn) {
    rc::Dbg::instance()->print(DM_ADC, DF_MSG, "sending %s (id %d) to %s\n", call.msgName(),
                               call.interactId(), m_target.path.c_str());
  }
  try {
    ac::IpcFrameWriter::writeFrame(m_fd, msg.buffer(), msg.size(), payload.buffer(),
                                   payload.size());
  } catch (const rc::Err& err) {
    rethrow(err);
  }
  std::unique_ptr<ac::IpcMsgHdr> reply = awaitReply(call, deadline);
  auto* sts = dynamic_cast<ac::IpcStsMsgHdr*>(reply.get());
  if (sts != nullptr && !sts->isStatusOk()) {
    if (sts->status().code() == AC_SC_CTL_PEER_REFUSED) {
      fail(ADC_SC_REFUSED, rc::Err::format(sts->status(), rc::Err::FF_OMIT_SEVERITY));
    }
    fail(ADC_SC_CALL_FAILED, rc::Err::format(sts->status(), rc::Err::FF_OMIT_SEVERITY));
  }
  return reply;
}

std::unique_ptr<ac::IpcMsgHdr> CtlClient::awaitReply(const ac::IpcMsgHdr& call,
                                                     const rc::Timeval& deadline) {
  ac::IpcFrameReader reader;
  for (;;) {
    ac::IpcFrame frame;
    try {
      while (reader.nextFrame(&frame)) {
        rc::ByteStrm peek(frame.msgLen + 1);
        fill(peek, frame.msg, frame.msgLen);
        short type = 0;
        peek >> type;
        // Anything else the program sends meanwhile (one-way messages) is passed over.
        if (type != call.replyType()) continue;
        std::unique_ptr<ac::IpcMsgHdr> reply(ac::IpcMsgFactory::instance()->newIpcMsg(type));
        if (reply == nullptr)
          fail(ADC_SC_BAD_REPLY, "unknown message type " + std::to_string(type));
        rc::ByteStrm s(frame.msgLen + 1);
        fill(s, frame.msg, frame.msgLen);
        reply->restoreMsg(s);
        if (frame.payloadLen > 0) {
          rc::ByteStrm p(frame.payloadLen + 1);
          fill(p, frame.payload, frame.payloadLen);
          reply->restorePayload(p);
        }
        if (reply->interactId() == call.interactId()) return reply;
      }
    } catch (const rc::Err& err) {
      if (err.code() >= ADC_SC_NEED_TARGET && err.code() < ADC_SC_LAST_CODE) throw;
      fail(ADC_SC_BAD_REPLY, rc::Err::format(err, rc::Err::FF_OMIT_SEVERITY));
    }
    const rc::Timeval left = deadline - rc::Timeval::monotonicNow();
    const long leftMs = left.tv_sec * 1000L + left.tv_usec / 1000L;
    if (leftMs <= 0) fail(ADC_SC_TIMED_OUT, "");
    pollfd pfd = {m_fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(leftMs));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) fail(ADC_SC_TIMED_OUT, "");
    try {
      if (reader.readFrom(m_fd) == ac::IpcFrameReader::RR_CLOSED) {
        fail(ADC_SC_CONNECTION_LOST, "");
      }
    } catch (const rc::Err& err) {
      if (err.code() >= ADC_SC_NEED_TARGET && err.code() < ADC_SC_LAST_CODE) throw;
      rethrow(err);
    }
  }
}

void CtlClient::rethrow(const rc::Err& err) const {
  if (isErrnoOf(err, EACCES) || isErrnoOf(err, EPERM)) fail(ADC_SC_REFUSED, strerror(EACCES));
  if (isErrnoOf(err, EAGAIN) || isErrnoOf(err, ETIMEDOUT)) fail(ADC_SC_TIMED_OUT, "");
  if (err.code() == AC_SC_CONNECT_FAILED && isErrnoOf(err, ECONNREFUSED)) {
    // A socket nobody listens on any more: the program is ending or has ended.
    rc::Err_Throw(rc::Err(RC_ERROR, ADC_SC_NO_SUCH_PID, rc::VarArgs() << m_target.pid, kRoutine));
  }
  if (err.code() == AC_SC_CTL_DIR_REFUSED) throw err;
  fail(ADC_SC_CONNECTION_LOST, rc::Err::format(err, rc::Err::FF_OMIT_SEVERITY));
}

void CtlClient::fail(int code, const std::string& why) const {
  rc::VarArgs args;
  args << m_target.program << m_target.pid;
  if (code == ADC_SC_TIMED_OUT) {
    args << m_timeoutSec;
  } else if (code != ADC_SC_CONNECTION_LOST) {
    args << why;
  }
  rc::Err_Throw(rc::Err(RC_ERROR, code, args, kRoutine));
}

}  // namespace adc
