#include <gtest/gtest.h>

#include "comps/appcomps/acIpcMsgFactory.h"
#include "comps/appcomps/acIpcMsgHndlrTbl.h"
#include "comps/appcomps/acPingMsgs.h"
#include "qvTestUtil.h"

namespace {

struct Calls {
  int count = 0;
  static void cb(void* obj, ac::IpcMsgHdr*, ac::IpcMsgProto*) { ++static_cast<Calls*>(obj)->count; }
  void replyCb(ac::PingReply*, ac::IpcMsgProto*) { ++count; }
};

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
  {
    qvtest::StdStreamsCapture capture;
    EXPECT_FALSE(tbl.invokeHandler(&reply, nullptr));
    EXPECT_NE(capture.err.text.find("no handler for message type 1002 (interaction id 11)"),
              std::string::npos)
        << capture.err.text;
  }
  // A typed reply handler is keyed by its class's type.
  tbl.add<&Calls::replyCb>(&second, 11, true);
  EXPECT_TRUE(tbl.invokeHandler(&reply, nullptr));
  EXPECT_EQ(second.count, 1);
  EXPECT_EQ(tbl.lookup(1002, 11), nullptr);
  tbl.remove(1002, 10);
  EXPECT_EQ(tbl.lookup(1002, 10), nullptr);
  EXPECT_EQ(qvtest::failedAssertion([&] { tbl.add(1002, &first, Calls::cb); }),
            "!ac::IpcMsgHdr::isReplyMsg (msgType)");
  EXPECT_EQ(qvtest::failedAssertion([&] { tbl.add(1001, 1, &first, Calls::cb, false); }),
            "ac::IpcMsgHdr::isReplyMsg (replyType)");
}
