// The application's part of the message layer: the standard handlers answer through the
// protocol object, and what nobody handles is answered with an error instead of an abort.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acIpcMsgFactory.h"
#include "comps/appcomps/acIpcMsgProto.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/memcomps/base/memNewDelete.h"
#include "comps/recomps/rcByteStrm.h"
#include "qvTestApp.h"
#include "qvTestUtil.h"

namespace {

// A protocol object that delivers everything here and keeps every reply, restored through the
// factory from the bytes it would have sent.
class TestProto : public ac::IpcMsgProto {
 public:
  bool isMsgForThisPgm(const ac::IpcMsgHdr* /*msg*/) override { return forUs; }
  void sendReply(ac::IpcMsgHdr* reply) override {
    rc::ByteStrm m(64), p(64);
    reply->saveMsg(m);
    reply->savePayload(p);
    ac::IpcMsgPtr back(ac::IpcMsgFactory::instance()->newIpcMsg(reply->msgType()));
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
  std::vector<ac::IpcMsgPtr> replies;
};

class IpcApp : public qvtest::TestApp {
 public:
  IpcApp() : qvtest::TestApp("ipcTest") {
    registerAppIpcMsgs();
    initAppIpcMsgHandlers();
  }
  ~IpcApp() override { ac::IpcMsgFactory::cleanupInstance(); }
  void forwardMsg(ac::IpcMsgHdr* msg, ac::IpcMsgProto*) override { forwarded = msg->msgType(); }
  int forwarded = 0;
};

}  // namespace

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

// The status counts the heap by memory type as it is when asked, and lists the armed timers with
// their time left.
TEST(App, StatusShowsHeapByTypeAndArmedTimers) {
  struct Block : mem::newDelete<mt_ac_msg_queue> {
    char bytes[200];
  };
  IpcApp app;
  TestProto proto;
  ac::AppTimer* timer =
      app.newTimer(ac::AppTimer::COUNTDOWN, nullptr, nullptr, rc::Timeval(10, 0), true, "probe");
  const auto ask = [&] {
    ac::GetStatusCall call(9);
    app.handleIpcMsgCb(&call, &proto);
    const auto* reply = proto.last<ac::GetStatusReply>();
    EXPECT_NE(reply, nullptr);
    ac::HeapEntry queue{};
    for (const ac::HeapEntry& h : reply->status().heap.entries) {
      if (h.type == "mt_ac_msg_queue") queue = h;
    }
    return std::make_pair(reply, queue);
  };
  const auto [before, was] = ask();
  constexpr int kBlocks = 50;
  std::vector<std::unique_ptr<Block>> held;
  for (int i = 0; i < kBlocks; ++i) held.push_back(std::make_unique<Block>());
  const auto [after, now] = ask();
  EXPECT_EQ(now.blocks, was.blocks + kBlocks);
  EXPECT_GE(now.bytes, was.bytes + kBlocks * sizeof(Block));
  EXPECT_EQ(after->status().pid, getpid());
  EXPECT_EQ(after->status().program, "ipcTest");
  ASSERT_EQ(after->status().timers.entries.size(), 1u);
  const ac::TimerEntry& probe = after->status().timers.entries[0];
  EXPECT_EQ(probe.name, "probe");
  EXPECT_EQ(probe.kind, ac::AppTimer::COUNTDOWN);
  EXPECT_GT(probe.msLeft, 9000);
  EXPECT_LE(probe.msLeft, 10000);
  rc::RefCnt_release(timer);
}

TEST(App, MessagesWithoutHandlerAreAnsweredWithAnErrorNotAnAbort) {
  IpcApp app;
  TestProto proto;
  ac::GetPgmTblCall noHandler;
  {
    qvtest::StdStreamsCapture capture;
    app.handleIpcMsgCb(&noHandler, &proto);
    EXPECT_NE(capture.err.text.find("Non-fatal Internal Error"), std::string::npos)
        << capture.err.text;
  }
  ASSERT_EQ(proto.replies.size(), 1u);
  const auto* reply = dynamic_cast<ac::IpcStsMsgHdr*>(proto.replies[0].get());
  EXPECT_EQ(reply->msgType(), 1008);
  EXPECT_EQ(reply->interactId(), noHandler.interactId());
  EXPECT_EQ(reply->status().code(), AC_SC_NO_MSG_HANDLER);

  // A type routed to the standard dispatcher that it does not know, and a standard type whose
  // object is not of its class (the program replaced the factory routine).
  app.addIpcMsgHandler(1007, &app, ac::App::callCCb);
  ac::IpcMsgHdr notAPing(1001, 1002, 0);
  for (ac::IpcMsgHdr* msg : {static_cast<ac::IpcMsgHdr*>(&noHandler), &notAPing}) {
    qvtest::StdStreamsCapture capture;
    app.handleIpcMsgCb(msg, &proto);
    EXPECT_NE(capture.err.text.find("unknown msg type"), std::string::npos) << capture.err.text;
    EXPECT_EQ(dynamic_cast<ac::IpcStsMsgHdr*>(proto.replies.back().get())->status().code(),
              RC_SC_BAD_CASE_VALUE);
    EXPECT_EQ(proto.replies.back()->interactId(), msg->interactId());
  }
}
