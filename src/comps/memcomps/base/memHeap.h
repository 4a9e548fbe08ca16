// The process heap of the memory layer and the free functions every caller uses.
//
// Every block the framework allocates for itself comes from here: malloc'd with 8 extra bytes for
// the block header (memHeader.h), which records the block's type, region, scope, alignment and
// the tracking id in force. Blocks are released with freeBlock, never with free(). User pointers
// are aligned to kBlockAlignment (8) bytes.
//
// Only REGION_HEAP exists in this program. The free functions force the region of a context to
// REGION_HEAP (so a class tagged for a shared region still lands on the heap); the region
// management calls either do nothing or throw std::runtime_error, as listed below.
//
// Errors: exhaustion throws std::bad_alloc (allocBlockNothrow returns null instead). Misuse —
// freeing a foreign or already freed pointer, resizing with a context of another type, a region
// other than REGION_HEAP given to the heap itself, a taken known-object slot — ends the process
// through a failed verification (memError.h).
//
// The heap counts, per memory type, its live blocks and the bytes malloc_usable_size reports for
// them (header included), so a running program can show what it holds by type (usageByType).
// Every path that makes, resizes or frees a block moves the counts; a block must therefore be
// released through this heap, never with free().
//
// s_myHeap is process-wide and constant-initialised; allocation works during static
// initialisation and nothing is torn down at exit. Not thread-safe beyond what malloc provides:
// the known-object table and the tracking state belong to the application thread. Not for use in
// signal handlers.
#pragma once

#include <malloc.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "comps/memcomps/base/memError.h"
#include "comps/memcomps/base/memHeader.h"
#include "comps/memcomps/base/memTypes.h"

// Under valgrind the user part of each block is described as a block of its own: the malloc'd
// block begins at the header, 8 bytes before any pointer the program keeps, and memcheck would
// otherwise take every live block for "possibly lost". The requests are made only on the heap's
// slow path, which valgrind always takes (see placeSlow); without valgrind's header they are left
// out.
#if defined(__has_include)
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#define MEM_DESCRIBE_BLOCK(p, size, zeroed) VALGRIND_MALLOCLIKE_BLOCK(p, size, 0, zeroed)
#define MEM_FORGET_BLOCK(p) VALGRIND_FREELIKE_BLOCK(p, 0)
#define MEM_UNDER_VALGRIND() (RUNNING_ON_VALGRIND != 0)
#endif
#endif
#ifndef MEM_DESCRIBE_BLOCK
#define MEM_DESCRIBE_BLOCK(p, size, zeroed) ((void)0)
#define MEM_FORGET_BLOCK(p) ((void)0)
#define MEM_UNDER_VALGRIND() false
#endif

namespace mem {

// Description of a shared region, accepted by configureRegions (which the process heap refuses).
struct RegionDesc {
  enum regionType_t { REGION_TYPE_SHARED_SINGLE = 0, REGION_TYPE_SHARED_OVERLAY = 1 };

  regionName_t m_regionName = REGION_HEAP;
  regionType_t m_regionType = REGION_TYPE_SHARED_SINGLE;
  size_t m_regionSize = 0;
  size_t m_minSegmentSize = 0;
  int m_overlayCount = 0;
  int m_concurrency = 0;
  int m_numaPolicy = MEM_DEFAULT_POLICY;
  bool m_clearOnFree = false;
  char m_clearChar = 0;
  bool m_ioalign = false;
};

// Where a shared region is mapped.
struct MappingDesc {
  int m_segmentCount = 0;
  void* m_base = nullptr;
  size_t m_length = 0;
};

// Which blocks iterateBlocks visits.
struct FilterSpec {
  bool m_setReported = false;  // mark visited blocks reported
  bool m_filterMemType = false;
  bool m_filterNew = false;  // only blocks not yet reported
  memType_t m_memType = mt_unused;
};

// Hooks a fault-insertion layer may place around allocation; never set in this program.
struct FaultInterface {
  bool (*m_preallocFn)(size_t size, const AllocContext& ctx) = nullptr;
  void (*m_oomFn)(size_t size, const AllocContext& ctx) = nullptr;
  void (*m_allocFn)(void* p, size_t size, const AllocContext& ctx) = nullptr;
  void (*m_reallocFn)(void* oldP, void* newP, size_t size, const AllocContext& ctx) = nullptr;
  void (*m_freeFn)(void* p) = nullptr;
};

using BlockCallback = void (*)(void* p, const memHeader& hdr, void* arg);

// What the heap holds of one memory type. name is the type's enumerator ("mt_rc_string"), null
// for a tag this program does not name.
struct TypeUsage {
  memType_t memType;
  const char* name;
  size_t blocks;
  size_t bytes;  // malloc_usable_size of every live block, header included
};

class Heap {
 public:
  constexpr Heap() = default;
  Heap(const Heap&) = delete;
  Heap& operator=(const Heap&) = delete;

  // ctx's region must be REGION_HEAP. Throws std::bad_alloc on exhaustion.
  void* allocBlock(size_t size, const AllocContext& ctx) {
    void* p = allocRaw(size, ctx, "allocBlock");
    if (__builtin_expect(p == nullptr, 0))
      throwOutOfMemory(kFile, __LINE__, "allocBlock", ctx, size);
    return p;
  }
  // As allocBlock, but null on exhaustion.
  void* allocBlockNothrow(size_t size, const AllocContext& ctx) {
    return allocRaw(size, ctx, "allocBlockNothrow");
  }
  // As allocBlock with the user bytes zeroed.
  void* callocBlock(size_t size, const AllocContext& ctx);
  // Null p allocates; size 0 frees p and returns null. Otherwise p must be a live block of ctx's
  // type that is not aligned. On exhaustion the old block stays valid and std::bad_alloc is
  // thrown. The new header carries the tracking id in force now.
  void* reallocBlock(void* p, size_t size, const AllocContext& ctx);
  // Null is ignored; p must be a live block of this heap. The header keeps its bits with the
  // free magic.
  void freeBlock(void* p) {
    if (p == nullptr) return;
    const uint32_t attrs = Header::attrsOf(p);
    if (__builtin_expect(!hdrbits::isLiveHeap(attrs), 0)) failFree(p);
    Header::markFreeChecked(p, attrs);
    void* base = static_cast<char*>(p) - kHeaderSize;
    Count& c = countOf(attrs & hdrbits::kTypeMask);
    --c.blocks;
    if (__builtin_expect(m_sizeSource == SizeSource::kSizeWord, 1)) {
      c.bytes -= fromSizeWord(base);
    } else {
      c.bytes -= forgetSlow(p, base);
    }
    free(base);
  }

  // The types with live blocks, most bytes first (ties by type). The snapshot is kept outside the
  // typed heap so that taking it does not change what it reports.
  std::vector<TypeUsage> usageByType() const;
  // One type's counts; zero for a type without live blocks or out of range.
  TypeUsage usageOf(memType_t memType) const;

  void* getKnownObject(regionName_t regionName, memKnownObject_t ko) const;
  // Stores obj in slot ko and returns it; with mustBeEmpty the slot must still be null.
  void* setKnownObject(regionName_t regionName, memKnownObject_t ko, void* obj, bool mustBeEmpty);

  // Accepted and ignored: this program never inserts allocation faults.
  void setFaultInterface(FaultInterface* /*faults*/) {}
  const FaultInterface* faultInterface() const { return m_faults; }

  // Shared-region management, which the process heap does not support: each throws
  // std::runtime_error "'Region call unsupported by REGION_HEAP' at <file>(<line>) in <call>".
  bool validateAllBlocks(regionName_t region);
  void setOverlayCount(regionName_t region, int count);
  void configureOverlays(regionName_t region, int count);
  bool configureRegions(const char* prefix, int count, const RegionDesc* regionDescs,
                        MappingDesc* mappingDescs);

 private:
  static constexpr const char* kFile = "src/comps/memcomps/base/memHeap.h";
  // Sizes above this would wrap around when the header is added.
  static constexpr size_t kMaxUserSize = SIZE_MAX - kHeaderSize;

  // Ends the process with the verification that a block given to freeBlock fails.
  [[noreturn, gnu::cold, gnu::noinline]] static void failFree(void* p);

  void* allocRaw(size_t size, const AllocContext& ctx, const char* function) {
    MEM_VERIFY(ctx.getRegion() == REGION_HEAP, kFile, function);
    if (__builtin_expect(size > kMaxUserSize, 0)) return nullptr;
    void* base = malloc(size + kHeaderSize);
    if (__builtin_expect(base == nullptr, 0)) return nullptr;
    return placeBlock(base, ctx, size, false);
  }
  // Writes the header of a fresh allocation of size bytes and counts it; returns the user pointer.
  void* placeBlock(void* base, const AllocContext& ctx, size_t size, bool zeroed) {
    void* p = static_cast<char*>(base) + kHeaderSize;
    m_header->setHeader(p, ctx);  // verifies the type, so it indexes the counts safely
    Count& c = countOf(ctx.getMemType());
    ++c.blocks;
    if (__builtin_expect(m_sizeSource == SizeSource::kSizeWord, 1)) {
      c.bytes += fromSizeWord(base);
    } else {
      c.bytes += placeSlow(p, base, size, zeroed);
    }
    return p;
  }

  // Plain counters: the heap belongs to the application thread, and an atomic add would cost
  // more than the header work itself.
  struct Count {
    size_t blocks;
    size_t bytes;
  };
  // The counts are indexed through a mask: a verified type is below mt_MAX, so the mask changes
  // nothing, and it shows the compiler that no index leaves the array.
  static constexpr uint32_t kCountSlots = std::bit_ceil(static_cast<uint32_t>(mt_MAX));
  Count& countOf(uint32_t memType) { return m_inUse[memType & (kCountSlots - 1)]; }
  // The paths of a process that does not read the size word (the first block, a sanitizer, an
  // interposed allocator, valgrind): the block's usable size, and under valgrind the block
  // described to memcheck or forgotten. Kept out of line so that the usual path carries none of
  // it: the requests to valgrind alone would cost more than the counting.
  [[gnu::noinline]] size_t placeSlow(void* p, void* base, size_t size, bool zeroed);
  [[gnu::noinline]] size_t forgetSlow(void* p, void* base);

 public:
  // How usableSize gets its answer: decided at the first block, then fixed for the process, so a
  // block is always counted out with the figure it was counted in with.
  enum class SizeSource : uint8_t { kUndecided, kSizeWord, kCall };
  // malloc_usable_size(base) for an allocation the heap owns. With the C library's own allocator
  // in place the figure is read from the size word that allocator keeps in front of each
  // allocation, computed as malloc_usable_size computes it: the call alone would cost more than
  // all the rest of the counting. Any other allocator (a preloaded one, a sanitizer's) is asked
  // through the call.
  size_t usableSize(void* base) {
    if (__builtin_expect(m_sizeSource == SizeSource::kSizeWord, 1)) return fromSizeWord(base);
    return usableSizeSlow(base);
  }
  SizeSource sizeSource() const { return m_sizeSource; }

 private:
  // glibc keeps the chunk size in the word before the allocation; its low three bits are flags, of
  // which 2 marks a chunk of its own mapping, whose usable part is one word shorter.
  // The word lies before the start of the allocation, which the compiler takes for an access out
  // of bounds (and warns about): the empty asm hides where the address came from.
  static size_t fromSizeWord(const void* base) {
    uintptr_t addr = reinterpret_cast<uintptr_t>(base) - sizeof(size_t);
    asm("" : "+r"(addr));
    const size_t word = *reinterpret_cast<const size_t*>(addr);
    return (word & ~size_t{7}) - sizeof(size_t) - (word & 2) * (sizeof(size_t) / 2);
  }
  [[gnu::noinline]] size_t usableSizeSlow(void* base);
  // Whether fromSizeWord may be used in this process.
  static bool sizeWordReadable();

  // The tracking state stamped into this heap's headers; a constant so that the allocation path
  // reaches it without an extra load.
  static constexpr Header* m_header = &s_myHeader;
  FaultInterface* m_faults = nullptr;
  void* m_knownObjects[KO_MAX] = {nullptr, nullptr, nullptr};
  SizeSource m_sizeSource = SizeSource::kUndecided;
  Count m_inUse[kCountSlots] = {};
};

extern Heap s_myHeap;

// --- The interface every caller uses. -----------------------------------------------------------

namespace detail {
constexpr AllocContext onHeap(AllocContext ctx) {
  ctx.setRegion(REGION_HEAP);
  return ctx;
}
}  // namespace detail

inline void* allocBlock(size_t size, const AllocContext& ctx = k_anonHeap) {
  return s_myHeap.allocBlock(size, detail::onHeap(ctx));
}
inline void* allocBlockNothrow(size_t size, const AllocContext& ctx = k_anonHeap) {
  return s_myHeap.allocBlockNothrow(size, detail::onHeap(ctx));
}
inline void* callocBlock(size_t size, const AllocContext& ctx = k_anonHeap) {
  return s_myHeap.callocBlock(size, detail::onHeap(ctx));
}
// ctx's region is not forced: resizing with another region is a failed verification.
inline void* reallocBlock(void* p, size_t size, const AllocContext& ctx = k_anonHeap) {
  return s_myHeap.reallocBlock(p, size, ctx);
}
inline void freeBlock(void* p) { s_myHeap.freeBlock(p); }

// What the process heap holds, by memory type, most bytes first.
inline std::vector<TypeUsage> usageByType() { return s_myHeap.usageByType(); }

inline bool validateBlock(const void* p, memType_t memType) {
  return Header::validateHeader(p, memType);
}
inline bool getMemType(const void* p, memType_t* memType) { return Header::getMemType(p, memType); }
// Every pointer is in the process heap as far as this program is concerned.
inline regionName_t getMemRegion(const void* /*p*/) { return REGION_HEAP; }

inline void setTrackingId(memTrack_t kind, uint32_t id) { s_myHeader.setTrackingId(kind, id); }

inline void* getKnownObject(regionName_t /*region*/, memKnownObject_t ko) {
  return s_myHeap.getKnownObject(REGION_HEAP, ko);
}
inline void* setKnownObject(regionName_t /*region*/, memKnownObject_t ko, void* obj,
                            bool mustBeEmpty) {
  return s_myHeap.setKnownObject(REGION_HEAP, ko, obj, mustBeEmpty);
}

inline size_t getFriendlySize(size_t n) { return n; }

// Calls that manage shared regions; the process heap has none, so they succeed doing nothing.
inline bool initProcess(const char* /*prefixName*/, int /*heapId*/) { return true; }
inline void finiProcess() {}
inline void closeRegionAll() {}
inline void openRegion(regionName_t /*region*/, int /*overlay*/) {}
inline void closeRegion(regionName_t /*region*/, int /*overlay*/) {}
inline void setHeapId(int /*id*/) {}
inline void setFaultInterface(FaultInterface* faults) { s_myHeap.setFaultInterface(faults); }
inline int getOverlay(regionName_t /*region*/) { return 0; }
inline size_t getRegionSize(regionName_t /*region*/, int /*overlay*/, size_t* available = nullptr) {
  if (available != nullptr) *available = 0;
  return 0;
}
inline bool validateOverlay(regionName_t /*region*/, int /*overlay*/) { return true; }
// The process heap keeps no list of its blocks: visits nothing and returns 0.
inline int iterateBlocks(regionName_t /*region*/, const FilterSpec* /*filter*/,
                         BlockCallback /*callback*/, void* /*arg*/) {
  return 0;
}

// Unsupported by the process heap: these throw std::runtime_error.
inline bool validateAllBlocks(regionName_t region) { return s_myHeap.validateAllBlocks(region); }
inline void setOverlayCount(regionName_t region, int count) {
  s_myHeap.setOverlayCount(region, count);
}
inline void configureOverlays(regionName_t region, int count) {
  s_myHeap.configureOverlays(region, count);
}
inline bool configureRegions(const char* prefix, int count, const RegionDesc* regionDescs,
                             MappingDesc* mappingDescs) {
  return s_myHeap.configureRegions(prefix, count, regionDescs, mappingDescs);
}

}  // namespace mem
