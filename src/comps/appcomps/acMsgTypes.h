// The standard messages every program of the system understands: the lists their classes are
// registered from, the names of their types, and the functions that register them with the
// process's message factory (created if absent). Each type number is written once, on its class
// (IpcMsgOf); the names here are taken from the classes. Types 1 to 1000 are one-way; above, an
// odd type is a call and the next even type its reply. Registering a type again replaces its
// routine. Not thread-safe.
//
// Adding a standard message: its class (in its family's header), its place in a list below, and,
// for a call every program answers, its handler in ac::App. New code names a type T::kMsgType.
#pragma once

#include "comps/appcomps/acCtrlsMsgs.h"
#include "comps/appcomps/acFollowMsgs.h"
#include "comps/appcomps/acInfoMsgs.h"
#include "comps/appcomps/acLoginMsgs.h"
#include "comps/appcomps/acMsgList.h"
#include "comps/appcomps/acPingMsgs.h"
#include "comps/appcomps/acStatusMsgs.h"
#include "comps/appcomps/acTxMsgs.h"

namespace ac {

// Ping, debug controls, revision data, program information, program table, fault controls,
// status, fault points and following the program's output, in this order.
using StdMsgs =
    MsgList<PingMsg, PingCall, PingReply, GetDbgCtrlsCall, GetDbgCtrlsReply, SetDbgCtrlsCall,
            SetDbgCtrlsReply, GetRevDataCall, GetRevDataReply, GetPgmInfoCall, GetPgmInfoReply,
            GetPgmTblCall, GetPgmTblReply, GetFaultCtrlsCall, GetFaultCtrlsReply, SetFaultCtrlsCall,
            SetFaultCtrlsReply, GetStatusCall, GetStatusReply, GetFaultPointsCall,
            GetFaultPointsReply, TraceLinesMsg, FollowCall, FollowReply>;
// What a manager and a client receive of the login exchange, a server and a client of
// transaction control; the login status.
using LoginMgrMsgs = MsgList<LoginCall>;
using LoginClientMsgs = MsgList<LoginReply>;
using TxServerMsgs = MsgList<TransactionCall>;
using TxClientMsgs = MsgList<TransactionReply>;
using StatusMsgs = MsgList<LoginStatusMsg>;

class MsgTypes {
 public:
  enum : short {
    PING_MSG = PingMsg::kMsgType,
    LOGIN_STATUS_MSG = LoginStatusMsg::kMsgType,
    // One past the one-way types defined here.
    END_MSG_TYPE = TraceLinesMsg::kMsgType + 1,
    PING_CALL = PingCall::kMsgType,
    PING_REPLY = PingReply::kMsgType,
    LOGIN_CALL = LoginCall::kMsgType,
    LOGIN_REPLY = LoginReply::kMsgType,
    GET_DBG_CTRLS_CALL = GetDbgCtrlsCall::kMsgType,
    GET_DBG_CTRLS_REPLY = GetDbgCtrlsReply::kMsgType,
    GET_PGM_TBL_CALL = GetPgmTblCall::kMsgType,
    GET_PGM_TBL_REPLY = GetPgmTblReply::kMsgType,
    GET_FAULT_CTRLS_CALL = GetFaultCtrlsCall::kMsgType,
    GET_FAULT_CTRLS_REPLY = GetFaultCtrlsReply::kMsgType,
    GET_REV_DATA_CALL = GetRevDataCall::kMsgType,
    GET_REV_DATA_REPLY = GetRevDataReply::kMsgType,
    SET_DBG_CTRLS_CALL = SetDbgCtrlsCall::kMsgType,
    SET_DBG_CTRLS_REPLY = SetDbgCtrlsReply::kMsgType,
    SET_FAULT_CTRLS_CALL = SetFaultCtrlsCall::kMsgType,
    SET_FAULT_CTRLS_REPLY = SetFaultCtrlsReply::kMsgType,
    TRANSACTION_CALL = TransactionCall::kMsgType,
    TRANSACTION_REPLY = TransactionReply::kMsgType,
    GET_PGM_INFO_CALL = GetPgmInfoCall::kMsgType,
    GET_PGM_INFO_REPLY = GetPgmInfoReply::kMsgType,
    GET_STATUS_CALL = GetStatusCall::kMsgType,
    GET_STATUS_REPLY = GetStatusReply::kMsgType,
    GET_FAULT_POINTS_CALL = GetFaultPointsCall::kMsgType,
    GET_FAULT_POINTS_REPLY = GetFaultPointsReply::kMsgType,
    TRACE_LINES_MSG = TraceLinesMsg::kMsgType,
    FOLLOW_CALL = FollowCall::kMsgType,
    FOLLOW_REPLY = FollowReply::kMsgType
  };

  static void registerMsgs() { StdMsgs::registerMsgs(); }
  // A manager receives the login call, a client the login reply.
  static void registerLoginMsgs(bool isMgr) {
    isMgr ? LoginMgrMsgs::registerMsgs() : LoginClientMsgs::registerMsgs();
  }
  // A server receives the transaction call, a client the transaction reply.
  static void registerTxMsgs(bool isServer) {
    isServer ? TxServerMsgs::registerMsgs() : TxClientMsgs::registerMsgs();
  }
  static void registerStatusMsg() { StatusMsgs::registerMsgs(); }
};

}  // namespace ac
