// The login exchange: a call carrying the database, user, password hash and description, its
// reply carrying the phase and a salt, and a one-way login status message. Strings travel as
// strings of any length; binaryMsgSize() bounds what saveMsg writes for the strings held. Not
// thread-safe.
#pragma once

#include <string>

#include "comps/appcomps/acIpcMsgImpl.h"

namespace ac {

class LoginReply;

class LoginCall : public IpcMsgOf<LoginCall, 1003, IpcMsgHdr, LoginReply> {
 public:
  static constexpr const char* kMsgName = "LoginCall";
  enum PhaseType { PT_NONE = 0, PT_BEGIN = 1, PT_AUTHENTICATE = 2 };
  enum { MAX_DESCRIPTION_LEN = 512 };

  LoginCall();
  // The source program is srcPgmType and the interaction id 1; a longer description is cut to
  // MAX_DESCRIPTION_LEN characters.
  LoginCall(PhaseType phase, short srcPgmType, short dstPgmId, const std::string& dbName,
            const std::string& userName, const std::string& passwordHash,
            const std::string& description);
  LoginCall(const LoginCall& src, bool deepCopy = false);

  // The body, in wire order.
  auto fields() {
    return msgFields(msgField(m_phase, "phase", phaseTypeSymbol), msgField(m_dbName, "db"),
                     msgField(m_userName, "user"), msgField(m_passwordHash, "hashed pw"),
                     msgField(m_description, "description"), msgField(m_userData, "userData"));
  }

  // "none", "begin", "authenticate"; "unknown" for any other value.
  static const char* phaseTypeSymbol(int phase);

  int phase() const { return m_phase; }
  void setPhase(PhaseType phase) { m_phase = phase; }
  const std::string& dbName() const { return m_dbName; }
  const std::string& userName() const { return m_userName; }
  const std::string& passwordHash() const { return m_passwordHash; }
  void setPasswordHash(const std::string& passwordHash) { m_passwordHash = passwordHash; }
  const std::string& description() const { return m_description; }
  int userData() const { return m_userData; }
  void setUserData(int userData) { m_userData = userData; }

 private:
  int m_phase;
  std::string m_dbName;
  std::string m_userName;
  std::string m_passwordHash;
  std::string m_description;
  int m_userData;
};

class LoginReply : public IpcMsgOf<LoginReply, 1004, IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "LoginReply";

  LoginReply();
  // The source program is srcPgmId and the interaction id 1.
  LoginReply(LoginCall::PhaseType phase, short srcPgmId, const std::string& salt);
  LoginReply(const LoginReply& src, bool deepCopy = false);

  auto fields() {
    return msgFields(msgField(m_phase, "phase", LoginCall::phaseTypeSymbol),
                     msgField(m_salt, "salt"));
  }
  // Also takes the call's phase.
  void initReplyHdr(const IpcMsgHdr& call) override;
  void initReply(const LoginCall& call) { initReplyHdr(call); }

  int phase() const { return m_phase; }
  void setPhase(LoginCall::PhaseType phase) { m_phase = phase; }
  const std::string& salt() const { return m_salt; }
  void setSalt(const std::string& salt) { m_salt = salt; }

 private:
  int m_phase;
  std::string m_salt;
};

class LoginStatusMsg : public IpcMsgOf<LoginStatusMsg, 2, IpcMsgHdr> {
 public:
  static constexpr const char* kMsgName = "LoginStatusMsg";
  enum StatusType { SUCCESS_MSG = 0, ERROR_MSG = 1, NONE = 2 };

  LoginStatusMsg();
  LoginStatusMsg(StatusType statustype, short dstPgmId, const std::string& userName);
  LoginStatusMsg(const LoginStatusMsg& src, bool deepCopy = false);

  // Sent, not dumped.
  auto fields() { return msgFields(msgField(m_statustype), msgField(m_userName)); }

  int statustype() const { return m_statustype; }
  void setStatustype(StatusType statustype) { m_statustype = statustype; }
  const std::string& userName() const { return m_userName; }

 private:
  int m_statustype;
  std::string m_userName;
};

}  // namespace ac
