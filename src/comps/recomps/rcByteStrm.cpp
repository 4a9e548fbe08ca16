#include "comps/recomps/rcByteStrm.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

#include "comps/memcomps/base/memHeap.h"
#include "comps/recomps/rcAssert.h"
#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcStrCodes.h"

namespace rc {

namespace {

constexpr size_t alignUp(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

// Beyond this capacity growth becomes geometric.
constexpr size_t GEOMETRIC_GROWTH_FROM = 64 * 1024;

// Raises the internal error with the condition's text as the stream's users know it.
#define RC_BYTE_STRM_CHECK(cond, text) \
  ((cond) ? (void)0 : Assert_throwAssert(text, nullptr, false, __FILE__, __LINE__))

}  // namespace

namespace {
constexpr mem::AllocContext kBufContext{mt_rc_byte_strm_buf};
}  // namespace

unsigned char* ByteStrm::allocBuf(size_t nBytes) {
  // A zero-capacity stream still gets a block of its own.
  return static_cast<unsigned char*>(mem::allocBlock(nBytes != 0 ? nBytes : 1, kBufContext));
}

unsigned char* ByteStrm::growBuf(unsigned char* buf, size_t /*oldBytes*/, size_t newBytes) {
  // Resizing in place keeps the old bytes and often avoids the copy.
  return static_cast<unsigned char*>(
      mem::reallocBlock(buf, newBytes != 0 ? newBytes : 1, kBufContext));
}

void ByteStrm::freeBuf(unsigned char* buf) { mem::freeBlock(buf); }

// --- writing ----------------------------------------------------------------------------------

void ByteStrm::positionOutside(const char* condition) {
  Assert_throwAssert(condition, nullptr, false, __FILE__, __LINE__);
}

void ByteStrm::strTooLong() {
  raiseErr(RC_SC_WRITE_FAILED, "rc::ByteStrm", "recomps/ByteStrm::writeStr");
}

void ByteStrm::writeBytes(const void* src, size_t nBytes, bool autoAlign) {
  if (autoAlign && nBytes > std::numeric_limits<size_t>::max() - 3) throw std::bad_alloc();
  const size_t room = autoAlign ? alignUp(nBytes) : nBytes;
  needRoom(room);
  unsigned char* p = m_ext.buffer + m_writeIdx;
  if (room != nBytes) memset(p + room - 4, 0, 4);
  if (nBytes != 0) memcpy(p, src, nBytes);
  m_writeIdx += room;
}

void ByteStrm::writeBytes(ByteStrm* src, size_t nBytes) {
  needRoom(nBytes);
  src->readBytes(m_ext.buffer + m_writeIdx, nBytes, false);
  m_writeIdx += nBytes;
}

void* ByteStrm::addWriteSpace(size_t nBytes) {
  needRoom(nBytes);
  void* block = m_ext.buffer + m_writeIdx;
  m_writeIdx += nBytes;
  return block;
}

void ByteStrm::adjustWritePos(int offset) {
  const long long index = static_cast<long long>(writeIndex()) + offset;
  RC_BYTE_STRM_CHECK(index >= 0 && static_cast<unsigned long long>(index) <= capacity(),
                     "m_buffer <= m_writePos && m_writePos <= m_bufferEnd");
  m_writeIdx = static_cast<size_t>(index);
}

// --- reading ----------------------------------------------------------------------------------

void ByteStrm::readFailed(const char* routine) {
  raiseErr(RC_SC_READ_FAILED, "rc::ByteStrm", routine);
}

void ByteStrm::readBytes(void* dst, size_t nBytes, bool autoAlign) {
  const char* routine = "recomps/ByteStrm::readBytes";
  size_t advance = nBytes;
  if (autoAlign) {
    if (nBytes > std::numeric_limits<size_t>::max() - 3) readFailed(routine);
    advance = alignUp(nBytes);
  }
  checkUnread(advance, routine);
  if (nBytes != 0) memcpy(dst, m_ext.buffer + m_readIdx, nBytes);
  m_readIdx += advance;
}

const char* ByteStrm::readStr(size_t nBytes) {
  const char* routine = "recomps/ByteStrm::readStr";
  if (nBytes > MAX_STR_BYTES) readFailed(routine);
  const size_t alignedBytes = alignUp(nBytes);
  checkUnread(alignedBytes, routine);
  const char* str = reinterpret_cast<const char*>(m_ext.buffer + m_readIdx);
  m_readIdx += alignedBytes;
  return str;
}

// --- nested streams ---------------------------------------------------------------------------

void ByteStrm::saveOn(ByteStrm& s) const {
  const size_t nBytes = size();
  s << static_cast<unsigned int>(nBytes);
  s.writeBytes(m_ext.buffer, nBytes, false);
}

void ByteStrm::restoreFrom(ByteStrm& s) {
  const char* routine = "recomps/ByteStrm::restoreFrom";
  int32_t count;
  s.checkUnread(sizeof count, routine);
  memcpy(&count, s.readPtr(), sizeof count);
  if (count < 0) readFailed(routine);
  s.checkUnread(sizeof count + static_cast<size_t>(count), routine);
  s.m_readIdx += sizeof count;
  writeBytes(&s, static_cast<size_t>(count));
}

// --- capacity ---------------------------------------------------------------------------------

ByteStrm::Extent ByteStrm::grown(Extent ext, size_t growStep, size_t increment) {
  RC_BYTE_STRM_CHECK(growStep != FIXED, "m_resizeable");
  size_t step = std::max(increment, growStep);
  if (ext.capacity >= GEOMETRIC_GROWTH_FROM) step = std::max(step, ext.capacity / 2);
  // No buffer of that size can exist: the same outcome as an allocation failure.
  if (step > std::numeric_limits<size_t>::max() - ext.capacity) throw std::bad_alloc();
  return resized(ext, ext.capacity + step);
}

ByteStrm::Extent ByteStrm::resized(Extent ext, size_t newCapacity) {
  trace(DM_RC, DF_MEMORY, "resizing byte strm from %d to %d\n", static_cast<int>(ext.capacity),
        static_cast<int>(newCapacity));
  return {growBuf(ext.buffer, ext.capacity, newCapacity), newCapacity};
}

void ByteStrm::resize(size_t newCapacity) {
  RC_ASSERT(m_resizeable);
  RC_BYTE_STRM_CHECK(newCapacity >= capacity(), "newCapacity >= capacity ()");
  try {
    m_ext = resized(m_ext, newCapacity);
  } catch (const std::bad_alloc&) {
    reset(0);
    throw;
  }
}

// --- files ------------------------------------------------------------------------------------

// writeToFile, readFromFile and restoreFromTextFile go through rc::File, which sits above the
// stream, so they are defined with it (rcFile.cpp): a program that calls them links the file layer.

}  // namespace rc
