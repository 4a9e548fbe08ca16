// The pooled string vector beside std::vector<std::string>: appending one million strings of 8 to
// 40 characters to an empty container, reading them all back, and destroying the container.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "comps/recomps/rcStrVec.h"

namespace {

constexpr int N = 1000000;

// The same strings for every run: lengths 8 to 40 from a fixed linear congruential sequence,
// packed in one block so that fetching them costs both containers little and the same.
struct Samples {
  std::string text;
  std::vector<std::pair<uint32_t, uint32_t>> spans;  // offset, length
};

const Samples& samples() {
  static const Samples all = [] {
    Samples out;
    out.spans.reserve(N);
    uint32_t x = 12345;
    for (int i = 0; i < N; ++i) {
      x = x * 1103515245u + 12345u;
      const uint32_t len = 8 + (x >> 16) % 33;
      out.spans.emplace_back(static_cast<uint32_t>(out.text.size()), len);
      out.text.append(len, static_cast<char>('a' + (x >> 8) % 26));
    }
    return out;
  }();
  return all;
}

void fill(rc::StrVec& v) {
  const Samples& all = samples();
  for (const auto& [offset, len] : all.spans) v.append(all.text.data() + offset, len);
}

void fill(std::vector<std::string>& v) {
  const Samples& all = samples();
  for (const auto& [offset, len] : all.spans) v.emplace_back(all.text.data() + offset, len);
}

void BM_AppendStrVec(benchmark::State& state) {
  samples();
  for (auto _ : state) {
    auto v = std::make_unique<rc::StrVec>();
    fill(*v);
    benchmark::DoNotOptimize((*v)[0]);
    state.PauseTiming();  // destruction is measured on its own
    v.reset();
    state.ResumeTiming();
  }
}

void BM_AppendStdVector(benchmark::State& state) {
  samples();
  for (auto _ : state) {
    auto v = std::make_unique<std::vector<std::string>>();
    fill(*v);
    benchmark::DoNotOptimize(v->data());
    state.PauseTiming();
    v.reset();
    state.ResumeTiming();
  }
}

void BM_ReadStrVec(benchmark::State& state) {
  rc::StrVec v;
  fill(v);
  for (auto _ : state) {
    uint64_t sum = 0;
    for (unsigned int i = 0; i < v.entries(); ++i)
      sum += v.strLen(i) + static_cast<uint8_t>(v[i][0]);
    benchmark::DoNotOptimize(sum);
  }
}

void BM_ReadStdVector(benchmark::State& state) {
  std::vector<std::string> v;
  fill(v);
  for (auto _ : state) {
    uint64_t sum = 0;
    for (size_t i = 0; i < v.size(); ++i) sum += v[i].size() + static_cast<uint8_t>(v[i][0]);
    benchmark::DoNotOptimize(sum);
  }
}

void BM_DestroyStrVec(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto v = std::make_unique<rc::StrVec>();
    fill(*v);
    state.ResumeTiming();
    v.reset();
  }
}

void BM_DestroyStdVector(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto v = std::make_unique<std::vector<std::string>>();
    fill(*v);
    state.ResumeTiming();
    v.reset();
  }
}

BENCHMARK(BM_AppendStrVec)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendStdVector)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadStrVec)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadStdVector)->Unit(benchmark::kMillisecond);
// Filling is untimed but not free: a fixed number of rounds keeps the run short.
BENCHMARK(BM_DestroyStrVec)->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_DestroyStdVector)->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace

BENCHMARK_MAIN();
