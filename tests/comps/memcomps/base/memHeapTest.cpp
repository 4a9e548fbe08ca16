#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "comps/memcomps/base/memHeap.h"
#include "comps/memcomps/base/memNewDelete.h"
#include "memTestUtil.h"
#include "qvTestUtil.h"

using memtest::headerBytes;

namespace {

bool aligned(const void* p) { return reinterpret_cast<uintptr_t>(p) % mem::kBlockAlignment == 0; }

}  // namespace

TEST(Heap, AllocationsCarryTheirContextAndAreAligned) {
  enum Kind { ALLOC, NOTHROW, CALLOC };
  const size_t sizes[] = {0, 1, 7, 8, 15, 16, 100, 4096, 1 << 20};
  const mem::AllocContext contexts[] = {
      mem::k_anonHeap,
      mem::AllocContext(mt_rc_byte_strm_buf, mem::REGION_GLOBAL, mem::MEM_NOALIGN,
                        mem::MEM_SCOPE_PERMANENT),
      mem::AllocContext(mt_strvec, mem::REGION_PM, mem::MEM_ALIGN),
  };
  for (Kind kind : {ALLOC, NOTHROW, CALLOC}) {
    for (const mem::AllocContext& ctx : contexts) {
      for (size_t size : sizes) {
        SCOPED_TRACE(testing::Message()
                     << "kind " << kind << ", type " << ctx.getMemType() << ", size " << size);
        void* p = kind == ALLOC     ? mem::allocBlock(size, ctx)
                  : kind == NOTHROW ? mem::allocBlockNothrow(size, ctx)
                                    : mem::callocBlock(size, ctx);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(aligned(p));
        mem::memHeader hdr;
        ASSERT_TRUE(mem::Header::getHeader(p, &hdr));
        EXPECT_EQ(hdr.m_memType, ctx.getMemType());
        EXPECT_EQ(hdr.m_region, mem::REGION_HEAP);  // whatever the context asked for
        EXPECT_EQ(hdr.m_memScope, ctx.getMemScope());
        EXPECT_EQ(hdr.m_ioAlign, ctx.getIoAlign());
        EXPECT_EQ(mem::getMemRegion(p), mem::REGION_HEAP);
        if (kind == CALLOC) {
          const auto* bytes = static_cast<const unsigned char*>(p);
          size_t nonZero = 0;
          for (size_t i = 0; i < size; ++i) nonZero += bytes[i] != 0;
          EXPECT_EQ(nonZero, 0u);
        }
        memset(p, 0xA5, size);  // the whole size is usable (the sanitizer checks the bounds)
        EXPECT_TRUE(mem::validateBlock(p, ctx.getMemType()));
        mem::freeBlock(p);
      }
    }
  }
}

TEST(Heap, ReallocKeepsContentsAndRestampsTheHeader) {
  mem::s_myHeader.clear();
  const mem::AllocContext ctx(mt_rc_byte_strm_buf, mem::REGION_HEAP, mem::MEM_NOALIGN,
                              mem::MEM_SCOPE_PERMANENT);

  // A null block is allocated.
  char* p = static_cast<char*>(mem::reallocBlock(nullptr, 10, ctx));
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(mem::validateBlock(p, mt_rc_byte_strm_buf));
  memcpy(p, "0123456789", 10);

  // Growing and shrinking keep the bytes; the new header carries the id in force now.
  mem::setTrackingId(mem::MEM_TRACK_PGMID, 922);
  const size_t steps[] = {100000, 5, 64};
  size_t kept = 10;
  for (size_t size : steps) {
    SCOPED_TRACE(size);
    p = static_cast<char*>(mem::reallocBlock(p, size, ctx));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(aligned(p));
    kept = std::min(kept, size);
    EXPECT_EQ(memcmp(p, "0123456789", kept), 0);
    const memtest::Bytes expected = {0x9A, 0x03, 0, 0, 0x37, 0x01, 0x50, 0x0C};
    EXPECT_EQ(headerBytes(p), expected);
    memset(p + kept, 0, size - kept);
  }
  mem::s_myHeader.clear();

  // Size 0 frees and answers null; freeing null does nothing.
  EXPECT_EQ(mem::reallocBlock(p, 0, ctx), nullptr);
  mem::freeBlock(nullptr);
}

TEST(Heap, ExhaustionByOversizeRequests) {
  // Requests that cannot carry the header fail like exhaustion instead of wrapping around to a
  // tiny block.
  const size_t oversize[] = {SIZE_MAX, SIZE_MAX - 7, SIZE_MAX - mem::kHeaderSize + 1};
  for (size_t size : oversize) {
    SCOPED_TRACE(size);
    EXPECT_EQ(mem::allocBlockNothrow(size), nullptr);
    EXPECT_THROW(mem::allocBlock(size), std::bad_alloc);
    EXPECT_THROW(mem::callocBlock(size), std::bad_alloc);

    char* p = static_cast<char*>(mem::allocBlock(4, mem::AllocContext(mt_strbuf)));
    memcpy(p, "abc", 4);
    const memtest::Bytes before = headerBytes(p);
    EXPECT_THROW(mem::reallocBlock(p, size, mem::AllocContext(mt_strbuf)), std::bad_alloc);
    EXPECT_EQ(headerBytes(p), before);
    EXPECT_STREQ(p, "abc");
    mem::freeBlock(p);
  }
}

TEST(Heap, ExhaustionOfTheUnderlyingAllocator) {
  // In its own process, where the address sanitizer's allocator may answer null too.
  const qvtest::ProcResult r =
      qvtest::runProgram(qvtest::testAppPath("memHeapExhaust"), {},
                         {"ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "allocBlockNothrow: null\n"
            "allocBlock: bad_alloc\n"
            "callocBlock: bad_alloc\n"
            "reallocBlock: bad_alloc, old block valid and intact\n")
      << r.err;
}

TEST(Heap, KnownObjectSlots) {
  int a = 0;
  int b = 0;
  for (int ko = mem::KO_TEST; ko < mem::KO_MAX; ++ko) {
    SCOPED_TRACE(ko);
    const auto slot = static_cast<mem::memKnownObject_t>(ko);
    void* saved = mem::getKnownObject(mem::REGION_HEAP, slot);
    mem::setKnownObject(mem::REGION_HEAP, slot, nullptr, false);
    EXPECT_EQ(mem::setKnownObject(mem::REGION_HEAP, slot, &a, true), &a);
    // The region argument is forced to the heap.
    EXPECT_EQ(mem::getKnownObject(mem::REGION_GLOBAL, slot), &a);
    EXPECT_EQ(mem::setKnownObject(mem::REGION_PM, slot, &b, false), &b);
    EXPECT_EQ(mem::getKnownObject(mem::REGION_HEAP, slot), &b);
    mem::setKnownObject(mem::REGION_HEAP, slot, saved, false);
  }
}

TEST(Heap, UnsupportedRegionCallsThrow) {
  struct Case {
    const char* function;
    void (*call)();
  };
  const Case cases[] = {
      {"validateAllBlocks", [] { mem::validateAllBlocks(mem::REGION_HEAP); }},
      {"setOverlayCount", [] { mem::setOverlayCount(mem::REGION_GLOBAL, 2); }},
      {"configureOverlays", [] { mem::configureOverlays(mem::REGION_PM, 2); }},
      {"configureRegions",
       [] {
         mem::RegionDesc region;
         mem::MappingDesc mapping;
         mem::configureRegions("qv", 1, &region, &mapping);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    try {
      c.call();
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      // "'<message>' at <file>(<line>) in <function>"
      const std::string text = e.what();
      const std::string head =
          "'Region call unsupported by REGION_HEAP' at src/comps/memcomps/base/memHeap.cpp(";
      const std::string tail = std::string(") in ") + c.function;
      ASSERT_GT(text.size(), head.size() + tail.size()) << text;
      EXPECT_EQ(text.substr(0, head.size()), head);
      EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
      const std::string line = text.substr(head.size(), text.size() - head.size() - tail.size());
      EXPECT_EQ(line.find_first_not_of("0123456789"), std::string::npos) << text;
    }
  }
}

TEST(Heap, MisuseEndsTheProcess) {
  using memtest::expectVerifyFailure;
  const mem::AllocContext global(mt_strbuf, mem::REGION_GLOBAL);
  const char* reallocCheck =
      "valid && hdr.m_region == REGION_HEAP && hdr.m_memType == ctx.getMemType() && "
      "hdr.m_ioAlign == ctx.getIoAlign() && hdr.m_ioAlign == false";

  // Freeing what is not a live heap block.
  memtest::FakeBlock foreign({0, 0, 0, 0, 0, 0, 0, 0});
  memtest::FakeBlock otherRegion({0, 0, 0, 0, 2, 0, 0x01, 0x0C});
  memtest::FakeBlock marked({0, 0, 0, 0, 2, 0, 0, 0x30});
  expectVerifyFailure([&] { mem::freeBlock(foreign.user()); }, "valid", "freeBlock");
  expectVerifyFailure([&] { mem::freeBlock(otherRegion.user()); }, "mem::Header::isHeap(p)",
                      "freeBlock");
  expectVerifyFailure([&] { mem::freeBlock(marked.user()); }, "valid", "freeBlock");
  expectVerifyFailure(
      [] {
        void* p = mem::allocBlock(16);
        mem::Header::markFree(p);
        mem::freeBlock(p);
      },
      "valid", "freeBlock");

  // The heap itself accepts only its own region; the free functions force it, except on resize.
  expectVerifyFailure([&] { mem::s_myHeap.allocBlock(8, global); },
                      "ctx.getRegion() == REGION_HEAP", "allocBlock");
  expectVerifyFailure([&] { mem::s_myHeap.allocBlockNothrow(8, global); },
                      "ctx.getRegion() == REGION_HEAP", "allocBlockNothrow");
  expectVerifyFailure([&] { mem::s_myHeap.callocBlock(8, global); },
                      "ctx.getRegion() == REGION_HEAP", "callocBlock");
  expectVerifyFailure([&] { mem::reallocBlock(nullptr, 8, global); },
                      "ctx.getRegion() == REGION_HEAP", "reallocBlock");

  // Resizing needs a live, unaligned block of the context's type and alignment.
  expectVerifyFailure(
      [] {
        mem::reallocBlock(mem::allocBlock(8, mem::AllocContext(mt_strbuf)), 16,
                          mem::AllocContext(mt_strvec));
      },
      reallocCheck, "reallocBlock");
  expectVerifyFailure(
      [] {
        const mem::AllocContext alignedCtx(mt_strbuf, mem::REGION_HEAP, mem::MEM_ALIGN);
        mem::reallocBlock(mem::allocBlock(8, alignedCtx), 16, alignedCtx);
      },
      reallocCheck, "reallocBlock");
  expectVerifyFailure(
      [] {
        mem::reallocBlock(mem::allocBlock(8, mem::AllocContext(mt_strbuf)), 16,
                          mem::AllocContext(mt_strbuf, mem::REGION_HEAP, mem::MEM_ALIGN));
      },
      reallocCheck, "reallocBlock");
  expectVerifyFailure([&] { mem::reallocBlock(foreign.user(), 16, mem::k_anonHeap); }, reallocCheck,
                      "reallocBlock");

  // Known-object slots: a taken slot, an index out of range, a region other than the heap.
  int x = 0;
  expectVerifyFailure(
      [&] {
        mem::setKnownObject(mem::REGION_HEAP, mem::KO_TEST, nullptr, false);
        mem::setKnownObject(mem::REGION_HEAP, mem::KO_TEST, &x, true);
        mem::setKnownObject(mem::REGION_HEAP, mem::KO_TEST, &x, true);
      },
      "oldval == NULL", "setKnownObject");
  expectVerifyFailure([&] { mem::setKnownObject(mem::REGION_HEAP, mem::KO_MAX, &x, false); },
                      "ko < KO_MAX", "setKnownObject");
  expectVerifyFailure([] { mem::getKnownObject(mem::REGION_HEAP, mem::KO_MAX); }, "ko < KO_MAX",
                      "getKnownObject");
  expectVerifyFailure([] { mem::s_myHeap.getKnownObject(mem::REGION_GLOBAL, mem::KO_TEST); },
                      "regionName == REGION_HEAP", "getKnownObject");
  expectVerifyFailure(
      [&] { mem::s_myHeap.setKnownObject(mem::REGION_PM, mem::KO_TEST, &x, false); },
      "regionName == REGION_HEAP", "setKnownObject");
}

TEST(Heap, DoubleFreeEndsTheProcess) {
  // The released memory belongs to the C library by then, which may have reused the header
  // bytes; either check may be the one that fires, but the block is never released twice.
  const qvtest::ProcResult r = qvtest::runInChild([] {
    void* p = mem::allocBlock(32);
    void* volatile again = p;  // hides the deliberate second free from the compiler's checks
    mem::freeBlock(p);
    mem::freeBlock(again);
  });
  EXPECT_EQ(r.termSignal, SIGABRT) << r.err;
  EXPECT_TRUE(r.err.find("freeBlock: Assertion `valid' failed.") != std::string::npos ||
              r.err.find("freeBlock: Assertion `mem::Header::isHeap(p)' failed.") !=
                  std::string::npos)
      << r.err;
}

namespace {

// malloc_usable_size of the blocks, headers included: what the heap must report for them.
size_t usableBytes(const std::vector<void*>& blocks) {
  size_t bytes = 0;
  for (void* p : blocks) bytes += malloc_usable_size(static_cast<char*>(p) - mem::kHeaderSize);
  return bytes;
}

struct RootObject : mem::newDelete<mt_root> {
  char bytes[40];
};

}  // namespace

TEST(Heap, CountsLiveBlocksAndUsableBytesByType) {
  constexpr int N = 50;
  constexpr size_t kSize = 40;  // RootObject's size
  const mem::AllocContext ctx(mt_root);
  // The heap's ways of making a block (allocRaw, calloc) and a typed object, each released its way.
  const struct Path {
    const char* name;
    void* (*make)(const mem::AllocContext&);
    void (*release)(void*);
  } paths[] = {
      {"allocBlock", [](const mem::AllocContext& c) { return mem::allocBlock(kSize, c); },
       mem::freeBlock},
      {"callocBlock", [](const mem::AllocContext& c) { return mem::callocBlock(kSize, c); },
       mem::freeBlock},
      {"typed new", [](const mem::AllocContext&) -> void* { return new RootObject; },
       [](void* p) { delete static_cast<RootObject*>(p); }},
  };
  for (const Path& path : paths) {
    SCOPED_TRACE(path.name);
    const mem::TypeUsage before = mem::s_myHeap.usageOf(mt_root);
    std::vector<void*> blocks;
    for (int i = 0; i < N; ++i) blocks.push_back(path.make(ctx));
    mem::TypeUsage now = mem::s_myHeap.usageOf(mt_root);
    EXPECT_EQ(now.blocks, before.blocks + N);
    EXPECT_GE(now.bytes - before.bytes, N * (kSize + mem::kHeaderSize));
    EXPECT_EQ(now.bytes - before.bytes, usableBytes(blocks));

    // Resizing moves bytes, never blocks.
    for (void*& p : blocks) p = mem::reallocBlock(p, 20 * kSize, ctx);
    now = mem::s_myHeap.usageOf(mt_root);
    EXPECT_EQ(now.blocks, before.blocks + N);
    EXPECT_EQ(now.bytes - before.bytes, usableBytes(blocks));

    for (void* p : blocks) path.release(p);
    now = mem::s_myHeap.usageOf(mt_root);
    EXPECT_EQ(now.blocks, before.blocks);
    EXPECT_EQ(now.bytes, before.bytes);
  }
}

TEST(Heap, UsageByTypeIsNamedAndLargestFirst) {
  EXPECT_STREQ(mem::memTypeName(mt_rc_string), "mt_rc_string");
  EXPECT_EQ(mem::memTypeName(static_cast<memType_t>(100)), nullptr);  // another program's tag
  EXPECT_EQ(mem::memTypeName(mt_MAX), nullptr);

  void* big = mem::allocBlock(size_t{64} << 20, mem::AllocContext(mt_root));
  void* foreign = mem::allocBlock(10, mem::AllocContext(static_cast<memType_t>(100)));
  const std::vector<mem::TypeUsage> usage = mem::usageByType();
  ASSERT_FALSE(usage.empty());
  EXPECT_EQ(usage.front().memType, mt_root);
  EXPECT_STREQ(usage.front().name, "mt_root");
  EXPECT_EQ(usage.front().bytes, usableBytes({big}));  // a block of its own mapping
  bool foreignSeen = false;
  EXPECT_TRUE(std::is_sorted(usage.begin(), usage.end(),
                             [](const auto& a, const auto& b) { return a.bytes > b.bytes; }));
  for (const mem::TypeUsage& u : usage) {
    EXPECT_GT(u.blocks, 0u) << u.memType;
    foreignSeen |= u.memType == 100 && u.name == nullptr;
  }
  EXPECT_TRUE(foreignSeen);
  mem::freeBlock(foreign);
  mem::freeBlock(big);
}
