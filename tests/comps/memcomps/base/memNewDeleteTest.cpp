#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>

#include "comps/memcomps/base/memHeap.h"
#include "comps/memcomps/base/memNewDelete.h"

namespace {

// Tagged for a shared region, as the cross-process mutex is: it still lands on the heap.
class Tagged : public mem::newDelete<mt_rc_mutex, mem::REGION_MIN, mem::MEM_NOALIGN,
                                     mem::MEM_SCOPE_PERMANENT> {
 public:
  Tagged() = default;
  explicit Tagged(bool fail) {
    if (fail) throw std::runtime_error("constructor failed");
  }
  int64_t m_value = 7;
  double m_ratio = 0.5;
};

class Plain {
 public:
  int64_t m_value = 7;
  double m_ratio = 0.5;
};

// Owns a buffer allocated with its own attributes, the way the framework's objects do.
class Owner : public mem::newDelete<mt_rc_byte_strm, mem::REGION_HEAP, mem::MEM_NOALIGN,
                                    mem::MEM_SCOPE_PERMANENT> {
 public:
  Owner() : m_buf(mem::allocBlock(32, mem::AllocContext(this, mt_rc_byte_strm_buf))) {}
  ~Owner() { mem::freeBlock(m_buf); }
  void* m_buf;
};

void expectTagged(const void* p) {
  mem::memHeader hdr;
  ASSERT_TRUE(mem::Header::getHeader(p, &hdr));
  EXPECT_EQ(hdr.m_memType, mt_rc_mutex);
  EXPECT_EQ(hdr.m_region, mem::REGION_HEAP);
  EXPECT_EQ(hdr.m_memScope, mem::MEM_SCOPE_PERMANENT);
  EXPECT_EQ(hdr.m_ioAlign, 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(Tagged), 0u);
}

}  // namespace

TEST(NewDelete, ObjectsAreTaggedHeapBlocks) {
  static_assert(sizeof(Tagged) == sizeof(Plain), "the base adds no storage");

  Tagged* one = new Tagged;
  expectTagged(one);
  EXPECT_EQ(one->m_value, 7);
  delete one;

  Tagged* many = new Tagged[5];
  expectTagged(reinterpret_cast<const char*>(many) -
               (mem::validateBlock(many, mt_rc_mutex) ? 0 : sizeof(size_t)));
  EXPECT_EQ(many[4].m_ratio, 0.5);
  delete[] many;

  Tagged* quiet = new (std::nothrow) Tagged;
  ASSERT_NE(quiet, nullptr);
  expectTagged(quiet);
  delete quiet;

  // Placement new is still available.
  alignas(Tagged) unsigned char storage[sizeof(Tagged)];
  Tagged* placed = new (storage) Tagged;
  EXPECT_EQ(static_cast<void*>(placed), static_cast<void*>(storage));
  EXPECT_FALSE(mem::validateBlock(placed, mt_rc_mutex));
  placed->~Tagged();
}

TEST(NewDelete, FailedConstructionReleasesTheBlock) {
  // A leak here is reported by the sanitizer build.
  EXPECT_THROW(new Tagged(true), std::runtime_error);
}

TEST(NewDelete, OwnedBuffersInheritTheOwnersAttributes) {
  Owner* heapOwner = new Owner;
  mem::memHeader hdr;
  ASSERT_TRUE(mem::Header::getHeader(heapOwner->m_buf, &hdr));
  EXPECT_EQ(hdr.m_memType, mt_rc_byte_strm_buf);
  EXPECT_EQ(hdr.m_memScope, mem::MEM_SCOPE_PERMANENT);
  EXPECT_EQ(mem::detail::t_newObject, heapOwner);
  delete heapOwner;
  // The deleted object is forgotten: its address no longer counts as a block.
  EXPECT_EQ(mem::detail::t_newObject, nullptr);

  // An owner on the stack gives its buffer the anonymous context, with the type it asks for.
  Owner stackOwner;
  ASSERT_TRUE(mem::Header::getHeader(stackOwner.m_buf, &hdr));
  EXPECT_EQ(hdr.m_memType, mt_rc_byte_strm_buf);
  EXPECT_EQ(hdr.m_memScope, mem::MEM_SCOPE_TEMPORARY);
}
