// Asking a program for its revision data, for what it is (class, type, start time) and for the
// program table. The revision data of the
// reply is owned by the message and optional (a flag on the wire tells whether it follows); the
// program table travels as string data in the payload part, held through its reference count
// and copied whole by a copy of the message. Not thread-safe.
#pragma once

#include "comps/appcomps/acIpcMsgImpl.h"
#include "comps/appcomps/acStrData.h"
#include "comps/recomps/rcRevData.h"
#include "sysids/siPgmIds.h"

namespace ac {

class GetRevDataReply : public IpcMsgOf<GetRevDataReply, 1012, IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "GetRevDataReply";
  GetRevDataReply() = default;
  explicit GetRevDataReply(const rc::RevData& revData);
  GetRevDataReply(const GetRevDataReply& src, bool deepCopy = false);
  GetRevDataReply& operator=(const GetRevDataReply&) = delete;
  ~GetRevDataReply() override;

  // The present flag (int 1 or 0), then the revision data when present.
  void restoreMsg(rc::ByteStrm& s) override;
  size_t binaryMsgSize() const override;
  void saveMsg(rc::ByteStrm& s) const override;
  void dumpMsg() const override;
  void initReply(const IpcMsgHdr& call) { initReplyHdr(call); }

  const rc::RevData* revData() const { return m_revData; }
  // Copies revData, creating the revision data when absent.
  void setRevData(const rc::RevData& revData);

 private:
  rc::RevData* m_revData = nullptr;
};

class GetRevDataCall : public IpcMsgOf<GetRevDataCall, 1011, IpcMsgHdr, GetRevDataReply> {
 public:
  static constexpr const char* kMsgName = "GetRevDataCall";
  explicit GetRevDataCall(short dstPgmId = 0) : IpcMsgOf(dstPgmId) {}
  GetRevDataCall(const GetRevDataCall& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}
};

// The program class (rc::PgmClass), the program type (si::PgmIds) and the start time (seconds
// since the epoch) of the answering program: three 32-bit ints after the status.
class GetPgmInfoReply : public IpcMsgOf<GetPgmInfoReply, 1020, IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "GetPgmInfoReply";
  GetPgmInfoReply() = default;
  GetPgmInfoReply(int pgmClass, int pgmType, int32_t startTime)
      : m_pgmClass(pgmClass), m_pgmType(pgmType), m_startTime(startTime) {}
  GetPgmInfoReply(const GetPgmInfoReply& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy),
        m_pgmClass(src.m_pgmClass),
        m_pgmType(src.m_pgmType),
        m_startTime(src.m_startTime) {}

  auto fields() {
    return msgFields(msgField(m_pgmClass, "pgmClass"), msgField(m_pgmType, "pgmType"),
                     msgField(m_startTime, "startTime"));
  }
  void initReply(const IpcMsgHdr& call) { initReplyHdr(call); }

  int pgmClass() const { return m_pgmClass; }
  int pgmType() const { return m_pgmType; }
  int32_t startTime() const { return m_startTime; }

 private:
  int m_pgmClass = 0;
  int m_pgmType = 0;
  int32_t m_startTime = 0;
};

class GetPgmInfoCall : public IpcMsgOf<GetPgmInfoCall, 1019, IpcMsgHdr, GetPgmInfoReply> {
 public:
  static constexpr const char* kMsgName = "GetPgmInfoCall";
  explicit GetPgmInfoCall(short dstPgmId = 0) : IpcMsgOf(dstPgmId) {}
  GetPgmInfoCall(const GetPgmInfoCall& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}
};

class GetPgmTblReply : public IpcMsgOf<GetPgmTblReply, 1008, PayloadObjMsg<IpcStsMsgHdr, StrData>> {
 public:
  static constexpr const char* kMsgName = "GetPgmTblReply";
  GetPgmTblReply() = default;
  GetPgmTblReply(const GetPgmTblReply& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}
  void initReply(const IpcMsgHdr& call) { initReplyHdr(call); }

  StrData* strData() const { return m_payloadObj; }
  // Copies strData's text, creating the string data when absent.
  void setStrData(const StrData& strData) { assignObj(strData); }
  // The string data, created with one reference when absent.
  StrData* allocStrData() { return allocObj(); }
};

class GetPgmTblCall : public IpcMsgOf<GetPgmTblCall, 1007, IpcMsgHdr, GetPgmTblReply> {
 public:
  static constexpr const char* kMsgName = "GetPgmTblCall";
  GetPgmTblCall() : IpcMsgOf(si::PgmIds::CLIENT_MGR) {}
  GetPgmTblCall(const GetPgmTblCall& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}
};

}  // namespace ac
