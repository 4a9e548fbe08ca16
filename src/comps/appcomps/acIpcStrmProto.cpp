#include "comps/appcomps/acIpcStrmProto.h"

#include <unistd.h>

#include <cstring>
#include <utility>

#include "comps/appcomps/acIpcMsgFactory.h"
#include "comps/appcomps/acPingMsgs.h"
#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDbg.h"

namespace ac {

namespace {

// A stream holding a copy of n received bytes, read from the start.
void fill(rc::ByteStrm* s, const char* bytes, size_t n) {
  if (n > 0) s->writeBytes(bytes, n);
}

// Bytes a message did not read mean sender and receiver disagree about its layout.
void checkAllRead(const rc::ByteStrm& s, const char* field, size_t len) {
  if (s.unreadBytes() == 0) return;
  char text[16];
  snprintf(text, sizeof text, "%zu", len);
  rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_BAD_PKT_HDR_FIELD, rc::VarArgs() << field << text,
                        "appcomps/IpcStrmProto::decode"));
}

}  // namespace

void IpcStrmProto::encode(const IpcMsgHdr& msg, IpcFrameWriter* writer) {
  rc::ByteStrm m(msg.binaryMsgSize());
  rc::ByteStrm p(msg.binaryPayloadSize() + 1);
  msg.saveMsg(m);
  msg.savePayload(p);
  writer->queue(m.buffer(), m.size(), p.buffer(), p.size());
}

IpcMsgPtr IpcStrmProto::decode(const IpcFrame& frame) {
  short msgType = 0;
  if (frame.msgLen >= sizeof msgType) memcpy(&msgType, frame.msg, sizeof msgType);
  IpcMsgPtr msg(IpcMsgFactory::instance()->newIpcMsg(msgType));
  if (msg == nullptr && IpcMsgHdr::isCallMsg(msgType)) {
    // Its body and payload are not ours to read; the header names the reply and whom it goes to.
    msg.reset(new IpcMsgHdr());
    rc::ByteStrm m(frame.msgLen);
    fill(&m, frame.msg, frame.msgLen);
    msg->restoreMsg(m);
    return msg;
  }
  if (msg == nullptr) {
    rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_UNKNOWN_MSG_TYPE, rc::VarArgs() << int{msgType},
                          "appcomps/IpcStrmProto::decode"));
  }
  rc::ByteStrm m(frame.msgLen);
  fill(&m, frame.msg, frame.msgLen);
  msg->restoreMsg(m);
  checkAllRead(m, "msgLen", frame.msgLen);
  if (frame.payloadLen > 0 || msg->isCallMsg()) {
    rc::ByteStrm p(frame.payloadLen + 1);
    fill(&p, frame.payload, frame.payloadLen);
    msg->restorePayload(p);
    checkAllRead(p, "payloadLen", frame.payloadLen);
  }
  return msg;
}

void IpcStrmProto::encodeTurnAway(const rc::Err& status, IpcFrameWriter* writer) {
  IpcStsMsgHdr msg;
  msg.setMsgType(PingReply::kMsgType);
  msg.setInteractId(0);
  msg.setStatus(status);
  encode(msg, writer);
}

void IpcStrmProto::raiseIfTurnAway(const IpcMsgHdr& msg) {
  if (msg.interactId() != 0) return;
  const auto* sts = dynamic_cast<const IpcStsMsgHdr*>(&msg);
  if (sts != nullptr && !sts->isStatusOk()) rc::Err_Throw(sts->status());
}

IpcStrmConn::IpcStrmConn(int fd, std::string peer) : m_fd(fd), m_peer(std::move(peer)) {}

IpcStrmConn::~IpcStrmConn() = default;

void IpcStrmConn::send(const IpcMsgHdr& msg) {
  IpcStrmProto::encode(msg, &m_writer);
  flush();
}

bool IpcStrmConn::flush() {
  const bool done = m_writer.flush(m_fd.get());
  if (done == m_toldPending) {
    m_toldPending = !done;
    if (m_pendingRtn != nullptr) m_pendingRtn(m_pendingObj, this);
  }
  return done;
}

void IpcStrmConn::sayGoodbye(const rc::Err& status) {
  try {
    IpcStrmProto::encodeTurnAway(status, &m_writer);
    m_writer.flush(m_fd.get());
  } catch (const rc::Err&) {
    // A peer that cannot take it is gone already.
  }
}

bool IpcStrmConn::receive(void* cbObj, IpcMsgSinkRtn cbRtn) {
  const IpcFrameReader::ReadResult result = m_reader.readFrom(m_fd.get());
  IpcFrame frame;
  while (m_reader.nextFrame(&frame)) {
    IpcMsgPtr msg = IpcStrmProto::decode(frame);
    RC_TRACE(DM_IPC, DF_MSG, "received %s (interaction id %d) on %s\n", msg->msgName(),
             msg->interactId(), m_peer.c_str());
    cbRtn(cbObj, msg.get(), this);
  }
  return result != IpcFrameReader::RR_CLOSED;
}

}  // namespace ac
