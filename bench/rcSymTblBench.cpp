// Lookups in a symbol table of 1,000 entries beside std::unordered_map: symbol -> id against a
// map keyed by string, id -> label against a map keyed by int. Each iteration looks up every key
// once, in a shuffled order, so the figures are per 1,000 lookups.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "comps/recomps/rcSymTbl.h"

namespace {

constexpr int N_ENTRIES = 1000;

struct Fixture {
  std::vector<std::string> symbols;
  std::vector<int> ids;
  rc::SymTbl tbl;
  std::unordered_map<std::string, int> bySymbol;
  std::unordered_map<int, std::string> byId;

  Fixture() {
    std::mt19937 rng(42);
    for (int i = 0; i < N_ENTRIES; ++i) {
      // Environment-variable-like names and sparse ids.
      const int id = i * 7 + 3;
      const std::string symbol =
          "QV_VAR_" + std::to_string(rng() % 100000) + "_" + std::to_string(i);
      const std::string label = "value of " + symbol;
      tbl.add(id, symbol.c_str(), label.c_str(), true);
      bySymbol.emplace(symbol, id);
      byId.emplace(id, label);
      symbols.push_back(symbol);
      ids.push_back(id);
    }
    std::shuffle(symbols.begin(), symbols.end(), rng);
    std::shuffle(ids.begin(), ids.end(), rng);
  }

  static Fixture& get() {
    static Fixture fixture;
    return fixture;
  }
};

void BM_SymTbl_symbolToId(benchmark::State& state) {
  Fixture& f = Fixture::get();
  for (auto _ : state) {
    for (const std::string& s : f.symbols) benchmark::DoNotOptimize(f.tbl.symbolToId(s.c_str()));
  }
}

void BM_UnorderedMap_symbolToId(benchmark::State& state) {
  Fixture& f = Fixture::get();
  for (auto _ : state) {
    for (const std::string& s : f.symbols) {
      const auto it = f.bySymbol.find(s);
      benchmark::DoNotOptimize(it != f.bySymbol.end() ? it->second : rc::SymTbl::NPOS);
    }
  }
}

void BM_SymTbl_idToLabel(benchmark::State& state) {
  Fixture& f = Fixture::get();
  for (auto _ : state) {
    for (const int id : f.ids) benchmark::DoNotOptimize(f.tbl.idToLabel(id));
  }
}

void BM_UnorderedMap_idToLabel(benchmark::State& state) {
  Fixture& f = Fixture::get();
  for (auto _ : state) {
    for (const int id : f.ids) {
      const auto it = f.byId.find(id);
      benchmark::DoNotOptimize(it != f.byId.end() ? it->second.c_str() : nullptr);
    }
  }
}

}  // namespace

BENCHMARK(BM_SymTbl_symbolToId);
BENCHMARK(BM_UnorderedMap_symbolToId);
BENCHMARK(BM_SymTbl_idToLabel);
BENCHMARK(BM_UnorderedMap_idToLabel);

BENCHMARK_MAIN();
