#include "comps/appcomps/acFdSetInfo.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOut.h"

namespace ac {

FdSetInfo::~FdSetInfo() {
  rc::poison(m_cbObj);
  rc::poison(m_cbRtn);
}

int FdSetInfo::compareTo(const FdSetInfo& tgt) const {
  const uintptr_t mine = reinterpret_cast<uintptr_t>(m_cbObj);
  const uintptr_t theirs = reinterpret_cast<uintptr_t>(tgt.m_cbObj);
  return mine < theirs ? -1 : (mine > theirs ? 1 : 0);
}

void FdSetInfoVec::append(FdSetInfo* info) { m_vec.push_back(info); }

void FdSetInfoVec::remove(const FdSetInfo& match) {
  for (auto it = m_vec.begin(); it != m_vec.end(); ++it) {
    if ((*it)->compareTo(match) == 0) {
      FdSetInfo* found = *it;
      m_vec.erase(it);
      delete found;
      return;
    }
  }
  const std::string addr = std::string("[") + rc::DumpAddr(match.m_cbObj).str() + "]";
  rc::Out::instance()->print(rc::IntnlErr(RC_NON_FATAL, "ignoring error", RC_SC_OBJ_NOT_FOUND,
                                          rc::VarArgs() << "FdSet info"
                                                        << "cbObj" << addr.c_str(),
                                          nullptr),
                             true);
}

void FdSetInfoVec::updateDynamicFdSet(rc::FdSet* fdSet) const {
  RC_ASSERT(fdSet);
  // By index: a provider's routine may register or remove providers.
  for (size_t i = 0; i < m_vec.size(); ++i) {
    // An empty set has nothing to merge.
    const rc::FdSet& set = m_vec[i]->retrieveFdSet();
    if (!set.isEmpty()) *fdSet += set;
  }
}

FdSetInfo* FdSetInfoVec::operator[](size_t n) const {
  if (n >= m_vec.size())
    rc::Assert_throwAssert("n < m_vec.size ()", nullptr, false, __FILE__, __LINE__);
  return m_vec[n];
}

void FdSetInfoVec::clear() {
  destroyContents();
  m_vec.clear();
}

void FdSetInfoVec::destroyContents() {
  for (FdSetInfo* info : m_vec) delete info;
}

}  // namespace ac
