#include "comps/appcomps/acIpcClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "comps/appcomps/acCtlChannel.h"

namespace ac {

namespace {

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr int64_t kLimitSlackMs = 10;

int64_t deadlineAfter(int timeoutMs) { return timeoutMs < 0 ? -1 : nowMs() + timeoutMs; }

// The program closed the connection of fd before what we wait for came.
[[noreturn]] void raiseClosed(int fd, const char* routine) {
  rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_RECV_FAILED, rc::VarArgs() << fd, AC_SC_CONNECTION_RESET,
                        rc::VarArgs::NO_VARARGS, routine));
}

}  // namespace

IpcClient::IpcClient(const std::string& path, int connectTimeoutMs)
    : m_path(path), m_fd(CtlChannel::connectTo(path, connectTimeoutMs)) {}

IpcClient::~IpcClient() = default;

void IpcClient::watchWhileWaiting(int fd, void* cbObj, WatchRtn cbRtn) {
  m_watchFd = fd;
  m_watchObj = cbObj;
  m_watchRtn = cbRtn;
}

bool IpcClient::waitFor(short events, int64_t deadlineMs) {
  for (;;) {
    int waitMs = -1;
    if (deadlineMs >= 0) {
      const int64_t left = deadlineMs - nowMs();
      if (left <= 0) return false;
      waitMs = left > INT32_MAX ? INT32_MAX : static_cast<int>(left);
    }
    pollfd fds[2] = {{m_fd.get(), events, 0}, {m_watchFd, POLLIN, 0}};
    const int n = poll(fds, m_watchFd >= 0 ? 2 : 1, waitMs);
    if (n < 0 && errno != EINTR) {
      rc::Err_ThrowErrno(AC_SC_SELECT_FAILED, rc::VarArgs::NO_VARARGS, errno,
                         "appcomps/IpcClient::waitFor");
    }
    if (n > 0 && fds[1].revents != 0) m_watchRtn(m_watchObj);
    // An error or a hang-up shows in the read or write that follows.
    if (n > 0 && fds[0].revents != 0) return true;
  }
}

void IpcClient::send(const IpcMsgHdr& msg, int timeoutMs) {
  IpcFrameWriter writer;
  IpcStrmProto::encode(msg, &writer);
  const int64_t deadline = deadlineAfter(timeoutMs);
  try {
    while (!writer.flush(m_fd.get())) {
      if (!waitFor(POLLOUT, deadline)) {
        rc::Err_ThrowErrno(AC_SC_SEND_FAILED, rc::VarArgs() << m_fd.get(), EAGAIN,
                           "appcomps/IpcClient::send");
      }
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
  send(call, timeoutMs);
  return awaitReply(call, timeoutMs);
}

IpcMsgPtr IpcClient::awaitReply(const IpcMsgHdr& call, int timeoutMs) {
  const char* routine = "appcomps/IpcClient::awaitReply";
  const int64_t deadline = deadlineAfter(timeoutMs);
  for (;;) {
    IpcFrame frame;
    while (m_reader.nextFrame(&frame)) {
      IpcMsgPtr msg = IpcStrmProto::decode(frame);
      IpcStrmProto::raiseIfTurnAway(*msg);
      if (msg->msgType() == call.replyType() && msg->interactId() == call.interactId()) return msg;
    }
    if (!readReply(deadline)) {
      rc::Err_Throw(
          rc::Err(RC_ERROR, AC_SC_DBOS_REPLY_TIMED_OUT, rc::VarArgs() << m_path, routine));
    }
  }
}

void IpcClient::receive() {
  // Readable now: a blocking read returns at once, and a signal only ends it early.
  if (m_reader.readFrom(m_fd.get(), false) == IpcFrameReader::RR_CLOSED) {
    raiseClosed(m_fd.get(), "appcomps/IpcClient::receive");
  }
}

IpcMsgPtr IpcClient::nextMsg() {
  IpcFrame frame;
  if (!m_reader.nextFrame(&frame)) return nullptr;
  IpcMsgPtr msg = IpcStrmProto::decode(frame);
  IpcStrmProto::raiseIfTurnAway(*msg);
  return msg;
}

void IpcClient::limitWait(int ms) {
  if (ms == m_waitLimitMs) return;
  timeval tv = {ms / 1000, (ms % 1000) * 1000};
  setsockopt(m_fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  m_waitLimitMs = ms;
}

bool IpcClient::readReply(int64_t deadlineMs) {
  IpcFrameReader::ReadResult result;
  if (deadlineMs < 0) {
    // Without a time-out a signal would only resume the read: wait with the watch instead.
    waitFor(POLLIN, deadlineMs);
    result = m_reader.readFrom(m_fd.get());
  } else {
    const int64_t left = deadlineMs - nowMs();
    if (left <= 0) return false;
    // A limit a few milliseconds over what is left is kept: setting it again costs a call.
    if (m_waitLimitMs == 0 || left > m_waitLimitMs || m_waitLimitMs - left > kLimitSlackMs)
      limitWait(left > INT32_MAX ? INT32_MAX : static_cast<int>(left));
    result = m_reader.readFrom(m_fd.get(), false);
  }
  switch (result) {
    case IpcFrameReader::RR_CLOSED: raiseClosed(m_fd.get(), "appcomps/IpcClient::awaitReply");
    case IpcFrameReader::RR_INTERRUPTED:
      if (m_watchFd >= 0) {
        pollfd watch = {m_watchFd, POLLIN, 0};
        if (poll(&watch, 1, 0) > 0) m_watchRtn(m_watchObj);
      }
      return true;
    case IpcFrameReader::RR_WOULD_BLOCK:  // the receive time-out ran out
      return deadlineMs - nowMs() > 0;
    case IpcFrameReader::RR_DATA: break;
  }
  return true;
}

}  // namespace ac
