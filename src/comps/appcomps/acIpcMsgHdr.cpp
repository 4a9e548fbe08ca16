#include "comps/appcomps/acIpcMsgHdr.h"

#include <climits>
#include <cstring>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcUtils.h"

namespace ac {

int IpcMsgHdr::s_nextInteractId = 0;

int IpcMsgHdr::nextInteractId() {
  // Computed unsigned: a signed overflow would be undefined, and 0 means "no interaction".
  const unsigned next = static_cast<unsigned>(s_nextInteractId) + 1u;
  s_nextInteractId =
      (next == 0 || next > static_cast<unsigned>(INT_MAX)) ? 1 : static_cast<int>(next);
  return s_nextInteractId;
}

IpcMsgHdr::IpcMsgHdr() : IpcMsgHdr(0, 0, 0) {}

IpcMsgHdr::IpcMsgHdr(short msgType, short replyType, short dstPgmId)
    : m_msgType(msgType),
      m_replyType(replyType),
      m_msgFlags(MF_DEFAULT),
      m_version(VERSION),
      m_timestamp(0),
      m_srcPgmId(0),
      m_dstPgmId(dstPgmId),
      m_srcHostId(0),
      m_dstHostId(0),
      m_srcClientId(0),
      m_dstClientId(0),
      m_srcSpuId(0),
      m_dstSpuId(0),
      m_interactId(nextInteractId()),
      m_payload(nullptr),
      m_payloadFollows(false) {
  memset(m_user, 0, sizeof m_user);
}

IpcMsgHdr::IpcMsgHdr(const IpcMsgHdr& src, bool /*deepCopy*/)
    : m_payload(nullptr), m_payloadFollows(false) {
  RC_ASSERT(src.m_payload == NULL);
  memset(m_user, 0, sizeof m_user);
  copyFields(src);
}

IpcMsgHdr::~IpcMsgHdr() { rc::poison(m_payload); }

void IpcMsgHdr::copyFields(const IpcMsgHdr& src) {
  m_msgType = src.m_msgType;
  m_replyType = src.m_replyType;
  m_msgFlags = src.m_msgFlags;
  m_version = src.m_version;
  m_timestamp = src.m_timestamp;
  m_srcPgmId = src.m_srcPgmId;
  m_dstPgmId = src.m_dstPgmId;
  m_srcHostId = src.m_srcHostId;
  m_dstHostId = src.m_dstHostId;
  m_srcClientId = src.m_srcClientId;
  m_dstClientId = src.m_dstClientId;
  m_srcSpuId = src.m_srcSpuId;
  m_dstSpuId = src.m_dstSpuId;
  setUser(src.m_user);
  m_interactId = src.m_interactId;
}

IpcMsgHdr* IpcMsgHdr::copy(bool /*deepCopy*/) const {
  rc::Assert_throwAssert("unimplemented IpcMsgHdr::copy ()", nullptr, false, __FILE__, __LINE__);
  return nullptr;
}

void IpcMsgHdr::assignFrom(const IpcMsgHdr& src) {
  if (&src == this) return;
  copyFields(src);
  m_payload = nullptr;
  m_payloadFollows = false;
}

void IpcMsgHdr::setUser(const char* user) {
  rc::Utils::copyStr(m_user, user != nullptr ? user : "", MAX_USER_LEN + 1);
}

void IpcMsgHdr::initReplyHdr(const IpcMsgHdr& call) {
  m_msgType = call.m_replyType;
  m_srcPgmId = call.m_dstPgmId;
  m_dstPgmId = call.m_srcPgmId;
  m_srcHostId = call.m_dstHostId;
  m_dstHostId = call.m_srcHostId;
  m_srcClientId = call.m_dstClientId;
  m_dstClientId = call.m_srcClientId;
  m_srcSpuId = call.m_dstSpuId;
  m_dstSpuId = call.m_srcSpuId;
  setUser(call.m_user);
  m_interactId = call.m_interactId;
}

IpcMsgHdr* IpcMsgHdr::newReply() const {
  if (!isCallMsg()) rc::Assert_throwAssert("isCallMsg ()", nullptr, false, __FILE__, __LINE__);
  IpcMsgHdr* reply = newReplyMsg();
  reply->initReplyHdr(*this);
  return reply;
}

IpcMsgHdr* IpcMsgHdr::newReplyMsg() const {
  rc::Assert_throwAssert("unimplemented IpcMsgHdr::newReplyMsg ()", nullptr, false, __FILE__,
                         __LINE__);
  return nullptr;
}

const char* IpcMsgHdr::msgName() const { return "IpcMsgHdr"; }
const char* IpcMsgHdr::cliLogEntry() const { return nullptr; }
size_t IpcMsgHdr::binaryMsgSize() const { return FULL_HDR_SIZE; }

void IpcMsgHdr::saveHdr(rc::ByteStrm& s, uint32_t payloadMarker) const {
  s << m_msgType << m_replyType << m_msgFlags << m_version << m_timestamp;
  if (!isMsgFlagSet(MF_TINY_HDR)) {
    s << m_srcPgmId << m_dstPgmId << m_srcHostId << m_dstHostId << m_srcClientId << m_dstClientId
      << m_srcSpuId << m_dstSpuId;
    s.writeBytes(m_user, m_version > SHORT_USER_VERSION ? USER_BUF_SIZE : SHORT_USER_SIZE);
  }
  s << m_interactId << payloadMarker;
}

void IpcMsgHdr::saveMsg(rc::ByteStrm& s) const {
  // The marker only says that a payload part follows; an address means nothing to the peer.
  saveHdr(s, m_payload != nullptr ? 1u : 0u);
}

void IpcMsgHdr::saveMsgInOldFormat(rc::ByteStrm& s) const { saveHdr(s, 0u); }

void IpcMsgHdr::restoreMsg(rc::ByteStrm& s) {
  s >> m_msgType >> m_replyType >> m_msgFlags >> m_version;
  // A header of another version is still read up to its interaction id, so that the version
  // error can go back to the sender as a reply it recognises. Such a header may be shorter than
  // ours: the error is the version, not the missing bytes, so stop at the first row that is not
  // there, keeping what was read.
  const bool otherVersion = m_version != VERSION;
  const auto refuseVersion = [&] {
    throw rc::Err(RC_ERROR, AC_SC_BAD_MSG_HDR_VER, rc::VarArgs() << m_version << int{VERSION},
                  "appcomps/IpcMsgHdr::restoreMsg");
  };
  const auto rowFollows = [&](size_t bytes) {
    if (otherVersion && s.unreadBytes() < bytes) refuseVersion();
  };
  rowFollows(sizeof m_timestamp);
  s >> m_timestamp;
  if (!isMsgFlagSet(MF_TINY_HDR)) {
    rowFollows(6 * sizeof(short) + 2 * sizeof(int32_t));
    s >> m_srcPgmId >> m_dstPgmId >> m_srcHostId >> m_dstHostId >> m_srcClientId >> m_dstClientId >>
        m_srcSpuId >> m_dstSpuId;
    // Their user field is shorter than ours, so what would follow here is not theirs.
    if (otherVersion && m_version <= SHORT_USER_VERSION) refuseVersion();
    rowFollows(USER_BUF_SIZE);
    s.readBytes(m_user, USER_BUF_SIZE);
    // The peer's bytes need not hold a terminator: keep at most what a sender keeps.
    if (memchr(m_user, '\0', MAX_USER_LEN + 1) == nullptr) m_user[MAX_USER_LEN] = '\0';
  }
  rowFollows(sizeof m_interactId);
  s >> m_interactId;
  if (otherVersion) refuseVersion();
  uint32_t marker = 0;
  s >> marker;
  m_payloadFollows = marker != 0;
}

void IpcMsgHdr::restorePayload(rc::ByteStrm& /*s*/) {}
void IpcMsgHdr::recvExpressPayload(Socket* /*socket*/) {}

bool IpcMsgHdr::hasPayload() const {
  return m_payload != nullptr && !isMsgFlagSet(MF_EXPRESS_PAYLOAD);
}

size_t IpcMsgHdr::binaryPayloadSize() const {
  return IpcMsgHdr::hasPayload() ? rawPayload()->unreadBytes() : 0;
}

void IpcMsgHdr::savePayload(rc::ByteStrm& s) const {
  if (!IpcMsgHdr::hasPayload()) return;
  rc::ByteStrm* payload = rawPayload();
  s.writeBytes(payload, payload->unreadBytes());
}

bool IpcMsgHdr::hasExpressPayload() const {
  return m_payload != nullptr && isMsgFlagSet(MF_EXPRESS_PAYLOAD);
}

size_t IpcMsgHdr::expressPayloadSize() const { return 0; }
void IpcMsgHdr::sendExpressPayload(Socket* /*socket*/) const {}

void IpcMsgHdr::dump() const {
  dumpMsg();
  if (hasPayload()) {
    dumpPayload();
  } else if (hasExpressPayload()) {
    dumpExpressPayloadInfo();
  }
}

void IpcMsgHdr::dumpMsg() const {
  rc::dumpHeader(0, nullptr, msgName(), this, ": type = %d, replyType = %d\n", m_msgType,
                 m_replyType);
  rc::dumpLine(1, "flags = 0x%x, version = %d, timestamp = %d\n", m_msgFlags, m_version,
               static_cast<int>(m_timestamp));
  if (!isMsgFlagSet(MF_TINY_HDR)) {
    rc::dumpLine(1, "srcPgmId = %d, dstPgmId = %d, srcHostId = %d, dstHostId = %d\n", m_srcPgmId,
                 m_dstPgmId, m_srcHostId, m_dstHostId);
    rc::dumpLine(1, "srcClientId = %d, dstClientId = %d, srcSpuId = %d, dstSpuId = %d\n",
                 m_srcClientId, m_dstClientId, m_srcSpuId, m_dstSpuId);
    rc::dumpLine(1, "user = '%s'\n", m_user);
  }
  rc::dumpLine(1, "interactId = %d, payload = %s\n", m_interactId, rc::DumpAddr(m_payload).str());
}

void IpcMsgHdr::dumpPayload() const {}
void IpcMsgHdr::dumpExpressPayloadInfo() const {}

// --- IpcStsMsgHdr

IpcStsMsgHdr::IpcStsMsgHdr() = default;

IpcStsMsgHdr::IpcStsMsgHdr(short msgType, short replyType, short dstPgmId)
    : IpcMsgHdr(msgType, replyType, dstPgmId) {}

IpcStsMsgHdr::IpcStsMsgHdr(const IpcStsMsgHdr& src, bool deepCopy)
    : IpcMsgHdr(src, deepCopy), m_status(src.m_status) {}

IpcStsMsgHdr::~IpcStsMsgHdr() = default;

IpcMsgHdr* IpcStsMsgHdr::copy(bool deepCopy) const { return new IpcStsMsgHdr(*this, deepCopy); }

void IpcStsMsgHdr::restoreMsg(rc::ByteStrm& s) {
  IpcMsgHdr::restoreMsg(s);
  m_status.restoreFrom(s);
}

bool IpcStsMsgHdr::restoreStsHdr(rc::ByteStrm& s) {
  IpcStsMsgHdr::restoreMsg(s);
  return isStatusOk() || s.unreadBytes() != 0;
}

void IpcStsMsgHdr::restorePayload(rc::ByteStrm& s) { IpcMsgHdr::restorePayload(s); }

void IpcStsMsgHdr::assignFrom(const IpcMsgHdr& src) {
  if (&src == this) return;
  const IpcStsMsgHdr* stsSrc = dynamic_cast<const IpcStsMsgHdr*>(&src);
  RC_ASSERT(stsSrc != nullptr);
  IpcMsgHdr::assignFrom(src);
  m_status = stsSrc->m_status;
}

const char* IpcStsMsgHdr::msgName() const { return "IpcStsMsgHdr"; }

size_t IpcStsMsgHdr::binaryMsgSize() const {
  return IpcMsgHdr::binaryMsgSize() + m_status.binarySize();
}

void IpcStsMsgHdr::saveMsg(rc::ByteStrm& s) const {
  if (m_status.code() == AC_SC_BAD_MSG_HDR_VER && version() <= VERSION - 1) {
    saveMsgInOldFormat(s);
  } else {
    IpcMsgHdr::saveMsg(s);
  }
  m_status.saveOn(s);
}

bool IpcStsMsgHdr::hasPayload() const { return IpcMsgHdr::hasPayload(); }
size_t IpcStsMsgHdr::binaryPayloadSize() const { return IpcMsgHdr::binaryPayloadSize(); }
void IpcStsMsgHdr::savePayload(rc::ByteStrm& s) const { IpcMsgHdr::savePayload(s); }

void IpcStsMsgHdr::dumpMsg() const {
  IpcMsgHdr::dumpMsg();
  m_status.dumpObj(1, "status = ");
}

}  // namespace ac
