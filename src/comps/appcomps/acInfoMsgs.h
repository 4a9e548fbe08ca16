// Asking a program for its revision data, for what it is (class, type, start time) and for the
// program table. The revision data of the
// reply is owned by the message and optional (a flag on the wire tells whether it follows); the
// program table travels as string data in the payload part, held through its reference count
// and copied whole by a copy of the message. Not thread-safe.
#pragma once

#include "comps/appcomps/acIpcMsgImpl.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/appcomps/acStrData.h"
#include "comps/recomps/rcRevData.h"
#include "sysids/siPgmIds.h"

namespace ac {

class GetRevDataReply : public IpcMsgOf<GetRevDataReply, IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "GetRevDataReply";
  GetRevDataReply() : IpcMsgOf(MsgTypes::GET_REV_DATA_REPLY, 0, 0) {}
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

class GetRevDataCall : public IpcMsgOf<GetRevDataCall, IpcMsgHdr, GetRevDataReply> {
 public:
  static constexpr const char* kMsgName = "GetRevDataCall";
  explicit GetRevDataCall(short dstPgmId = 0)
      : IpcMsgOf(MsgTypes::GET_REV_DATA_CALL, MsgTypes::GET_REV_DATA_REPLY, dstPgmId) {}
  GetRevDataCall(const GetRevDataCall& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}
};

// The program class (rc::PgmClass), the program type (si::PgmIds) and the start time (seconds
// since the epoch) of the answering program: three 32-bit ints after the status.
class GetPgmInfoReply : public IpcMsgOf<GetPgmInfoReply, IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "GetPgmInfoReply";
  GetPgmInfoReply() : IpcMsgOf(MsgTypes::GET_PGM_INFO_REPLY, 0, 0) {}
  GetPgmInfoReply(int pgmClass, int pgmType, int32_t startTime);
  GetPgmInfoReply(const GetPgmInfoReply& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy),
        m_pgmClass(src.m_pgmClass),
        m_pgmType(src.m_pgmType),
        m_startTime(src.m_startTime) {}

  void restoreMsg(rc::ByteStrm& s) override;
  size_t binaryMsgSize() const override { return IpcStsMsgHdr::binaryMsgSize() + 12; }
  void saveMsg(rc::ByteStrm& s) const override;
  void dumpMsg() const override;
  void initReply(const IpcMsgHdr& call) { initReplyHdr(call); }

  int pgmClass() const { return m_pgmClass; }
  int pgmType() const { return m_pgmType; }
  int32_t startTime() const { return m_startTime; }

 private:
  int m_pgmClass = 0;
  int m_pgmType = 0;
  int32_t m_startTime = 0;
};

class GetPgmInfoCall : public IpcMsgOf<GetPgmInfoCall, IpcMsgHdr, GetPgmInfoReply> {
 public:
  static constexpr const char* kMsgName = "GetPgmInfoCall";
  explicit GetPgmInfoCall(short dstPgmId = 0)
      : IpcMsgOf(MsgTypes::GET_PGM_INFO_CALL, MsgTypes::GET_PGM_INFO_REPLY, dstPgmId) {}
  GetPgmInfoCall(const GetPgmInfoCall& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}
};

class GetPgmTblReply : public IpcMsgOf<GetPgmTblReply, PayloadObjMsg<IpcStsMsgHdr, StrData>> {
 public:
  static constexpr const char* kMsgName = "GetPgmTblReply";
  GetPgmTblReply() : IpcMsgOf(MsgTypes::GET_PGM_TBL_REPLY, 0, 0) {}
  GetPgmTblReply(const GetPgmTblReply& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}
  void initReply(const IpcMsgHdr& call) { initReplyHdr(call); }

  StrData* strData() const { return m_payloadObj; }
  // Copies strData's text, creating the string data when absent.
  void setStrData(const StrData& strData) { assignObj(strData); }
  // The string data, created with one reference when absent.
  StrData* allocStrData() { return allocObj(); }
};

class GetPgmTblCall : public IpcMsgOf<GetPgmTblCall, IpcMsgHdr, GetPgmTblReply> {
 public:
  static constexpr const char* kMsgName = "GetPgmTblCall";
  GetPgmTblCall()
      : IpcMsgOf(MsgTypes::GET_PGM_TBL_CALL, MsgTypes::GET_PGM_TBL_REPLY, si::PgmIds::CLIENT_MGR) {}
  GetPgmTblCall(const GetPgmTblCall& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}
};

}  // namespace ac
