// Looking up a message text of a loaded code range (and substituting two arguments into it),
// beside the same lookups in a std::unordered_map<int, std::string>.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unordered_map>

#include "comps/recomps/rcStrDb.h"
#include "comps/recomps/rcVarArgs.h"

namespace {

constexpr int kCodes[] = {6, 17, 42, 49, 16, 64, 10, 81};
constexpr int kNumCodes = sizeof kCodes / sizeof kCodes[0];

rc::StrDb& loadedCatalog() {
  setenv("QV_STRINGS_DIR", QV_BENCH_STRINGS_DIR, 1);
  rc::StrDb& db = *rc::StrDb::instance();
  db.lookupString(RC_SC_NEED_BOOL);  // reads the range's strings file once
  return db;
}

std::unordered_map<int, std::string> mapOf(rc::StrDb& db) {
  std::unordered_map<int, std::string> map;
  for (int code = 0; code < RC_SC_LAST_CODE; ++code) map.emplace(code, db.lookupString(code));
  return map;
}

void BM_StrDbLookup(benchmark::State& state) {
  rc::StrDb& db = loadedCatalog();
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(db.lookupString(kCodes[i++ % kNumCodes]));
  }
}

void BM_UnorderedMapLookup(benchmark::State& state) {
  const auto map = mapOf(loadedCatalog());
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.find(kCodes[i++ % kNumCodes])->second.c_str());
  }
}

void BM_StrDbLookupAndSubstitute(benchmark::State& state) {
  rc::StrDb& db = loadedCatalog();
  rc::VarArgs args;
  args << "-logToFile"
       << "maybe";
  int i = 0;
  for (auto _ : state) {
    std::string text = args.substituteArgs(db.lookupString(kCodes[i++ % kNumCodes]));
    benchmark::DoNotOptimize(text.data());
  }
}

void BM_UnorderedMapLookupAndSubstitute(benchmark::State& state) {
  const auto map = mapOf(loadedCatalog());
  rc::VarArgs args;
  args << "-logToFile"
       << "maybe";
  int i = 0;
  for (auto _ : state) {
    std::string text = args.substituteArgs(map.find(kCodes[i++ % kNumCodes])->second.c_str());
    benchmark::DoNotOptimize(text.data());
  }
}

}  // namespace

BENCHMARK(BM_StrDbLookup)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_UnorderedMapLookup)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_StrDbLookupAndSubstitute)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_UnorderedMapLookupAndSubstitute)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK_MAIN();
