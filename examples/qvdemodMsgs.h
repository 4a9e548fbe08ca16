// qvdemod's own call, declared the way a program adds messages to the framework's: each class
// names its type once (types 1101 and up are the program's own range; a call's reply type is the
// call's plus one), its body is one field list, and one list of classes registers them.
//
// GetTickCountCall asks the daemon how many ticks it has counted; GetTickCountReply carries the
// count (an int after the status).
#pragma once

#include "comps/appcomps/acIpcMsgImpl.h"
#include "comps/appcomps/acMsgList.h"

namespace demo {

class GetTickCountReply : public ac::IpcMsgOf<GetTickCountReply, 1102, ac::IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "GetTickCountReply";
  explicit GetTickCountReply(int ticks = 0) : m_ticks(ticks) {}
  GetTickCountReply(const GetTickCountReply& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy), m_ticks(src.m_ticks) {}

  auto fields() { return ac::msgFields(ac::msgField(m_ticks, "ticks")); }
  int ticks() const { return m_ticks; }

 private:
  int m_ticks;
};

class GetTickCountCall
    : public ac::IpcMsgOf<GetTickCountCall, 1101, ac::IpcMsgHdr, GetTickCountReply> {
 public:
  static constexpr const char* kMsgName = "GetTickCountCall";
  explicit GetTickCountCall(short dstPgmId = 0) : IpcMsgOf(dstPgmId) {}
  GetTickCountCall(const GetTickCountCall& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}
};

using DemoMsgs = ac::MsgList<GetTickCountCall, GetTickCountReply>;

}  // namespace demo
