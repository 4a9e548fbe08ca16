// ac::App's part of the message transport: the control channel, connections to other programs
// and the sending operations of the message layer.
#include <unistd.h>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acCtlChannel.h"
#include "comps/appcomps/acCtlServer.h"
#include "comps/appcomps/acIpcMsgFactory.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/recomps/rcOut.h"

namespace ac {

namespace {

// The standard messages, unless the program registered its own classes or handlers already.
void ensureStdMsgs(App* app) {
  if (IpcMsgFactory::instance()->lookup(MsgTypes::PING_CALL) == nullptr) App::registerAppIpcMsgs();
  if (app->ipcMsgHndlrTbl(true)->lookup(MsgTypes::PING_CALL) == nullptr)
    app->initAppIpcMsgHandlers();
}

// The server, made first when absent: it hands every message to the application.
CtlServer* ensureServer(App* app, CtlServer** slot) {
  ensureStdMsgs(app);
  if (*slot == nullptr) *slot = new CtlServer(app, app, App::handleIpcMsgCCb);
  return *slot;
}

}  // namespace

bool App::openCtlChannel(bool mustOpen) {
  ensureServer(this, &m_ctlServer);
  if (m_ctlServer->listenFd() >= 0) return true;
  try {
    m_ctlServer->listen(CtlChannel::socketPath(CtlChannel::prepareDir(), m_programName, getpid()));
  } catch (const rc::Err& err) {
    if (mustOpen) throw;
    // The channel serves operators; another user squatting its directory must not keep the
    // program itself from running.
    rc::Out::instance()->print(
        rc::Err(RC_WARNING, AC_SC_CTL_CHANNEL_OFF,
                rc::VarArgs() << rc::Err::format(err, rc::Err::FF_OMIT_SEVERITY),
                "appcomps/App::openCtlChannel"),
        true);
    return false;
  }
  return true;
}

void App::connectIpc(const std::string& path) { ensureServer(this, &m_ctlServer)->connectTo(path); }

void App::closeCtlChannel() {
  delete m_ctlServer;
  m_ctlServer = nullptr;
}

void App::sendIpcMsg(IpcMsgHdr* msg, bool deleteMsg) {
  IpcStrmConn* conn = m_ctlServer != nullptr ? m_ctlServer->outgoing() : nullptr;
  try {
    if (conn == nullptr) {
      rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_SEND_FAILED, rc::VarArgs() << "no connection",
                            "appcomps/App::sendIpcMsg"));
    }
    prepareForSend(msg);
    conn->send(*msg);
  } catch (...) {
    if (deleteMsg) delete msg;
    throw;
  }
  if (deleteMsg) delete msg;
}

void App::ipcMsgRpc(IpcMsgHdr* msg, void* handlerObj, IpcMsgHndlrCCb handler) {
  addIpcMsgHandler(msg->replyType(), msg->interactId(), handlerObj, handler, true);
  try {
    sendIpcMsg(msg, false);
  } catch (...) {
    // No reply can come for a call that was never sent.
    removeIpcMsgHandler(msg->replyType(), msg->interactId());
    throw;
  }
}

void App::forwardMsg(IpcMsgHdr* msg, IpcMsgProto* proto) {
  IpcStrmConn* conn = m_ctlServer != nullptr ? m_ctlServer->outgoing() : nullptr;
  if (conn != nullptr && conn != proto) {
    conn->send(*msg);
    return;
  }
  // Nowhere to pass it on: the caller of a call still learns that it will get no answer.
  const rc::Err err(RC_WARNING, AC_SC_IGNORING_MSG, rc::VarArgs() << msg->msgName(),
                    "appcomps/App::forwardMsg");
  rc::Out::instance()->print(err, true);
  IpcMsgProto::sendErrorReply(proto, *msg, err);
}

}  // namespace ac
