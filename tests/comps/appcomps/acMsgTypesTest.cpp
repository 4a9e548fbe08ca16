#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "comps/appcomps/acCtrlsMsgs.h"
#include "comps/appcomps/acFollowMsgs.h"
#include "comps/appcomps/acInfoMsgs.h"
#include "comps/appcomps/acIpcMsgFactory.h"
#include "comps/appcomps/acLoginMsgs.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/appcomps/acPingMsgs.h"
#include "comps/appcomps/acStatusMsgs.h"
#include "comps/appcomps/acTxMsgs.h"
#include "comps/recomps/rcDump.h"
#include "qvTestUtil.h"

namespace {

using qvtest::Bytes;
using MsgPtr = std::unique_ptr<ac::IpcMsgHdr>;

rc::fault::Ctrls faultCtrls() {
  rc::fault::Ctrls ctrls;
  ctrls.rules(true)->lookup("fp1", true);
  return ctrls;
}

rc::DbgCtrls dbgCtrls();

ac::GetStatusReply* statusReply() {
  auto* reply = new ac::GetStatusReply();
  ac::ProgramStatus& st = reply->status();
  st.program = "qvdemod";
  st.pid = 42;
  st.logFile = "/var/log/qv/qvdemod.log";
  st.dbgCtrls = dbgCtrls();
  st.faultCtrls = faultCtrls();
  st.ruleCounts.entries = {{"fp1", 7, 2}};
  st.children.entries = {{43, "/bin/true -x"}};
  st.timers.entries = {{"demo tick", 0, 1LL << 33}};
  st.conns.entries = {{44, 1000}};
  st.heap.entries = {{"mt_rc_string", 3, 1ULL << 32}};
  return reply;
}

rc::DbgCtrls dbgCtrls() {
  rc::DbgCtrls ctrls;
  ctrls.setModule(DM_AC);
  ctrls.setFlags(DF_MSG);
  return ctrls;
}

// One message of every class, with fields that are not their defaults.
std::vector<std::function<ac::IpcMsgHdr*()>> samples() {
  return {
      [] { return new ac::PingMsg(3); },
      [] { return new ac::PingCall(3, new ac::PingData("hello", 0)); },
      [] { return new ac::PingReply(new ac::PingData("back", 0)); },
      [] { return new ac::LoginCall(ac::LoginCall::PT_BEGIN, 4, 5, "db", "usr", "hash", "descr"); },
      [] { return new ac::LoginReply(ac::LoginCall::PT_AUTHENTICATE, 5, "salty"); },
      [] { return new ac::LoginStatusMsg(ac::LoginStatusMsg::ERROR_MSG, 4, "usr"); },
      [] { return new ac::TransactionCall(5, ac::TX_COMMIT, (1ull << 32) + 7); },
      [] {
        auto* reply = new ac::TransactionReply();
        reply->initReply(ac::TransactionCall(5, ac::TX_ABORT, 9));
        return reply;
      },
      [] { return new ac::GetDbgCtrlsCall(6); },
      [] { return new ac::GetDbgCtrlsReply(dbgCtrls()); },
      [] { return new ac::SetDbgCtrlsCall(6, dbgCtrls()); },
      [] { return new ac::SetDbgCtrlsReply(); },
      [] { return new ac::GetRevDataCall(6); },
      [] { return new ac::GetRevDataReply(rc::RevData()); },
      [] { return new ac::GetRevDataReply(); },
      [] { return new ac::GetPgmInfoCall(6); },
      [] { return new ac::GetPgmInfoReply(3, 931, 1700000000); },
      [] { return new ac::GetPgmTblCall(); },
      [] {
        auto* reply = new ac::GetPgmTblReply();
        reply->allocStrData()->append("pgm table");
        return reply;
      },
      [] {
        auto* call = new ac::GetFaultCtrlsCall(6);
        call->setDstSpuIp(0x0100007f);
        call->setDstSpuSlot(2);
        return call;
      },
      [] { return new ac::GetFaultCtrlsReply(faultCtrls()); },
      [] {
        auto* call = new ac::SetFaultCtrlsCall(6, faultCtrls());
        call->setClearExistingRules(true);
        call->setDstSpuSpa(3);
        return call;
      },
      [] { return new ac::SetFaultCtrlsReply(); },
      [] { return new ac::GetStatusCall(6); },
      [] { return statusReply(); },
      [] { return new ac::GetFaultPointsCall(6); },
      [] {
        rc::fault::PointStatsVec points;
        points.push_back({String("fp1"), 7, 2});
        return new ac::GetFaultPointsReply(points);
      },
      [] {
        auto* msg = new ac::TraceLinesMsg();
        msg->setDropped(5);
        msg->lines().append(rc::LK_TRACE, "[d,adc ] tick 1\n", 16);
        msg->lines().append(rc::LK_LOG, "Info: said", 10, true);
        return msg;
      },
      [] { return new ac::FollowCall(6, dbgCtrls()); },
      [] { return new ac::FollowReply(dbgCtrls()); },
  };
}

void registerAll() {
  ac::MsgTypes::registerMsgs();
  ac::MsgTypes::registerLoginMsgs(true);
  ac::MsgTypes::registerLoginMsgs(false);
  ac::MsgTypes::registerTxMsgs(true);
  ac::MsgTypes::registerTxMsgs(false);
  ac::MsgTypes::registerStatusMsg();
}

struct Images {
  Bytes msg;
  Bytes payload;
};

Images imagesOf(const ac::IpcMsgHdr& msg) {
  rc::ByteStrm m(16), p(16);
  msg.saveMsg(m);
  msg.savePayload(p);
  return {qvtest::bytesOf(m), qvtest::bytesOf(p)};
}

// A new message of the type, restored from image (and from the payload image).
MsgPtr received(short type, const Bytes& image, const Bytes& payload = {}) {
  rc::ByteStrm s(image.size() + 1), p(payload.size() + 1);
  s.writeBytes(image.data(), image.size());
  p.writeBytes(payload.data(), payload.size());
  MsgPtr msg(ac::IpcMsgFactory::instance()->newIpcMsg(type));
  if (msg == nullptr) return msg;
  msg->restoreMsg(s);
  if (!payload.empty()) msg->restorePayload(p);
  return msg;
}

std::string dumpOf(const ac::IpcMsgHdr& msg) {
  static std::string text;
  text.clear();
  rc::DumpSinkRtn old = rc::setDumpSink([](const char* line) { text += line; });
  msg.dump();
  rc::setDumpSink(old);
  return text;
}

}  // namespace

TEST(MsgTypes, EveryClassRoundTripsWithinItsSizesAndRefusesEveryCut) {
  registerAll();
  for (const auto& make : samples()) {
    const MsgPtr sent(make());
    const std::string name = sent->msgName();
    const Images images = imagesOf(*sent);
    EXPECT_GE(sent->binaryMsgSize(), images.msg.size()) << name;
    EXPECT_GE(sent->binaryPayloadSize(), images.payload.size()) << name;
    EXPECT_EQ(sent->hasPayload(), !images.payload.empty()) << name;

    const MsgPtr got = received(sent->msgType(), images.msg, images.payload);
    ASSERT_NE(got, nullptr) << name;
    EXPECT_EQ(std::string(got->msgName()), name);
    const Images back = imagesOf(*got);
    EXPECT_EQ(back.msg, images.msg) << name;
    EXPECT_EQ(back.payload, images.payload) << name;

    const MsgPtr copy(sent->copy(true));
    EXPECT_EQ(imagesOf(*copy).payload, images.payload) << name;
    qvtest::expectEveryCutRefused(
        images.msg, [&](rc::ByteStrm& s) { received(sent->msgType(), qvtest::bytesOf(s)); }, name);
    if (!images.payload.empty()) {
      qvtest::expectEveryCutRefused(
          images.payload,
          [&](rc::ByteStrm& s) {
            MsgPtr m(received(sent->msgType(), images.msg));
            m->restorePayload(s);
          },
          name + " payload");
    }
  }
  ac::IpcMsgFactory::cleanupInstance();
}

TEST(MsgTypes, FieldImagesAfterTheHeader) {
  ac::TransactionCall tx(5, ac::TX_COMMIT, (1ull << 32) + 7);
  ac::SetFaultCtrlsCall setFault(6);
  setFault.setClearExistingRules(true);
  setFault.setAddNew(true);
  setFault.setDstSpuIp(0x0100007f);
  ac::LoginCall login(ac::LoginCall::PT_BEGIN, 4, 5, "d", "u", "h", std::string(600, 'x'));
  rc::fault::PointStatsVec points;
  points.push_back({String("fp"), (1ull << 32) + 3, 1});
  const ac::GetFaultPointsReply faultPoints(points);
  std::unique_ptr<ac::GetStatusReply> status(statusReply());
  status->status().dbgCtrls = rc::DbgCtrls();
  status->status().faultCtrls = rc::fault::Ctrls();
  const Bytes dbg = imagesOf(ac::GetDbgCtrlsReply(rc::DbgCtrls())).msg;
  const Bytes fault = imagesOf(ac::GetFaultCtrlsReply(rc::fault::Ctrls())).payload;
  ac::TraceLinesMsg lines;
  lines.setDropped(3);
  lines.lines().append(rc::LK_LOG, "ab", 2, true);
  const struct {
    const ac::IpcMsgHdr* msg;
    size_t hdrSize;
    Bytes fields;
  } rows[] = {
      {&tx, 296, qvtest::ByteImage().i32(1).i64((1ull << 32) + 7)},
      {&setFault, 296, qvtest::ByteImage().i32(0x0100007f).i32(0).i32(0).i32(1).i32(1)},
      {&login, 296,
       qvtest::ByteImage().i32(1).str("d").str("u").str("h").str(std::string(512, 'x')).i32(0)},
      // Counts are 64-bit whatever the build.
      {&faultPoints, 328, qvtest::ByteImage().i32(1).str("fp").i64((1ull << 32) + 3).i64(1)},
      {status.get(), 328,
       qvtest::ByteImage()
           .str("qvdemod")
           .i32(0)
           .i32(0)
           .i32(42)
           .i32(0)
           .str("")
           .str("")
           .str("/var/log/qv/qvdemod.log")
           .str("")
           .bytes(Bytes(dbg.begin() + 328, dbg.end()))
           .bytes(fault)
           .i32(1)
           .str("fp1")
           .i64(7)
           .i64(2)
           .i32(1)
           .i32(43)
           .str("/bin/true -x")
           .i32(1)
           .str("demo tick")
           .i32(0)
           .i64(1ull << 33)
           .i32(1)
           .i32(44)
           .i32(1000)
           .i32(1)
           .str("mt_rc_string")
           .i64(3)
           .i64(1ull << 32)},
      {&lines, 296, qvtest::ByteImage().i32(3).i32(1).i32(1).str("ab\n")},
  };
  for (const auto& row : rows) {
    const Bytes image = imagesOf(*row.msg).msg;
    ASSERT_GT(image.size(), row.hdrSize);
    qvtest::expectImage(Bytes(image.begin() + static_cast<long>(row.hdrSize), image.end()),
                        row.fields, row.msg->msgName());
  }
  EXPECT_NE(dumpOf(tx).find("  txType = TX_COMMIT, txId = 1,7\n"), std::string::npos);
  EXPECT_NE(dumpOf(setFault).find("IP address = 127.0.0.1, SPA/Slot = 0/0\nclear rules = yes\n"
                                  "is add = yes\n"),
            std::string::npos)
      << dumpOf(setFault);
  EXPECT_EQ(login.interactId(), 1);
  EXPECT_EQ(login.srcPgmId(), 4);

  // Any non-zero flag reads back as true; a reply without revision data says so with a 0.
  Bytes image = imagesOf(setFault).msg;
  image[image.size() - 8] = 7;
  ac::SetFaultCtrlsCall got;
  rc::ByteStrm s(image.size());
  s.writeBytes(image.data(), image.size());
  got.restoreMsg(s);
  EXPECT_TRUE(got.clearExistingRules());
  // A list longer than its bound is refused before anything is allocated for it.
  for (const int count : {-1, ac::MAX_STATUS_LIST + 1}) {
    Bytes over = imagesOf(faultPoints).msg;
    over.resize(328);
    const Bytes tail = qvtest::ByteImage().i32(count).str("fp").i64(3).i64(1);
    over.insert(over.end(), tail.begin(), tail.end());
    ac::GetFaultPointsReply back;
    rc::ByteStrm s(over.size());
    s.writeBytes(over.data(), over.size());
    EXPECT_EQ(qvtest::thrownErr([&] { back.restoreMsg(s); }).code(), RC_SC_READ_FAILED) << count;
  }
  const Bytes noRev = imagesOf(ac::GetRevDataReply()).msg;
  EXPECT_EQ(noRev.size(), 296u + 32u + 4u);
  EXPECT_EQ(noRev.back(), 0);
}

// Line counts no bytes could hold and kinds other than trace and log are refused from a peer.
TEST(MsgTypes, TraceLinesRefuseImpossibleCountsAndKinds) {
  const Bytes rows[] = {
      qvtest::ByteImage().i32(-1),
      qvtest::ByteImage().i32(0x10000000).i32(0).str("x"),
      qvtest::ByteImage().i32(1).i32(2).str("x"),
  };
  for (const Bytes& row : rows) {
    rc::ByteStrm s(row.size() + 1);
    s.writeBytes(row.data(), row.size());
    ac::TraceLines lines;
    EXPECT_EQ(qvtest::thrownErr([&] { lines.restoreFrom(s); }).code(), RC_SC_READ_FAILED);
  }
}

TEST(MsgTypes, RegistrationFollowsTheRole) {
  ac::MsgTypes::registerLoginMsgs(true);
  ac::MsgTypes::registerTxMsgs(false);
  const ac::IpcMsgFactory* factory = ac::IpcMsgFactory::instance();
  EXPECT_STREQ(MsgPtr(factory->newIpcMsg(1003))->msgName(), "LoginCall");
  EXPECT_EQ(factory->newIpcMsg(1004), nullptr);
  EXPECT_STREQ(MsgPtr(factory->newIpcMsg(1018))->msgName(), "TransactionReply");
  EXPECT_EQ(factory->newIpcMsg(1017), nullptr);
  ac::IpcMsgFactory::cleanupInstance();
}

TEST(MsgTypes, PingDataIsSharedByShallowCopiesOnly) {
  auto* data = new ac::PingData("x", 0);
  data->setMsgCount(3);
  auto* call = new ac::PingCall(3, data);
  EXPECT_EQ(data->references(), 1);
  MsgPtr shallow(call->copy(false));
  MsgPtr deep(call->copy(true));
  EXPECT_EQ(data->references(), 2);
  const auto* deepData = static_cast<ac::PingCall*>(deep.get())->pingData();
  EXPECT_NE(deepData, data);
  EXPECT_EQ(deepData->references(), 1);
  EXPECT_EQ(deepData->msgCount(), 3);
  delete call;
  EXPECT_EQ(data->references(), 1);
  // A payload must not arrive into a message that already shares its data.
  rc::ByteStrm s(16);
  data->saveOn(s);
  EXPECT_EQ(qvtest::failedAssertion([&] { shallow->restorePayload(s); }), "m_pingData == NULL");
}
