#include "comps/appcomps/acCtrlsMsgs.h"

#include <arpa/inet.h>

#include "comps/appcomps/acSockUtils.h"
#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"

namespace ac {

GetDbgCtrlsReply::GetDbgCtrlsReply(const rc::DbgCtrls& dbgCtrls)
    : IpcMsgOf(MsgTypes::GET_DBG_CTRLS_REPLY, 0, 0), m_dbgCtrls(dbgCtrls) {}

void GetDbgCtrlsReply::restoreMsg(rc::ByteStrm& s) {
  if (restoreStsHdr(s)) m_dbgCtrls.restoreFrom(s);
}

size_t GetDbgCtrlsReply::binaryMsgSize() const {
  return IpcStsMsgHdr::binaryMsgSize() + rc::DbgCtrls::binarySize();
}

void GetDbgCtrlsReply::saveMsg(rc::ByteStrm& s) const {
  IpcStsMsgHdr::saveMsg(s);
  m_dbgCtrls.saveOn(s);
}

void GetDbgCtrlsReply::dumpMsg() const {
  IpcStsMsgHdr::dumpMsg();
  m_dbgCtrls.dumpObj(1, nullptr);
}

SetDbgCtrlsCall::SetDbgCtrlsCall(short dstPgmId, const rc::DbgCtrls& dbgCtrls)
    : SetDbgCtrlsCall(dstPgmId) {
  m_dbgCtrls = dbgCtrls;
}

void SetDbgCtrlsCall::restoreMsg(rc::ByteStrm& s) {
  IpcMsgHdr::restoreMsg(s);
  m_dbgCtrls.restoreFrom(s);
}

size_t SetDbgCtrlsCall::binaryMsgSize() const {
  return IpcMsgHdr::binaryMsgSize() + rc::DbgCtrls::binarySize();
}

void SetDbgCtrlsCall::saveMsg(rc::ByteStrm& s) const {
  IpcMsgHdr::saveMsg(s);
  m_dbgCtrls.saveOn(s);
}

void SetDbgCtrlsCall::dumpMsg() const {
  IpcMsgHdr::dumpMsg();
  m_dbgCtrls.dumpObj(1, nullptr);
}

void SpuAddr::saveOn(rc::ByteStrm& s) const { s << m_spuip << m_spuspa << m_spuslot; }

void SpuAddr::restoreFrom(rc::ByteStrm& s) { s >> m_spuip >> m_spuspa >> m_spuslot; }

void SpuAddr::dump() const {
  rc::dumpLine(0, "IP address = %s, SPA/Slot = %d/%d\n", SockUtils::ipToString(m_spuip), m_spuspa,
               m_spuslot);
}

GetFaultCtrlsReply::GetFaultCtrlsReply(const rc::fault::Ctrls& ctrls) : GetFaultCtrlsReply() {
  setFaultCtrls(ctrls);
}

void GetFaultCtrlsCall::restoreMsg(rc::ByteStrm& s) {
  IpcMsgHdr::restoreMsg(s);
  m_spu.restoreFrom(s);
}

void GetFaultCtrlsCall::saveMsg(rc::ByteStrm& s) const {
  IpcMsgHdr::saveMsg(s);
  m_spu.saveOn(s);
}

void GetFaultCtrlsCall::dumpMsg() const {
  IpcMsgHdr::dumpMsg();
  m_spu.dump();
}

SetFaultCtrlsCall::SetFaultCtrlsCall(short dstPgmId, const rc::fault::Ctrls& ctrls)
    : SetFaultCtrlsCall(dstPgmId) {
  setFaultCtrls(ctrls);
}

void SetFaultCtrlsCall::restoreMsg(rc::ByteStrm& s) {
  IpcMsgHdr::restoreMsg(s);
  int clear = 0;
  int addNew = 0;
  m_spu.restoreFrom(s);
  s >> clear >> addNew;
  m_clearExistingRules = clear != 0;
  m_addNew = addNew != 0;
}

void SetFaultCtrlsCall::saveMsg(rc::ByteStrm& s) const {
  IpcMsgHdr::saveMsg(s);
  m_spu.saveOn(s);
  s << int{m_clearExistingRules} << int{m_addNew};
}

void SetFaultCtrlsCall::dumpMsg() const {
  IpcMsgHdr::dumpMsg();
  m_spu.dump();
  rc::dumpLine(0, "clear rules = %s\n", m_clearExistingRules ? "yes" : "no");
  rc::dumpLine(0, "is add = %s\n", m_addNew ? "yes" : "no");
}

}  // namespace ac
