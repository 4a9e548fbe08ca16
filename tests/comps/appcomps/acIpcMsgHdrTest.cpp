#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "comps/appcomps/acIpcMsgHdr.h"
#include "comps/recomps/rcByteStrm.h"
#include "qvTestUtil.h"

namespace {

using qvtest::ByteImage;
using qvtest::Bytes;

// A call from program 5 (host 1, client 3) to program 7 (host 2, client 4, SPU 9) by "ann".
ac::IpcStsMsgHdr sampleHdr() {
  ac::IpcStsMsgHdr hdr(1001, 1002, 7);
  hdr.setSrcPgmId(5);
  hdr.setSrcHostId(1);
  hdr.setDstHostId(2);
  hdr.setSrcClientId(3);
  hdr.setDstClientId(4);
  hdr.setDstSpuId(9);
  hdr.setUser("ann");
  hdr.setInteractId(77);
  return hdr;
}

// The sample's header on the wire; toCaller: addressed back to the sample's sender.
ByteImage hdrWire(int type, int replyType, unsigned flags, int marker, int version = 23,
                  bool toCaller = false) {
  const int userBytes = version > 9 ? 256 : 32;
  ByteImage w;
  w.i16(type).i16(replyType).i16(static_cast<int>(flags)).i16(version).i32(0);
  if ((flags & ac::IpcMsgHdr::MF_TINY_HDR) == 0) {
    if (toCaller) {
      w.i16(7).i16(5).i16(2).i16(1).i16(4).i16(3).i32(9).i32(0);
    } else {
      w.i16(5).i16(7).i16(1).i16(2).i16(3).i16(4).i32(0).i32(9);
    }
    w.bytes({'a', 'n', 'n'}).fill(0, static_cast<size_t>(userBytes - 3));
  }
  return w.i32(77).i32(marker);
}

Bytes saved(const ac::IpcMsgHdr& msg, bool oldFormat = false) {
  rc::ByteStrm s(64);
  if (oldFormat) {
    msg.saveMsgInOldFormat(s);
  } else {
    msg.saveMsg(s);
  }
  return qvtest::bytesOf(s);
}

}  // namespace

TEST(IpcMsgHdr, KindsFollowFromTheType) {
  const struct {
    int type;
    bool oneWay, call, reply;
  } rows[] = {{1, true, false, false},    {1000, true, false, false}, {1001, false, true, false},
              {1002, false, false, true}, {0, false, false, false},   {-3, false, false, false}};
  for (const auto& row : rows) {
    EXPECT_EQ(ac::IpcMsgHdr::isOneWayMsg(row.type), row.oneWay) << row.type;
    EXPECT_EQ(ac::IpcMsgHdr::isCallMsg(row.type), row.call) << row.type;
    EXPECT_EQ(ac::IpcMsgHdr::isReplyMsg(row.type), row.reply) << row.type;
    ac::IpcMsgHdr hdr(static_cast<short>(row.type), 0, 0);
    EXPECT_EQ(hdr.isCallMsg(), row.call);
  }
}

TEST(IpcMsgHdr, WireImagesOfTheHeaderForms) {
  ac::IpcMsgHdr full(sampleHdr());
  rc::ByteStrm payload(8);
  payload << 1;
  ac::IpcMsgHdr withPayload(full);
  withPayload.setRawPayload(&payload);
  ac::IpcMsgHdr tiny(full);
  tiny.setMsgFlag(ac::IpcMsgHdr::MF_TINY_HDR);
  ac::IpcMsgHdr old(full);
  old.setVersion(9);
  const struct {
    const ac::IpcMsgHdr* hdr;
    bool oldFormat;
    Bytes want;
  } rows[] = {
      {&full, false, hdrWire(1001, 1002, 0, 0)},
      {&withPayload, false, hdrWire(1001, 1002, 0, 1)},
      {&withPayload, true, hdrWire(1001, 1002, 0, 0)},
      {&tiny, false, hdrWire(1001, 1002, ac::IpcMsgHdr::MF_TINY_HDR, 0)},
      {&old, false, hdrWire(1001, 1002, 0, 0, 9)},
  };
  for (const auto& row : rows) qvtest::expectImage(saved(*row.hdr, row.oldFormat), row.want);
  EXPECT_EQ(saved(full).size(), 296u);
  EXPECT_EQ(saved(tiny).size(), 20u);
  EXPECT_EQ(tiny.binaryMsgSize(), 296u);
  withPayload.setRawPayload(nullptr);
}

TEST(IpcMsgHdr, StatusReplyImageAndOldFormatForOlderPeers) {
  ac::IpcStsMsgHdr reply = sampleHdr();
  reply.setMsgType(1002);
  ByteImage want = hdrWire(1002, 1002, 0, 0);
  want.i32(0).i32(0).i32(0).i32(0).i32(0).i32(0).str("").str("");
  qvtest::expectImage(saved(reply), want, "empty status");
  EXPECT_EQ(saved(reply).size(), 296u + 32u);
  EXPECT_GE(reply.binaryMsgSize(), saved(reply).size());

  // A version error to a peer of version 22 goes out in the form that peer reads.
  rc::ByteStrm payload(8);
  reply.setRawPayload(&payload);
  reply.setVersion(22);
  reply.setStatus(rc::Err(RC_ERROR, AC_SC_BAD_MSG_HDR_VER, rc::VarArgs() << 22 << 23, "r"));
  const Bytes image = saved(reply);
  EXPECT_EQ(image[295], 0);
  EXPECT_GE(reply.binaryMsgSize(), image.size());
  reply.setVersion(23);
  EXPECT_EQ(saved(reply)[292], 1);  // marker set in the current format
  reply.setRawPayload(nullptr);
}

TEST(IpcMsgHdr, RestoresWhatWasSavedAndRefusesDamage) {
  ac::IpcStsMsgHdr sent = sampleHdr();
  sent.setStatus(rc::Err(RC_WARNING, RC_SC_OPEN_FAILED, rc::VarArgs() << "/x", "a/B::c"));
  for (bool tiny : {false, true}) {
    if (tiny) sent.setMsgFlag(ac::IpcMsgHdr::MF_TINY_HDR);
    const Bytes image = saved(sent);
    rc::ByteStrm in(image.size());
    in.writeBytes(image.data(), image.size());
    ac::IpcStsMsgHdr got;
    got.restoreMsg(in);
    EXPECT_EQ(saved(got), image);
    EXPECT_EQ(got.interactId(), 77);
    EXPECT_EQ(got.status().code(), RC_SC_OPEN_FAILED);
    qvtest::expectEveryCutRefused(
        image, [](rc::ByteStrm& s) { ac::IpcStsMsgHdr().restoreMsg(s); }, "status header");
  }
}

// Read up to the interaction id, or as far as a short header goes (the last row read: 7 the SPU
// ids, 9 the interaction id), so that the version error can be answered.
TEST(IpcMsgHdr, OtherVersionsAreReadAsFarAsTheyGoAndAnsweredInTheirFormat) {
  const struct {
    int version, cut, lastRow;
  } rows[] = {{22, 0, 9}, {24, 0, 9}, {22, 100, 7}, {9, 0, 7}, {22, 280, 5}};
  for (const auto& row : rows) {
    Bytes image = hdrWire(1001, 1002, 0, 0, row.version);
    image.resize(image.size() - row.cut);
    rc::ByteStrm in(image.size());
    in.writeBytes(image.data(), image.size());
    ac::IpcMsgHdr got;
    const rc::Err err = qvtest::thrownErr([&] { got.restoreMsg(in); });
    EXPECT_EQ(rc::Err::format(err), "Error: message header version " + std::to_string(row.version) +
                                        " is not the expected version 23.");
    EXPECT_EQ(got.srcPgmId() == 5 && got.dstSpuId() == 9, row.lastRow >= 7) << row.cut;
    EXPECT_EQ(got.interactId() == 77 && got.user() == std::string("ann"), row.lastRow == 9);
    if (row.version != 22 || row.lastRow != 9) continue;
    ac::IpcStsMsgHdr reply;
    reply.initReplyHdr(got);
    reply.setVersion(got.version());
    reply.setStatus(err);
    rc::ByteStrm payload(8), status(64);
    reply.setRawPayload(&payload);
    err.saveOn(status);
    qvtest::expectImage(saved(reply),
                        hdrWire(1002, 0, 0, 0, 22, true).bytes(qvtest::bytesOf(status)));
    reply.setRawPayload(nullptr);
  }
}

TEST(IpcMsgHdr, ReceivedHeadersAreStrangersInput) {
  ac::IpcMsgHdr got;
  // A user field without a terminator keeps 128 characters; a payload marker is only a flag.
  Bytes w = hdrWire(1001, 1002, 0, 0x12345678);
  std::fill(w.begin() + 32, w.begin() + 288, 'u');
  rc::ByteStrm s(w.size());
  s.writeBytes(w.data(), w.size());
  got.restoreMsg(s);
  EXPECT_EQ(std::string(got.user()), std::string(128, 'u'));
  EXPECT_TRUE(got.payloadFollows());
  EXPECT_FALSE(got.hasPayload());
  EXPECT_EQ(got.binaryPayloadSize(), 0u);
  EXPECT_EQ(got.rawPayload(), nullptr);
}

TEST(IpcMsgHdr, InteractionIdsUsersAndReplies) {
  ac::IpcMsgHdr first;
  ac::IpcMsgHdr second;
  EXPECT_EQ(second.interactId(), first.interactId() + 1);
  EXPECT_EQ(ac::IpcMsgHdr(second).interactId(), second.interactId());
  const int saved = ac::IpcMsgHdr::s_nextInteractId;
  ac::IpcMsgHdr::s_nextInteractId = INT_MAX;
  EXPECT_EQ(ac::IpcMsgHdr().interactId(), 1);
  ac::IpcMsgHdr::s_nextInteractId = -5;
  EXPECT_EQ(ac::IpcMsgHdr().interactId(), 1);
  ac::IpcMsgHdr::s_nextInteractId = saved;

  first.setUser(std::string(200, 'x').c_str());
  EXPECT_EQ(strlen(first.user()), 128u);
  first.setUser(nullptr);
  EXPECT_STREQ(first.user(), "");

  ac::IpcStsMsgHdr reply;
  reply.initReplyHdr(sampleHdr());
  EXPECT_EQ(reply.msgType(), 1002);
  EXPECT_EQ(reply.srcPgmId(), 7);
  EXPECT_EQ(reply.dstPgmId(), 5);
  EXPECT_EQ(reply.srcHostId(), 2);
  EXPECT_EQ(reply.dstClientId(), 3);
  EXPECT_EQ(reply.srcSpuId(), 9);
  EXPECT_STREQ(reply.user(), "ann");
  EXPECT_EQ(reply.interactId(), 77);
  EXPECT_EQ(qvtest::failedAssertion([] { ac::IpcMsgHdr(1, 0, 0).newReply(); }), "isCallMsg ()");
  EXPECT_EQ(qvtest::failedAssertion([] { ac::IpcMsgHdr(1001, 1002, 0).newReply(); }),
            "unimplemented IpcMsgHdr::newReplyMsg ()");
}
