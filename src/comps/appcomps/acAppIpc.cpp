// The application's part of the message layer: the handler table, the dispatch of received
// messages and the handlers of the standard messages every program answers.
#include <ctime>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acCtrlsMsgs.h"
#include "comps/appcomps/acInfoMsgs.h"
#include "comps/appcomps/acIpcMsgProto.h"
#include "comps/appcomps/acPingMsgs.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcPgmAttrs.h"

namespace ac {

namespace {

// Taken while the program's image is initialised, which is as early as the program can tell.
const int32_t kStartTime = static_cast<int32_t>(time(nullptr));

unsigned appAddr(const App* app) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(app)); }

void traceReceived(const App* app, const char* what) {
  if (rc::Dbg::s_anyOn) {
    rc::Dbg::instance()->print(DM_AC, DF_MSG, "app [0x%x]: received %s message\n", appAddr(app),
                               what);
  }
}

// Every standard reply carries an empty (success) status and lives only until proto has sent it.
template <class Reply>
void reply(Reply& reply, const IpcMsgHdr& call, IpcMsgProto* proto) {
  reply.initReply(call);
  if (proto != nullptr) proto->sendReply(&reply);
}

}  // namespace

void App::prepareForSend(IpcMsgHdr* msg) {
  if (pgmId() != 0) msg->setSrcPgmId(static_cast<short>(pgmId()));
}

void App::handleIpcMsgCb(IpcMsgHdr* msg, IpcMsgProto* proto) {
  if (proto == nullptr || proto->isMsgForThisPgm(msg)) {
    ipcMsgHndlrTbl(true)->invokeHandler(msg, proto);
  } else {
    forwardMsg(msg, proto);
  }
}

void App::handleIpcMsgCCb(void* cbObj, IpcMsgHdr* msg, IpcMsgProto* proto) {
  static_cast<App*>(cbObj)->handleIpcMsgCb(msg, proto);
}

IpcMsgHndlrTbl* App::ipcMsgHndlrTbl(bool allocIfNull) {
  if (m_ipcMsgHndlrTbl == nullptr && allocIfNull) m_ipcMsgHndlrTbl = new IpcMsgHndlrTbl();
  return m_ipcMsgHndlrTbl;
}

void App::addIpcMsgHandler(int msgType, void* handlerObj, IpcMsgHndlrCCb handler) {
  ipcMsgHndlrTbl(true)->add(msgType, handlerObj, handler);
}

void App::addIpcMsgHandler(int replyType, int interactId, void* handlerObj, IpcMsgHndlrCCb handler,
                           bool autoRemove) {
  ipcMsgHndlrTbl(true)->add(replyType, interactId, handlerObj, handler, autoRemove);
}

void App::removeIpcMsgHandler(int replyType, int interactId) {
  ipcMsgHndlrTbl(true)->remove(replyType, interactId);
}

void App::registerAppIpcMsgs() { MsgTypes::registerMsgs(); }

void App::initAppIpcMsgHandlers() {
  for (int msgType :
       {MsgTypes::PING_MSG, MsgTypes::PING_CALL, MsgTypes::GET_DBG_CTRLS_CALL,
        MsgTypes::SET_DBG_CTRLS_CALL, MsgTypes::GET_FAULT_CTRLS_CALL,
        MsgTypes::SET_FAULT_CTRLS_CALL, MsgTypes::GET_REV_DATA_CALL, MsgTypes::GET_PGM_INFO_CALL}) {
    addIpcMsgHandler(msgType, this, callCCb);
  }
}

void App::callCCb(void* cbObj, IpcMsgHdr* msg, IpcMsgProto* proto) {
  RC_ASSERT(cbObj);
  RC_ASSERT(msg);
  App* app = static_cast<App*>(cbObj);
  // The type comes from a peer; a class that does not match it (a factory registration
  // replaced by the program) is treated as an unknown type rather than cast blindly.
  switch (msg->msgType()) {
    case MsgTypes::PING_MSG:
      if (auto* ping = dynamic_cast<PingMsg*>(msg)) return app->pingMsgCb(ping);
      break;
    case MsgTypes::PING_CALL:
      if (auto* call = dynamic_cast<PingCall*>(msg)) return app->pingCallCb(call, proto);
      break;
    case MsgTypes::GET_DBG_CTRLS_CALL:
      if (auto* call = dynamic_cast<GetDbgCtrlsCall*>(msg))
        return app->getDbgCtrlsCallCb(call, proto);
      break;
    case MsgTypes::SET_DBG_CTRLS_CALL:
      if (auto* call = dynamic_cast<SetDbgCtrlsCall*>(msg))
        return app->setDbgCtrlsCallCb(call, proto);
      break;
    case MsgTypes::GET_FAULT_CTRLS_CALL:
      if (auto* call = dynamic_cast<GetFaultCtrlsCall*>(msg))
        return app->getFaultCtrlsCallCb(call, proto);
      break;
    case MsgTypes::SET_FAULT_CTRLS_CALL:
      if (auto* call = dynamic_cast<SetFaultCtrlsCall*>(msg))
        return app->setFaultCtrlsCallCb(call, proto);
      break;
    case MsgTypes::GET_REV_DATA_CALL:
      if (auto* call = dynamic_cast<GetRevDataCall*>(msg))
        return app->getRevDataCallCb(call, proto);
      break;
    case MsgTypes::GET_PGM_INFO_CALL:
      if (auto* call = dynamic_cast<GetPgmInfoCall*>(msg))
        return app->getPgmInfoCallCb(call, proto);
      break;
    default: break;
  }
  const rc::VarArgs args = rc::VarArgs() << msg->msgType();
  rc::Out::instance()->printIntnlErr(RC_NON_FATAL, "unknown msg type", RC_SC_BAD_CASE_VALUE, args,
                                     false, __FILE__, __LINE__);
  IpcMsgProto::sendErrorReply(
      proto, *msg, rc::Err(RC_NON_FATAL, RC_SC_BAD_CASE_VALUE, args, "appcomps/App::callCCb"));
}

void App::pingMsgCb(PingMsg* /*msg*/) { traceReceived(this, "one-way ping"); }

void App::pingCallCb(PingCall* msg, IpcMsgProto* proto) {
  traceReceived(this, "ping call");
  PingReply pingReply(msg->pingData());
  reply(pingReply, *msg, proto);
}

void App::getDbgCtrlsCallCb(GetDbgCtrlsCall* msg, IpcMsgProto* proto) {
  traceReceived(this, "getDbgCtrls call");
  GetDbgCtrlsReply dbgReply(rc::Dbg::instance()->ctrls());
  reply(dbgReply, *msg, proto);
}

void App::setDbgCtrlsCallCb(SetDbgCtrlsCall* msg, IpcMsgProto* proto) {
  traceReceived(this, "setDbgCtrls call");
  rc::Dbg::instance()->mergeCtrls(msg->dbgCtrls());
  SetDbgCtrlsReply dbgReply;
  reply(dbgReply, *msg, proto);
}

void App::getFaultCtrlsCallCb(GetFaultCtrlsCall* msg, IpcMsgProto* proto) {
  traceReceived(this, "getFaultCtrls call");
  GetFaultCtrlsReply faultReply(*rc::fault::Api::instance()->ctrls());
  reply(faultReply, *msg, proto);
}

void App::setFaultCtrlsCallCb(SetFaultCtrlsCall* msg, IpcMsgProto* proto) {
  traceReceived(this, "setFaultCtrls call");
  rc::fault::Api* api = rc::fault::Api::instance();
  if (msg->clearExistingRules() && !msg->addNew()) {
    api->clearCtrls();
  } else if (msg->ctrls() != nullptr) {
    api->mergeCtrls(*msg->ctrls(), msg->clearExistingRules(), msg->addNew());
    if (rc::Dbg::s_anyOn && rc::Dbg::instance()->isOn(DM_AC, DF_MSG_DATA)) {
      rc::Dbg::instance()->print(DM_AC, DF_MSG_DATA, "set new ctrls:\n");
      api->ctrls()->dumpObj(1, nullptr);
    }
  }
  SetFaultCtrlsReply faultReply;
  reply(faultReply, *msg, proto);
}

void App::getRevDataCallCb(GetRevDataCall* msg, IpcMsgProto* proto) {
  traceReceived(this, "getRevData call");
  GetRevDataReply revReply{rc::RevData()};
  reply(revReply, *msg, proto);
}

void App::getPgmInfoCallCb(GetPgmInfoCall* msg, IpcMsgProto* proto) {
  traceReceived(this, "getPgmInfo call");
  GetPgmInfoReply infoReply(rc::PgmAttrs::pgmClass(), pgmType(), kStartTime);
  reply(infoReply, *msg, proto);
}

}  // namespace ac
