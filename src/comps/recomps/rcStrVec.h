// The framework's ordered list of strings. Strings are packed, each followed by a NUL, into a chain
// of large byte pools (rc::StrPool) instead of being allocated one by one; rc::StrBuf keeps the
// pools and the arrays of string pointers and lengths; rc::StrVec is the handle that owns a
// buffer. A stored string never moves: the pointers a vector hands out stay valid until it is
// cleared, re-sized with setCapacity, assigned to, restored or destroyed. Growth only chains new
// pools; memory is given back only when the vector is destroyed.
//
// Reading past the end never fails: operator[] yields "<rc::StrVec index too big>". restoreFrom
// raises rc::Err (RC_SC_READ_FAILED) for a truncated or inconsistent encoding and leaves the
// vector empty. A broken pool chain fails an internal assertion. Not thread-safe.
#pragma once

#include <cstddef>
#include <cstring>

#include "comps/memcomps/base/memNewDelete.h"

namespace rc {

class ByteStrm;

// One byte block, filled from the front. Made and freed by its buffer only.
class StrPool {
 public:
  StrPool(const StrPool&) = delete;
  StrPool& operator=(const StrPool&) = delete;

  size_t totalSpace() const { return static_cast<size_t>(m_memEnd - m_mem); }
  size_t allocatedSpace() const { return static_cast<size_t>(m_unusedBegin - m_mem); }
  size_t availableSpace() const { return static_cast<size_t>(m_memEnd - m_unusedBegin); }
  bool hasRoom(size_t nBytes) const { return availableSpace() >= nBytes; }

 private:
  friend class StrBuf;

  StrPool(char* mem, size_t nBytes);
  ~StrPool() = default;
  // Copies nBytes and a NUL to the unused space; the caller checked the room.
  char* store(const char* str, size_t nBytes) {
    char* newStr = m_unusedBegin;
    if (nBytes != 0) memcpy(newStr, str, nBytes);
    newStr[nBytes] = '\0';
    m_unusedBegin = newStr + nBytes + 1;
    return newStr;
  }
  void clear() { m_unusedBegin = m_mem; }

  StrPool* m_next = nullptr;
  char* m_mem;
  char* m_memEnd;
  char* m_unusedBegin;
};

// The entry arrays and the pool chain of a vector.
class StrBuf : public mem::newDelete<mt_strbuf> {
 public:
  // Room for capacity entries and maxBytes characters: one pool of capacity + maxBytes bytes.
  StrBuf(size_t capacity, size_t maxBytes);
  ~StrBuf();
  StrBuf(const StrBuf&) = delete;
  StrBuf& operator=(const StrBuf&) = delete;

  // Stores a copy of strBytes bytes and a NUL, growing as needed; returns the copy.
  char* append(const char* str, unsigned int strBytes) {
    char* newStr = claim(strBytes);
    if (newStr == nullptr) return appendSlow(str, strBytes);
    copyIn(newStr, str, strBytes);
    return newStr;
  }
  // Records a new entry of strBytes bytes in the current pool and returns where its bytes go
  // (for copyIn); null when the pool or the entry arrays are full. The bookkeeping comes before
  // the copy, whose byte stores the compiler must assume could change any field.
  char* claim(unsigned int strBytes) {
    StrPool* pool = m_curPool;
    const unsigned int entry = m_entries;
    char* newStr = pool->m_unusedBegin;
    if (entry == m_capacity || static_cast<size_t>(pool->m_memEnd - newStr) <= strBytes) {
      return nullptr;
    }
    pool->m_unusedBegin = newStr + strBytes + 1;
    m_strPtrs[entry] = newStr;
    m_strLens[entry] = strBytes;
    m_entries = entry + 1;
    return newStr;
  }
  // append when the current pool or the entry arrays are full.
  char* appendSlow(const char* str, unsigned int strBytes);
  static void copyIn(char* newStr, const char* str, unsigned int strBytes) {
    if (strBytes != 0) memcpy(newStr, str, strBytes);
    newStr[strBytes] = '\0';
  }
  // No entries; every pool is emptied and reused from the first. Keeps the memory.
  void clear();
  // Entry arrays of at least newCapacity entries and pools of at least newCapacity + newMaxBytes
  // bytes in all; the strings stay where they are.
  void expandContents(size_t newCapacity, size_t newMaxBytes);
  // Makes this an empty buffer of the given size, keeping the present one when it is big enough.
  void setCapacity(size_t capacity, size_t maxBytes);
  // Copies src's strings, packed into the first pool.
  void deepCopyFrom(const StrBuf& src);

  // Room for nEntries more entries and nBytes bytes in one pool from the current one on.
  bool hasRoom(size_t nEntries, size_t nBytes) const;
  unsigned int entries() const { return m_entries; }
  unsigned int capacity() const { return m_capacity; }
  char** strPtrs() const { return m_strPtrs; }
  const unsigned int* strLens() const { return m_strLens; }
  // Pool bytes: in all, used (strings and their NULs), and free from the current pool on.
  size_t totalSpace() const;
  size_t allocatedSpace() const;
  size_t availableSpace() const;

 private:
  void swapWith(StrBuf& other);
  // Replaces the entry arrays by arrays of newCapacity entries holding the present entries.
  void growArrays(size_t newCapacity);
  void addPool(size_t nBytes);

  // The one place the arrays and pools obtain and give back memory: the two entry arrays share
  // an mt_strbuf block, each pool (bookkeeping and bytes) is an mt_strpool block.
  static void* allocMem(size_t nBytes, memType_t memType = mt_strbuf);
  static void freeMem(void* p);

  unsigned int m_entries = 0;
  unsigned int m_capacity = 0;
  char** m_strPtrs = nullptr;
  unsigned int* m_strLens = nullptr;
  StrPool* m_firstPool = nullptr;
  StrPool* m_lastPool = nullptr;
  StrPool* m_curPool = nullptr;
  // The block of the first entry arrays and the first pool (see the constructor).
  void* m_firstBlock = nullptr;

  static constexpr size_t kEntryBytes = sizeof(char*) + sizeof(unsigned int);
};

class StrVec : public mem::newDelete<mt_strvec> {
 public:
  enum : unsigned int { DEFAULT_CAPACITY = 64, DEFAULT_CHARS_PER_ENTRY = 64 };

  // 64 entries of 64 characters.
  StrVec();
  // capacity entries of 64 characters.
  explicit StrVec(unsigned int capacity);
  // capacity entries and maxChars characters in all (64 per entry when maxChars is 0).
  StrVec(unsigned int capacity, unsigned int maxChars);
  // A deep copy sized to src's used space.
  StrVec(const StrVec& src);
  StrVec& operator=(const StrVec& src);
  ~StrVec();

  unsigned int entries() const { return m_entries; }
  unsigned int size() const { return m_entries; }
  bool isEmpty() const { return m_entries == 0; }
  unsigned int capacity() const { return m_buf->capacity(); }
  // The string at i, or "<rc::StrVec index too big>" when i is not below entries().
  const char* operator[](unsigned int i) const {
    return i < m_entries ? m_strPtrs[i] : INDEX_TOO_BIG;
  }
  // The stored length of the string at i (0 past the end).
  unsigned int strLen(unsigned int i) const { return i < m_entries ? m_buf->strLens()[i] : 0; }
  // Sum of the lengths, plus one per entry with countNulls.
  size_t byteCount(bool countNulls) const;
  // Pool bytes less one NUL per entry of capacity.
  size_t totalStrSpace() const;
  // Pool bytes still free for new strings from the current pool on, less a NUL per free entry.
  size_t availStrSpace() const;

  // Each returns the stored copy.
  const char* append(const char* str, unsigned int nBytes) {
    if (str == nullptr) nBytes = 0;
    char* stored = m_buf->claim(nBytes);
    if (stored == nullptr) {
      stored = m_buf->appendSlow(str, nBytes);
      updateCache();
    } else {
      updateCache();
      StrBuf::copyIn(stored, str, nBytes);
    }
    return stored;
  }
  // A null str appends the empty string.
  const char* append(const char* str);
  // Every string of src (which may be this vector).
  void append(const StrVec& src);
  // The value formatted with snprintf and fmt.
  const char* append(int value, const char* fmt);
  const char* append(unsigned long long value, const char* fmt);
  const char* append(float value, const char* fmt);

  void clear();
  // Empties the vector and sizes it for cap entries and maxBytes characters; a maxBytes of 0 keeps
  // the present characters per entry.
  void setCapacity(unsigned int cap, unsigned int maxBytes = 0);
  // Grows to cap entries and maxBytes characters (0: as setCapacity), keeping the strings.
  void expand(unsigned int cap, unsigned int maxBytes = 0);

  // strcmp order entry by entry; a prefix is less (-1 / 1).
  int compareTo(const StrVec& tgt) const;
  bool operator==(const StrVec& tgt) const {
    return m_entries == tgt.m_entries && compareTo(tgt) == 0;
  }
  bool operator!=(const StrVec& tgt) const { return !(*this == tgt); }

  // The strings one after another (each with a NUL when copyNulls and it fits) into at most size
  // bytes; stops before the first string that does not fit. Returns the bytes written.
  unsigned int copyBytes(char* buffer, unsigned int size, bool copyNulls) const;

  // The 32-bit count, then each string.
  void saveOn(ByteStrm& s) const;
  void restoreFrom(ByteStrm& s);
  // The exact size saveOn writes.
  size_t binarySize() const;

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

  static constexpr const char* INDEX_TOO_BIG = "<rc::StrVec index too big>";

 private:
  void updateCache() {
    m_entries = m_buf->entries();
    m_strPtrs = m_buf->strPtrs();
  }
  // Characters to reserve for cap entries when the caller gives none.
  size_t defaultMaxBytes(unsigned int cap) const;

  // The buffer lives inside the vector (one allocation fewer per vector); m_buf points at it.
  StrBuf m_bufObj;
  StrBuf* const m_buf = &m_bufObj;
  unsigned int m_entries = 0;
  char** m_strPtrs = nullptr;
};

}  // namespace rc
