#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acCtlChannel.h"
#include "comps/appcomps/acCtlServer.h"
#include "comps/appcomps/acCtrlsMsgs.h"
#include "comps/appcomps/acFollowMsgs.h"
#include "comps/appcomps/acInfoMsgs.h"
#include "comps/appcomps/acIpcClient.h"
#include "comps/appcomps/acIpcMsgFactory.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/appcomps/acPingMsgs.h"
#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDbg.h"
#include "qvTestApp.h"
#include "qvTestSupport.h"
#include "qvTestUtil.h"

namespace {

// acCtlApp serving its channel (opened through the environment) in a directory of its own.
class CtlServerTest : public ::testing::Test {
 protected:
  void SetUp() override { start(false); }
  // A server for counting writes its errors nowhere (thousands of them would fill the pipe we
  // read) and keeps no freed blocks in per-thread caches, which its heap figure would count as
  // in use.
  void start(bool forCounting, const char* budget = nullptr) {
    ac::MsgTypes::registerMsgs();
    const std::string app = qvtest::testAppPath("acCtlApp");
    const std::string runtimeDir = m_dir.path();
    const std::string strings = qvtest::kitStringsEnv();
    m_server = std::make_unique<qvtest::LiveProc>([&] {
      setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
      setenv("QV_CTL_CHANNEL", "yes", 1);
      putenv(const_cast<char*>(strings.c_str()));
      if (forCounting) {
        freopen("/dev/null", "w", stderr);
        setenv("GLIBC_TUNABLES", "glibc.malloc.tcache_count=0", 1);
      }
      execl(app.c_str(), app.c_str(), "serve", budget, nullptr);
      _exit(127);
    });
    ASSERT_TRUE(m_server->waitForLine("ready"));
    m_path = m_dir.path() + "/qvctl/acCtlApp." + std::to_string(m_server->pid());
  }
  void TearDown() override { ac::IpcMsgFactory::cleanupInstance(); }

  // The comment a ping through a new client comes back with.
  std::string ping(const char* comment) {
    ac::IpcClient client(m_path);
    ac::IpcMsgPtr reply = client.call(ac::PingCall(0, new ac::PingData(comment, 0)), 10000);
    auto* ping = dynamic_cast<ac::PingReply*>(reply.get());
    return ping != nullptr && ping->pingData() != nullptr ? ping->pingData()->comment() : "?";
  }
  int openFds() const {
    int n = 0;
    DIR* d = opendir(("/proc/" + std::to_string(m_server->pid()) + "/fd").c_str());
    while (d != nullptr && readdir(d) != nullptr) ++n;
    if (d != nullptr) closedir(d);
    return n;
  }

  qvtest::TempDir m_dir;
  std::unique_ptr<qvtest::LiveProc> m_server;
  std::string m_path;
};

// The bytes of a frame: the header as given, then the parts.
std::string frame(uint32_t magic, uint32_t msgLen, uint32_t payloadLen, const std::string& data) {
  const uint32_t hdr[3] = {magic, msgLen, payloadLen};
  return std::string(reinterpret_cast<const char*>(hdr), sizeof hdr) + data;
}

std::string frameOf(const ac::IpcMsgHdr& msg, bool withPayload) {
  rc::ByteStrm m(64), p(64);
  msg.saveMsg(m);
  if (withPayload) msg.savePayload(p);
  const std::string data(reinterpret_cast<const char*>(m.buffer()), m.size());
  return frame(ac::IpcFrameHdr::MAGIC, static_cast<uint32_t>(m.size()),
               static_cast<uint32_t>(p.size()),
               data + std::string(reinterpret_cast<const char*>(p.buffer()), p.size()));
}

// Sends bytes on a new connection; with closeAfter the connection is half-closed after them.
// Returns the descriptor, whose peer should close it.
int sendRaw(const std::string& path, const std::string& bytes, bool closeAfter) {
  const int fd = ac::CtlChannel::connectTo(path);
  if (!bytes.empty()) {
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
  if (closeAfter) shutdown(fd, SHUT_WR);
  return fd;
}

bool closedByPeer(int fd) {
  char c;
  ssize_t n;
  while ((n = read(fd, &c, 1)) > 0) {
  }
  return n == 0;
}

// The status frame a server left on fd before it closed.
rc::Err turnAwayStatus(int fd) {
  std::string msg, payload;
  ac::IpcFrameWriter::readFrame(fd, &msg, &payload);
  ac::IpcFrame frame{msg.data(), msg.size(), payload.data(), payload.size()};
  return qvtest::thrownErr(
      [&] { ac::IpcStrmProto::raiseIfTurnAway(*ac::IpcStrmProto::decode(frame)); });
}

TEST_F(CtlServerTest, AnswersTheStandardCalls) {
  EXPECT_EQ(ping("hello"), "hello");

  ac::IpcClient client(m_path);
  rc::DbgCtrls on;
  on.processModulesArg("ipc", false);
  on.processFlagsArg("m", false);
  ac::IpcMsgPtr set = client.call(ac::SetDbgCtrlsCall(0, on), 10000);
  EXPECT_TRUE(static_cast<ac::IpcStsMsgHdr*>(set.get())->isStatusOk());
  ac::IpcMsgPtr got = client.call(ac::GetDbgCtrlsCall(), 10000);
  auto* dbg = dynamic_cast<ac::GetDbgCtrlsReply*>(got.get());
  ASSERT_NE(dbg, nullptr);
  EXPECT_EQ(dbg->dbgCtrls().composeArgList(), on.composeArgList());

  ac::IpcMsgPtr rev = client.call(ac::GetRevDataCall(), 10000);
  ASSERT_NE(dynamic_cast<ac::GetRevDataReply*>(rev.get()), nullptr);
  EXPECT_TRUE(static_cast<ac::IpcStsMsgHdr*>(rev.get())->isStatusOk());
}

// Connections of the kinds a server must survive, what each sends, and the error it is closed
// with (null: none is required).
struct BadPeer {
  const char* name;
  std::string bytes;
  const char* expectText;
};

std::vector<BadPeer> badPeers() {
  ac::PingCall call(0, new ac::PingData("x", 0));
  ac::PingCall unknown(0, new ac::PingData("x", 0));
  unknown.setMsgType(999);
  const std::string ok = frameOf(call, true);
  return {
      {"garbage", std::string(64, 'g'), "field 'magic' has bad value '0x67676767'"},
      {"4 GiB length", frame(ac::IpcFrameHdr::MAGIC, 0xFFFFFFFFu, 0, ""),
       "field 'msgLen' has bad value '4294967295'"},
      {"cut frame", ok.substr(0, ok.size() / 2), "unable to receive from socket"},
      {"unknown type", frameOf(unknown, true), "message type '999' is unknown"},
      {"call without payload", frameOf(call, false), "unable to read from 'rc::ByteStrm'"},
      {"silent", "", nullptr},
      {"takes no reply", ok, nullptr},
  };
}

TEST_F(CtlServerTest, BadPeersAreDroppedAndOthersServed) {
  const std::vector<BadPeer> peers = badPeers();
  const int silent = sendRaw(m_path, "", false);
  for (const BadPeer& c : peers) {
    const int fd = sendRaw(m_path, c.bytes, true);
    EXPECT_TRUE(closedByPeer(fd)) << c.name;
    close(fd);
    EXPECT_EQ(ping(c.name), c.name);
  }
  close(silent);
  // A client gone before its reply is written.
  close(sendRaw(m_path, badPeers().back().bytes, false));
  EXPECT_EQ(ping("still here"), "still here");
  kill(m_server->pid(), SIGTERM);
  const qvtest::ProcResult result = m_server->finish();
  for (const BadPeer& c : peers) {
    if (c.expectText == nullptr) continue;
    EXPECT_NE(result.err.find(c.expectText), std::string::npos) << c.name << "\n" << result.err;
  }
}

class CtlServerQuietTest : public CtlServerTest {
 protected:
  void SetUp() override { start(true); }
};

TEST_F(CtlServerQuietTest, BadConnectionsLeakNeitherDescriptorsNorHeap) {
  const std::vector<BadPeer> peers = badPeers();
  const auto burst = [&](size_t rounds) {
    for (size_t i = 0; i < rounds * peers.size(); ++i)
      close(sendRaw(m_path, peers[i % peers.size()].bytes, false));
  };
  const int fds = openFds();
  // The first connections grow what the server keeps for good (descriptor tables, strings).
  burst(15);
  ASSERT_TRUE(qvtest::eventually([&] { return openFds() == fds; }));
  // A leak grows the heap by at least one block per connection. Tables indexed by descriptor
  // may keep a larger size after a burst with more connections open at once (a loaded machine
  // serves them later), so growth below a byte per connection is capacity, not a leak.
  const long heap = std::stol(ping("heap"));
  const size_t rounds = 10000 / peers.size() + 1;
  burst(rounds);
  const long allowed = heap + static_cast<long>(rounds * peers.size());
  // The server closes its end of the last connections after we see them closed.
  EXPECT_TRUE(
      qvtest::eventually([&] { return openFds() == fds && std::stol(ping("heap")) < allowed; }, 60))
      << openFds() << " descriptors, not " << fds << "; " << ping("heap") << " bytes, not under "
      << allowed;
}

// Clients that each start a frame of 1 MiB against a budget of 4 MiB: three are kept, the others
// told why and closed, and the heap comes back to where it was once they are gone.
class CtlServerBudgetTest : public CtlServerTest {
 protected:
  void SetUp() override { start(true, "4194304"); }
};

TEST_F(CtlServerBudgetTest, ConnectionsBeyondTheBudgetAreClosedAndTheHeapReturns) {
  const std::string start =
      frame(ac::IpcFrameHdr::MAGIC, ac::IpcFrameHdr::MAX_FRAME_DATA, 0, std::string(256 << 10, 0));
  const auto hold = [&](size_t n) {
    std::vector<rc::Fd> fds;
    for (size_t i = 0; i < n; ++i) {
      fds.emplace_back(ac::CtlChannel::connectTo(m_path));
      send(fds.back().get(), start.data(), start.size(), MSG_NOSIGNAL);
    }
    return fds;
  };
  const auto toldCount = [](const std::vector<rc::Fd>& fds) {
    size_t n = 0;
    for (const rc::Fd& fd : fds) {
      pollfd pfd = {fd.get(), POLLIN, 0};
      n += poll(&pfd, 1, 0) == 1;
    }
    return n;
  };
  // A first round grows what the server keeps for good.
  {
    const std::vector<rc::Fd> warm = hold(8);
    ASSERT_TRUE(qvtest::eventually([&] { return toldCount(warm) == 5; }));
  }
  const long baseline = std::stol(ping("heap"));
  std::vector<rc::Fd> fds = hold(8);
  ASSERT_TRUE(qvtest::eventually([&] { return toldCount(fds) == 5; }));
  for (const rc::Fd& fd : fds) {
    pollfd pfd = {fd.get(), POLLIN, 0};
    if (poll(&pfd, 1, 0) == 1) {
      EXPECT_EQ(turnAwayStatus(fd.get()).code(), AC_SC_CTL_BUDGET_EXCEEDED);
    }
  }
  EXPECT_LT(std::stol(ping("heap")), baseline + (4l << 20) + (512l << 10));
  fds.clear();
  EXPECT_TRUE(qvtest::eventually([&] { return std::stol(ping("heap")) < baseline + (16l << 10); }))
      << ping("heap") << " bytes, baseline " << baseline;
}

// A server in this process on the test clock, its errors captured.
struct InProcServer {
  struct FactoryCleanup {
    ~FactoryCleanup() { ac::IpcMsgFactory::cleanupInstance(); }
  } cleanup;
  qvtest::TestMonotonicClock clock;
  qvtest::TempDir dir;
  qvtest::ScopedEnv env;
  bool envSet = (env.set("XDG_RUNTIME_DIR", dir.path()), true);
  qvtest::TestApp app{"inProc"};
  ac::CtlServer* server = (app.openCtlChannel(), app.ctlServer());
  qvtest::StdStreamsCapture capture;

  // Polls until the server holds n connections or has served what is waiting.
  void serve(size_t n = 0) {
    for (int i = 0; i < 200 && (n == 0 || server->numConns() < n); ++i) app.poll();
  }
  size_t count(const std::string& text) const {
    size_t n = 0;
    for (size_t at = capture.err.text.find(text); at != std::string::npos;
         at = capture.err.text.find(text, at + 1))
      ++n;
    return n;
  }
};

// A server in this process, so that the test clock drives its idle time-out.
TEST(CtlServerIdleTest, QuietPeersAndPeersThatLeaveRepliesUnreadAreClosed) {
  InProcServer s;
  qvtest::TestApp& app = s.app;
  ac::CtlServer* server = s.server;

  const std::string ping =
      frameOf(ac::PingCall(0, new ac::PingData(std::string(1000, 'p').c_str(), 0)), true);
  const int silent = sendRaw(server->path(), "", false);
  const int cut = sendRaw(server->path(), ping.substr(0, 100), false);
  const int busy = sendRaw(server->path(), "", false);
  const int active = sendRaw(server->path(), "", false);
  s.serve(4);
  ASSERT_EQ(server->numConns(), 4u);

  // The busy peer sends calls but takes no replies, until the server stops reading from it; its
  // replies then stay where they are, which makes it as idle as the silent one.
  size_t sent = 0;
  for (int stuck = 0; stuck < 50;) {
    const ssize_t n = send(busy, ping.data() + sent, ping.size() - sent, MSG_DONTWAIT);
    stuck = n > 0 ? 0 : stuck + 1;
    if (n > 0) sent = (sent + n) % ping.size();
    app.poll();
  }
  s.clock.advance(20);
  ASSERT_EQ(write(active, ping.data(), ping.size()), ssize_t(ping.size()));
  app.poll();
  s.clock.advance(11);
  app.poll();
  EXPECT_EQ(server->numConns(), 1u);
  for (const int fd : {silent, cut}) EXPECT_TRUE(closedByPeer(fd)) << fd;
  const std::string& err = s.capture.err.text;
  EXPECT_NE(err.find("closed: nothing received for 30 seconds"), std::string::npos) << err;
  EXPECT_NE(err.find("client pid " + std::to_string(getpid()) + ", user id "), std::string::npos);
  for (const int fd : {silent, cut, busy, active}) close(fd);
}

// A follower that reads nothing is kept alive by the server's empty frames past the idle time-out
// that closes a silent peer, gets the lines written meanwhile, and once gone leaves the debug
// controls as they were.
TEST(CtlServerIdleTest, FollowersAreKeptAliveAndTheirSwitchesUndoneWhenTheyGo) {
  InProcServer s;
  const rc::DbgCtrls before = rc::Dbg::instance()->ctrls();
  rc::DbgCtrls on(RC_B_AS_IS);
  on.setModule(DM_ADC);
  on.setFlag(DF_DEBUG);
  const int follower = sendRaw(s.server->path(), frameOf(ac::FollowCall(0, on), false), false);
  const int silent = sendRaw(s.server->path(), "", false);
  s.serve(2);
  s.serve();
  ASSERT_TRUE(rc::Dbg::instance()->isOn(DM_ADC, DF_DEBUG));
  FILE* devNull = fopen("/dev/null", "w");
  {
    rc::DbgFdStack quiet(devNull);
    RC_TRACE(DM_ADC, DF_DEBUG, "a line for the follower\n");
  }
  fclose(devNull);
  for (int i = 0; i < 6; ++i) {
    s.clock.advance(11);
    s.app.poll();
  }
  EXPECT_EQ(s.server->numConns(), 1u);
  EXPECT_TRUE(closedByPeer(silent));
  std::string got(1 << 16, '\0');
  const ssize_t n = recv(follower, got.data(), got.size(), MSG_DONTWAIT);
  got.resize(n > 0 ? static_cast<size_t>(n) : 0);
  EXPECT_NE(got.find("a line for the follower"), std::string::npos);
  close(follower);
  for (int i = 0; i < 200 && s.server->numConns() > 0; ++i) s.app.poll();
  EXPECT_EQ(rc::Dbg::instance()->ctrls().isModuleOn(DM_ADC), before.isModuleOn(DM_ADC));
  EXPECT_EQ(rc::Dbg::instance()->flags(), before.flags());
  close(silent);
}

TEST(CtlServerLimitsTest, ClientsBeyondTheCapAreToldBusyAndErrorsAreRateLimited) {
  InProcServer s;
  s.server->setMaxConns(2);
  std::vector<rc::Fd> held;
  for (int i = 0; i < 2; ++i) held.emplace_back(sendRaw(s.server->path(), "", false));
  s.serve(2);
  // Twelve more: each is told and closed; five lines say so, then one line counts the rest.
  for (int i = 0; i < 12; ++i) {
    const rc::Fd extra(sendRaw(s.server->path(), "", false));
    s.serve();
    const rc::Err status = turnAwayStatus(extra.get());
    EXPECT_EQ(status.code(), AC_SC_CONNECTION_LIMIT_EXCEEDED);
    EXPECT_EQ(qvtest::argsOf(status), "2");
  }
  EXPECT_EQ(s.server->numConns(), 2u);
  const std::string client = "client pid " + std::to_string(getpid()) + ", user id ";
  EXPECT_EQ(s.count(client), 5u) << s.capture.err.text;
  EXPECT_EQ(s.count("connection limit of 2 exceeded"), 5u);
  s.app.step();
  EXPECT_EQ(
      s.count("7 more errors like QV-00266 of control channel clients suppressed in 10 seconds"),
      1u)
      << s.capture.err.text;
}

// Out of descriptors, the listener rests between attempts and the shortage is told once; the
// waiting clients are served once descriptors are free again. Run in a child: the descriptor
// limit is lowered for it alone.
TEST(CtlServerLimitsTest, AcceptFailuresPauseTheListenerAndAreReportedOnce) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizers' runtime opens a pipe to check the memory it reports on: with no descriptor
  // left, a virtual call's type check fails on its own.
  GTEST_SKIP() << "needs descriptors the sanitizer runtime takes";
#endif
  const qvtest::ProcResult r = qvtest::runInChild([] {
    InProcServer s;
    std::vector<rc::Fd> clients;
    for (int i = 0; i < 3; ++i) clients.emplace_back(sendRaw(s.server->path(), "", false));
    rlimit rl = {64, 64};
    setrlimit(RLIMIT_NOFILE, &rl);
    std::vector<rc::Fd> filler;
    for (int fd; (fd = dup(s.server->listenFd())) >= 0;) filler.emplace_back(fd);
    for (int pause = 0; pause <= 4; ++pause) {
      if (pause > 0) s.app.step();
      for (int i = 0; i < 50; ++i) s.app.poll();
    }
    const size_t attempts = s.server->listener()->acceptCalls();
    const size_t reports = s.count("Too many open files");
    const bool text = s.count("unable to accept") == 1;
    filler.clear();
    s.app.step();
    s.serve(3);
    printf("%zu %zu %d %zu\n", attempts, reports, text, s.server->numConns());
    fflush(stdout);
    _exit(0);
  });
  // One attempt, then one after each pause.
  EXPECT_EQ(r.out, "5 1 1 3\n") << r.err;
}

TEST_F(CtlServerTest, HundredClientsAtOnceEachGetTheirAnswer) {
  std::vector<std::unique_ptr<ac::IpcClient>> clients;
  std::vector<std::unique_ptr<ac::PingCall>> calls;
  for (int i = 0; i < 100; ++i) {
    clients.push_back(std::make_unique<ac::IpcClient>(m_path));
    calls.push_back(
        std::make_unique<ac::PingCall>(0, new ac::PingData(std::to_string(i).c_str(), 0)));
    clients.back()->send(*calls.back());
  }
  for (int i = 0; i < 100; ++i) {
    ac::IpcMsgPtr reply = clients[i]->awaitReply(*calls[i], 10000);
    auto* ping = dynamic_cast<ac::PingReply*>(reply.get());
    ASSERT_NE(ping, nullptr);
    EXPECT_EQ(std::string(ping->pingData()->comment()), std::to_string(i));
  }
}

TEST_F(CtlServerTest, AppSendsCallsAndGetsRepliesThroughItsHandlers) {
  const std::string app = qvtest::testAppPath("acCtlApp");
  const std::string path = m_path;
  qvtest::LiveProc client([&] {
    execl(app.c_str(), app.c_str(), "rpc", path.c_str(), nullptr);
    _exit(127);
  });
  EXPECT_TRUE(client.waitForLine("reply 0 over the wire"));
  EXPECT_EQ(client.finish().exitStatus, 0);
}

TEST_F(CtlServerTest, SocketIsRemovedAtExitAndOtherUsersAreRefused) {
  if (geteuid() == 0) {
    // Opened up so that the other user reaches the socket at all: only the peer check is left.
    chmod(m_dir.path().c_str(), 0755);
    chmod((m_dir.path() + "/qvctl").c_str(), 0755);
    chmod(m_path.c_str(), 0666);
    const std::string path = m_path;
    qvtest::LiveProc other([&] {
      if (setuid(65534) != 0) _exit(2);
      try {
        ac::IpcClient client(path);
        client.call(ac::GetRevDataCall(), 10000);
      } catch (const rc::Err& err) {
        printf("refused\n");
        fflush(stdout);
      }
      _exit(0);
    });
    EXPECT_TRUE(other.waitForLine("refused"));
  }
  kill(m_server->pid(), SIGTERM);
  const qvtest::ProcResult result = m_server->finish();
  EXPECT_EQ(access(m_path.c_str(), F_OK), -1);
  if (geteuid() == 0) {
    EXPECT_NE(result.err.find("connection of user id 65534 refused"), std::string::npos)
        << result.err;
  }
}

}  // namespace
