// The standard-library allocator of the framework: containers and strings instantiated with
// mem::stlAlloc<T, type, ...> keep their storage in heap blocks tagged with that memory type
// (through mem::allocBlock, region forced to REGION_HEAP, released with mem::freeBlock).
//
// Stateless: all allocators of one set of tags compare equal whatever their element type, so
// containers may exchange storage freely. Element types aligned more strictly than
// mem::kBlockAlignment are refused at compile time. allocate throws std::bad_alloc on
// exhaustion and std::bad_array_new_length for a count beyond max_size().
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>

#include "comps/memcomps/base/memHeap.h"

namespace mem {

template <typename T, memType_t MemType = mt_anonymous, regionName_t Region = REGION_HEAP,
          memAlign_t Align = MEM_NOALIGN, memScope_t Scope = MEM_SCOPE_TEMPORARY>
class stlAlloc {
  static_assert(alignof(T) <= kBlockAlignment,
                "heap blocks are not aligned strictly enough for this element type");

 public:
  using value_type = T;
  using size_type = std::size_t;
  using difference_type = std::ptrdiff_t;
  using propagate_on_container_move_assignment = std::true_type;
  using is_always_equal = std::true_type;

  // The tags are template arguments of their own kinds, which the standard's default rebinding
  // cannot carry over.
  template <typename U>
  struct rebind {
    using other = stlAlloc<U, MemType, Region, Align, Scope>;
  };

  static constexpr AllocContext k_allocContext{MemType, Region, Align, Scope};

  constexpr stlAlloc() noexcept = default;
  template <typename U>
  constexpr stlAlloc(const stlAlloc<U, MemType, Region, Align, Scope>&) noexcept {}

  T* allocate(size_type n) {
    if (n > max_size()) throw std::bad_array_new_length();
    return static_cast<T*>(allocBlock(n * sizeof(T), k_allocContext));
  }
  void deallocate(T* p, size_type /*n*/) noexcept { freeBlock(p); }

  constexpr size_type max_size() const noexcept { return (SIZE_MAX - kHeaderSize) / sizeof(T); }

  template <typename U>
  constexpr bool operator==(const stlAlloc<U, MemType, Region, Align, Scope>&) const noexcept {
    return true;
  }
};

}  // namespace mem
