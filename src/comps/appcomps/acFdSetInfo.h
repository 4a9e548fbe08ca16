// Dynamic descriptor-set providers of the event loop. A provider is a routine, with its object,
// that the loop asks for its current rc::FdSet at every iteration; an empty set is skipped, not
// merged. ac::FdSetInfoVec owns its providers and keeps them in registration order, which is the
// order their sets are merged in. Providers are identified by their object alone. Providers and
// their vectors are anonymous heap blocks (mt_anonymous). Not thread-safe; not for signal handlers.
#pragma once

#include <cstddef>
#include <vector>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memStlAlloc.h"
#include "comps/recomps/rcFdSet.h"

namespace ac {

class FdSetInfo : public mem::newDelete<mt_anonymous> {
 public:
  typedef const rc::FdSet& (*CbRtn)(void* cbObj);

  FdSetInfo(void* cbObj, CbRtn cbRtn) : m_cbObj(cbObj), m_cbRtn(cbRtn) {}
  ~FdSetInfo();
  FdSetInfo(const FdSetInfo&) = delete;
  FdSetInfo& operator=(const FdSetInfo&) = delete;

  const rc::FdSet& retrieveFdSet() const { return m_cbRtn(m_cbObj); }
  // Orders by the callback object only: -1, 0 or 1.
  int compareTo(const FdSetInfo& tgt) const;

  void* m_cbObj;
  CbRtn m_cbRtn;
};

class FdSetInfoVec : public mem::newDelete<mt_anonymous> {
 public:
  explicit FdSetInfoVec(size_t capacity = 16) { m_vec.reserve(capacity); }
  ~FdSetInfoVec() { clear(); }
  FdSetInfoVec(const FdSetInfoVec&) = delete;
  FdSetInfoVec& operator=(const FdSetInfoVec&) = delete;

  // Takes ownership.
  void append(FdSetInfo* info);
  // Deletes the first provider with match's object. An unknown object is reported as an
  // internal error (RC_NON_FATAL, "ignoring error", RC_SC_OBJ_NOT_FOUND) and otherwise ignored.
  void remove(const FdSetInfo& match);
  // Merges (+=) every provider's current set into fdSet, in registration order.
  void updateDynamicFdSet(rc::FdSet* fdSet) const;
  FdSetInfo* operator[](size_t n) const;
  size_t size() const { return m_vec.size(); }
  // Deletes every provider and empties the vector.
  void clear();
  // Deletes every provider but leaves the (then dangling) pointers in place.
  void destroyContents();

 private:
  std::vector<FdSetInfo*, mem::stlAlloc<FdSetInfo*>> m_vec;
};

}  // namespace ac
