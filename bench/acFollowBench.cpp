// A program followed through its control channel, in one process with its follower:
//   Follow/Delivered          trace lines written by the program and taken by a follower that
//                             reads them as they come (items: lines delivered)
//   Follow/Iteration/<n>/0    a loop iteration of a program writing n trace lines to /dev/null
//   Follow/Iteration/<n>/1    the same with a follower that never reads (stopped): its lines
//                             are dropped once its buffers are full
// The program's trace goes to /dev/null throughout, under the same controls.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acCtlChannel.h"
#include "comps/appcomps/acCtlServer.h"
#include "comps/appcomps/acIpcClient.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/recomps/rcDbg.h"

namespace {

class FollowedApp : public ac::App {
 public:
  FollowedApp() : ac::App("followBench", 0, AF_NO_SIGNALS) {}
  void printUsage() const override {}
};

// The program, its channel in a private directory removed at exit.
struct Program {
  std::string dir;
  FollowedApp app;
  FILE* devNull = fopen("/dev/null", "w");
  Program() {
    const char* tmp = getenv("TMPDIR");
    std::string templ =
        std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/qvfollowXXXXXX";
    if (mkdtemp(templ.data()) != nullptr) dir = templ;
    setenv("QV_CTL_DIR", dir.c_str(), 1);
    setenv("QV_STRINGS_DIR", QV_BENCH_STRINGS_DIR, 1);
    ac::App::registerAppIpcMsgs();
    app.openCtlChannel(true);
  }
  ~Program() {
    app.closeCtlChannel();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    if (devNull != nullptr) fclose(devNull);
  }
  std::string path() const { return ac::CtlChannel::socketPath(dir, "followBench", getpid()); }
};

Program& program() {
  static Program p;
  return p;
}

bool readable(int fd) {
  pollfd pfd = {fd, POLLIN, 0};
  return poll(&pfd, 1, 0) == 1;
}

// A client that has made itself a follower of the program.
std::unique_ptr<ac::IpcClient> follower(Program& p) {
  auto client = std::make_unique<ac::IpcClient>(p.path());
  ac::FollowCall call;
  client->send(call);
  while (!readable(client->fd())) p.app.runOnce(false);
  client->awaitReply(call, 5000);
  return client;
}

void writeLines(int n) {
  for (int i = 0; i < n; ++i) {
    RC_TRACE(DM_ADC, DF_DEBUG, "line %d of an iteration of the program's loop\n", i);
  }
}

void Delivered(benchmark::State& state) {
  Program& p = program();
  rc::DbgFdStack toNull(p.devNull);
  rc::DbgCtrlsStack on(DM_ADC, DF_DEBUG);
  auto client = follower(p);
  long long delivered = 0, dropped = 0;
  for (auto _ : state) {
    writeLines(256);
    p.app.runOnce(false);
    while (readable(client->fd())) {
      client->receive();
      while (ac::IpcMsgPtr msg = client->nextMsg()) {
        if (const auto* lines = dynamic_cast<const ac::TraceLinesMsg*>(msg.get())) {
          delivered += lines->lines().count();
          dropped += lines->dropped();
        }
      }
    }
  }
  state.SetItemsProcessed(delivered);
  state.counters["dropped"] = static_cast<double>(dropped);
  client.reset();
  p.app.runOnce(false);
}
BENCHMARK(Delivered)->Name("Follow/Delivered");

void Iteration(benchmark::State& state) {
  Program& p = program();
  const int n = static_cast<int>(state.range(0));
  rc::DbgFdStack toNull(p.devNull);
  rc::DbgCtrlsStack on(DM_ADC, DF_DEBUG);
  std::unique_ptr<ac::IpcClient> client;
  if (state.range(1) != 0) {
    client = follower(p);
    // Past the socket's buffer and the follower's own: from here on its lines are dropped.
    for (int i = 0; i < 200; ++i) {
      writeLines(100);
      p.app.runOnce(false);
    }
  }
  for (auto _ : state) {
    writeLines(n);
    p.app.runOnce(false);
  }
  state.SetItemsProcessed(state.iterations() * n);
  // A full buffer shows that the follower's lines were being dropped.
  state.counters["pending_kib"] =
      static_cast<double>(p.app.ctlServer()->followers().pendingBytes()) / 1024;
  client.reset();
  p.app.runOnce(false);
}
BENCHMARK(Iteration)->Name("Follow/Iteration")->ArgsProduct({{1, 10, 100}, {0, 1}});

}  // namespace

BENCHMARK_MAIN();
