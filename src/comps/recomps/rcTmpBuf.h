// A bump allocator over a buffer the caller owns: pieces are handed out from the front and only
// given back all at once by reset(). The buffer must outlive every piece taken from it. Asking
// for a piece that does not leave at least one byte of room is a failed internal assertion
// ("hasRoom (space)"). Not thread-safe.
#pragma once

#include <cstddef>

namespace rc {

class TmpBuf {
 public:
  TmpBuf(char* buffer, size_t size);

  // The current position, then advanced by n.
  void* alloc(size_t n);
  // Pieces are not freed one by one; the whole buffer is rewound by reset().
  void dealloc(void* /*piece*/) {}
  void putCh(char c);
  // A copy of text in the buffer, with its terminator only when addEos; null for null.
  char* strDup(const char* text, bool addEos = true);
  void reset() { m_freeBegin = m_buffer; }

  size_t used() const { return static_cast<size_t>(m_freeBegin - m_buffer); }
  size_t room() const { return static_cast<size_t>(m_bufferEnd - m_freeBegin); }

 private:
  bool hasRoom(size_t space) const { return space < room(); }

  char* m_buffer;
  char* m_bufferEnd;
  char* m_freeBegin;
};

}  // namespace rc
