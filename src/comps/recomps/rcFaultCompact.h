// Compact storage for the members of fault rule sets: rc::fault::TextBlock, a text in one heap
// block; rc::fault::CompactName, a name kept inside its owner; rc::fault::MemberArray, the
// pointer array behind a named set.
//
// A rule set read from a large rules file holds hundreds of thousands of rules of one attribute
// each, and a heap block costs a header and malloc's rounding on top of its bytes: a rule name in
// a string object of its own, or a one-pointer array in a block of its own, cost more than the
// bytes they hold. Both classes therefore keep the common small case in place and go to a heap
// block (of the memory type given as template argument) only beyond it.
//
// Both own their heap block; copies of a CompactName are deep, a MemberArray is not copyable (its
// owner copies the members). Exhaustion throws std::bad_alloc. Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "comps/memcomps/base/memHeap.h"

namespace rc::fault {

// A heap block of the given memory type holding a text's length, its bytes and a NUL; freed with
// mem::freeBlock. The heap form of names and of value texts.
struct TextBlock {
  uint32_t len;
  char bytes[1];

  template <memType_t BlockType>
  static TextBlock* make(std::string_view text) {
    static constexpr mem::AllocContext kContext{BlockType, mem::REGION_HEAP, mem::MEM_NOALIGN,
                                                mem::MEM_SCOPE_TEMPORARY};
    auto* block = static_cast<TextBlock*>(
        mem::allocBlock(offsetof(TextBlock, bytes) + text.size() + 1, kContext));
    block->len = static_cast<uint32_t>(text.size());
    memcpy(block->bytes, text.data(), text.size());
    block->bytes[text.size()] = '\0';
    return block;
  }
};

// A name of up to N - 2 bytes kept in the object (N bytes in all); a longer one in a heap block.
template <size_t N, memType_t BlockType>
class CompactName {
  static_assert(N >= sizeof(void*) + 1 && N <= 256);

 public:
  CompactName() { clearInPlace(); }
  explicit CompactName(std::string_view text) : CompactName() { assign(text); }
  CompactName(const CompactName& other) : CompactName() { assign(other.view()); }
  CompactName& operator=(const CompactName& other) {
    if (this != &other) assign(other.view());
    return *this;
  }
  ~CompactName() { release(); }

  const char* c_str() const { return onHeap() ? block()->bytes : m_bytes; }
  size_t size() const { return onHeap() ? block()->len : m_len; }
  std::string_view view() const { return std::string_view(c_str(), size()); }
  // text may point into this name.
  void assign(std::string_view text) {
    if (text.size() + 1 <= kInPlace) {
      // The bytes overwrite the block pointer, and text may lie in that block: free it last.
      Block* old = onHeap() ? block() : nullptr;
      memmove(m_bytes, text.data(), text.size());
      m_bytes[text.size()] = '\0';
      m_len = static_cast<uint8_t>(text.size());
      mem::freeBlock(old);
      return;
    }
    TextBlock* fresh = TextBlock::make<BlockType>(text);
    release();
    memcpy(m_bytes, &fresh, sizeof fresh);
    m_len = kOnHeap;
  }
  void clear() {
    release();
    clearInPlace();
  }

 private:
  using Block = TextBlock;
  static constexpr size_t kInPlace = N - 1;  // bytes, the NUL included
  static constexpr uint8_t kOnHeap = 0xff;

  bool onHeap() const { return m_len == kOnHeap; }
  Block* block() const {
    Block* p = nullptr;
    memcpy(&p, m_bytes, sizeof p);
    return p;
  }
  void release() {
    if (onHeap()) mem::freeBlock(block());
    clearInPlace();
  }
  void clearInPlace() {
    m_bytes[0] = '\0';
    m_len = 0;
  }

  // The bytes, or the address of the block (copied in and out: the bytes are not aligned for
  // it, and a pointer member would pad the object beyond N bytes).
  char m_bytes[kInPlace];
  uint8_t m_len;  // kOnHeap: the name is in a block
};

// The members of a named set in order: one pointer in place, more in a heap block that also
// records the capacity and the length of the front run (see NamedSet). A set of at most one
// member has a front run of its whole length.
template <typename T, memType_t BlockType>
class MemberArray {
 public:
  MemberArray() { m_u.one = nullptr; }
  MemberArray(const MemberArray&) = delete;
  MemberArray& operator=(const MemberArray&) = delete;
  ~MemberArray() { clear(); }

  T** begin() const { return m_onHeap ? m_u.block->items : const_cast<T**>(&m_u.one); }
  T** end() const { return begin() + m_size; }
  size_t size() const { return m_size; }
  T* operator[](size_t i) const { return begin()[i]; }
  T* back() const { return begin()[m_size - 1]; }
  size_t frontLen() const { return m_onHeap ? m_u.block->frontLen : m_size; }
  void setFrontLen(size_t len) {
    if (m_onHeap) m_u.block->frontLen = static_cast<uint32_t>(len);
  }

  void reserve(size_t cap) {
    if (cap > capacity()) grow(cap);
  }
  void insert(size_t pos, T* obj) {
    if (m_size == capacity()) grow(m_size < 2 ? 4 : m_size * 2);
    T** items = begin();
    memmove(items + pos + 1, items + pos, (m_size - pos) * sizeof(T*));
    items[pos] = obj;
    ++m_size;
  }
  void erase(size_t pos) {
    T** items = begin();
    memmove(items + pos, items + pos + 1, (m_size - pos - 1) * sizeof(T*));
    --m_size;
  }
  void clear() {
    if (m_onHeap) mem::freeBlock(m_u.block);
    m_u.one = nullptr;
    m_size = 0;
    m_onHeap = false;
  }
  void swap(MemberArray& other) {
    std::swap(m_u, other.m_u);
    std::swap(m_size, other.m_size);
    std::swap(m_onHeap, other.m_onHeap);
  }

 private:
  struct Block {
    uint32_t cap;
    uint32_t frontLen;
    T* items[1];
  };

  size_t capacity() const { return m_onHeap ? m_u.block->cap : 1; }
  void grow(size_t cap) {
    static constexpr mem::AllocContext kContext{BlockType, mem::REGION_HEAP, mem::MEM_NOALIGN,
                                                mem::MEM_SCOPE_TEMPORARY};
    auto* block =
        static_cast<Block*>(mem::allocBlock(offsetof(Block, items) + cap * sizeof(T*), kContext));
    block->cap = static_cast<uint32_t>(cap);
    block->frontLen = static_cast<uint32_t>(frontLen());
    if (m_size != 0) memcpy(block->items, begin(), m_size * sizeof(T*));
    if (m_onHeap) mem::freeBlock(m_u.block);
    m_u.block = block;
    m_onHeap = true;
  }

  union {
    T* one;
    Block* block;
  } m_u;
  uint32_t m_size = 0;
  bool m_onHeap = false;
};

}  // namespace rc::fault
