#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acCtrlsMsgs.h"
#include "comps/appcomps/acInfoMsgs.h"
#include "comps/appcomps/acIpcMsgFactory.h"
#include "comps/appcomps/acIpcMsgHndlrTbl.h"
#include "comps/appcomps/acIpcMsgProto.h"
#include "comps/appcomps/acPingMsgs.h"
#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcOut.h"
#include "qvTestUtil.h"

namespace {

using MsgPtr = std::unique_ptr<ac::IpcMsgHdr>;

// A protocol object that delivers everything here and keeps every reply, restored through the
// factory from the bytes it would have sent.
class TestProto : public ac::IpcMsgProto {
 public:
  bool isMsgForThisPgm(const ac::IpcMsgHdr* /*msg*/) override { return forUs; }
  void sendReply(ac::IpcMsgHdr* reply) override {
    rc::ByteStrm m(64), p(64);
    reply->saveMsg(m);
    reply->savePayload(p);
    MsgPtr back(ac::IpcMsgFactory::instance()->newIpcMsg(reply->msgType()));
    if (back == nullptr) back.reset(new ac::IpcStsMsgHdr());
    back->restoreMsg(m);
    if (p.size() != 0) back->restorePayload(p);
    replies.push_back(std::move(back));
  }
  template <class T>
  T* last() {
    return replies.empty() ? nullptr : dynamic_cast<T*>(replies.back().get());
  }
  bool forUs = true;
  std::vector<MsgPtr> replies;
};

class IpcApp : public ac::App {
 public:
  IpcApp() : ac::App("ipcTest", 0, AF_DEFAULT) {
    registerAppIpcMsgs();
    initAppIpcMsgHandlers();
  }
  ~IpcApp() override { ac::IpcMsgFactory::cleanupInstance(); }
  void printUsage() const override {}
  void forwardMsg(ac::IpcMsgHdr* msg, ac::IpcMsgProto*) override { forwarded = msg->msgType(); }
  int forwarded = 0;
};

struct Calls {
  int count = 0;
  static void cb(void* obj, ac::IpcMsgHdr*, ac::IpcMsgProto*) { ++static_cast<Calls*>(obj)->count; }
};

// Runs fn with standard error captured.
std::string stdErrOf(const std::function<void()>& fn) {
  qvtest::CaptureDevice capture;
  rc::Out::instance()->setStdErrDevice(&capture);
  fn();
  rc::Out::instance()->setStdErrDevice(nullptr);
  return capture.text;
}

}  // namespace

TEST(IpcMsgFactory, TablesGrowInStepsOf64) {
  const struct {
    int type;
    size_t size;
  } rows[] = {{1050, 64}, {1100, 128}, {1200, 256}, {40, 96}};
  for (const auto& row : rows) {
    ac::IpcMsgFactory factory;
    factory.add(row.type, ac::PingMsg::newInstance);
    const auto& recs = row.type < 1001 ? factory.oneWayRecs() : factory.callReplyRecs();
    EXPECT_EQ(recs.size(), row.size) << row.type;
    EXPECT_NE(factory.lookup(row.type), nullptr);
    ac::IpcMsgHndlrTbl tbl;
    Calls calls;
    tbl.add(row.type | 1, &calls, Calls::cb);  // a call type in the same slot range
    EXPECT_EQ((row.type < 1001 ? tbl.oneWayHandlers() : tbl.callHandlers()).size(), row.size);
  }
  ac::IpcMsgFactory factory;
  for (int type : {0, -1, 1003, 5000}) EXPECT_EQ(factory.newIpcMsg(type), nullptr) << type;
}

TEST(IpcMsgHndlrTbl, EntriesAreReplacedKeyedAndAutoRemoved) {
  ac::IpcMsgHndlrTbl tbl;
  Calls first, second;
  tbl.add(5, &first, Calls::cb);
  tbl.add(5, &second, Calls::cb);
  tbl.add(1002, 10, &first, Calls::cb, false);
  tbl.add(1002, 11, &first, Calls::cb, true);
  tbl.add(1002, 10, &second, Calls::cb, false);
  EXPECT_EQ(tbl.replyHandlers().size(), 2u);
  EXPECT_EQ(tbl.lookup(5)->m_handlerObj, &second);
  EXPECT_EQ(tbl.lookup(1002, 10)->m_handlerObj, &second);

  ac::PingReply reply;
  reply.setInteractId(11);
  EXPECT_TRUE(tbl.invokeHandler(&reply, nullptr));
  EXPECT_EQ(first.count, 1);
  EXPECT_EQ(tbl.lookup(1002, 11), nullptr);
  // The second reply to an auto-removed entry is reported, dropped, and the program goes on.
  bool handled = true;
  const std::string err = stdErrOf([&] { handled = tbl.invokeHandler(&reply, nullptr); });
  EXPECT_FALSE(handled);
  EXPECT_NE(err.find("no handler for message type 1002 (interaction id 11)"), std::string::npos)
      << err;
  tbl.remove(1002, 10);
  EXPECT_EQ(tbl.lookup(1002, 10), nullptr);
  EXPECT_EQ(qvtest::failedAssertion([&] { tbl.add(1002, &first, Calls::cb); }),
            "!ac::IpcMsgHdr::isReplyMsg (msgType)");
  EXPECT_EQ(qvtest::failedAssertion([&] { tbl.add(1001, 1, &first, Calls::cb, false); }),
            "ac::IpcMsgHdr::isReplyMsg (replyType)");
}

TEST(App, StandardHandlersAnswerThroughTheProtocolObject) {
  IpcApp app;
  TestProto proto;
  auto* data = new ac::PingData("x", 0);
  data->setMsgCount(3);
  ac::PingCall ping(9, data);
  ping.setSrcPgmId(4);
  app.handleIpcMsgCb(&ping, &proto);
  auto* pingReply = proto.last<ac::PingReply>();
  ASSERT_NE(pingReply, nullptr);
  EXPECT_EQ(pingReply->interactId(), ping.interactId());
  EXPECT_EQ(pingReply->dstPgmId(), 4);
  EXPECT_STREQ(pingReply->pingData()->comment(), "x");
  EXPECT_EQ(pingReply->pingData()->msgCount(), 3);
  EXPECT_TRUE(pingReply->isStatusOk());

  rc::DbgCtrls saved = rc::Dbg::instance()->ctrls();
  rc::DbgCtrls wanted(RC_B_AS_IS);
  wanted.setModule(DM_IPC);
  ac::SetDbgCtrlsCall setDbg(9, wanted);
  app.handleIpcMsgCb(&setDbg, &proto);
  EXPECT_NE(proto.last<ac::SetDbgCtrlsReply>(), nullptr);
  ac::GetDbgCtrlsCall getDbg(9);
  app.handleIpcMsgCb(&getDbg, &proto);
  ASSERT_NE(proto.last<ac::GetDbgCtrlsReply>(), nullptr);
  EXPECT_TRUE(proto.last<ac::GetDbgCtrlsReply>()->dbgCtrls().isModuleOn(DM_IPC));
  rc::Dbg::instance()->setCtrls(saved);

  ac::GetRevDataCall getRev(9);
  app.handleIpcMsgCb(&getRev, &proto);
  ASSERT_NE(proto.last<ac::GetRevDataReply>(), nullptr);
  EXPECT_STREQ(proto.last<ac::GetRevDataReply>()->revData()->revSymbol(),
               rc::RevData().revSymbol());
  ac::GetPgmInfoCall getInfo(9);
  app.handleIpcMsgCb(&getInfo, &proto);
  ASSERT_NE(proto.last<ac::GetPgmInfoReply>(), nullptr);
  EXPECT_EQ(proto.last<ac::GetPgmInfoReply>()->pgmType(), app.pgmType());
  EXPECT_GT(proto.last<ac::GetPgmInfoReply>()->startTime(), 0);

  proto.forUs = false;
  app.handleIpcMsgCb(&getRev, &proto);
  EXPECT_EQ(app.forwarded, 1011);
}

TEST(App, FaultControlsAreMergedOrCleared) {
  IpcApp app;
  TestProto proto;
  rc::fault::Api* api = rc::fault::Api::instance();
  api->clearCtrls();
  rc::fault::Ctrls present, sent;
  present.rules(true)->lookup("fp1", true);
  present.rules(true)->lookup("fp2", true);
  sent.rules(true)->lookup("fp1", true);
  // Merging adds (addNew) or removes the call's rules; clearing without adding drops them all.
  const struct {
    bool clear, addNew;
    bool hasFp1, hasFp2;
  } rows[] = {{false, true, true, true}, {true, false, false, false}, {false, false, false, true}};
  for (const auto& row : rows) {
    api->clearCtrls();
    api->mergeCtrls(present, false, true);
    ac::SetFaultCtrlsCall call(9, sent);
    call.setClearExistingRules(row.clear);
    call.setAddNew(row.addNew);
    app.handleIpcMsgCb(&call, &proto);
    EXPECT_NE(proto.last<ac::SetFaultCtrlsReply>(), nullptr);
    ac::GetFaultCtrlsCall get(9);
    app.handleIpcMsgCb(&get, &proto);
    const auto* got = proto.last<ac::GetFaultCtrlsReply>();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->ctrls()->lookupRule("fp1") != nullptr, row.hasFp1) << row.clear << row.addNew;
    EXPECT_EQ(got->ctrls()->lookupRule("fp2") != nullptr, row.hasFp2) << row.clear << row.addNew;
  }
  api->clearCtrls();
}

TEST(App, MessagesWithoutHandlerAreAnsweredWithAnErrorNotAnAbort) {
  IpcApp app;
  TestProto proto;
  ac::GetPgmTblCall noHandler;
  const std::string err = stdErrOf([&] { app.handleIpcMsgCb(&noHandler, &proto); });
  EXPECT_NE(err.find("Non-fatal Internal Error"), std::string::npos) << err;
  ASSERT_EQ(proto.replies.size(), 1u);
  const auto* reply = dynamic_cast<ac::IpcStsMsgHdr*>(proto.replies[0].get());
  EXPECT_EQ(reply->msgType(), 1008);
  EXPECT_EQ(reply->interactId(), noHandler.interactId());
  EXPECT_EQ(reply->status().code(), AC_SC_NO_MSG_HANDLER);

  // A type routed to the standard dispatcher that it does not know.
  app.addIpcMsgHandler(1007, &app, ac::App::callCCb);
  const std::string err2 = stdErrOf([&] { app.handleIpcMsgCb(&noHandler, &proto); });
  EXPECT_NE(err2.find("unknown msg type"), std::string::npos) << err2;
  EXPECT_EQ(dynamic_cast<ac::IpcStsMsgHdr*>(proto.replies.back().get())->status().code(),
            RC_SC_BAD_CASE_VALUE);
}
