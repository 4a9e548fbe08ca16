// Building blocks of the message classes, so that each class states only what is its own.
//
// IpcMsgOf<Derived, Base, Reply> gives a message class its copy (through Derived's
// (const Derived&, bool deepCopy) constructor, which every message class declares), its
// factory routine newInstance, its name (Derived::kMsgName) and, for a call, newReplyMsg (a new
// empty Reply).
//
// PayloadObjMsg<Base, P, Shared> holds the payload object P of a message and implements the
// payload operations over it (the header's raw payload stands in when there is no object). A
// reference-counted P (derived from rc::RefCnt) is released by the message, never deleted while
// another holder has a reference; with Shared a shallow copy of the message shares it, otherwise
// every copy of the message gets a copy of the object (with one reference). restorePayload creates
// the object when absent and restores it from the payload part.
#pragma once

#include <type_traits>

#include "comps/appcomps/acIpcMsgHdr.h"
#include "comps/recomps/rcRefCnt.h"

namespace ac {

template <class Derived, class Base, class Reply = void>
class IpcMsgOf : public Base {
 public:
  using Base::Base;

  IpcMsgHdr* copy(bool deepCopy) const override {
    return new Derived(static_cast<const Derived&>(*this), deepCopy);
  }
  const char* msgName() const override { return Derived::kMsgName; }
  IpcMsgHdr* newReplyMsg() const override {
    if constexpr (std::is_void_v<Reply>) {
      return Base::newReplyMsg();
    } else {
      return new Reply();
    }
  }
  // The factory's routine for this class.
  static IpcMsgHdr* newInstance(int /*msgType*/) { return new Derived(); }
};

template <class Base, class P, bool Shared = false>
class PayloadObjMsg : public Base {
  static constexpr bool kCounted = std::is_base_of_v<rc::RefCnt, P>;
  static_assert(kCounted || !Shared, "only a reference-counted object can be shared");

 public:
  using Base::Base;
  PayloadObjMsg(const PayloadObjMsg& src, bool deepCopy = false)
      : Base(src, deepCopy), m_payloadObj(copyOf(src.m_payloadObj, Shared && !deepCopy)) {}
  PayloadObjMsg& operator=(const PayloadObjMsg&) = delete;
  ~PayloadObjMsg() override { release(); }

  bool hasPayload() const override { return this->hasPayloadOf(m_payloadObj); }
  size_t binaryPayloadSize() const override { return this->payloadSizeOf(m_payloadObj); }
  void savePayload(rc::ByteStrm& s) const override { this->savePayloadOf(m_payloadObj, s); }
  void dumpPayload() const override { Base::dumpPayloadOf(m_payloadObj); }
  void restorePayload(rc::ByteStrm& s) override {
    if constexpr (Shared) {
      if (m_payloadObj != nullptr)
        rc::Assert_throwAssert("m_pingData == NULL", nullptr, false, __FILE__, __LINE__);
    }
    allocObj()->restoreFrom(s);
  }

 protected:
  // Drops the object (a reference to a counted one; an owned one is deleted).
  void release() {
    if constexpr (kCounted) {
      rc::RefCnt_release(m_payloadObj);
    } else {
      delete m_payloadObj;
      m_payloadObj = nullptr;
    }
  }
  // Shares obj (a reference is taken); null drops the object.
  void hold(P* obj) {
    static_assert(Shared, "hold shares the object");
    P* held = copyOf(obj, true);
    release();
    m_payloadObj = held;
  }
  // The object, created empty (a counted one with one reference) when absent.
  P* allocObj() {
    if (m_payloadObj == nullptr) m_payloadObj = newObj();
    return m_payloadObj;
  }
  // Copies obj into the object, creating it when absent.
  void assignObj(const P& obj) {
    if (m_payloadObj == nullptr) {
      m_payloadObj = copyOf(const_cast<P*>(&obj), false);
    } else {
      *m_payloadObj = obj;
    }
  }
  static P* newObj() {
    if constexpr (kCounted) {
      return new P(1);
    } else {
      return new P();
    }
  }

  P* m_payloadObj = nullptr;

 private:
  static P* copyOf(P* obj, bool share) {
    if (obj == nullptr) return nullptr;
    if constexpr (kCounted) {
      if (share) {
        obj->addReference();
        return obj;
      }
      return new P(*obj, 1);
    } else {
      return new P(*obj);
    }
  }
};

}  // namespace ac
