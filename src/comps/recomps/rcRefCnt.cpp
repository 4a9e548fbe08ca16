#include "comps/recomps/rcRefCnt.h"

namespace rc {

RefCnt::~RefCnt() = default;

RefCnt* RefCnt::addReference() {
  ++m_references;
  return this;
}

int RefCnt::removeReference() { return --m_references; }

}  // namespace rc
