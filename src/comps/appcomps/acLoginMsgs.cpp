#include "comps/appcomps/acLoginMsgs.h"

namespace ac {

LoginCall::LoginCall() : IpcMsgOf(), m_phase(PT_NONE), m_userData(0) {}

LoginCall::LoginCall(PhaseType phase, short srcPgmType, short dstPgmId, const std::string& dbName,
                     const std::string& userName, const std::string& passwordHash,
                     const std::string& description)
    : IpcMsgOf(dstPgmId),
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

const char* LoginCall::phaseTypeSymbol(int phase) {
  switch (phase) {
    case PT_NONE: return "none";
    case PT_BEGIN: return "begin";
    case PT_AUTHENTICATE: return "authenticate";
    default: return "unknown";
  }
}

LoginReply::LoginReply() : IpcMsgOf(), m_phase(LoginCall::PT_NONE) {}

LoginReply::LoginReply(LoginCall::PhaseType phase, short srcPgmId, const std::string& salt)
    : IpcMsgOf(), m_phase(phase), m_salt(salt) {
  setSrcPgmId(srcPgmId);
  setInteractId(1);
}

LoginReply::LoginReply(const LoginReply& src, bool deepCopy)
    : IpcMsgOf(src, deepCopy), m_phase(src.m_phase), m_salt(src.m_salt) {}

void LoginReply::initReplyHdr(const IpcMsgHdr& call) {
  IpcMsgHdr::initReplyHdr(call);
  if (const auto* loginCall = dynamic_cast<const LoginCall*>(&call)) m_phase = loginCall->phase();
}

LoginStatusMsg::LoginStatusMsg() : IpcMsgOf(), m_statustype(NONE) {}

LoginStatusMsg::LoginStatusMsg(StatusType statustype, short dstPgmId, const std::string& userName)
    : IpcMsgOf(dstPgmId), m_statustype(statustype), m_userName(userName) {}

LoginStatusMsg::LoginStatusMsg(const LoginStatusMsg& src, bool deepCopy)
    : IpcMsgOf(src, deepCopy), m_statustype(src.m_statustype), m_userName(src.m_userName) {}

}  // namespace ac
