// Receives a message from arbitrary bytes as a transport does: the header names the type, the
// factory builds the message, which restores itself from the message part and its payload from
// the payload part. Input: a 32-bit length of the message part, the message part, then the
// payload part. Every failure must be the coded read or version error; a message that restores
// must dump, fit its own size bounds and write back an image that restores and writes back
// unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "comps/appcomps/acIpcMsgFactory.h"
#include "comps/appcomps/acIpcMsgHdr.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"

namespace {

using MsgPtr = std::unique_ptr<ac::IpcMsgHdr>;
using Bytes = std::vector<unsigned char>;

void require(bool cond) {
  if (!cond) abort();
}

Bytes bytesOf(const rc::ByteStrm& s) { return Bytes(s.buffer(), s.buffer() + s.size()); }

void init() {
  rc::setDumpSink([](const char*) {});
  ac::MsgTypes::registerMsgs();
  ac::MsgTypes::registerLoginMsgs(true);
  ac::MsgTypes::registerLoginMsgs(false);
  ac::MsgTypes::registerTxMsgs(true);
  ac::MsgTypes::registerTxMsgs(false);
  ac::MsgTypes::registerStatusMsg();
}

// Restores a message of type from the two parts; null when the bytes are refused.
MsgPtr receive(short type, rc::ByteStrm& msgPart, rc::ByteStrm& payloadPart) {
  MsgPtr msg(ac::IpcMsgFactory::instance()->newIpcMsg(type));
  if (msg == nullptr) return msg;
  try {
    msg->restoreMsg(msgPart);
    if (payloadPart.unreadBytes() != 0) msg->restorePayload(payloadPart);
  } catch (const rc::Err& e) {
    require(e.code() == RC_SC_READ_FAILED || e.code() == AC_SC_BAD_MSG_HDR_VER);
    return nullptr;
  }
  return msg;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool initialized = (init(), true);
  (void)initialized;
  if (size < 6) return 0;
  uint32_t msgBytes = 0;
  memcpy(&msgBytes, data, 4);
  if (msgBytes > size - 4) return 0;
  // Exactly sized heap copies: a read past either part is an address-sanitizer fault.
  rc::ByteStrm msgPart(msgBytes), payloadPart(size - 4 - msgBytes);
  msgPart.writeBytes(data + 4, msgBytes);
  payloadPart.writeBytes(data + 4 + msgBytes, size - 4 - msgBytes);
  short type = 0;
  if (msgBytes >= 2) memcpy(&type, data + 4, 2);

  const MsgPtr msg = receive(type, msgPart, payloadPart);
  if (msg == nullptr) return 0;
  msg->dump();
  rc::ByteStrm out(0), outPayload(0);
  msg->saveMsg(out);
  msg->savePayload(outPayload);
  require(out.size() <= msg->binaryMsgSize());
  require(outPayload.size() <= msg->binaryPayloadSize());

  const MsgPtr back = receive(type, out, outPayload);
  require(back != nullptr);
  rc::ByteStrm again(0), againPayload(0);
  back->saveMsg(again);
  back->savePayload(againPayload);
  require(bytesOf(again) == bytesOf(out));
  require(bytesOf(againPayload) == bytesOf(outPayload));
  ac::IpcMsgHdr* copy = back->copy(true);
  delete copy;
  return 0;
}
