// Debug trace sites beside their baselines.
//  - A switched-off site (the test of rc::Dbg::s_anyOn every site carries) against the same loop
//    with an empty body; both reload memory each iteration so the test cannot be hoisted.
//  - A switched-on line with its "[d,rc  ] " prefix written to a file device, against snprintf of
//    the same text plus fwrite, with and without the fflush the facility does for every line.
// Lines go to /dev/null so that formatting, not the disk, is what is compared.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcOutDevice.h"

namespace {

void BM_EmptyLoopBody(benchmark::State& state) {
  for (auto _ : state) benchmark::ClobberMemory();
}

void BM_DisabledDebugSite(benchmark::State& state) {
  int value = 0;
  for (auto _ : state) {
    benchmark::ClobberMemory();
    if (rc::Dbg::s_anyOn) rc::Dbg::instance()->print(DM_RC, DF_DEBUG, "value %d\n", ++value);
  }
  benchmark::DoNotOptimize(value);
}

FILE* devNull() {
  static FILE* fp = fopen("/dev/null", "w");
  return fp;
}

// The baseline of one line: snprintf of the text into a stack buffer of the facility's size and
// fwrite, then fflush when asked.
void snprintfFwrite(benchmark::State& state, bool flushEachLine) {
  FILE* fp = devNull();
  int value = 0;
  for (auto _ : state) {
    char line[20480];
    const int n = snprintf(line, sizeof line, "[d,rc  ] value %d of %s\n", ++value, "bench");
    fwrite(line, 1, static_cast<size_t>(n), fp);
    if (flushEachLine) fflush(fp);
  }
  fflush(fp);
}

void BM_SnprintfFwriteFflush(benchmark::State& state) { snprintfFwrite(state, true); }

void BM_SnprintfFwrite(benchmark::State& state) { snprintfFwrite(state, false); }

void BM_EnabledDebugLineToFile(benchmark::State& state) {
  rc::OutDevice* device = new rc::OutDevice(devNull(), 1);
  rc::Dbg* dbg = new rc::Dbg(device, 0);
  rc::Dbg::setInstance(dbg);
  dbg->setModule(DM_RC);
  dbg->setFlags(DF_DEBUG);
  int value = 0;
  for (auto _ : state) {
    if (rc::Dbg::s_anyOn) {
      rc::Dbg::instance()->print(DM_RC, DF_DEBUG, "value %d of %s\n", ++value, "bench");
    }
  }
  rc::Dbg::setInstance(nullptr);
  rc::RefCnt_release(device);
}

}  // namespace

BENCHMARK(BM_EmptyLoopBody);
BENCHMARK(BM_DisabledDebugSite);
BENCHMARK(BM_SnprintfFwriteFflush);
BENCHMARK(BM_SnprintfFwrite);
BENCHMARK(BM_EnabledDebugLineToFile);
BENCHMARK_MAIN();
