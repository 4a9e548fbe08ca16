#include "comps/memcomps/base/memHeap.h"

#include <malloc.h>

#include <cstring>

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
  void* p = static_cast<char*>(base) + kHeaderSize;
  m_header->setHeader(p, ctx);
  MEM_DESCRIBE_BLOCK(p, size, true);
  return p;
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
  void* base = realloc(static_cast<char*>(p) - kHeaderSize, size + kHeaderSize);
  if (base == nullptr) {
    Header::markAllocated(p);
    throwOutOfMemory(kSrcFile, __LINE__, "reallocBlock", ctx, size);
  }
  void* newP = static_cast<char*>(base) + kHeaderSize;
  m_header->setHeader(newP, ctx);
  return newP;
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
