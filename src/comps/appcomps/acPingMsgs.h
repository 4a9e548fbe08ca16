// The ping messages: a one-way ping, and a call whose reply carries the call's ping data back.
// ac::PingData (a comment and a message count) is the ping payload, shared by reference count:
// a message that holds it has one reference and releases it when destroyed or given other data;
// the last holder deletes it. A shallow copy of a ping message shares the data, a deep copy gets
// its own. Not thread-safe.
#pragma once

#include <string>

#include "comps/appcomps/acIpcMsgImpl.h"
#include "comps/memcomps/base/memNewDelete.h"
#include "comps/recomps/rcRefCnt.h"

namespace ac {

class PingData : public rc::RefCnt, public mem::newDelete<mt_anonymous> {
 public:
  explicit PingData(int references = 0);
  PingData(const char* comment, int references);
  PingData(const PingData& src, int references);
  // Copies the comment and the count only.
  PingData& operator=(const PingData& src);

  const char* comment() const { return m_comment.c_str(); }
  void setComment(const char* comment) { m_comment = comment != nullptr ? comment : ""; }
  int msgCount() const { return m_msgCount; }
  void setMsgCount(int msgCount) { m_msgCount = msgCount; }

  // The comment (string), then the count (int).
  void saveOn(rc::ByteStrm& s) const;
  void restoreFrom(rc::ByteStrm& s);
  size_t binarySize() const;

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

 private:
  std::string m_comment;
  int m_msgCount;
};

class PingMsg : public IpcMsgOf<PingMsg, 1, IpcMsgHdr> {
 public:
  static constexpr const char* kMsgName = "PingMsg";
  explicit PingMsg(short dstPgmId = 0) : IpcMsgOf(dstPgmId) {}
  PingMsg(const PingMsg& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}
};

// The ping data travels as the payload part.
class PingReply
    : public IpcMsgOf<PingReply, 1002, PayloadObjMsg<IpcStsMsgHdr, PingData, true, "m_pingData">> {
 public:
  static constexpr const char* kMsgName = "PingReply";
  // Takes a reference on pingData when given.
  explicit PingReply(PingData* pingData = nullptr);
  PingReply(const PingReply& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}

  PingData* pingData() const { return m_payloadObj; }
  // Releases the data held, takes a reference on pingData.
  void setPingData(PingData* pingData) { hold(pingData); }
  void initReply(const IpcMsgHdr& call) { initReplyHdr(call); }
};

class PingCall
    : public IpcMsgOf<PingCall, 1001, PayloadObjMsg<IpcMsgHdr, PingData, true, "m_pingData">,
                      PingReply> {
 public:
  static constexpr const char* kMsgName = "PingCall";
  // The factory's empty call (reply type 0 until restoreMsg reads it).
  PingCall();
  // Takes a reference on pingData when given.
  PingCall(short dstPgmId, PingData* pingData);
  PingCall(const PingCall& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}

  PingData* pingData() const { return m_payloadObj; }
  void setPingData(PingData* pingData) { hold(pingData); }
};

}  // namespace ac
