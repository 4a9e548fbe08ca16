// Restores serialised objects from arbitrary bytes, as a process does with a message from another
// one. A restore either succeeds or raises the read error with the object left empty; what it
// restored must write back canonically: the same size it consumed, and bytes that restore to an
// equal object and write back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcStrVec.h"

namespace {

void require(bool cond) {
  if (!cond) abort();
}

std::vector<unsigned char> bytesOf(const rc::ByteStrm& s) {
  return std::vector<unsigned char>(s.buffer(), s.buffer() + s.size());
}

void fuzzStrVec(const uint8_t* data, size_t size) {
  // An exactly sized heap copy, so that any read past the data is an address-sanitizer fault.
  rc::ByteStrm in(size);
  in.writeBytes(data, size);
  rc::StrVec v;
  v.append("stale");
  try {
    v.restoreFrom(in);
  } catch (const rc::Err& e) {
    require(e.code() == RC_SC_READ_FAILED);
    require(v.isEmpty());
    return;
  }

  rc::ByteStrm out(0);
  v.saveOn(out);
  require(out.size() == in.readIndex());
  require(out.size() <= v.binarySize());

  rc::StrVec back(0);
  back.restoreFrom(out);
  require(back == v);
  rc::ByteStrm again(0);
  back.saveOn(again);
  require(bytesOf(again) == bytesOf(out));

  // The other readers of a restored vector.
  const rc::StrVec copy(v);
  require(copy.compareTo(v) == 0);
  for (unsigned int i = 0; i < v.entries(); ++i) {
    require(v[i][v.strLen(i)] == '\0' && strlen(v[i]) <= v.strLen(i));
  }
  require(strcmp(v[v.entries()], "<rc::StrVec index too big>") == 0);
  std::vector<char> flat(size % 64);
  require(v.copyBytes(flat.data(), static_cast<unsigned int>(flat.size()), true) <= flat.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzStrVec(data, size);
  return 0;
}
