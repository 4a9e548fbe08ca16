#include "comps/appcomps/acMsgTypes.h"

#include <iterator>

#include "comps/appcomps/acCtrlsMsgs.h"
#include "comps/appcomps/acInfoMsgs.h"
#include "comps/appcomps/acIpcMsgFactory.h"
#include "comps/appcomps/acLoginMsgs.h"
#include "comps/appcomps/acPingMsgs.h"
#include "comps/appcomps/acTxMsgs.h"

namespace ac {

void MsgTypes::registerMsgs() {
  static const IpcMsgRecData kRecs[] = {
      {PING_MSG, PingMsg::newInstance},
      {PING_CALL, PingCall::newInstance},
      {PING_REPLY, PingReply::newInstance},
      {GET_DBG_CTRLS_CALL, GetDbgCtrlsCall::newInstance},
      {GET_DBG_CTRLS_REPLY, GetDbgCtrlsReply::newInstance},
      {SET_DBG_CTRLS_CALL, SetDbgCtrlsCall::newInstance},
      {SET_DBG_CTRLS_REPLY, SetDbgCtrlsReply::newInstance},
      {GET_REV_DATA_CALL, GetRevDataCall::newInstance},
      {GET_REV_DATA_REPLY, GetRevDataReply::newInstance},
      {GET_PGM_INFO_CALL, GetPgmInfoCall::newInstance},
      {GET_PGM_INFO_REPLY, GetPgmInfoReply::newInstance},
      {GET_PGM_TBL_CALL, GetPgmTblCall::newInstance},
      {GET_PGM_TBL_REPLY, GetPgmTblReply::newInstance},
      {GET_FAULT_CTRLS_CALL, GetFaultCtrlsCall::newInstance},
      {GET_FAULT_CTRLS_REPLY, GetFaultCtrlsReply::newInstance},
      {SET_FAULT_CTRLS_CALL, SetFaultCtrlsCall::newInstance},
      {SET_FAULT_CTRLS_REPLY, SetFaultCtrlsReply::newInstance},
  };
  IpcMsgFactory::instance(true)->add(kRecs, std::size(kRecs));
}

void MsgTypes::registerLoginMsgs(bool isMgr) {
  if (isMgr) {
    IpcMsgFactory::instance(true)->add(LOGIN_CALL, LoginCall::newInstance);
  } else {
    IpcMsgFactory::instance(true)->add(LOGIN_REPLY, LoginReply::newInstance);
  }
}

void MsgTypes::registerTxMsgs(bool isServer) {
  if (isServer) {
    IpcMsgFactory::instance(true)->add(TRANSACTION_CALL, TransactionCall::newInstance);
  } else {
    IpcMsgFactory::instance(true)->add(TRANSACTION_REPLY, TransactionReply::newInstance);
  }
}

void MsgTypes::registerStatusMsg() {
  IpcMsgFactory::instance(true)->add(LOGIN_STATUS_MSG, LoginStatusMsg::newInstance);
}

}  // namespace ac
