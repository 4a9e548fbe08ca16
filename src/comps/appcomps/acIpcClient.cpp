#include "comps/appcomps/acIpcClient.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "comps/appcomps/acCtlChannel.h"

namespace ac {

IpcClient::IpcClient(const std::string& path) : m_path(path), m_fd(CtlChannel::connectTo(path)) {}

IpcClient::~IpcClient() { close(m_fd); }

void IpcClient::send(const IpcMsgHdr& msg) {
  IpcFrameWriter writer;
  IpcStrmProto::encode(msg, &writer);
  while (!writer.flush(m_fd)) {
    pollfd pfd = {m_fd, POLLOUT, 0};
    poll(&pfd, 1, -1);
  }
}

IpcMsgPtr IpcClient::call(const IpcMsgHdr& call, int timeoutMs) {
  send(call);
  return awaitReply(call, timeoutMs);
}

IpcMsgPtr IpcClient::awaitReply(const IpcMsgHdr& call, int timeoutMs) {
  const char* routine = "appcomps/IpcClient::awaitReply";
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    IpcFrame frame;
    while (m_reader.nextFrame(&frame)) {
      IpcMsgPtr msg = IpcStrmProto::decode(frame);
      if (msg->msgType() == call.replyType() && msg->interactId() == call.interactId()) return msg;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd pfd = {m_fd, POLLIN, 0};
    const int ready = left > 0 ? poll(&pfd, 1, static_cast<int>(left)) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) rc::Err_ThrowErrno(AC_SC_RECV_FAILED, rc::VarArgs() << m_fd, errno, routine);
    if (ready == 0) {
      rc::Err_Throw(
          rc::Err(RC_ERROR, AC_SC_DBOS_REPLY_TIMED_OUT, rc::VarArgs() << m_path, routine));
    }
    if (m_reader.readFrom(m_fd) == IpcFrameReader::RR_CLOSED) {
      rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_RECV_FAILED, rc::VarArgs() << m_fd,
                            AC_SC_CONNECTION_RESET, rc::VarArgs::NO_VARARGS, routine));
    }
  }
}

}  // namespace ac
