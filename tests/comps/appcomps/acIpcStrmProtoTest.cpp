// The stream transport on a socket pair, without an application: every message a connection
// receives goes to the sink it is given, and replies go back on the connection.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>
#include <string>
#include <vector>

#include "comps/appcomps/acIpcMsgFactory.h"
#include "comps/appcomps/acIpcStrmProto.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/appcomps/acPingMsgs.h"

namespace {

struct Sink {
  std::vector<std::string> comments;
  std::vector<bool> pendingTold;
  static void msgCCb(void* obj, ac::IpcMsgHdr* msg, ac::IpcMsgProto* proto) {
    auto* call = dynamic_cast<ac::PingCall*>(msg);
    ASSERT_NE(call, nullptr);
    static_cast<Sink*>(obj)->comments.push_back(call->pingData()->comment());
    std::unique_ptr<ac::IpcMsgHdr> reply(call->newReply());
    proto->sendReply(reply.get());
  }
  static void pendingCCb(void* obj, ac::IpcStrmConn* conn) {
    static_cast<Sink*>(obj)->pendingTold.push_back(conn->hasPendingOutput());
  }
};

}  // namespace

TEST(IpcStrmConn, DeliversToItsSinkRepliesOnTheConnectionAndTellsWhenRepliesWait) {
  ac::MsgTypes::registerMsgs();
  struct FactoryCleanup {
    ~FactoryCleanup() { ac::IpcMsgFactory::cleanupInstance(); }
  } cleanup;
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
  ac::IpcStrmConn conn(fds[0], "peer");
  rc::Fd peer(fds[1]);
  Sink sink;
  conn.setPendingWatcher(&sink, Sink::pendingCCb);

  // Two calls in one write; the peer takes no replies until the kernel's buffer is full.
  ac::IpcFrameWriter writer;
  for (const char* comment : {"a", "b"})
    ac::IpcStrmProto::encode(ac::PingCall(0, new ac::PingData(comment, 0)), &writer);
  ASSERT_TRUE(writer.flush(peer.get()));
  ASSERT_TRUE(conn.receive(&sink, Sink::msgCCb));
  EXPECT_EQ(sink.comments, (std::vector<std::string>{"a", "b"}));
  while (!conn.hasPendingOutput()) conn.send(ac::PingMsg());
  EXPECT_EQ(sink.pendingTold, std::vector<bool>{true});

  // The peer reads everything: the two replies first, and the connection hears that nothing waits.
  ac::IpcFrameReader reader;
  std::vector<short> types;
  for (;;) {
    const auto result = reader.readFrom(peer.get());
    ac::IpcFrame frame;
    while (reader.nextFrame(&frame)) types.push_back(ac::IpcStrmProto::decode(frame)->msgType());
    conn.flush();
    if (result != ac::IpcFrameReader::RR_DATA && !conn.hasPendingOutput()) break;
  }
  ASSERT_GE(types.size(), 3u);
  EXPECT_EQ(types[0], ac::MsgTypes::PING_REPLY);
  EXPECT_EQ(types[1], ac::MsgTypes::PING_REPLY);
  EXPECT_EQ(sink.pendingTold, (std::vector<bool>{true, false}));

  peer.reset();
  EXPECT_FALSE(conn.receive(&sink, Sink::msgCCb));
}
