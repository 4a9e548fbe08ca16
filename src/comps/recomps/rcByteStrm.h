// The framework's one binary encoding: a byte buffer with a read and a write position. Values are
// appended at the write position with operator<< and taken back from the read position with
// operator>>, each as its in-memory image in host byte order, with no tags and no alignment.
// Widths are fixed whatever the build: int, unsigned int, long and unsigned long take 4 bytes
// (a long is narrowed to 32 bits), long long 8, a pointer is a 4-byte null/non-null marker. Use
// long long for 64-bit values (int64_t is a long on 64-bit hosts and would be narrowed). A string
// is its 32-bit length, its bytes and zero padding to a multiple of 4 counted from the length word.
//
// A resizeable stream owns its buffer and grows it on demand; a fixed stream works inside a buffer
// the caller supplies and keeps, and never grows (a write that does not fit fails the internal
// assertion "m_resizeable"). If growing runs out of memory the stream is emptied (both positions
// back to the start) and std::bad_alloc propagates.
//
// Streams carry bytes from other processes, so no read ever passes the written data: operator>>,
// readBytes, both readStr, operator>>(std::string&) and restoreFrom raise rc::Err (RC_ERROR,
// RC_SC_READ_FAILED, argument "rc::ByteStrm") instead, leaving the destination and the read
// position as they were. A length word whose rounding up to 4 would overflow is rejected the same
// way. Every restoreFrom written on top of a stream inherits this.
//
// The positions are offsets into the buffer and growing is a cold static routine handed the
// buffer's extent by value, never the stream: nothing takes a stream's address out of line on the
// write path, so a stream on the stack keeps its positions in registers across a run of writes.
//
// Not thread-safe; not for use in signal handlers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/recomps/rcDump.h"

namespace rc {

class ByteStrm : public mem::newDelete<mt_rc_byte_strm> {
 public:
  enum : size_t { DEFAULT_CAPACITY = 1024 };
  // The longest string whose padded length still fits the 32-bit length word.
  static constexpr size_t MAX_STR_BYTES = 0xFFFFFFFCu;

  // Resizeable: owns a zero-filled buffer of initialCapacity bytes, which is also the smallest
  // step by which it grows.
  explicit ByteStrm(size_t initialCapacity = DEFAULT_CAPACITY, int references = 1)
      : m_ext{allocBuf(initialCapacity), initialCapacity},
        m_growStep(initialCapacity),
        m_references(references),
        m_resizeable(true) {
    if (initialCapacity != 0) memset(m_ext.buffer, 0, initialCapacity);
  }
  // Fixed: works inside the caller's buffer, which is neither cleared nor freed.
  ByteStrm(void* fixedBuffer, size_t bufferCapacity, int references = 1)
      : m_ext{static_cast<unsigned char*>(fixedBuffer), bufferCapacity},
        m_growStep(FIXED),
        m_references(references),
        m_resizeable(false) {}
  ~ByteStrm() {
    if (m_resizeable) freeBuf(m_ext.buffer);
    poison(m_ext.buffer);
  }

  ByteStrm(const ByteStrm&) = delete;
  ByteStrm& operator=(const ByteStrm&) = delete;

  // Writing.
  ByteStrm& operator<<(char v) { return put(v); }
  ByteStrm& operator<<(unsigned char v) { return put(v); }
  ByteStrm& operator<<(short v) { return put(v); }
  ByteStrm& operator<<(unsigned short v) { return put(v); }
  ByteStrm& operator<<(int v) { return put(v); }
  ByteStrm& operator<<(unsigned int v) { return put(v); }
  ByteStrm& operator<<(long v) { return put(static_cast<int32_t>(v)); }
  ByteStrm& operator<<(unsigned long v) { return put(static_cast<uint32_t>(v)); }
  ByteStrm& operator<<(long long v) { return put(v); }
  ByteStrm& operator<<(unsigned long long v) { return put(v); }
  ByteStrm& operator<<(float v) { return put(v); }
  ByteStrm& operator<<(const double& v) { return put(v); }
  ByteStrm& operator<<(const void* p) { return put(pointerMarker(p)); }
  // Any standard string, whatever its allocator (the framework's heap-tagged String too).
  template <typename Alloc>
  ByteStrm& operator<<(const std::basic_string<char, std::char_traits<char>, Alloc>& s) {
    writeStr(s.data(), s.size());
    return *this;
  }
  // Text must be written with writeStr or as a string: a character pointer would otherwise be
  // taken for a pointer marker and its text silently lost.
  ByteStrm& operator<<(const char*) = delete;

  // The length, the bytes and the padding. A null str reserves the bytes (and zeroes the
  // padding) for the caller to fill. A string longer than MAX_STR_BYTES cannot be encoded: it
  // raises rc::Err (RC_SC_WRITE_FAILED) and nothing is written.
  void writeStr(const char* str, size_t nBytes) {
    if (nBytes > MAX_STR_BYTES) strTooLong();
    const size_t alignedBytes = (nBytes + 3) & ~size_t{3};
    put(static_cast<uint32_t>(nBytes));
    needRoom(alignedBytes);
    const size_t w = m_writeIdx;
    unsigned char* p = m_ext.buffer + w;
    // Zero the last word first: padding never carries stale memory to another process.
    if (alignedBytes != nBytes) memset(p + alignedBytes - 4, 0, 4);
    if (str != nullptr) memcpy(p, str, nBytes);
    m_writeIdx = w + alignedBytes;
  }
  // Copies nBytes; with autoAlign the write position advances by nBytes rounded up to 4 and the
  // padding is zeroed.
  void writeBytes(const void* src, size_t nBytes, bool autoAlign = false);
  // Moves nBytes from src's read position (which advances) to this stream's write position.
  void writeBytes(ByteStrm* src, size_t nBytes);
  // Advances the write position by nBytes and returns the skipped block for the caller to fill.
  void* addWriteSpace(size_t nBytes);
  // Moves the write position by a signed offset within the buffer.
  void adjustWritePos(int offset);

  // Reading.
  ByteStrm& operator>>(char& v) { return get(v); }
  ByteStrm& operator>>(unsigned char& v) { return get(v); }
  ByteStrm& operator>>(short& v) { return get(v); }
  ByteStrm& operator>>(unsigned short& v) { return get(v); }
  ByteStrm& operator>>(int& v) { return get(v); }
  ByteStrm& operator>>(unsigned int& v) { return get(v); }
  ByteStrm& operator>>(long& v) {
    int32_t w;
    get(w);
    v = w;
    return *this;
  }
  ByteStrm& operator>>(unsigned long& v) {
    uint32_t w;
    get(w);
    v = w;
    return *this;
  }
  ByteStrm& operator>>(long long& v) { return get(v); }
  ByteStrm& operator>>(unsigned long long& v) { return get(v); }
  ByteStrm& operator>>(float& v) { return get(v); }
  ByteStrm& operator>>(double& v) { return get(v); }
  // The marker only: null stays null, anything else comes back as some non-null value.
  ByteStrm& operator>>(void*& p) {
    uint32_t w;
    get(w);
    p = reinterpret_cast<void*>(static_cast<uintptr_t>(w));
    return *this;
  }
  template <typename Alloc>
  ByteStrm& operator>>(std::basic_string<char, std::char_traits<char>, Alloc>& s) {
    const size_t r = m_readIdx;
    const size_t alignedBytes = strBytesAt(r, "recomps/ByteStrm::operator>>");
    s.assign(reinterpret_cast<const char*>(m_ext.buffer + r + 4), lengthAt(r));
    m_readIdx = r + 4 + alignedBytes;
    return *this;
  }

  // Copies nBytes; with autoAlign the read position also skips the padding.
  void readBytes(void* dst, size_t nBytes, bool autoAlign = false);
  // Reads a string into str: at most bufSize - 1 bytes and a NUL (a longer string is cut, a
  // bufSize of 0 stores nothing); the read position passes the whole string and its padding.
  void readStr(char* str, size_t bufSize) {
    const size_t r = m_readIdx;
    const size_t alignedBytes = strBytesAt(r, "recomps/ByteStrm::readStr");
    const size_t nBytes = lengthAt(r);
    if (bufSize != 0) {
      const size_t copied = nBytes < bufSize - 1 ? nBytes : bufSize - 1;
      memcpy(str, m_ext.buffer + r + 4, copied);
      str[copied] = '\0';
    }
    m_readIdx = r + 4 + alignedBytes;
  }
  // The string bytes in place (not NUL-terminated), for a length the caller has just read; the
  // read position passes them and their padding.
  const char* readStr(size_t nBytes);

  // Raises the read error (naming routine) unless nBytes are left to read. For restoreFrom code
  // that sizes a container from a count it has read, before it allocates.
  void checkUnread(size_t nBytes, const char* routine) const {
    if (unreadBytes() < nBytes) readFailed(routine);
  }
  // Raises the read error (naming routine), for restoreFrom code that finds the data inconsistent.
  [[noreturn, gnu::cold]] static void readFailed(const char* routine);

  // Upper bounds of encoded sizes, for sizing messages in advance.
  static size_t binarySize(const char* /*str*/, size_t nBytes) { return nBytes + 7; }
  // The exact encoded size of a string of nBytes: length word, bytes and padding.
  static size_t strSize(size_t nBytes) { return 4 + ((nBytes + 3) & ~size_t{3}); }
  template <typename Alloc>
  static size_t binarySize(const std::basic_string<char, std::char_traits<char>, Alloc>& s) {
    return s.size() + 7;
  }

  // Nested stream: this stream's 32-bit size and its first size() bytes, unpadded.
  void saveOn(ByteStrm& s) const;
  // Appends the bytes of a nested stream read from s.
  void restoreFrom(ByteStrm& s);
  size_t binarySize() const { return size() + 4; }

  // Capacity.
  void needRoom(size_t n) {
    const size_t avail = m_ext.capacity - m_writeIdx;
    if (avail < n) [[unlikely]]
      addCapacity(n - avail);
  }
  // Grows by at least increment and at least the initial capacity; a large buffer grows by at
  // least half its size, so that streams filled in many small writes stay linear in time.
  [[gnu::always_inline]] void addCapacity(size_t increment) {
    try {
      m_ext = grown(m_ext, m_growStep, increment);
    } catch (const std::bad_alloc&) {
      // Emptied here rather than by reset(): a call given the stream's address would keep the
      // stream out of registers wherever this is inlined.
      m_reserve = m_readIdx = m_writeIdx = 0;
      throw;
    }
  }
  void expand(size_t capacity) {
    if (this->capacity() < capacity) resize(capacity);
  }
  void resize(size_t newCapacity);
  // Both positions to the start of the buffer plus reserve; the content is kept.
  void reset(size_t reserve = 0) {
    if (reserve > m_ext.capacity) [[unlikely]]
      positionOutside("m_writePos <= m_bufferEnd");
    m_reserve = reserve;
    m_readIdx = m_writeIdx = reserve;
  }
  // Whether nBytes more can be written (always for a resizeable stream).
  bool hasRoom(size_t nBytes) const {
    return m_resizeable || m_ext.capacity - m_writeIdx >= nBytes;
  }
  // Values are always in host order.
  static bool needEndianConvert() { return false; }

  // Files: false when the file cannot be opened, read or written.
  bool writeToFile(const char* fileName) const;
  // Appends the file's bytes at the write position.
  bool readFromFile(const char* fileName);
  // Appends every line (without its newline and a carriage return before it) as a string. A
  // line longer than 2047 bytes is left out and gives false, but the lines after it are still
  // appended.
  bool restoreFromTextFile(const char* fileName);

  size_t capacity() const { return m_ext.capacity; }
  size_t size() const { return m_writeIdx; }
  size_t writeIndex() const { return m_writeIdx; }
  size_t readIndex() const { return m_readIdx; }
  // 0 when the write position was moved back behind the read position.
  size_t unreadBytes() const { return m_writeIdx > m_readIdx ? m_writeIdx - m_readIdx : 0; }
  unsigned char* buffer() const { return m_ext.buffer; }
  unsigned char* readPtr() const { return m_ext.buffer + m_readIdx; }
  size_t reserve() const { return m_reserve; }
  bool isResizeable() const { return m_resizeable; }

  int references() const { return m_references; }
  int addReference() { return ++m_references; }
  int removeReference() { return --m_references; }

  void* userData() const { return m_userData; }
  void setUserData(void* userData) { m_userData = userData; }

 private:
  // The offset is copied before the bytes are: a byte store may alias any member, and the copy
  // spares reloading it after the store. The write offset never exceeds the capacity, so the
  // subtraction cannot wrap; the read offset never exceeds it either, so adding a value's size
  // cannot wrap, and a write position moved back behind the read position leaves nothing to read.
  template <typename T>
  ByteStrm& put(T v) {
    const size_t w = m_writeIdx;
    const size_t end = w + sizeof v;
    if (end > m_ext.capacity) [[unlikely]]
      addCapacity(end - m_ext.capacity);
    memcpy(m_ext.buffer + w, &v, sizeof v);
    m_writeIdx = end;
    return *this;
  }
  template <typename T>
  ByteStrm& get(T& v) {
    const size_t r = m_readIdx;
    if (r + sizeof v > m_writeIdx) [[unlikely]]
      readFailed("recomps/ByteStrm::operator>>");
    memcpy(&v, m_ext.buffer + r, sizeof v);
    m_readIdx = r + sizeof v;
    return *this;
  }
  uint32_t lengthAt(size_t index) const {
    uint32_t n;
    memcpy(&n, m_ext.buffer + index, sizeof n);
    return n;
  }
  // For the string whose length word is at index (the read position): its length rounded up to
  // 4, after checking that the word and that many bytes were written.
  size_t strBytesAt(size_t index, const char* routine) const {
    if (index + 4 > m_writeIdx) readFailed(routine);
    const size_t nBytes = lengthAt(index);
    if (nBytes > MAX_STR_BYTES) readFailed(routine);
    const size_t alignedBytes = (nBytes + 3) & ~size_t{3};
    if (m_writeIdx - index - 4 < alignedBytes) readFailed(routine);
    return alignedBytes;
  }
  static uint32_t pointerMarker(const void* p) {
    const uint32_t low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
    // A 64-bit address whose low half is zero must not read back as null.
    return (p != nullptr && low == 0) ? 1u : low;
  }
  [[noreturn]] static void strTooLong();
  [[gnu::cold]] static void positionOutside(const char* condition);

  // The buffer and its capacity: what growing replaces, handed over and back by value (in two
  // registers) so that the write path never passes the stream's address out. The small inline
  // write path is what lets the compiler inline loops of writes and keep a stream in registers.
  struct Extent {
    unsigned char* buffer;
    size_t capacity;
  };
  // The growth step of a stream that never grows.
  static constexpr size_t FIXED = SIZE_MAX;
  // The extent grown by at least increment by the policy of addCapacity, or resized to
  // newCapacity. Without memory they raise std::bad_alloc and the old buffer stays valid.
  [[gnu::cold]] static Extent grown(Extent ext, size_t growStep, size_t increment);
  static Extent resized(Extent ext, size_t newCapacity);

  // The one place the buffer memory is obtained and given back.
  static unsigned char* allocBuf(size_t nBytes);
  // A block of newBytes holding the first oldBytes of buf, which is given back; std::bad_alloc
  // (with buf left as it was) when there is no memory.
  static unsigned char* growBuf(unsigned char* buf, size_t oldBytes, size_t newBytes);
  static void freeBuf(unsigned char* buf);

  Extent m_ext;
  // The smallest step by which the buffer grows, FIXED for a fixed stream.
  size_t m_growStep;
  size_t m_readIdx = 0;
  size_t m_writeIdx = 0;
  size_t m_reserve = 0;
  int m_references;
  bool m_resizeable;
  void* m_userData = nullptr;
};

}  // namespace rc
