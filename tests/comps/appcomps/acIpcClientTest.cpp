// The blocking client against a peer that never reads: every wait ends in its time, and a
// watched descriptor is served while it lasts.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "comps/appcomps/acIpcClient.h"
#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcFd.h"
#include "qvTestUtil.h"

namespace {

// A message whose payload part is n bytes.
struct Bulky {
  explicit Bulky(size_t n) : payload(n) {
    const std::vector<char> zeros(n);
    payload.writeBytes(zeros.data(), n);
    msg.setRawPayload(&payload);
  }
  ~Bulky() { msg.setRawPayload(nullptr); }
  rc::ByteStrm payload;
  ac::IpcMsgHdr msg{1001, 1002, 0};
};

TEST(IpcClient, EveryWaitEndsInItsTime) {
  qvtest::TempDir tmp;
  const std::string path = tmp.path() + "/peer";
  // A listener with room for one connection in its backlog, which it never accepts.
  rc::Fd listener(socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener.get(), 0), 0);
  ac::IpcClient client(path, 200);
  struct Watch {
    qvtest::Pipe pipe;
    int served = 0;
  } watch;
  client.watchWhileWaiting(watch.pipe.rd, &watch, [](void* obj) {
    auto* w = static_cast<Watch*>(obj);
    w->served += w->pipe.drain() ? 1 : 0;
  });
  ASSERT_TRUE(watch.pipe.put());

  Bulky overLimit(ac::IpcFrameHdr::MAX_FRAME_DATA), overBuffer(ac::IpcFrameHdr::MAX_FRAME_DATA / 2);
  const int ux = rc::Err::UNIX_ERRNO;
  const struct {
    std::function<void()> call;
    int code, code2;
    std::string args;
  } cases[] = {
      {[&] { ac::IpcClient(path, 200); }, AC_SC_CONNECT_FAILED, EAGAIN | ux, path + ", 0"},
      {[&] { client.send(overBuffer.msg, 200); }, AC_SC_SEND_FAILED, EAGAIN | ux,
       std::to_string(client.fd())},
      {[&] { client.awaitReply(overBuffer.msg, 200); }, AC_SC_DBOS_REPLY_TIMED_OUT, 0, path},
      // Refused whole, before a byte goes out.
      {[&] { client.send(overLimit.msg, 200); }, AC_SC_BAD_PKT_HDR_FIELD, 0,
       "dataLen, " + std::to_string(ac::IpcFrameHdr::MAX_FRAME_DATA + 296)},
  };
  for (const auto& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const rc::Err err = qvtest::thrownErr(c.call);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    SCOPED_TRACE(c.code);
    EXPECT_EQ(err.code(), c.code);
    EXPECT_EQ(err.code2(), c.code2);
    EXPECT_EQ(err.args() != nullptr ? err.args()->asString() : "", c.args);
    EXPECT_LT(ms, 2000);
  }
  // The watched pipe was served once, and the waits went on after it.
  EXPECT_EQ(watch.served, 1);
}

}  // namespace
