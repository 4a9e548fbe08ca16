// Message frames: whole frames survive any cut of the stream, through a real socket pair with a
// non-blocking writer; every kind of bad header is refused with its field.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "comps/appcomps/acIpcFrame.h"
#include "qvTestUtil.h"

namespace {

using ac::IpcFrameHdr;

struct Part2 {
  std::string msg, payload;
  bool operator==(const Part2&) const = default;
};

const std::vector<Part2> kFrames = {
    {"m", ""}, {"header+body", "payload bytes"}, {std::string(70000, 'x'), std::string(5, '\0')}};

std::string header(uint32_t magic, uint32_t msgLen, uint32_t payloadLen) {
  const IpcFrameHdr hdr = {magic, msgLen, payloadLen};
  return std::string(reinterpret_cast<const char*>(&hdr), sizeof hdr);
}

// Takes every complete frame out of the reader.
void takeFrames(ac::IpcFrameReader& reader, std::vector<Part2>* got) {
  ac::IpcFrame f;
  while (reader.nextFrame(&f)) got->push_back({{f.msg, f.msgLen}, {f.payload, f.payloadLen}});
}

TEST(IpcFrame, FramesPassASocketAndAnyCutOfTheStream) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
  ac::IpcFrameWriter writer;
  std::string stream;
  for (const Part2& f : kFrames) {
    writer.queue(f.msg.data(), f.msg.size(), f.payload.data(), f.payload.size());
    stream += header(IpcFrameHdr::MAGIC, f.msg.size(), f.payload.size()) + f.msg + f.payload;
  }
  ac::IpcFrameReader reader;
  std::vector<Part2> got;
  // Neither side may block: the writer stops when the socket is full, the reader when empty.
  for (int round = 0; got.size() < kFrames.size() && round < 100000; ++round) {
    writer.flush(fds[0]);
    while (reader.readFrom(fds[1]) == ac::IpcFrameReader::RR_DATA) takeFrames(reader, &got);
  }
  EXPECT_EQ(got, kFrames);
  close(fds[0]);
  EXPECT_EQ(reader.readFrom(fds[1]), ac::IpcFrameReader::RR_CLOSED);
  close(fds[1]);
  for (size_t step : {1, 7, 4096}) {
    ac::IpcFrameReader pieces;
    std::vector<Part2> all;
    for (size_t off = 0; off < stream.size(); off += step) {
      pieces.feed(stream.data() + off, std::min(step, stream.size() - off));
      takeFrames(pieces, &all);
    }
    EXPECT_EQ(all, kFrames) << step;
  }
}

TEST(IpcFrame, BadHeadersAndCutFramesAreCodedErrors) {
  const uint32_t m = IpcFrameHdr::MAGIC, limit = IpcFrameHdr::MAX_FRAME_DATA;
  struct Case {
    std::string bytes;
    const char* field;
  } cases[] = {{"GET / HTTP/1.0\r\n", "magic"},
               {header(m, 0, 0), "msgLen"},
               {header(m, 0xFFFFFFFF, 0), "msgLen"},
               {header(m, limit, 1), "payloadLen"},
               {header(m, 1, 0xFFFFFFFF), "payloadLen"}};
  for (const Case& c : cases) {
    ac::IpcFrameReader reader;
    reader.feed(c.bytes.data(), c.bytes.size());
    ac::IpcFrame frame;
    const rc::Err err = qvtest::thrownErr([&] { reader.nextFrame(&frame); });
    EXPECT_EQ(err.code(), AC_SC_BAD_PKT_HDR_FIELD) << c.field;
    EXPECT_STREQ(err.args() != nullptr ? (*err.args())[0] : "", c.field);
  }
  EXPECT_THROWS_CODE(ac::IpcFrameWriter().queue("x", limit, "", 1), AC_SC_BAD_PKT_HDR_FIELD);

  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  const std::string cut = header(m, 10, 0) + "12345";
  ASSERT_EQ(write(fds[0], cut.data(), cut.size()), static_cast<ssize_t>(cut.size()));
  close(fds[0]);
  ac::IpcFrameReader reader;
  EXPECT_EQ(reader.readFrom(fds[1]), ac::IpcFrameReader::RR_DATA);
  const rc::Err err = qvtest::thrownErr([&] { reader.readFrom(fds[1]); });
  EXPECT_EQ(err.code(), AC_SC_RECV_FAILED);
  EXPECT_EQ(err.code2(), AC_SC_CONNECTION_RESET);
  std::string msg, payload;
  EXPECT_THROWS_CODE(ac::IpcFrameWriter::readFrame(fds[1], &msg, &payload), AC_SC_RECV_FAILED);
  // A send error names the socket.
  ac::IpcFrameWriter writer;
  writer.queue("m", 1, "", 0);
  EXPECT_EQ(rc::Err::format(qvtest::thrownErr([&] { writer.flush(fds[1]); })),
            "Error: unable to send on socket (" + std::to_string(fds[1]) + ") - Broken pipe.");
  close(fds[1]);
}

}  // namespace
