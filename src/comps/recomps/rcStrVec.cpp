#include "comps/recomps/rcStrVec.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "comps/memcomps/base/memHeap.h"
#include "comps/recomps/rcAssert.h"
#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"

namespace rc {

namespace {

// Growth doubles the entries and the pool space; these floors apply only where doubling would
// make no progress (a vector built with no entries or no string space).
constexpr size_t MIN_GROW_ENTRIES = 4;
constexpr size_t MIN_POOL_BYTES = 64;

// Entry counts are kept in unsigned ints.
unsigned int checkedCount(size_t n) {
  if (n > UINT_MAX) throw std::bad_alloc();
  return static_cast<unsigned int>(n);
}

size_t checkedAdd(size_t a, size_t b) {
  if (b > SIZE_MAX - a) throw std::bad_alloc();
  return a + b;
}

}  // namespace

// --- StrPool ----------------------------------------------------------------------------------

StrPool::StrPool(char* mem, size_t nBytes)
    : m_mem(mem), m_memEnd(mem + nBytes), m_unusedBegin(mem) {}

// --- StrBuf -----------------------------------------------------------------------------------

void* StrBuf::allocMem(size_t nBytes, memType_t memType) {
  return mem::allocBlock(nBytes != 0 ? nBytes : 1, mem::AllocContext(memType));
}

void StrBuf::freeMem(void* p) { mem::freeBlock(p); }

StrBuf::StrBuf(size_t capacity, size_t maxBytes) {
  // One block holds the first entry arrays and the first pool, so that a new buffer costs a
  // single allocation; arrays that grow later and further pools get blocks of their own.
  const unsigned int cap = checkedCount(capacity);
  const size_t poolBytes = checkedAdd(capacity, maxBytes);
  if (capacity > (SIZE_MAX - 16) / kEntryBytes) throw std::bad_alloc();
  const size_t arrayBytes = (capacity * kEntryBytes + 7) & ~size_t{7};
  char* block =
      static_cast<char*>(allocMem(checkedAdd(arrayBytes, checkedAdd(sizeof(StrPool), poolBytes))));
  m_firstBlock = block;
  m_strPtrs = reinterpret_cast<char**>(block);
  m_strLens = reinterpret_cast<unsigned int*>(block + capacity * sizeof(char*));
  m_capacity = cap;
  char* poolAt = block + arrayBytes;
  m_firstPool = m_lastPool = m_curPool = new (poolAt) StrPool(poolAt + sizeof(StrPool), poolBytes);
}

StrBuf::~StrBuf() {
  for (StrPool* pool = m_firstPool; pool != nullptr;) {
    StrPool* next = pool->m_next;
    const bool inFirstBlock = pool == m_firstPool;
    pool->~StrPool();
    if (!inFirstBlock) freeMem(pool);
    pool = next;
  }
  if (static_cast<void*>(m_strPtrs) != m_firstBlock) freeMem(m_strPtrs);
  freeMem(m_firstBlock);
}

void StrBuf::swapWith(StrBuf& other) {
  std::swap(m_entries, other.m_entries);
  std::swap(m_capacity, other.m_capacity);
  std::swap(m_strPtrs, other.m_strPtrs);
  std::swap(m_strLens, other.m_strLens);
  std::swap(m_firstPool, other.m_firstPool);
  std::swap(m_lastPool, other.m_lastPool);
  std::swap(m_curPool, other.m_curPool);
  std::swap(m_firstBlock, other.m_firstBlock);
}

void StrBuf::growArrays(size_t newCapacity) {
  const unsigned int cap = checkedCount(newCapacity);
  if (cap <= m_capacity && m_strPtrs != nullptr) return;
  if (newCapacity > SIZE_MAX / kEntryBytes) throw std::bad_alloc();
  // Both arrays share one block: the pointers, then the lengths.
  char* block = static_cast<char*>(allocMem(newCapacity * kEntryBytes));
  char** ptrs = reinterpret_cast<char**>(block);
  unsigned int* lens = reinterpret_cast<unsigned int*>(block + newCapacity * sizeof(char*));
  if (m_entries != 0) {
    memcpy(ptrs, m_strPtrs, m_entries * sizeof(char*));
    memcpy(lens, m_strLens, m_entries * sizeof(unsigned int));
  }
  if (static_cast<void*>(m_strPtrs) != m_firstBlock) freeMem(m_strPtrs);
  m_strPtrs = ptrs;
  m_strLens = lens;
  m_capacity = cap;
}

void StrBuf::addPool(size_t nBytes) {
  // The pool's bookkeeping and its bytes share one block.
  void* block = allocMem(checkedAdd(sizeof(StrPool), nBytes), mt_strpool);
  StrPool* pool = new (block) StrPool(static_cast<char*>(block) + sizeof(StrPool), nBytes);
  if (m_lastPool == nullptr) {
    m_firstPool = m_lastPool = m_curPool = pool;
  } else {
    RC_ASSERT(m_lastPool->m_next == nullptr);
    m_lastPool->m_next = pool;
    m_lastPool = pool;
  }
}

bool StrBuf::hasRoom(size_t nEntries, size_t nBytes) const {
  if (nEntries > static_cast<size_t>(m_capacity - m_entries)) return false;
  for (const StrPool* pool = m_curPool; pool != nullptr; pool = pool->m_next) {
    if (pool->hasRoom(nBytes)) return true;
  }
  return false;
}

char* StrBuf::appendSlow(const char* str, unsigned int strBytes) {
  const size_t nBytes = size_t{strBytes} + 1;
  if (!hasRoom(1, nBytes)) {
    // Double the entries and the pool space; the new pool also takes a string larger than that.
    const size_t newCapacity =
        m_capacity == 0 ? MIN_GROW_ENTRIES : 2 * static_cast<size_t>(m_capacity);
    const size_t total = totalSpace();
    const size_t newPool = std::max({total, nBytes, total == 0 ? MIN_POOL_BYTES : 0});
    const size_t target = checkedAdd(total, newPool);
    expandContents(newCapacity, target > newCapacity ? target - newCapacity : 0);
  }
  StrPool* pool = m_curPool;
  while (!pool->hasRoom(nBytes)) {
    RC_ASSERT(pool->m_next);
    pool = pool->m_next;
    m_curPool = pool;
  }
  char* newStr = pool->store(str, strBytes);
  m_strPtrs[m_entries] = newStr;
  m_strLens[m_entries] = strBytes;
  ++m_entries;
  return newStr;
}

void StrBuf::clear() {
  m_entries = 0;
  for (StrPool* pool = m_firstPool; pool != nullptr; pool = pool->m_next) pool->clear();
  m_curPool = m_firstPool;
}

void StrBuf::expandContents(size_t newCapacity, size_t newMaxBytes) {
  const size_t wanted = checkedAdd(newCapacity, newMaxBytes);
  growArrays(newCapacity);
  const size_t total = totalSpace();
  if (total < wanted) addPool(wanted - total);
}

void StrBuf::setCapacity(size_t capacity, size_t maxBytes) {
  if (m_capacity >= capacity && m_firstPool->totalSpace() >= checkedAdd(capacity, maxBytes)) {
    clear();
    return;
  }
  StrBuf rebuilt(capacity, maxBytes);
  swapWith(rebuilt);
}

void StrBuf::deepCopyFrom(const StrBuf& src) {
  RC_ASSERT(&src != this);
  const size_t used = src.allocatedSpace();
  if (m_capacity >= src.m_entries && m_firstPool->totalSpace() >= used) {
    clear();
  } else {
    StrBuf rebuilt(src.m_entries, used);
    swapWith(rebuilt);
  }
  StrPool* dst = m_firstPool;
  RC_ASSERT(dst->hasRoom(src.allocatedSpace()));
  const StrPool* pool = src.m_firstPool;
  for (; pool != nullptr; pool = pool->m_next) {
    const size_t n = pool->allocatedSpace();
    if (n != 0) memcpy(dst->m_unusedBegin, pool->m_mem, n);
    dst->m_unusedBegin += n;
    if (pool->m_next == nullptr) break;
  }
  RC_ASSERT(pool == src.m_lastPool);
  // Strings lie in the pools in entry order, each followed by its NUL.
  char* p = dst->m_mem;
  for (unsigned int i = 0; i < src.m_entries; ++i) {
    m_strPtrs[i] = p;
    m_strLens[i] = src.m_strLens[i];
    p += src.m_strLens[i] + 1;
  }
  RC_ASSERT(p == dst->m_unusedBegin);
  m_entries = src.m_entries;
}

size_t StrBuf::totalSpace() const {
  size_t n = 0;
  for (const StrPool* pool = m_firstPool; pool != nullptr; pool = pool->m_next) {
    n += pool->totalSpace();
  }
  return n;
}

size_t StrBuf::allocatedSpace() const {
  size_t n = 0;
  for (const StrPool* pool = m_firstPool; pool != nullptr; pool = pool->m_next) {
    n += pool->allocatedSpace();
  }
  return n;
}

size_t StrBuf::availableSpace() const {
  size_t n = 0;
  for (const StrPool* pool = m_curPool; pool != nullptr; pool = pool->m_next) {
    n += pool->availableSpace();
  }
  return n;
}

// --- StrVec -----------------------------------------------------------------------------------

StrVec::StrVec() : StrVec(DEFAULT_CAPACITY, DEFAULT_CAPACITY * DEFAULT_CHARS_PER_ENTRY) {}

StrVec::StrVec(unsigned int capacity) : StrVec(capacity, 0) {}

StrVec::StrVec(unsigned int capacity, unsigned int maxChars)
    : m_bufObj(capacity,
               maxChars != 0 ? maxChars : static_cast<size_t>(capacity) * DEFAULT_CHARS_PER_ENTRY) {
  updateCache();
}

StrVec::StrVec(const StrVec& src) : m_bufObj(src.m_entries, src.m_buf->allocatedSpace()) {
  m_buf->deepCopyFrom(*src.m_buf);
  updateCache();
}

StrVec& StrVec::operator=(const StrVec& src) {
  if (this != &src) {
    m_buf->deepCopyFrom(*src.m_buf);
    updateCache();
  }
  return *this;
}

StrVec::~StrVec() { m_strPtrs = nullptr; }

size_t StrVec::byteCount(bool countNulls) const {
  size_t n = countNulls ? m_entries : 0;
  const unsigned int* lens = m_buf->strLens();
  for (unsigned int i = 0; i < m_entries; ++i) n += lens[i];
  return n;
}

size_t StrVec::totalStrSpace() const {
  const size_t total = m_buf->totalSpace();
  return total > capacity() ? total - capacity() : 0;
}

size_t StrVec::availStrSpace() const {
  const size_t avail = m_buf->availableSpace();
  const size_t freeEntries = capacity() - m_entries;
  return avail > freeEntries ? avail - freeEntries : 0;
}

const char* StrVec::append(const char* str) {
  if (str == nullptr) return append("", 0u);
  const size_t len = strlen(str);
  return append(str, checkedCount(len));
}

void StrVec::append(const StrVec& src) {
  // src may be this vector: its count is taken first and its arrays re-read after each append.
  const unsigned int n = src.m_entries;
  for (unsigned int i = 0; i < n; ++i) {
    m_buf->append(src.m_buf->strPtrs()[i], src.m_buf->strLens()[i]);
  }
  updateCache();
}

const char* StrVec::append(int value, const char* fmt) {
  char buf[20];
  snprintf(buf, sizeof buf, fmt != nullptr ? fmt : "%d", value);
  return append(buf);
}

const char* StrVec::append(unsigned long long value, const char* fmt) {
  char buf[32];
  snprintf(buf, sizeof buf, fmt != nullptr ? fmt : "%llu", value);
  return append(buf);
}

const char* StrVec::append(float value, const char* fmt) {
  char buf[64];
  snprintf(buf, sizeof buf, fmt != nullptr ? fmt : "%g", static_cast<double>(value));
  return append(buf);
}

void StrVec::clear() {
  m_buf->clear();
  updateCache();
}

size_t StrVec::defaultMaxBytes(unsigned int cap) const {
  const size_t perEntry = capacity() != 0 && totalStrSpace() != 0 ? totalStrSpace() / capacity()
                                                                  : size_t{DEFAULT_CHARS_PER_ENTRY};
  if (cap != 0 && perEntry > SIZE_MAX / cap) throw std::bad_alloc();
  return cap * perEntry;
}

void StrVec::setCapacity(unsigned int cap, unsigned int maxBytes) {
  m_buf->setCapacity(cap, maxBytes != 0 ? maxBytes : defaultMaxBytes(cap));
  updateCache();
}

void StrVec::expand(unsigned int cap, unsigned int maxBytes) {
  if (isEmpty()) {
    setCapacity(cap, maxBytes);
    return;
  }
  m_buf->expandContents(cap, maxBytes != 0 ? maxBytes : defaultMaxBytes(cap));
  updateCache();
}

int StrVec::compareTo(const StrVec& tgt) const {
  const unsigned int n = std::min(m_entries, tgt.m_entries);
  const unsigned int* lens = m_buf->strLens();
  const unsigned int* tgtLens = tgt.m_buf->strLens();
  for (unsigned int i = 0; i < n; ++i) {
    // Stored lengths instead of strcmp: the same order, without scanning for the NUL.
    const int c = memcmp(m_strPtrs[i], tgt.m_strPtrs[i], std::min(lens[i], tgtLens[i]));
    if (c != 0) return c < 0 ? -1 : 1;
    if (lens[i] != tgtLens[i]) return lens[i] < tgtLens[i] ? -1 : 1;
  }
  if (m_entries == tgt.m_entries) return 0;
  return m_entries < tgt.m_entries ? -1 : 1;
}

unsigned int StrVec::copyBytes(char* buffer, unsigned int size, bool copyNulls) const {
  const unsigned int* lens = m_buf->strLens();
  unsigned int pos = 0;
  for (unsigned int i = 0; i < m_entries; ++i) {
    if (lens[i] > size - pos) break;
    if (lens[i] != 0) memcpy(buffer + pos, m_strPtrs[i], lens[i]);
    pos += lens[i];
    if (copyNulls && pos < size) buffer[pos++] = '\0';
  }
  return pos;
}

void StrVec::saveOn(ByteStrm& s) const {
  s << m_entries;
  const unsigned int* lens = m_buf->strLens();
  for (unsigned int i = 0; i < m_entries; ++i) s.writeStr(m_strPtrs[i], lens[i]);
}

void StrVec::restoreFrom(ByteStrm& s) {
  const char* routine = "recomps/StrVec::restoreFrom";
  clear();
  try {
    unsigned int count;
    s >> count;
    // Every string takes at least its length word: a larger count cannot be genuine.
    if (count > s.unreadBytes() / 4) ByteStrm::readFailed(routine);
    setCapacity(count, 0);
    for (unsigned int i = 0; i < count; ++i) {
      unsigned int nBytes;
      s >> nBytes;
      const char* str = s.readStr(nBytes);
      m_buf->append(str, nBytes);
    }
  } catch (...) {
    clear();
    throw;
  }
  updateCache();
}

size_t StrVec::binarySize() const {
  size_t size = 4;
  const unsigned int* lens = m_buf->strLens();
  for (unsigned int i = 0; i < m_entries; ++i) size += ByteStrm::strSize(lens[i]);
  return size;
}

void StrVec::dumpObj(int indentLvl, const char* label) const {
  dumpHeader(indentLvl, label, "StrVec", this, ", entries = %d, capacity = %d, values:\n",
             m_entries, capacity());
  for (unsigned int i = 0; i < m_entries; ++i) {
    dumpLine(indentLvl + 1, "  %d. '%s'\n", i, m_strPtrs[i]);
  }
}

}  // namespace rc
