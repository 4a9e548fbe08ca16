// A configuration read through the environment table once its value is cached, beside the libc
// getenv lookup it replaces. The process environment is given a realistic size (40 variables)
// with the variable read in the middle.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "comps/recomps/rcEnv.h"

namespace {

void fillEnvironment() {
  static bool filled = false;
  if (filled) return;
  for (int i = 0; i < 20; ++i) setenv(("QV_BENCH_FILLER_A" + std::to_string(i)).c_str(), "x", 1);
  setenv("QV_DATABASE", "sales", 1);
  for (int i = 0; i < 20; ++i) setenv(("QV_BENCH_FILLER_B" + std::to_string(i)).c_str(), "y", 1);
  filled = true;
}

void BM_Getenv(benchmark::State& state) {
  fillEnvironment();
  for (auto _ : state) benchmark::DoNotOptimize(getenv("QV_DATABASE"));
}

void BM_EnvStrEnvVarCached(benchmark::State& state) {
  fillEnvironment();
  rc::Env::strEnvVar(rc::Env::DATABASE);
  for (auto _ : state) benchmark::DoNotOptimize(rc::Env::strEnvVar(rc::Env::DATABASE));
}

void BM_EnvIntEnvVarCached(benchmark::State& state) {
  fillEnvironment();
  setenv("QV_CLIENT_MGR_PORT", "6000", 1);
  rc::Env::intEnvVar(rc::Env::CLIENT_MGR_PORT);
  for (auto _ : state) benchmark::DoNotOptimize(rc::Env::intEnvVar(rc::Env::CLIENT_MGR_PORT));
}

}  // namespace

BENCHMARK(BM_Getenv);
BENCHMARK(BM_EnvStrEnvVarCached);
BENCHMARK(BM_EnvIntEnvVarCached);
BENCHMARK_MAIN();
