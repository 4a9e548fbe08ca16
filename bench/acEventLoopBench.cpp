// The framework's event loop (ac::App::run) beside libevent restricted to its select backend and
// beside a minimal hand-written select loop, all single-threaded on the same pipes:
//   PingPong/<n>   one byte bounced between two pipes; n descriptors are watched, n - 2 of them
//                  idle. Items are round trips (two loop iterations each).
//   Iteration/<n>  n watched descriptors of which one is always ready: the cost of one loop
//                  iteration that dispatches one callback. Items are iterations.
// libevent is a peer for comparison only: without it installed its rows are not built.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "comps/appcomps/acApp.h"

#ifdef QV_HAVE_LIBEVENT
#include <event2/event.h>
#endif

namespace {

constexpr int kBatch = 1000;

struct Pipe {
  int fds[2] = {-1, -1};
  Pipe() {
    if (pipe(fds) != 0) abort();
  }
  ~Pipe() {
    close(fds[0]);
    close(fds[1]);
  }
  int rd() const { return fds[0]; }
  int wr() const { return fds[1]; }
};

void put(int fd) {
  if (write(fd, "x", 1) != 1) abort();
}
void take(int fd) {
  char c;
  if (read(fd, &c, 1) != 1) abort();
}

// The descriptors of one benchmark: idle read ends first, so that the active ones are the
// highest and select scans them all.
struct Fixture {
  std::vector<std::unique_ptr<Pipe>> idle;
  Pipe ping, pong;  // ping-pong: ping.rd -> write pong; pong.rd -> write ping
  long remaining = 0;

  explicit Fixture(int idleCount) : idle(makeIdle(idleCount)) {}
  static std::vector<std::unique_ptr<Pipe>> makeIdle(int count) {
    std::vector<std::unique_ptr<Pipe>> pipes;
    for (int i = 0; i < count; ++i) pipes.push_back(std::make_unique<Pipe>());
    return pipes;
  }
  Fixture(const Fixture&) = delete;
};

// ---------------------------------------------------------------------------------------------
// The framework

class BenchApp : public ac::App {
 public:
  BenchApp() : ac::App("acEventLoopBench", 0, AF_NO_SIGNALS) {}
  void printUsage() const override {}
  void stop() { m_abortRunLoop = true; }
};

struct FrameworkLoop {
  BenchApp app;
  Fixture* fx;
  rc::FdSet set;

  static void idleCb(void*, rc::FdSet::CbType, int, void*) { abort(); }
  static void pingCb(void* obj, rc::FdSet::CbType, int, void*) {
    auto* loop = static_cast<FrameworkLoop*>(obj);
    take(loop->fx->ping.rd());
    put(loop->fx->pong.wr());
  }
  static void pongCb(void* obj, rc::FdSet::CbType, int, void*) {
    auto* loop = static_cast<FrameworkLoop*>(obj);
    take(loop->fx->pong.rd());
    if (--loop->fx->remaining == 0) {
      loop->app.stop();
      return;
    }
    put(loop->fx->ping.wr());
  }
  // Always ready (never drained): counts iterations.
  static void readyCb(void* obj, rc::FdSet::CbType, int, void*) {
    auto* loop = static_cast<FrameworkLoop*>(obj);
    if (--loop->fx->remaining == 0) loop->app.stop();
  }

  explicit FrameworkLoop(Fixture* fixture, bool pingPong) : fx(fixture) {
    for (const auto& p : fx->idle) set.add(rc::FdSet::FDT_READ, p->rd(), this, idleCb, nullptr);
    if (pingPong) {
      set.add(rc::FdSet::FDT_READ, fx->ping.rd(), this, pingCb, nullptr);
      set.add(rc::FdSet::FDT_READ, fx->pong.rd(), this, pongCb, nullptr);
    } else {
      set.add(rc::FdSet::FDT_READ, fx->ping.rd(), this, readyCb, nullptr);
      put(fx->ping.wr());
    }
    app.addToEventLoop(set);
  }
  ~FrameworkLoop() { rc::FdSet::clearStaticFdInfos(); }

  void runPingPong() {
    fx->remaining = kBatch;
    put(fx->ping.wr());
    app.run();
  }
  void runIterations() {
    fx->remaining = kBatch;
    app.run();
  }
};

// ---------------------------------------------------------------------------------------------
// A minimal select loop: one mask, a scan of the ready descriptors, a switch.

struct SelectLoop {
  Fixture* fx;
  fd_set watched;
  int maxFd = -1;
  bool pingPong;

  SelectLoop(Fixture* fixture, bool pp) : fx(fixture), pingPong(pp) {
    FD_ZERO(&watched);
    for (const auto& p : fx->idle) watch(p->rd());
    watch(fx->ping.rd());
    if (pingPong) {
      watch(fx->pong.rd());
    } else {
      put(fx->ping.wr());
    }
  }
  void watch(int fd) {
    FD_SET(fd, &watched);
    if (fd > maxFd) maxFd = fd;
  }
  void run() {
    fx->remaining = kBatch;
    if (pingPong) put(fx->ping.wr());
    for (;;) {
      fd_set ready = watched;
      if (select(maxFd + 1, &ready, nullptr, nullptr, nullptr) <= 0) continue;
      for (int fd = 0; fd <= maxFd; ++fd) {
        if (!FD_ISSET(fd, &ready)) continue;
        if (!pingPong) {
          if (--fx->remaining == 0) return;
        } else if (fd == fx->ping.rd()) {
          take(fd);
          put(fx->pong.wr());
        } else if (fd == fx->pong.rd()) {
          take(fd);
          if (--fx->remaining == 0) return;
          put(fx->ping.wr());
        } else {
          abort();
        }
      }
    }
  }
};

// ---------------------------------------------------------------------------------------------
// libevent with the select backend

#ifdef QV_HAVE_LIBEVENT
struct LibeventLoop {
  Fixture* fx;
  event_base* base = nullptr;
  std::vector<event*> events;
  bool pingPong;

  static void idleCb(evutil_socket_t, short, void*) { abort(); }
  static void pingCb(evutil_socket_t fd, short, void* arg) {
    auto* loop = static_cast<LibeventLoop*>(arg);
    take(fd);
    put(loop->fx->pong.wr());
  }
  static void pongCb(evutil_socket_t fd, short, void* arg) {
    auto* loop = static_cast<LibeventLoop*>(arg);
    take(fd);
    if (--loop->fx->remaining == 0) {
      event_base_loopbreak(loop->base);
      return;
    }
    put(loop->fx->ping.wr());
  }
  static void readyCb(evutil_socket_t, short, void* arg) {
    auto* loop = static_cast<LibeventLoop*>(arg);
    if (--loop->fx->remaining == 0) event_base_loopbreak(loop->base);
  }

  LibeventLoop(Fixture* fixture, bool pp) : fx(fixture), pingPong(pp) {
    event_config* cfg = event_config_new();
    event_config_avoid_method(cfg, "epoll");
    event_config_avoid_method(cfg, "poll");
    base = event_base_new_with_config(cfg);
    event_config_free(cfg);
    if (base == nullptr) return;
    for (const auto& p : fx->idle) add(p->rd(), idleCb);
    if (pingPong) {
      add(fx->ping.rd(), pingCb);
      add(fx->pong.rd(), pongCb);
    } else {
      add(fx->ping.rd(), readyCb);
      put(fx->ping.wr());
    }
  }
  ~LibeventLoop() {
    for (event* ev : events) event_free(ev);
    if (base != nullptr) event_base_free(base);
  }
  void add(int fd, event_callback_fn cb) {
    event* ev = event_new(base, fd, EV_READ | EV_PERSIST, cb, this);
    event_add(ev, nullptr);
    events.push_back(ev);
  }
  bool usable() const {
    return base != nullptr && strcmp(event_base_get_method(base), "select") == 0;
  }
  void run() {
    fx->remaining = kBatch;
    if (pingPong) put(fx->ping.wr());
    event_base_loop(base, 0);
  }
};
#endif

// ---------------------------------------------------------------------------------------------

int idleFor(const benchmark::State& state, bool pingPong) {
  return static_cast<int>(state.range(0)) - (pingPong ? 2 : 1);
}

void BM_PingPong_Framework(benchmark::State& state) {
  Fixture fx(idleFor(state, true));
  FrameworkLoop loop(&fx, true);
  for (auto _ : state) loop.runPingPong();
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_PingPong_MinimalSelect(benchmark::State& state) {
  Fixture fx(idleFor(state, true));
  SelectLoop loop(&fx, true);
  for (auto _ : state) loop.run();
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_Iteration_Framework(benchmark::State& state) {
  Fixture fx(idleFor(state, false));
  FrameworkLoop loop(&fx, false);
  for (auto _ : state) loop.runIterations();
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_Iteration_MinimalSelect(benchmark::State& state) {
  Fixture fx(idleFor(state, false));
  SelectLoop loop(&fx, false);
  for (auto _ : state) loop.run();
  state.SetItemsProcessed(state.iterations() * kBatch);
}

BENCHMARK(BM_PingPong_Framework)->Arg(2)->Arg(66);
BENCHMARK(BM_PingPong_MinimalSelect)->Arg(2)->Arg(66);
BENCHMARK(BM_Iteration_Framework)->Arg(1)->Arg(16)->Arg(64);
BENCHMARK(BM_Iteration_MinimalSelect)->Arg(1)->Arg(16)->Arg(64);

#ifdef QV_HAVE_LIBEVENT
template <bool kPingPong>
void BM_Libevent(benchmark::State& state) {
  Fixture fx(idleFor(state, kPingPong));
  LibeventLoop loop(&fx, kPingPong);
  if (!loop.usable()) {
    state.SkipWithError("libevent has no select backend");
    return;
  }
  for (auto _ : state) loop.run();
  state.SetItemsProcessed(state.iterations() * kBatch);
}
void BM_PingPong_LibeventSelect(benchmark::State& state) { BM_Libevent<true>(state); }
void BM_Iteration_LibeventSelect(benchmark::State& state) { BM_Libevent<false>(state); }
BENCHMARK(BM_PingPong_LibeventSelect)->Arg(2)->Arg(66);
BENCHMARK(BM_Iteration_LibeventSelect)->Arg(1)->Arg(16)->Arg(64);
#endif

}  // namespace

BENCHMARK_MAIN();
