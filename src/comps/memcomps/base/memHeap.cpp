#include "comps/memcomps/base/memHeap.h"

#include <malloc.h>

#include <algorithm>
#include <cstring>

#if defined(__GLIBC__)
// glibc's own malloc, whatever malloc is bound to.
extern "C" void* __libc_malloc(size_t size);
#endif

namespace mem {

namespace {
constexpr const char* kSrcFile = "src/comps/memcomps/base/memHeap.cpp";
constexpr const char* kRegionUnsupported = "Region call unsupported by REGION_HEAP";
}  // namespace

constinit Heap s_myHeap;

void Heap::failFree(void* p) {
  MEM_VERIFY(mem::Header::isHeap(p), kSrcFile, "freeBlock");
  const bool valid = hdrbits::isLive(Header::attrsOf(p));
  MEM_VERIFY(valid, kSrcFile, "freeBlock");
  abort();  // unreachable: a header that is live and in the heap never gets here
}

void* Heap::callocBlock(size_t size, const AllocContext& ctx) {
  MEM_VERIFY(ctx.getRegion() == REGION_HEAP, kSrcFile, "callocBlock");
  void* base = size <= kMaxUserSize ? calloc(1, size + kHeaderSize) : nullptr;
  if (base == nullptr) throwOutOfMemory(kSrcFile, __LINE__, "callocBlock", ctx, size);
  return placeBlock(base, ctx, size, true);
}

void* Heap::reallocBlock(void* p, size_t size, const AllocContext& ctx) {
  MEM_VERIFY(ctx.getRegion() == REGION_HEAP, kSrcFile, "reallocBlock");
  if (p == nullptr) return allocBlock(size, ctx);
  if (size == 0) {
    freeBlock(p);
    return nullptr;
  }
  memHeader hdr;
  const bool valid = Header::getHeader(p, &hdr);
  MEM_VERIFY(valid && hdr.m_region == REGION_HEAP && hdr.m_memType == ctx.getMemType() &&
                 hdr.m_ioAlign == ctx.getIoAlign() && hdr.m_ioAlign == false,
             kSrcFile, "reallocBlock");
  // A size that cannot carry its header fails like exhaustion, leaving the block as it was.
  if (size > kMaxUserSize) throwOutOfMemory(kSrcFile, __LINE__, "reallocBlock", ctx, size);
  if (MEM_UNDER_VALGRIND()) {
    // realloc would move the described block behind memcheck's back: a new block, a copy of
    // what fits (valgrind's malloc_usable_size is the size asked for) and the old one freed.
    const size_t oldSize = malloc_usable_size(static_cast<char*>(p) - kHeaderSize) - kHeaderSize;
    void* newP = allocBlock(size, ctx);
    memcpy(newP, p, oldSize < size ? oldSize : size);
    freeBlock(p);
    return newP;
  }
  Header::markFree(p);
  void* oldBase = static_cast<char*>(p) - kHeaderSize;
  // Measured before realloc, which may release the old block; counted out only once the resize
  // has succeeded, since on failure the old block stays the caller's.
  const size_t oldBytes = usableSize(oldBase);
  void* base = realloc(oldBase, size + kHeaderSize);
  if (base == nullptr) {
    Header::markAllocated(p);
    throwOutOfMemory(kSrcFile, __LINE__, "reallocBlock", ctx, size);
  }
  Count& c = countOf(hdr.m_memType);
  --c.blocks;
  c.bytes -= oldBytes;
  return placeBlock(base, ctx, size, false);
}

size_t Heap::placeSlow(void* p, void* base, size_t size, bool zeroed) {
  const size_t bytes = usableSizeSlow(base);
  MEM_DESCRIBE_BLOCK(p, size, zeroed);
  static_cast<void>(p), static_cast<void>(size), static_cast<void>(zeroed);
  return bytes;
}

size_t Heap::forgetSlow(void* p, void* base) {
  MEM_FORGET_BLOCK(p);
  static_cast<void>(p);
  return usableSizeSlow(base);
}

size_t Heap::usableSizeSlow(void* base) {
  if (m_sizeSource == SizeSource::kUndecided) {
    m_sizeSource = sizeWordReadable() ? SizeSource::kSizeWord : SizeSource::kCall;
  }
  return m_sizeSource == SizeSource::kSizeWord ? fromSizeWord(base) : malloc_usable_size(base);
}

bool Heap::sizeWordReadable() {
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // malloc is glibc's own unless something was interposed (a preloaded allocator, a checker);
  // then the words around an allocation are not glibc's and are not read.
  if (reinterpret_cast<void*>(&malloc) != reinterpret_cast<void*>(&__libc_malloc)) return false;
  // Valgrind replaces the allocator without changing what malloc's address is.
  if (MEM_UNDER_VALGRIND()) return false;
  // The layout is an internal of glibc: confirm it against the call before relying on it. The
  // probes stay below the mapping threshold: freeing a mapped block would raise glibc's
  // thresholds and change how the whole process allocates.
  for (const size_t size : {size_t{1}, size_t{24}, size_t{1000}, size_t{70000}}) {
    void* probe = malloc(size);
    if (probe == nullptr) return false;
    const bool same = fromSizeWord(probe) == malloc_usable_size(probe);
    free(probe);
    if (!same) return false;
  }
  return true;
#else
  return false;
#endif
}

std::vector<TypeUsage> Heap::usageByType() const {
  std::vector<TypeUsage> usage;
  for (uint32_t t = 0; t < mt_MAX; ++t) {
    if (m_inUse[t].blocks != 0) usage.push_back(usageOf(static_cast<memType_t>(t)));
  }
  std::stable_sort(usage.begin(), usage.end(),
                   [](const TypeUsage& a, const TypeUsage& b) { return a.bytes > b.bytes; });
  return usage;
}

TypeUsage Heap::usageOf(memType_t memType) const {
  const Count c = memType < mt_MAX ? m_inUse[memType] : Count{};
  return {memType, memTypeName(memType), c.blocks, c.bytes};
}

void* Heap::getKnownObject(regionName_t regionName, memKnownObject_t ko) const {
  MEM_VERIFY(regionName == REGION_HEAP, kSrcFile, "getKnownObject");
  MEM_VERIFY(ko < KO_MAX, kSrcFile, "getKnownObject");
  return m_knownObjects[ko];
}

void* Heap::setKnownObject(regionName_t regionName, memKnownObject_t ko, void* obj,
                           bool mustBeEmpty) {
  MEM_VERIFY(regionName == REGION_HEAP, kSrcFile, "setKnownObject");
  MEM_VERIFY(ko < KO_MAX, kSrcFile, "setKnownObject");
  if (mustBeEmpty) {
    const void* oldval = m_knownObjects[ko];
    MEM_VERIFY(oldval == NULL, kSrcFile, "setKnownObject");
  }
  m_knownObjects[ko] = obj;
  return obj;
}

bool Heap::validateAllBlocks(regionName_t /*region*/) {
  throwRuntimeError(kRegionUnsupported, kSrcFile, __LINE__, "validateAllBlocks");
}

void Heap::setOverlayCount(regionName_t /*region*/, int /*count*/) {
  throwRuntimeError(kRegionUnsupported, kSrcFile, __LINE__, "setOverlayCount");
}

void Heap::configureOverlays(regionName_t /*region*/, int /*count*/) {
  throwRuntimeError(kRegionUnsupported, kSrcFile, __LINE__, "configureOverlays");
}

bool Heap::configureRegions(const char* /*prefix*/, int /*count*/,
                            const RegionDesc* /*regionDescs*/, MappingDesc* /*mappingDescs*/) {
  throwRuntimeError(kRegionUnsupported, kSrcFile, __LINE__, "configureRegions");
}

}  // namespace mem
