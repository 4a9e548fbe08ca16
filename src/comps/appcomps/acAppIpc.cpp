// The application's part of the message layer: the handler table, the dispatch of received
// messages and the handlers of the standard messages every program answers.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <string_view>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acCtlServer.h"
#include "comps/appcomps/acIpcMsgProto.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/memcomps/base/memHeap.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcFaultRule.h"
#include "comps/recomps/rcLog.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcPgmAttrs.h"

namespace ac {

namespace {

// Taken while the program's image is initialised, which is as early as the program can tell.
const int32_t kStartTime = static_cast<int32_t>(time(nullptr));

unsigned appAddr(const App* app) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(app)); }

void traceReceived(const App* app, const char* what) {
  RC_TRACE(DM_AC, DF_MSG, "app [0x%x]: received %s message\n", appAddr(app), what);
}

// The audit trail of the controls: who (the client of a connection that knows it) changed what.
void logChange(int code, const IpcMsgProto* proto, const std::string& what) {
  if (proto == nullptr) return;
  const IpcPeer peer = proto->peerProcess();
  rc::Out::instance()->printLog(
      rc::Err(RC_INFO, code,
              rc::VarArgs() << static_cast<int>(peer.pid) << static_cast<int>(peer.uid) << what,
              "appcomps/App::logChange"),
      true);
}

// A fault controls change as qvctl's options would ask for it: "-clear", or "-Frf" (the rules
// replace the program's) or "-add" followed by the names of the rules sent.
std::string faultChange(const SetFaultCtrlsCall& msg) {
  if (msg.clearExistingRules() && !msg.addNew()) return "-clear";
  std::string what = msg.clearExistingRules() ? "-Frf" : "-add";
  const rc::fault::Rules* rules = msg.ctrls() != nullptr ? msg.ctrls()->rules() : nullptr;
  if (rules != nullptr) {
    for (const rc::fault::Rule* rule : *rules) what = what + " " + rule->name();
  }
  return what;
}

// The command line of a child, arguments joined by blanks (its name while it is a zombie); at
// most a line's worth.
std::string commandOf(int pid) {
  char buf[512];
  std::string text;
  for (const char* file : {"cmdline", "comm"}) {
    const std::string path = "/proc/" + std::to_string(pid) + "/" + file;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    const ssize_t n = read(fd, buf, sizeof buf);
    close(fd);
    if (n <= 0) continue;
    text.assign(buf, static_cast<size_t>(n));
    std::replace(text.begin(), text.end(), '\0', ' ');
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
    if (!text.empty()) break;
  }
  return text;
}

// Where trace lines go, as qvctl status shows it.
std::string dbgOutput() {
  const rc::Dbg* dbg = rc::Dbg::instance();
  std::string text = dbg->usingFile() ? std::string(dbg->outFilePath()) : "stdout";
  if (dbg->ctrls().teeToLog() == RC_B_YES) text += " + log";
  if (dbg->ctrls().teeToSysLog() == RC_B_YES) text += " + syslog";
  return text;
}

// The counts of the points the rules name; points come in name order.
void addRuleCounts(const rc::fault::Ctrls& ctrls, FaultPointVec* counts) {
  if (ctrls.rules() == nullptr) return;
  const rc::fault::PointStatsVec points = rc::fault::Api::points();
  for (const rc::fault::Rule* rule : *ctrls.rules()) {
    const auto at = std::lower_bound(
        points.begin(), points.end(), rule->nameView(),
        [](const rc::fault::PointStats& p, std::string_view name) { return p.name < name; });
    if (at != points.end() && at->name == rule->nameView()) {
      counts->entries.push_back(GetFaultPointsReply::pointEntry(*at));
    }
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

namespace {

// The standard messages every program answers, in the order their handlers are registered.
using StdHandlers =
    IpcMsgHandlers<&App::pingMsgCb, &App::pingCallCb, &App::getDbgCtrlsCallCb,
                   &App::setDbgCtrlsCallCb, &App::getFaultCtrlsCallCb, &App::setFaultCtrlsCallCb,
                   &App::getRevDataCallCb, &App::getPgmInfoCallCb, &App::getStatusCallCb,
                   &App::getFaultPointsCallCb, &App::followCallCb>;

}  // namespace

void App::initAppIpcMsgHandlers() { StdHandlers::addTo(ipcMsgHndlrTbl(true), this); }

void App::callCCb(void* cbObj, IpcMsgHdr* msg, IpcMsgProto* proto) {
  RC_ASSERT(cbObj);
  RC_ASSERT(msg);
  if (IpcMsgHndlrCCb handler = StdHandlers::find(msg->msgType())) return handler(cbObj, msg, proto);
  IpcMsgHndlrTbl::unknownMsg(msg, proto, "appcomps/App::callCCb");
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
  if (m_ctlServer != nullptr) m_ctlServer->followers().changedByOthers(msg->dbgCtrls());
  logChange(AC_SC_CTL_DBG_CHANGED, proto, msg->dbgCtrls().composeArgList().c_str());
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
    if (RC_TRACE_ON(DM_AC, DF_MSG_DATA)) {
      rc::Dbg::instance()->print(DM_AC, DF_MSG_DATA, "set new ctrls:\n");
      api->ctrls()->dumpObj(1, nullptr);
    }
  }
  logChange(AC_SC_CTL_FAULT_CHANGED, proto, faultChange(*msg));
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

void App::getStatusCallCb(GetStatusCall* msg, IpcMsgProto* proto) {
  traceReceived(this, "getStatus call");
  GetStatusReply statusReply;
  ProgramStatus& st = statusReply.status();
  st.program = programName() != nullptr ? programName() : "";
  st.pgmClass = rc::PgmAttrs::pgmClass();
  st.pgmType = pgmType();
  st.pid = static_cast<int>(getpid());
  st.startTime = kStartTime;
  const rc::RevData rev;
  st.revision = rev.revSymbol();
  st.build = rev.buildStr();
  const rc::Log* log = rc::Log::instance();
  if (log != nullptr && log->logDevice() != nullptr) {
    st.logFile = std::string(log->logDevice()->filePath());
  }
  st.dbgOutput = dbgOutput();
  st.dbgCtrls = rc::Dbg::instance()->ctrls();
  st.faultCtrls = *rc::fault::Api::instance()->ctrls();
  addRuleCounts(st.faultCtrls, &st.ruleCounts);
  if (m_childTbl != nullptr) {
    for (const ChildInfo* child : m_childTbl->infos()) {
      if (!child->isDead()) st.children.entries.push_back({child->pid(), commandOf(child->pid())});
    }
  }
  const rc::Timeval now = rc::Timeval::monotonicNow();
  m_timerQueue.forEachArmed([&](const AppTimer& timer) {
    const double ms = (timer.expireTime() - now).asDouble() * 1000.0;
    st.timers.entries.push_back(
        {timer.name(), timer.timerType(), ms > 0 ? static_cast<long long>(ms + 0.5) : 0});
  });
  std::stable_sort(st.timers.entries.begin(), st.timers.entries.end(),
                   [](const TimerEntry& a, const TimerEntry& b) { return a.msLeft < b.msLeft; });
  if (m_ctlServer != nullptr) {
    m_ctlServer->forEachPeer([&](const IpcPeer& peer) {
      st.conns.entries.push_back({static_cast<int>(peer.pid), static_cast<int>(peer.uid)});
    });
  }
  for (const mem::TypeUsage& use : mem::usageByType()) {
    st.heap.entries.push_back(
        {use.name != nullptr ? use.name : std::to_string(use.memType), use.blocks, use.bytes});
  }
  reply(statusReply, *msg, proto);
}

void App::getFaultPointsCallCb(GetFaultPointsCall* msg, IpcMsgProto* proto) {
  traceReceived(this, "getFaultPoints call");
  GetFaultPointsReply pointsReply(rc::fault::Api::points());
  reply(pointsReply, *msg, proto);
}

void App::followCallCb(FollowCall* msg, IpcMsgProto* proto) {
  traceReceived(this, "follow call");
  auto* conn = dynamic_cast<IpcStrmConn*>(proto);
  if (conn == nullptr || m_ctlServer == nullptr || conn->isFollower()) {
    FollowReply followReply;
    followReply.initReply(*msg);
    followReply.setStatus(
        rc::Err(RC_ERROR, AC_SC_CANNOT_FOLLOW, rc::VarArgs(), "appcomps/App::followCallCb"));
    if (proto != nullptr) proto->sendReply(&followReply);
    return;
  }
  const rc::DbgCtrls switched =
      m_ctlServer->followers().add(conn, conn->peerProcess(), msg->dbgCtrls());
  const std::string what = AppFollowers::steps(switched, '+');
  if (!what.empty()) logChange(AC_SC_CTL_DBG_CHANGED, proto, "trace " + what);
  FollowReply current(rc::Dbg::instance()->ctrls());
  reply(current, *msg, proto);
}

}  // namespace ac
