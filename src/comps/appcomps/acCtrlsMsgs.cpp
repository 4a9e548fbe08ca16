#include "comps/appcomps/acCtrlsMsgs.h"

#include "comps/appcomps/acSockUtils.h"
#include "comps/recomps/rcDump.h"

namespace ac {

void SpuAddr::dump() const {
  rc::dumpLine(0, "IP address = %s, SPA/Slot = %d/%d\n", SockUtils::ipToString(m_spuip), m_spuspa,
               m_spuslot);
}

GetFaultCtrlsReply::GetFaultCtrlsReply(const rc::fault::Ctrls& ctrls) { setFaultCtrls(ctrls); }

void GetFaultCtrlsCall::dumpMsg() const {
  IpcMsgHdr::dumpMsg();
  m_spu.dump();
}

SetFaultCtrlsCall::SetFaultCtrlsCall(short dstPgmId, const rc::fault::Ctrls& ctrls)
    : SetFaultCtrlsCall(dstPgmId) {
  setFaultCtrls(ctrls);
}

void SetFaultCtrlsCall::dumpMsg() const {
  IpcMsgHdr::dumpMsg();
  m_spu.dump();
  rc::dumpLine(0, "clear rules = %s\n", m_clearExistingRules ? "yes" : "no");
  rc::dumpLine(0, "is add = %s\n", m_addNew ? "yes" : "no");
}

}  // namespace ac
