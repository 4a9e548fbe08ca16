// The cost of a fault point beside the same loop without one. Each iteration runs 1,000 times
// through a call that holds the point, so the figures are per 1,000 passes:
//   EmptyBody          the loop and a sink the compiler must keep (the baseline);
//   FaultPointNoRuleOn the point while no rule can fire (the state of every production run);
//   FaultPointOtherRuleOn  a rule of another name is on: the point's cached handle says "no rule";
//   FaultPointCounting the point's rule is on and evaluated each time; its auto-counter fires
//                      once in 2*10^9 passes.
#include <benchmark/benchmark.h>

#include "comps/recomps/rcFaultApi.h"
#include "comps/recomps/rcFaultRulesFile.h"
#include "comps/recomps/rcStrVec.h"

namespace {

constexpr int N_PASSES = 1000;

__attribute__((noinline)) bool plainWrite(int* sink) {
  benchmark::DoNotOptimize(sink);
  return true;
}

__attribute__((noinline)) bool writeWithFaultPoint(int* sink) {
  if (RC_FAULT_FIRES("benchWriteFails")) return false;
  benchmark::DoNotOptimize(sink);
  return true;
}

void useRules(const char* line) {
  rc::fault::Api::setInstance(new rc::fault::Api());
  if (line == nullptr) return;
  rc::StrVec lines;
  lines.append(line);
  rc::fault::RulesFile file;
  file.setLines(&lines);
  file.read();
  rc::fault::Api::instance()->setRules(file.rules());
}

template <bool (*Write)(int*)>
void run(benchmark::State& state) {
  int sink = 0;
  int failures = 0;
  for (auto _ : state) {
    for (int i = 0; i < N_PASSES; ++i) failures += Write(&sink) ? 0 : 1;
    benchmark::DoNotOptimize(failures);
  }
  if (failures != 0) state.SkipWithError("a fault fired");
}

void BM_EmptyBody(benchmark::State& state) { run<plainWrite>(state); }

void BM_FaultPointNoRuleOn(benchmark::State& state) {
  useRules(nullptr);
  run<writeWithFaultPoint>(state);
}

void BM_FaultPointOtherRuleOn(benchmark::State& state) {
  useRules("otherFault.on = yes");
  run<writeWithFaultPoint>(state);
}

void BM_FaultPointCounting(benchmark::State& state) {
  useRules("benchWriteFails.c.interval = 2000000000");
  run<writeWithFaultPoint>(state);
}

BENCHMARK(BM_EmptyBody);
BENCHMARK(BM_FaultPointNoRuleOn);
BENCHMARK(BM_FaultPointOtherRuleOn);
BENCHMARK(BM_FaultPointCounting);

}  // namespace

BENCHMARK_MAIN();
