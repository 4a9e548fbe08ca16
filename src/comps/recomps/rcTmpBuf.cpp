#include "comps/recomps/rcTmpBuf.h"

#include <cstring>

#include "comps/recomps/rcErr.h"

namespace rc {

TmpBuf::TmpBuf(char* buffer, size_t size)
    : m_buffer(buffer), m_bufferEnd(buffer + size), m_freeBegin(buffer) {}

void* TmpBuf::alloc(size_t space) {
  if (!hasRoom(space)) Assert_throwAssert("hasRoom (space)", nullptr, false, __FILE__, __LINE__);
  char* piece = m_freeBegin;
  m_freeBegin += space;
  return piece;
}

void TmpBuf::putCh(char c) { *static_cast<char*>(alloc(1)) = c; }

char* TmpBuf::strDup(const char* text, bool addEos) {
  if (text == nullptr) return nullptr;
  const size_t n = strlen(text) + (addEos ? 1 : 0);
  char* copy = static_cast<char*>(alloc(n));
  memcpy(copy, text, n);
  return copy;
}

}  // namespace rc
