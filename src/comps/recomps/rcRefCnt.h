// Base of reference-counted objects (output devices, facilities, timers, records, payloads).
// The count is given at construction; every holder that keeps a pointer adds a reference, and the
// holder that sees removeReference() return a value below 1 deletes the object (RefCnt_release
// does both steps). Copying copies the count. Not thread-safe; not for use in signal handlers.
#pragma once

namespace rc {

class RefCnt {
 public:
  explicit RefCnt(int references) : m_references(references) {}
  RefCnt(const RefCnt&) = default;
  RefCnt& operator=(const RefCnt&) = default;

  virtual ~RefCnt() = default;
  virtual void addReference() { ++m_references; }
  // Returns the count left after dropping one reference.
  virtual int removeReference() { return --m_references; }

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
