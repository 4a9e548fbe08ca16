// Building blocks of the message classes, so that each class states only what is its own.
//
// IpcMsgOf<Derived, Type, Base, Reply> declares a message class once: its type number Type
// (the class constant kMsgType; the only place the number is written) and, for a call, its reply
// class, whose type is the call's plus one (kReplyType; 0 for one-way messages and replies). It
// gives the class a constructor to a destination program with those types, its copy (through
// Derived's (const Derived&, bool deepCopy) constructor, which every message class declares), its
// factory routine newInstance, its name (Derived::kMsgName), for a call newReplyMsg (a new empty
// Reply), and, when Derived has a field list (fields(), see acMsgFields.h), the saving, restoring,
// size bound and dump of its body. A reply's fields are read only when its status header says
// they follow (a bare status reply ends after the status).
//
// PayloadObjMsg<Base, P, Shared, Name> holds the payload object P of a message and implements
// the payload operations over it (the header's raw payload stands in when there is no object). A
// reference-counted P (derived from rc::RefCnt) is released by the message, never deleted while
// another holder has a reference; with Shared a shallow copy of the message shares it, otherwise
// every copy of the message gets a copy of the object (with one reference). restorePayload creates
// the object when absent and restores it from the payload part; a shared object must not be
// there yet (the failed assertion names the member: Name).
#pragma once

#include <cstddef>
#include <type_traits>

#include "comps/appcomps/acIpcMsgHdr.h"
#include "comps/appcomps/acMsgFields.h"
#include "comps/recomps/rcRefCnt.h"

namespace ac {

template <class Derived, short Type, class Base, class Reply = void>
class IpcMsgOf : public Base {
 public:
  static constexpr short kMsgType = Type;
  static constexpr short kReplyType = std::is_void_v<Reply> ? 0 : Type + 1;
  static_assert(Type > 0 && std::is_void_v<Reply> != IpcMsgHdr::isCallMsg(Type),
                "a call, and only a call, names its reply class");

  using Base::Base;
  explicit IpcMsgOf(short dstPgmId = 0) : Base(kMsgType, kReplyType, dstPgmId) {}

  IpcMsgHdr* copy(bool deepCopy) const override {
    return new Derived(static_cast<const Derived&>(*this), deepCopy);
  }
  const char* msgName() const override { return Derived::kMsgName; }
  IpcMsgHdr* newReplyMsg() const override {
    if constexpr (std::is_void_v<Reply>) {
      return Base::newReplyMsg();
    } else {
      static_assert(Reply::kMsgType == kReplyType, "the reply class has the call's reply type");
      return new Reply();
    }
  }
  // The factory's routine for this class.
  static IpcMsgHdr* newInstance(int /*msgType*/) { return new Derived(); }

  void restoreMsg(rc::ByteStrm& s) override {
    if constexpr (HasMsgFields<Derived>) {
      if (restoreHdr(s)) msgfields::restoreAll(s, self().fields());
    } else {
      Base::restoreMsg(s);
    }
  }
  size_t binaryMsgSize() const override {
    if constexpr (HasMsgFields<Derived>) {
      return Base::binaryMsgSize() + msgfields::sizeOfAll(self().fields());
    } else {
      return Base::binaryMsgSize();
    }
  }
  void saveMsg(rc::ByteStrm& s) const override {
    Base::saveMsg(s);
    if constexpr (HasMsgFields<Derived>) msgfields::saveAll(s, self().fields());
  }
  void dumpMsg() const override {
    Base::dumpMsg();
    if constexpr (HasMsgFields<Derived>) msgfields::dumpAll(self().fields());
  }

 private:
  // The field list names members; saving and dumping only read them.
  Derived& self() const { return const_cast<Derived&>(static_cast<const Derived&>(*this)); }
  // Whether the body follows the restored header.
  bool restoreHdr(rc::ByteStrm& s) {
    if constexpr (std::is_base_of_v<IpcStsMsgHdr, Base>) {
      return this->restoreStsHdr(s);
    } else {
      Base::restoreMsg(s);
      return true;
    }
  }
};

// The name of a message's payload member, for its failed assertion "<name> == NULL".
template <size_t N>
struct PayloadMemberName {
  static constexpr char kSuffix[] = " == NULL";
  // Implicit, so that the name is written as a literal template argument.
  constexpr PayloadMemberName(const char (&name)[N]) {
    for (size_t i = 0; i + 1 < N; ++i) condition[i] = name[i];
    for (size_t i = 0; i < sizeof kSuffix; ++i) condition[N - 1 + i] = kSuffix[i];
  }
  char condition[N - 1 + sizeof kSuffix] = {};
};

template <class Base, class P, bool Shared = false, PayloadMemberName Name = "m_payloadObj">
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
        rc::Assert_throwAssert(Name.condition, nullptr, false, __FILE__, __LINE__);
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
