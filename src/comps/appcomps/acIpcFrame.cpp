#include "comps/appcomps/acIpcFrame.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "comps/appcomps/acSockUtils.h"
#include "comps/recomps/rcErr.h"

namespace ac {

namespace {

static_assert(sizeof(IpcFrameHdr) == IpcFrameHdr::SIZE, "the header is three 32-bit fields");

[[noreturn]] void badField(const char* field, const char* fmt, uint32_t value) {
  const char* routine = "appcomps/IpcFrameHdr::check";
  char text[16];
  snprintf(text, sizeof text, fmt, value);
  rc::Err_Throw(
      rc::Err(RC_ERROR, AC_SC_BAD_PKT_HDR_FIELD, rc::VarArgs() << field << text, routine));
}

[[noreturn]] void cutOff(int fd, const char* routine) {
  rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_RECV_FAILED, rc::VarArgs() << fd, AC_SC_CONNECTION_RESET,
                        rc::VarArgs::NO_VARARGS, routine));
}

}  // namespace

void IpcFrameHdr::check() const {
  if (magic != MAGIC) badField("magic", "0x%08x", magic);
  // The message part first, so that the payload's bound cannot wrap.
  if (msgLen == 0 || msgLen > MAX_FRAME_DATA) badField("msgLen", "%u", msgLen);
  if (payloadLen > MAX_FRAME_DATA - msgLen) badField("payloadLen", "%u", payloadLen);
}

char* IpcFrameReader::reserve(size_t n) {
  if (m_begin == m_end) {
    m_begin = m_end = 0;
  } else if (m_begin > 0 && m_buf.size() - m_end < n) {
    memmove(m_buf.data(), m_buf.data() + m_begin, m_end - m_begin);
    m_end -= m_begin;
    m_begin = 0;
  }
  if (m_buf.size() - m_end < n) m_buf.resize(m_end + n);
  return m_buf.data() + m_end;
}

void IpcFrameReader::feed(const void* bytes, size_t n) {
  if (n == 0) return;
  memcpy(reserve(n), bytes, n);
  m_end += n;
}

size_t IpcFrameReader::frameInProgress() const {
  if (bufferedBytes() < IpcFrameHdr::SIZE) return 0;
  IpcFrameHdr hdr;
  memcpy(&hdr, m_buf.data() + m_begin, sizeof hdr);
  if (hdr.magic != IpcFrameHdr::MAGIC || hdr.dataLen() > IpcFrameHdr::MAX_FRAME_DATA) return 0;
  return IpcFrameHdr::SIZE + hdr.dataLen();
}

size_t IpcFrameReader::footprint() const { return std::max(m_buf.capacity(), frameInProgress()); }

IpcFrameReader::ReadResult IpcFrameReader::readFrom(int fd, bool resumeInterrupted) {
  // The rest of a large frame in one read, rather than in chunks that each move what came before.
  const size_t want = std::max<size_t>(
      READ_CHUNK, frameInProgress() - std::min(frameInProgress(), bufferedBytes()));
  char* dst = reserve(want);
  ssize_t n;
  do {
    n = read(fd, dst, want);
  } while (n < 0 && errno == EINTR && resumeInterrupted);
  if (n < 0 && errno == EINTR) return RR_INTERRUPTED;
  if (n > 0) {
    m_end += static_cast<size_t>(n);
    return RR_DATA;
  }
  if (n == 0) {
    if (isMidFrame()) cutOff(fd, "appcomps/IpcFrameReader::readFrom");
    return RR_CLOSED;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK) return RR_WOULD_BLOCK;
  rc::Err_ThrowErrno(AC_SC_RECV_FAILED, rc::VarArgs() << fd, errno,
                     "appcomps/IpcFrameReader::readFrom");
}

bool IpcFrameReader::nextFrame(IpcFrame* frame) {
  // The frame handed out last is done with: a buffer a large one grew is given back.
  if (m_begin == m_end && m_buf.size() > kIpcRestingBufBytes) {
    m_buf.clear();
    m_buf.shrink_to_fit();
    m_begin = m_end = 0;
  }
  if (bufferedBytes() < IpcFrameHdr::SIZE) return false;
  IpcFrameHdr hdr;
  memcpy(&hdr, m_buf.data() + m_begin, sizeof hdr);
  hdr.check();
  if (bufferedBytes() - IpcFrameHdr::SIZE < hdr.dataLen()) return false;
  frame->msg = m_buf.data() + m_begin + IpcFrameHdr::SIZE;
  frame->msgLen = hdr.msgLen;
  frame->payload = frame->msg + hdr.msgLen;
  frame->payloadLen = hdr.payloadLen;
  m_begin += IpcFrameHdr::SIZE + hdr.dataLen();
  return true;
}

IpcFrameHdr IpcFrameWriter::makeHdr(size_t msgLen, size_t payloadLen) {
  const size_t limit = IpcFrameHdr::MAX_FRAME_DATA;
  // A frame over the limit is named by its whole size, which a header field need not hold, so
  // that the sender can say how large its message was.
  if (msgLen > limit || payloadLen > limit - msgLen) {
    rc::Err_Throw(
        rc::Err(RC_ERROR, AC_SC_BAD_PKT_HDR_FIELD,
                rc::VarArgs() << "dataLen" << static_cast<unsigned long long>(msgLen + payloadLen),
                "appcomps/IpcFrameWriter::queue"));
  }
  IpcFrameHdr hdr = {IpcFrameHdr::MAGIC, static_cast<uint32_t>(msgLen),
                     static_cast<uint32_t>(payloadLen)};
  hdr.check();
  return hdr;
}

void IpcFrameWriter::queue(const void* msg, size_t msgLen, const void* payload, size_t payloadLen) {
  const IpcFrameHdr hdr = makeHdr(msgLen, payloadLen);
  if (m_sent == m_buf.size()) {
    m_buf.clear();
    m_sent = 0;
  }
  // One growth for the whole frame, then plain copies.
  const size_t at = m_buf.size();
  m_buf.resize(at + IpcFrameHdr::SIZE + msgLen + payloadLen);
  char* to = m_buf.data() + at;
  memcpy(to, &hdr, IpcFrameHdr::SIZE);
  if (msgLen > 0) memcpy(to + IpcFrameHdr::SIZE, msg, msgLen);
  if (payloadLen > 0) memcpy(to + IpcFrameHdr::SIZE + msgLen, payload, payloadLen);
}

bool IpcFrameWriter::flush(int fd) {
  while (hasPending()) {
    const ssize_t n =
        send(fd, m_buf.data() + m_sent, m_buf.size() - m_sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      m_sent += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
    const int savedErrno = errno;
    rc::Err_ThrowErrno(AC_SC_SEND_FAILED, rc::VarArgs() << fd, savedErrno,
                       "appcomps/IpcFrameWriter::flush");
  }
  m_buf.clear();
  if (m_buf.capacity() > kIpcRestingBufBytes) m_buf.shrink_to_fit();
  m_sent = 0;
  return true;
}

void IpcFrameWriter::writeFrame(int fd, const void* msg, size_t msgLen, const void* payload,
                                size_t payloadLen) {
  IpcFrameWriter writer;
  writer.queue(msg, msgLen, payload, payloadLen);
  SockUtils::sendBytes(fd, writer.m_buf.data(), writer.m_buf.size());
}

void IpcFrameWriter::readFrame(int fd, std::string* msg, std::string* payload) {
  IpcFrameHdr hdr;
  SockUtils::recvBytes(fd, &hdr, sizeof hdr);
  hdr.check();
  msg->resize(hdr.msgLen);
  SockUtils::recvBytes(fd, msg->data(), hdr.msgLen);
  payload->resize(hdr.payloadLen);
  if (hdr.payloadLen > 0) SockUtils::recvBytes(fd, payload->data(), hdr.payloadLen);
}

}  // namespace ac
