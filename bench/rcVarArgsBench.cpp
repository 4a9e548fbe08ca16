// Building a three-argument message list and substituting it into a catalog text, beside the
// same text built with std::string operations.
#include <benchmark/benchmark.h>

#include <string>

#include "comps/recomps/rcVarArgs.h"

namespace {

const char* const kTemplate = "{1} value '{2}' is unknown or invalid";

void BM_VarArgsBuildAndSubstitute(benchmark::State& state) {
  int n = 0;
  for (auto _ : state) {
    rc::VarArgs args;
    args << "-logToFile"
         << "maybe" << ++n;
    std::string text = args.substituteArgs(kTemplate);
    benchmark::DoNotOptimize(text.data());
  }
}

void BM_StdStringBuild(benchmark::State& state) {
  int n = 0;
  for (auto _ : state) {
    const std::string a1 = "-logToFile";
    const std::string a2 = "maybe";
    const std::string a3 = std::to_string(++n);
    std::string text = a1 + " value '" + a2 + "' is unknown or invalid";
    benchmark::DoNotOptimize(text.data());
    benchmark::DoNotOptimize(a3.data());
  }
}

}  // namespace

BENCHMARK(BM_VarArgsBuildAndSubstitute)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_StdStringBuild)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK_MAIN();
