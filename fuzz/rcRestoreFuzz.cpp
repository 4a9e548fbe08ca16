// Restores serialised objects from arbitrary bytes, as a process does with a message from another
// one. A restore either succeeds or raises the read error with the object left empty; what it
// restored must write back canonically: the same size it consumed, and bytes that restore to an
// equal object and write back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcStrVec.h"
#include "comps/recomps/rcVarArgs.h"

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

// Restores a T (rc::VarArgs, rc::Err, rc::IntnlErr) from the bytes. What a successful restore
// gives must write back in a canonical form: restoring that form and writing it again yields the
// same bytes, and the text the object formats to survives the round trip.
template <typename T, typename Text>
void fuzzRestore(const uint8_t* data, size_t size, Text text) {
  rc::ByteStrm in(size);
  in.writeBytes(data, size);
  T obj;
  try {
    obj.restoreFrom(in);
  } catch (const rc::Err& e) {
    require(e.code() == RC_SC_READ_FAILED);
    return;
  }
  rc::ByteStrm out(0);
  obj.saveOn(out);
  T back;
  back.restoreFrom(out);
  require(out.unreadBytes() == 0);
  rc::ByteStrm again(0);
  back.saveOn(again);
  require(bytesOf(again) == bytesOf(out));
  require(text(back) == text(obj));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzStrVec(data, size);
  fuzzRestore<rc::VarArgs>(data, size, [](const rc::VarArgs& a) {
    return a.asString() + "|" + a.substituteArgs("{1}{2}{10}{3x");
  });
  fuzzRestore<rc::Err>(data, size,
                       [](const rc::Err& e) { return rc::Err::format(e, rc::Err::FF_SHOW_CODES); });
  fuzzRestore<rc::IntnlErr>(data, size, [](const rc::IntnlErr& e) {
    return rc::IntnlErr::format(e, rc::Err::FF_SHOW_CODES);
  });
  return 0;
}
