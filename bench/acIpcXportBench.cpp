// The message transport beside a plain socket pair, with the server in a child process:
//   Xport/Ping          a ping call and its reply through an ac::IpcClient and a program
//                       serving its control channel from the framework's event loop
//   Xport/Status        the same with the status call (what qvctl status asks), whose reply
//                       the program gathers from its timers, connections, controls and heap
//   SocketPair/Ping     the same number of bytes each way bounced over a Unix-domain socket
//                       pair by a child that only reads and writes them back
//   Xport/Clients/<n>   n clients each with one ping in flight at a time against the same server
// Items are round trips.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acCtlChannel.h"
#include "comps/appcomps/acIpcClient.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/appcomps/acPingMsgs.h"
#include "comps/recomps/rcByteStrm.h"

namespace {

class ServerApp : public ac::App {
 public:
  ServerApp() : ac::App("xportBench", 0, AF_NO_SIGNALS) {}
  void printUsage() const override {}
};

// A private channel directory under $TMPDIR (else /tmp), removed with the sockets a killed server
// leaves in it.
struct ChannelDir {
  std::string path;
  ChannelDir() {
    const char* tmp = getenv("TMPDIR");
    std::string templ =
        std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/qvxportXXXXXX";
    if (mkdtemp(templ.data()) != nullptr) path = templ;
  }
  ~ChannelDir() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  ChannelDir(const ChannelDir&) = delete;
  ChannelDir& operator=(const ChannelDir&) = delete;
};

// A child serving its control channel; the socket path is known before the child runs. A server
// that could not be started is not ok(): the benchmark skips, and the directory still goes.
struct Server {
  ChannelDir dir;
  pid_t pid = -1;
  std::string path;
  Server() {
    if (dir.path.empty()) return;
    setenv("QV_CTL_DIR", dir.path.c_str(), 1);
    int ready[2];
    if (pipe(ready) != 0) return;
    pid = fork();
    if (pid == 0) {
      // Never back into the benchmarks (nor into the destructors of the parent's objects).
      try {
        ServerApp app;
        if (!app.openCtlChannel(true) || write(ready[1], "r", 1) != 1) _exit(1);
        app.run();
      } catch (...) {
        _exit(1);
      }
      _exit(0);
    }
    char c;
    if (pid > 0 && read(ready[0], &c, 1) == 1) {
      path = ac::CtlChannel::socketPath(dir.path, "xportBench", pid);
    }
    close(ready[0]);
    close(ready[1]);
  }
  ~Server() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  bool ok() const { return !path.empty(); }
};

std::unique_ptr<ac::PingCall> newPing() {
  return std::make_unique<ac::PingCall>(0, new ac::PingData("bench", 0));
}

void roundTrips(benchmark::State& state, ac::IpcMsgHdr& call) {
  ac::MsgTypes::registerMsgs();
  Server server;
  if (!server.ok()) return state.SkipWithError("the server did not start");
  ac::IpcClient client(server.path);
  for (auto _ : state) {
    call.setInteractId(ac::IpcMsgHdr::nextInteractId());
    benchmark::DoNotOptimize(client.call(call, 10000));
  }
  state.SetItemsProcessed(state.iterations());
}

void XportPing(benchmark::State& state) { roundTrips(state, *newPing()); }
BENCHMARK(XportPing)->UseRealTime();

void XportStatus(benchmark::State& state) {
  ac::GetStatusCall call;
  roundTrips(state, call);
}
BENCHMARK(XportStatus)->UseRealTime();

// The byte counts of the call's and the reply's frames.
size_t frameBytes(const ac::IpcMsgHdr& msg) {
  rc::ByteStrm m(64), p(64);
  msg.saveMsg(m);
  msg.savePayload(p);
  return ac::IpcFrameHdr::SIZE + m.size() + p.size();
}

bool transfer(int fd, char* buf, size_t n, bool out) {
  for (size_t done = 0; done < n;) {
    const ssize_t k = out ? write(fd, buf + done, n - done) : read(fd, buf + done, n - done);
    if (k <= 0) return false;
    done += static_cast<size_t>(k);
  }
  return true;
}

void SocketPairPing(benchmark::State& state) {
  auto call = newPing();
  const size_t n = frameBytes(*call);
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) abort();
  const pid_t pid = fork();
  if (pid == 0) {
    close(sv[0]);
    std::vector<char> buf(n);
    while (transfer(sv[1], buf.data(), n, false) && transfer(sv[1], buf.data(), n, true)) {
    }
    _exit(0);
  }
  close(sv[1]);
  std::vector<char> buf(n, 'x');
  for (auto _ : state) {
    if (!transfer(sv[0], buf.data(), n, true) || !transfer(sv[0], buf.data(), n, false)) abort();
  }
  close(sv[0]);
  waitpid(pid, nullptr, 0);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(SocketPairPing)->UseRealTime();

void XportClients(benchmark::State& state) {
  ac::MsgTypes::registerMsgs();
  Server server;
  if (!server.ok()) return state.SkipWithError("the server did not start");
  const int n = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<ac::IpcClient>> clients;
  for (int i = 0; i < n; ++i) clients.push_back(std::make_unique<ac::IpcClient>(server.path));
  auto call = newPing();
  for (auto _ : state) {
    // Every client's call is in flight before the first reply is read.
    call->setInteractId(ac::IpcMsgHdr::nextInteractId());
    for (auto& client : clients) client->send(*call);
    for (auto& client : clients) {
      ac::IpcMsgPtr reply = client->awaitReply(*call, 10000);
      benchmark::DoNotOptimize(reply);
    }
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(XportClients)->Arg(1)->Arg(100)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
