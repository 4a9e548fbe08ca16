// Message frames of the framework's stream transport. A frame is a fixed 12-byte header (magic,
// length of the message part, length of the payload part; 32-bit values in host byte order, as
// the transport is local) followed by the message part (the saved message header and body, never
// empty) and the payload part (possibly empty). The sum of both parts never exceeds
// MAX_FRAME_DATA, so no peer can make a receiver allocate more than that.
//
// IpcFrameReader keeps the bytes of one connection: it is fed by non-blocking reads (readFrom)
// or by the caller (feed), and hands out complete frames whose parts point into its buffer until
// the next call. IpcFrameWriter queues whole frames and writes them out as the descriptor takes
// them (flush), so a slow peer never blocks the writer. readFrame/writeFrame are the blocking
// forms for clients that wait for their answer.
//
// A server that turns a connection away (it has as many as it serves, or the connection's
// buffers would pass their budget) sends one status frame before it closes: a bare status reply
// (IpcStsMsgHdr) of the ping reply type, which every client of the standard messages can
// restore, with interaction id 0, which no call carries, and the reason as its status
// (AC_SC_CONNECTION_LIMIT_EXCEEDED with the limit for a busy server). A client that finds one
// takes it as the answer to whatever it asked.
//
// Buffers shrink back once a frame larger than their resting size has gone, so a connection
// holds its peak only while it needs it; footprint() is what a reader or writer holds on the
// heap, for a reader at least what the frame whose header it holds will take.
//
// Errors: a header with a wrong magic, an empty message part or parts over the limit raises
// rc::Err AC_SC_BAD_PKT_HDR_FIELD with the field and its value; the stream is then unusable
// and the connection must be closed. A peer that closes in the middle of a frame raises
// AC_SC_RECV_FAILED with the second code AC_SC_CONNECTION_RESET; system-call failures raise
// AC_SC_RECV_FAILED / AC_SC_SEND_FAILED with errno. Not thread-safe; not for signal handlers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "comps/memcomps/base/memStlAlloc.h"

namespace ac {

struct IpcFrameHdr {
  enum : uint32_t { MAGIC = 0x31465651, SIZE = 12, MAX_FRAME_DATA = 1024 * 1024 };
  uint32_t magic;
  uint32_t msgLen;
  uint32_t payloadLen;

  // Raises AC_SC_BAD_PKT_HDR_FIELD unless the header may start a frame.
  void check() const;
  size_t dataLen() const { return static_cast<size_t>(msgLen) + payloadLen; }
};

// One received frame; the pointers stay valid until the reader is called again.
struct IpcFrame {
  const char* msg = nullptr;
  size_t msgLen = 0;
  const char* payload = nullptr;
  size_t payloadLen = 0;
};

// What a reader or writer keeps between frames; a larger buffer is given back once empty.
constexpr size_t kIpcRestingBufBytes = 64 * 1024;

class IpcFrameReader {
 public:
  enum ReadResult { RR_DATA, RR_WOULD_BLOCK, RR_CLOSED, RR_INTERRUPTED };
  // A read takes at most READ_CHUNK bytes, or the rest of a frame whose header has come.
  enum { READ_CHUNK = 8 * 1024 };

  // One read of what is waiting. An interrupted read is resumed, unless resumeInterrupted is false:
  // RR_INTERRUPTED then lets a blocking reader look at why. RR_CLOSED at the end of the stream
  // when no frame is cut off; raises when one is, or when the read fails. The caller takes the
  // complete frames (nextFrame) after every read, which keeps the buffer within one frame and
  // one read.
  ReadResult readFrom(int fd, bool resumeInterrupted = true);
  void feed(const void* bytes, size_t n);
  // The next complete frame, or false when more bytes are needed. Raises for a bad header.
  bool nextFrame(IpcFrame* frame);
  // Bytes of an unfinished frame are held.
  bool isMidFrame() const { return m_end > m_begin; }
  size_t bufferedBytes() const { return m_end - m_begin; }
  size_t footprint() const;

 private:
  // The bytes the frame being received takes with its header; 0 before its header has come or
  // for a header nextFrame will refuse.
  size_t frameInProgress() const;

  // Room for n more bytes at the end, moving the held bytes to the front first.
  char* reserve(size_t n);

  std::vector<char, mem::stlAlloc<char>> m_buf;
  size_t m_begin = 0;
  size_t m_end = 0;
};

class IpcFrameWriter {
 public:
  // Appends one frame. Raises AC_SC_BAD_PKT_HDR_FIELD when the parts break the limits: for parts
  // over MAX_FRAME_DATA together, with the field "dataLen" and their sum.
  void queue(const void* msg, size_t msgLen, const void* payload, size_t payloadLen);
  // Writes as much as the descriptor takes without blocking; true when nothing is left.
  bool flush(int fd);
  bool hasPending() const { return m_sent < m_buf.size(); }
  size_t footprint() const { return m_buf.capacity(); }

  // Blocking forms over SockUtils::sendBytes / recvBytes. readFrame raises as the reader does.
  static void writeFrame(int fd, const void* msg, size_t msgLen, const void* payload,
                         size_t payloadLen);
  static void readFrame(int fd, std::string* msg, std::string* payload);

 private:
  // The header of the parts, checked.
  static IpcFrameHdr makeHdr(size_t msgLen, size_t payloadLen);

  std::vector<char, mem::stlAlloc<char>> m_buf;
  size_t m_sent = 0;
};

}  // namespace ac
