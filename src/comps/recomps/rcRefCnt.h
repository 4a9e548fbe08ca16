// The base of reference-counted objects (devices, facilities, timers, descriptor and child
// records, payloads). The count is given at construction; addReference adds one and
// removeReference takes one away and returns what is left. The object never deletes itself: the
// holder that sees the count drop below 1 deletes it. Copying copies the count. Not thread-safe.
#pragma once

namespace rc {

class RefCnt {
 public:
  explicit RefCnt(int references) : m_references(references) {}
  virtual ~RefCnt();

  // Returns the object itself, so that a holder can take a reference as it stores the pointer.
  virtual RefCnt* addReference();
  virtual int removeReference();

  int references() const { return m_references; }

 protected:
  int m_references;
};

// Drops the reference held through slot, deletes the object when that was the last one, and
// clears the slot. A null slot is left alone.
template <class T>
void RefCnt_release(T*& slot) {
  T* obj = slot;
  slot = nullptr;
  if (obj != nullptr && obj->removeReference() < 1) delete obj;
}

}  // namespace rc
