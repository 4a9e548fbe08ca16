#include "comps/appcomps/acLoginMsgs.h"

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"

namespace ac {

using rc::ByteStrm;

LoginCall::LoginCall()
    : IpcMsgOf(MsgTypes::LOGIN_CALL, MsgTypes::LOGIN_REPLY, 0), m_phase(PT_NONE), m_userData(0) {}

LoginCall::LoginCall(PhaseType phase, short srcPgmType, short dstPgmId, const std::string& dbName,
                     const std::string& userName, const std::string& passwordHash,
                     const std::string& description)
    : IpcMsgOf(MsgTypes::LOGIN_CALL, MsgTypes::LOGIN_REPLY, dstPgmId),
      m_phase(phase),
      m_dbName(dbName),
      m_userName(userName),
      m_passwordHash(passwordHash),
      m_description(description, 0, MAX_DESCRIPTION_LEN),
      m_userData(0) {
  setSrcPgmId(srcPgmType);
  setInteractId(1);
}

LoginCall::LoginCall(const LoginCall& src, bool deepCopy)
    : IpcMsgOf(src, deepCopy),
      m_phase(src.m_phase),
      m_dbName(src.m_dbName),
      m_userName(src.m_userName),
      m_passwordHash(src.m_passwordHash),
      m_description(src.m_description),
      m_userData(src.m_userData) {}

void LoginCall::restoreMsg(ByteStrm& s) {
  IpcMsgHdr::restoreMsg(s);
  s >> m_phase >> m_dbName >> m_userName >> m_passwordHash >> m_description >> m_userData;
}

size_t LoginCall::binaryMsgSize() const {
  return IpcMsgHdr::binaryMsgSize() + 8 + ByteStrm::binarySize(m_dbName) +
         ByteStrm::binarySize(m_userName) + ByteStrm::binarySize(m_passwordHash) +
         ByteStrm::binarySize(m_description);
}

void LoginCall::saveMsg(ByteStrm& s) const {
  IpcMsgHdr::saveMsg(s);
  s << m_phase << m_dbName << m_userName << m_passwordHash << m_description << m_userData;
}

void LoginCall::dumpMsg() const {
  IpcMsgHdr::dumpMsg();
  rc::dumpLine(1,
               "phase = %s, db = '%s', user = '%s', hashed pw = '%s', description = '%s', "
               "userData = %d\n",
               phaseTypeSymbol(m_phase), m_dbName.c_str(), m_userName.c_str(),
               m_passwordHash.c_str(), m_description.c_str(), m_userData);
}

const char* LoginCall::phaseTypeSymbol(int phase) {
  switch (phase) {
    case PT_NONE: return "none";
    case PT_BEGIN: return "begin";
    case PT_AUTHENTICATE: return "authenticate";
    default: return "unknown";
  }
}

LoginReply::LoginReply() : IpcMsgOf(MsgTypes::LOGIN_REPLY, 0, 0), m_phase(LoginCall::PT_NONE) {}

LoginReply::LoginReply(LoginCall::PhaseType phase, short srcPgmId, const std::string& salt)
    : IpcMsgOf(MsgTypes::LOGIN_REPLY, 0, 0), m_phase(phase), m_salt(salt) {
  setSrcPgmId(srcPgmId);
  setInteractId(1);
}

LoginReply::LoginReply(const LoginReply& src, bool deepCopy)
    : IpcMsgOf(src, deepCopy), m_phase(src.m_phase), m_salt(src.m_salt) {}

void LoginReply::restoreMsg(ByteStrm& s) {
  if (restoreStsHdr(s)) s >> m_phase >> m_salt;
}

void LoginReply::initReplyHdr(const IpcMsgHdr& call) {
  IpcMsgHdr::initReplyHdr(call);
  if (const auto* loginCall = dynamic_cast<const LoginCall*>(&call)) m_phase = loginCall->phase();
}

size_t LoginReply::binaryMsgSize() const {
  return IpcStsMsgHdr::binaryMsgSize() + 4 + ByteStrm::binarySize(m_salt);
}

void LoginReply::saveMsg(ByteStrm& s) const {
  IpcStsMsgHdr::saveMsg(s);
  s << m_phase << m_salt;
}

void LoginReply::dumpMsg() const {
  IpcStsMsgHdr::dumpMsg();
  rc::dumpLine(1, "phase = %s, salt = '%s'\n", LoginCall::phaseTypeSymbol(m_phase), m_salt.c_str());
}

LoginStatusMsg::LoginStatusMsg() : IpcMsgOf(MsgTypes::LOGIN_STATUS_MSG, 0, 0), m_statustype(NONE) {}

LoginStatusMsg::LoginStatusMsg(StatusType statustype, short dstPgmId, const std::string& userName)
    : IpcMsgOf(MsgTypes::LOGIN_STATUS_MSG, 0, dstPgmId),
      m_statustype(statustype),
      m_userName(userName) {}

LoginStatusMsg::LoginStatusMsg(const LoginStatusMsg& src, bool deepCopy)
    : IpcMsgOf(src, deepCopy), m_statustype(src.m_statustype), m_userName(src.m_userName) {}

void LoginStatusMsg::restoreMsg(ByteStrm& s) {
  IpcMsgHdr::restoreMsg(s);
  s >> m_statustype >> m_userName;
}

size_t LoginStatusMsg::binaryMsgSize() const {
  return IpcMsgHdr::binaryMsgSize() + 4 + ByteStrm::binarySize(m_userName);
}

void LoginStatusMsg::saveMsg(ByteStrm& s) const {
  IpcMsgHdr::saveMsg(s);
  s << m_statustype << m_userName;
}

}  // namespace ac
