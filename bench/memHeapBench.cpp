// Cost of the typed heap's header work: allocBlock + freeBlock beside malloc + free of the same
// user size, one block at a time (the allocator's fast path) and in batches of 64 live blocks;
// and new + delete of a 64-byte typed object, which also notes the object it makes.
// The Uncounted rows run the heap's path as it was before blocks were counted by type (malloc,
// header written and checked, free), so the price of counting is AllocBlockFreeBlock over
// Uncounted in one run. The batches keep their pointers in place with ClobberMemory: with
// DoNotOptimize on each array element (its "+m,r" asm) GCC 12 dropped the stores into the array.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "comps/memcomps/base/memHeap.h"
#include "comps/memcomps/base/memNewDelete.h"

namespace {

constexpr int kBatch = 64;
const mem::AllocContext kCtx{mt_rc_byte_strm_buf};

void BM_MallocFree(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void* p = malloc(size);
    benchmark::DoNotOptimize(p);
    free(p);
  }
}

void BM_AllocBlockFreeBlock(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void* p = mem::allocBlock(size, kCtx);
    benchmark::DoNotOptimize(p);
    mem::freeBlock(p);
  }
}

// allocBlock and freeBlock without the per-type counts.
void* uncountedAlloc(size_t size, const mem::AllocContext& ctx) {
  void* base = malloc(size + mem::kHeaderSize);
  if (base == nullptr) abort();
  void* p = static_cast<char*>(base) + mem::kHeaderSize;
  mem::s_myHeader.setHeader(p, ctx);
  return p;
}
void uncountedFree(void* p) {
  const uint32_t attrs = mem::Header::attrsOf(p);
  if (!mem::hdrbits::isLiveHeap(attrs)) abort();
  mem::Header::markFreeChecked(p, attrs);
  free(static_cast<char*>(p) - mem::kHeaderSize);
}

void BM_Uncounted(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void* p = uncountedAlloc(size, kCtx);
    benchmark::DoNotOptimize(p);
    uncountedFree(p);
  }
}

void BM_MallocFreeBatch(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  void* blocks[kBatch];
  for (auto _ : state) {
    for (auto& p : blocks) {
      p = malloc(size);
      benchmark::ClobberMemory();
    }
    for (auto* p : blocks) free(p);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_UncountedBatch(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  void* blocks[kBatch];
  for (auto _ : state) {
    for (auto& p : blocks) {
      p = uncountedAlloc(size, kCtx);
      benchmark::ClobberMemory();
    }
    for (auto* p : blocks) uncountedFree(p);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_AllocBlockFreeBlockBatch(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  void* blocks[kBatch];
  for (auto _ : state) {
    for (auto& p : blocks) {
      p = mem::allocBlock(size, kCtx);
      benchmark::ClobberMemory();
    }
    for (auto* p : blocks) mem::freeBlock(p);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

struct Typed : mem::newDelete<mt_rc_byte_strm> {
  char m_bytes[64];
};

void BM_TypedNewDelete(benchmark::State& state) {
  for (auto _ : state) {
    Typed* p = new Typed;
    benchmark::DoNotOptimize(p);
    delete p;
  }
}

}  // namespace

BENCHMARK(BM_TypedNewDelete);
BENCHMARK(BM_MallocFree)->Arg(16)->Arg(64)->Arg(256)->Arg(4096);
BENCHMARK(BM_Uncounted)->Arg(16)->Arg(64)->Arg(256)->Arg(4096);
BENCHMARK(BM_AllocBlockFreeBlock)->Arg(16)->Arg(64)->Arg(256)->Arg(4096);
BENCHMARK(BM_MallocFreeBatch)->Arg(16)->Arg(64)->Arg(256)->Arg(4096);
BENCHMARK(BM_UncountedBatch)->Arg(16)->Arg(64)->Arg(256)->Arg(4096);
BENCHMARK(BM_AllocBlockFreeBlockBatch)->Arg(16)->Arg(64)->Arg(256)->Arg(4096);

BENCHMARK_MAIN();
