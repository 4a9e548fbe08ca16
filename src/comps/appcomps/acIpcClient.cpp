#include "comps/appcomps/acIpcClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "comps/appcomps/acCtlChannel.h"

namespace ac {

IpcClient::IpcClient(const std::string& path) : m_path(path), m_fd(CtlChannel::connectTo(path)) {}

IpcClient::~IpcClient() = default;

void IpcClient::send(const IpcMsgHdr& msg) {
  IpcFrameWriter writer;
  IpcStrmProto::encode(msg, &writer);
  try {
    while (!writer.flush(m_fd.get())) {
      pollfd pfd = {m_fd.get(), POLLOUT, 0};
      poll(&pfd, 1, -1);
    }
  } catch (const rc::Err&) {
    raiseWaitingTurnAway();
    throw;
  }
}

void IpcClient::raiseWaitingTurnAway() {
  // A server that turned us away may have closed before our call went; its reason is waiting.
  pollfd pfd = {m_fd.get(), POLLIN, 0};
  if (poll(&pfd, 1, 0) != 1) return;
  IpcMsgPtr msg;
  try {
    m_reader.readFrom(m_fd.get());
    IpcFrame frame;
    if (!m_reader.nextFrame(&frame)) return;
    msg = IpcStrmProto::decode(frame);
  } catch (const rc::Err&) {
    return;
  }
  IpcStrmProto::raiseIfTurnAway(*msg);
}

IpcMsgPtr IpcClient::call(const IpcMsgHdr& call, int timeoutMs) {
  send(call);
  return awaitReply(call, timeoutMs);
}

void IpcClient::limitWait(int ms) {
  if (ms == m_waitLimitMs) return;
  timeval tv = {ms / 1000, (ms % 1000) * 1000};
  setsockopt(m_fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  m_waitLimitMs = ms;
}

IpcMsgPtr IpcClient::awaitReply(const IpcMsgHdr& call, int timeoutMs) {
  const char* routine = "appcomps/IpcClient::awaitReply";
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  // The first wait takes the whole time-out, so that a client asking with one time-out never
  // sets it again; later waits of the same call take what is left.
  long left = timeoutMs;
  for (;;) {
    IpcFrame frame;
    while (m_reader.nextFrame(&frame)) {
      IpcMsgPtr msg = IpcStrmProto::decode(frame);
      IpcStrmProto::raiseIfTurnAway(*msg);
      if (msg->msgType() == call.replyType() && msg->interactId() == call.interactId()) return msg;
    }
    if (left <= 0) {
      rc::Err_Throw(
          rc::Err(RC_ERROR, AC_SC_DBOS_REPLY_TIMED_OUT, rc::VarArgs() << m_path, routine));
    }
    limitWait(static_cast<int>(left));
    if (m_reader.readFrom(m_fd.get()) == IpcFrameReader::RR_CLOSED) {
      rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_RECV_FAILED, rc::VarArgs() << m_fd.get(),
                            AC_SC_CONNECTION_RESET, rc::VarArgs::NO_VARARGS, routine));
    }
    left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  }
}

}  // namespace ac
