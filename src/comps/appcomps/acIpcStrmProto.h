// One connection of the framework's stream transport, and the conversion between messages and
// frames. A frame carries a message's saveMsg image as its message part and its savePayload
// image as its payload part; the receiving side builds the object with the message factory from
// the type at the start of the message part, restores it and then restores the payload part
// into it. A call always restores its payload part (an empty one fails for a call class that
// needs a payload object); a reply restores a non-empty one only, since a failed call may be
// answered by a bare status reply.
//
// IpcStrmConn owns its descriptor (closed by the destructor), a frame reader and a frame writer;
// it is the protocol object handed to the receiving sink with every message received on it, so
// that sendReply frames the reply back onto the same connection. Sending never blocks: what the
// peer does not take yet stays queued until the descriptor is writable, and the connection's
// watcher hears of it, so that whoever serves the descriptor waits for writability then.
//
// A follower is a connection that follows the program's output rather than asking questions:
// when it falls behind, lines meant for it are dropped (wantsLine) instead of queued, and it is
// never closed for replies that do not move.
//
// Errors: decode raises AC_SC_UNKNOWN_MSG_TYPE for a one-way or reply type the factory does not
// know; a call of such a type (a peer newer than this program) comes out as its bare header, so
// that the program can answer that it has no handler for it. It raises AC_SC_BAD_PKT_HDR_FIELD when
// a part holds bytes its message does not read, and whatever the message's restore raises for
// damaged bytes (RC_SC_READ_FAILED, AC_SC_BAD_MSG_HDR_VER). Not thread-safe; not for signal
// handlers.
#pragma once

#include <memory>
#include <string>

#include "comps/appcomps/acIpcFrame.h"
#include "comps/appcomps/acIpcMsgHdr.h"
#include "comps/appcomps/acIpcMsgProto.h"
#include "comps/recomps/rcFd.h"
#include "comps/recomps/rcTimeval.h"

namespace ac {

class IpcStrmProto {
 public:
  // Appends the frame of msg to writer.
  static void encode(const IpcMsgHdr& msg, IpcFrameWriter* writer);
  // The message a frame carries, restored.
  static IpcMsgPtr decode(const IpcFrame& frame);
  // Appends the frame that tells a peer why it is turned away (see acIpcFrame.h).
  static void encodeTurnAway(const rc::Err& status, IpcFrameWriter* writer);
  // Raises the status of a turn-away frame; anything else passes.
  static void raiseIfTurnAway(const IpcMsgHdr& msg);
};

class IpcStrmConn : public IpcMsgProto, public mem::newDelete<mt_anonymous> {
 public:
  // Told whenever hasPendingOutput() changes.
  typedef void (*PendingRtn)(void* cbObj, IpcStrmConn* conn);

  // Takes over fd, which must be non-blocking; peer names it in error texts.
  IpcStrmConn(int fd, std::string peer);
  ~IpcStrmConn() override;
  IpcStrmConn(const IpcStrmConn&) = delete;
  IpcStrmConn& operator=(const IpcStrmConn&) = delete;

  // Every message on a connection of this program is its own to handle.
  bool isMsgForThisPgm(const IpcMsgHdr* /*msg*/) override { return true; }
  void sendReply(IpcMsgHdr* reply) override { send(*reply); }
  // Queues msg and writes what the peer takes now. Raises AC_SC_SEND_FAILED for a dead peer.
  void send(const IpcMsgHdr& msg);
  // Writes queued bytes; true when nothing is left.
  bool flush();
  bool hasPendingOutput() const { return m_writer.hasPending(); }
  // Heap bytes held for frames either way (see IpcFrameReader::footprint).
  size_t footprint() const { return m_reader.footprint() + m_writer.footprint(); }
  // Queues the turn-away frame with status and writes what the peer takes now, never raising:
  // the connection is closed next anyway.
  void sayGoodbye(const rc::Err& status);

  void setFollower(bool follower) { m_follower = follower; }
  bool isFollower() const { return m_follower; }
  // Whether a line of the program's output should be sent now: always for a connection that
  // asks questions, only while nothing waits for a follower.
  bool wantsLine() const { return !m_follower || !hasPendingOutput(); }
  void setPendingWatcher(void* cbObj, PendingRtn cbRtn) {
    m_pendingObj = cbObj;
    m_pendingRtn = cbRtn;
  }

  // Reads what is waiting and hands every complete message, with this connection, to the sink
  // (cbRtn with cbObj). Returns false once the peer has closed; raises for bad frames or messages.
  bool receive(void* cbObj, IpcMsgSinkRtn cbRtn);

  // Bytes went either way at now. A connection that keeps no such account is never idle.
  virtual void touch(const rc::Timeval& /*now*/) {}
  // When the connection counts as idle after idleTimeout without traffic; NO_TIMEVAL for never.
  virtual rc::Timeval idleDeadline(const rc::Timeval& /*idleTimeout*/) const {
    return rc::Timeval::NO_TIMEVAL;
  }

  int fd() const { return m_fd.get(); }
  const std::string& peer() const { return m_peer; }

 private:
  rc::Fd m_fd;
  std::string m_peer;
  IpcFrameReader m_reader;
  IpcFrameWriter m_writer;
  void* m_pendingObj = nullptr;
  PendingRtn m_pendingRtn = nullptr;
  // What the watcher was last told.
  bool m_toldPending = false;
  bool m_follower = false;
};

}  // namespace ac
