// Application timers in the framework's loop beside libuv's timers, in one binary:
//   Burst/Qv, Burst/Libuv   1,000 one-shot timers, created beforehand, started to be due 1 ms
//                           later and run until every one has fired. Items are timers; the
//                           time is CPU time, so the 1 ms the loop sleeps is not counted.
//   IdleIteration/Qv/<n>    one loop iteration that dispatches one ready pipe while n timers
//                           (not due for an hour) are registered: the cost of asking them.
//                           Items are iterations.
// libuv is a peer for comparison only: without it installed its rows are not built.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "comps/appcomps/acApp.h"

#ifdef QV_HAVE_LIBUV
#include <uv.h>
#endif

namespace {

constexpr int kBurst = 1000;
constexpr int kIterations = 1000;

class BenchApp : public ac::App {
 public:
  BenchApp() : ac::App("timerBench", 0, AF_NO_SIGNALS) {}
  void printUsage() const override {}
  void stop() { m_abortRunLoop = true; }
};

BenchApp& app() {
  static BenchApp* theApp = new BenchApp;
  return *theApp;
}

void release(ac::AppTimer* timer) {
  if (timer->removeReference() < 1) delete timer;
}

void BM_Burst_Qv(benchmark::State& state) {
  struct Ctx {
    int remaining = 0;
    static bool cb(void* obj, ac::AppTimer*) {
      if (--static_cast<Ctx*>(obj)->remaining == 0) app().stop();
      return false;
    }
  } ctx;
  std::vector<ac::AppTimer*> timers(kBurst);
  for (auto& timer : timers) {
    timer = app().newTimer(ac::AppTimer::COUNTDOWN, &ctx, Ctx::cb,
                           rc::Timeval::ONE_MILLISEC_TIMEVAL, false, "burst");
  }
  for (auto _ : state) {
    ctx.remaining = kBurst;
    for (auto* timer : timers) timer->start();
    app().run();
    if (ctx.remaining != 0) abort();
  }
  for (auto* timer : timers) release(timer);
  state.SetItemsProcessed(state.iterations() * kBurst);
}
BENCHMARK(BM_Burst_Qv);

void BM_IdleIteration_Qv(benchmark::State& state) {
  std::vector<ac::AppTimer*> timers;
  for (int i = 0; i < state.range(0); ++i) {
    timers.push_back(app().newTimer(ac::AppTimer::INTERVAL, nullptr, nullptr,
                                    rc::Timeval(3600 + i, 0), true, "idle"));
  }
  int fds[2];
  if (pipe(fds) != 0 || write(fds[1], "x", 1) != 1) abort();
  struct Ctx {
    int remaining = 0;
  } ctx;
  rc::FdSet ready;
  ready.add(
      rc::FdSet::FDT_READ, fds[0], &ctx,
      [](void* obj, rc::FdSet::CbType, int, void*) {
        if (--static_cast<Ctx*>(obj)->remaining == 0) app().stop();
      },
      nullptr);
  app().addToEventLoop(ready);
  for (auto _ : state) {
    ctx.remaining = kIterations;
    app().run();
  }
  app().removeFromEventLoop(ready);
  close(fds[0]);
  close(fds[1]);
  for (auto* timer : timers) release(timer);
  state.SetItemsProcessed(state.iterations() * kIterations);
}
BENCHMARK(BM_IdleIteration_Qv)->Arg(0)->Arg(1000)->UseRealTime();

#ifdef QV_HAVE_LIBUV
void BM_Burst_Libuv(benchmark::State& state) {
  uv_loop_t* loop = uv_default_loop();
  std::vector<uv_timer_t> timers(kBurst);
  int remaining = 0;
  for (auto& timer : timers) {
    uv_timer_init(loop, &timer);
    timer.data = &remaining;
  }
  for (auto _ : state) {
    remaining = kBurst;
    for (auto& timer : timers) {
      uv_timer_start(
          &timer, [](uv_timer_t* t) { --*static_cast<int*>(t->data); }, 1, 0);
    }
    uv_run(loop, UV_RUN_DEFAULT);
    if (remaining != 0) abort();
  }
  for (auto& timer : timers) uv_close(reinterpret_cast<uv_handle_t*>(&timer), nullptr);
  uv_run(loop, UV_RUN_DEFAULT);
  state.SetItemsProcessed(state.iterations() * kBurst);
}
BENCHMARK(BM_Burst_Libuv);
#endif

}  // namespace
BENCHMARK_MAIN();
