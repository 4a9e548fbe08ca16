// Base class that puts a class's objects on the framework heap under the class's own memory type:
// class Mutex : public mem::newDelete<mt_rc_mutex, mem::REGION_MIN> { ... };
// gives Mutex class-level operator new and delete (plain, array, nothrow and placement forms)
// that allocate through mem::allocBlock with a context of the four template values (the region
// is forced to REGION_HEAP) and release through mem::freeBlock. Objects created with new are
// therefore heap blocks whose header names their type, and an object's constructor can pass
// `this` to AllocContext to give its own buffers the same attributes: operator new notes the
// object it returns (mem::noteNewObject) so that the lookup knows there is a header in front of
// it. Elements of arrays are not noted: they are not blocks of their own.
//
// Heap blocks are aligned to mem::kBlockAlignment (8). A class aligned beyond the default new
// alignment does not compile; one aligned to exactly 16 (a long double member on 64-bit builds)
// is not caught and must not derive from this base. Plain new throws std::bad_alloc on
// exhaustion; the nothrow form returns null. No data members, so the base adds nothing to the
// size of the derived class.
#pragma once

#include <cstddef>
#include <new>

#include "comps/memcomps/base/memHeap.h"

namespace mem {

namespace detail {
template <typename>
inline constexpr bool kRefused = false;
}  // namespace detail

template <memType_t MemType, regionName_t Region = REGION_HEAP, memAlign_t Align = MEM_NOALIGN,
          memScope_t Scope = MEM_SCOPE_TEMPORARY>
class newDelete {
 public:
  static constexpr AllocContext k_allocContext{MemType, Region, Align, Scope};

  static void* operator new(std::size_t size) {
    void* p = allocBlock(size, k_allocContext);
    noteNewObject(p);
    return p;
  }
  static void* operator new[](std::size_t size) { return allocBlock(size, k_allocContext); }
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    void* p = allocBlockNothrow(size, k_allocContext);
    noteNewObject(p);
    return p;
  }
  static void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocBlockNothrow(size, k_allocContext);
  }
  // Placement forms, which a class-level operator new would otherwise hide.
  static void* operator new(std::size_t, void* where) noexcept { return where; }
  static void* operator new[](std::size_t, void* where) noexcept { return where; }

  static void operator delete(void* p) noexcept {
    forgetNewObject(p);
    freeBlock(p);
  }
  static void operator delete[](void* p) noexcept { freeBlock(p); }
  static void operator delete(void* p, const std::nothrow_t&) noexcept {
    forgetNewObject(p);
    freeBlock(p);
  }
  static void operator delete[](void* p, const std::nothrow_t&) noexcept { freeBlock(p); }
  static void operator delete(void*, void*) noexcept {}
  static void operator delete[](void*, void*) noexcept {}

  // A class aligned beyond the default new alignment would get misaligned storage: a new
  // expression for one selects these forms, which refuse to compile.
  template <typename Refused = void>
  static void* operator new(std::size_t size, std::align_val_t align) {
    static_assert(detail::kRefused<Refused>, "heap blocks cannot hold over-aligned classes");
    return ::operator new(size, align);
  }
  template <typename Refused = void>
  static void* operator new[](std::size_t size, std::align_val_t align) {
    static_assert(detail::kRefused<Refused>, "heap blocks cannot hold over-aligned classes");
    return ::operator new[](size, align);
  }
  template <typename Refused = void>
  static void* operator new(std::size_t size, std::align_val_t align,
                            const std::nothrow_t& tag) noexcept {
    static_assert(detail::kRefused<Refused>, "heap blocks cannot hold over-aligned classes");
    return ::operator new(size, align, tag);
  }
  template <typename Refused = void>
  static void* operator new[](std::size_t size, std::align_val_t align,
                              const std::nothrow_t& tag) noexcept {
    static_assert(detail::kRefused<Refused>, "heap blocks cannot hold over-aligned classes");
    return ::operator new[](size, align, tag);
  }
};

}  // namespace mem
