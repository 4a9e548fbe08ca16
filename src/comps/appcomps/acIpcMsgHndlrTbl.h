// The handler table: one per application object, it maps a received message to the routine that
// handles it. One-way messages and calls are looked up by type (two vectors, grown as the
// message factory's), replies by type and interaction id (a hash table: a program with many calls
// in flight finds a reply's entry in constant time), so that the reply to one particular call
// reaches the code that sent it. A reply entry registered with autoRemove
// handles exactly one reply: it is taken out before its handler runs and deleted afterwards.
//
// A message nobody handles never ends the program: a peer may send any type. invokeHandler
// reports it as a non-fatal internal error (AC_SC_NO_MSG_HANDLER with type and interaction id)
// through the output facility, drops it and, for a call, answers with that error as the reply's
// status. Registering a reply type as a one-way/call handler or the reverse is a failed
// assertion. The table owns its entries. Not thread-safe.
//
// Typed handlers: add<&Obj::method>(obj) registers a member function taking (T*, IpcMsgProto*)
// or (T*) for the type of the message class T (T::kMsgType). The table keeps a plain routine
// made for that method, which passes on only a message whose class is T or derives from it (the
// factory routine of a type may have been replaced): any other is reported as an unknown type
// (unknownMsg), so nothing is ever cast blindly. IpcMsgHandlers<&A::f, &B::g, ...> is a list of
// such methods, registered together in list order and looked up by type.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "comps/appcomps/acIpcMsgHdr.h"
#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memStlAlloc.h"

namespace ac {

class IpcMsgProto;

// A handler: the registered object, the received message and the protocol object it came on.
using IpcMsgHndlrCCb = void (*)(void* handlerObj, IpcMsgHdr* msg, IpcMsgProto* proto);

class IpcMsgHndlrRec : public mem::newDelete<mt_anonymous> {
 public:
  IpcMsgHndlrRec(int msgType, int interactId, void* handlerObj, IpcMsgHndlrCCb handler,
                 bool autoRemove)
      : m_msgType(msgType),
        m_interactId(interactId),
        m_handlerObj(handlerObj),
        m_handler(handler),
        m_autoRemove(autoRemove) {}
  ~IpcMsgHndlrRec();
  IpcMsgHndlrRec(const IpcMsgHndlrRec&) = delete;
  IpcMsgHndlrRec& operator=(const IpcMsgHndlrRec&) = delete;

  // Calls the handler; object and routine must both be set (failed assertion otherwise).
  void invokeHandler(IpcMsgHdr* msg, IpcMsgProto* proto) const {
    RC_ASSERT(m_handlerObj);
    RC_ASSERT(m_handler);
    m_handler(m_handlerObj, msg, proto);
  }
  void set(void* handlerObj, IpcMsgHndlrCCb handler, bool autoRemove) {
    m_handlerObj = handlerObj;
    m_handler = handler;
    m_autoRemove = autoRemove;
  }

  int m_msgType;
  int m_interactId;
  void* m_handlerObj;
  IpcMsgHndlrCCb m_handler;
  bool m_autoRemove;
};

// The order of entries: by type, then by interaction id. It is the order of the reply keys
// (IpcMsgHndlrTbl::replyKey) taken as numbers for non-negative types and ids.
struct IpcMsgHndlrRecPtrComp {
  bool operator()(const IpcMsgHndlrRec* a, const IpcMsgHndlrRec* b) const {
    return a->m_msgType != b->m_msgType ? a->m_msgType < b->m_msgType
                                        : a->m_interactId < b->m_interactId;
  }
};

// What a typed handler is: the class of its object and of the messages it takes.
template <auto Method>
struct IpcMsgMethod;
template <class Obj, class T, void (Obj::*Method)(T*, IpcMsgProto*)>
struct IpcMsgMethod<Method> {
  using Object = Obj;
  using Msg = T;
  static void call(Obj* obj, T* msg, IpcMsgProto* proto) { (obj->*Method)(msg, proto); }
};
template <class Obj, class T, void (Obj::*Method)(T*)>
struct IpcMsgMethod<Method> {
  using Object = Obj;
  using Msg = T;
  static void call(Obj* obj, T* msg, IpcMsgProto*) { (obj->*Method)(msg); }
};

class IpcMsgHndlrTbl : public mem::newDelete<mt_anonymous> {
 public:
  using RecVec = std::vector<IpcMsgHndlrRec*, mem::stlAlloc<IpcMsgHndlrRec*>>;
  // Reply entries by (reply type, interaction id) packed into one word.
  using RecSet =
      std::unordered_map<uint64_t, IpcMsgHndlrRec*, std::hash<uint64_t>, std::equal_to<uint64_t>,
                         mem::stlAlloc<std::pair<const uint64_t, IpcMsgHndlrRec*>>>;
  static uint64_t replyKey(int replyType, int interactId) {
    return (uint64_t{static_cast<uint32_t>(replyType)} << 32) | static_cast<uint32_t>(interactId);
  }

  IpcMsgHndlrTbl();
  ~IpcMsgHndlrTbl();
  IpcMsgHndlrTbl(const IpcMsgHndlrTbl&) = delete;
  IpcMsgHndlrTbl& operator=(const IpcMsgHndlrTbl&) = delete;

  // One-way and call types; an existing entry takes the new object and routine (and is no
  // longer auto-removed). A type of 0 or below is ignored.
  void add(int msgType, void* handlerObj, IpcMsgHndlrCCb handler);
  // Reply types; an existing entry with the same key takes the new object, routine and flag.
  void add(int replyType, int interactId, void* handlerObj, IpcMsgHndlrCCb handler,
           bool autoRemove);
  // Method of obj for its message class (see above); the routine is typedCCb<Method>.
  template <auto Method>
  void add(typename IpcMsgMethod<Method>::Object* obj) {
    add(IpcMsgMethod<Method>::Msg::kMsgType, obj, &typedCCb<Method>);
  }
  // The same for the reply to one call (its reply type and interaction id).
  template <auto Method>
  void add(typename IpcMsgMethod<Method>::Object* obj, int interactId, bool autoRemove) {
    add(IpcMsgMethod<Method>::Msg::kMsgType, interactId, obj, &typedCCb<Method>, autoRemove);
  }
  IpcMsgHndlrRec* lookup(int msgType) const;
  IpcMsgHndlrRec* lookup(int replyType, int interactId) const;
  void remove(int replyType, int interactId);

  // Runs the handler of msg. Returns false when there is none (reported, see above). A one-way
  // message or a call with a handler costs an index and one indirect call.
  bool invokeHandler(IpcMsgHdr* msg, IpcMsgProto* proto) {
    const int type = msg->msgType();
    const bool oneWay = IpcMsgHdr::isOneWayMsg(type);
    if (oneWay || IpcMsgHdr::isCallMsg(type)) {
      const RecVec& recs = oneWay ? m_oneWayHandlers : m_callHandlers;
      const size_t index = static_cast<size_t>(oneWay ? type : type - IpcMsgHdr::CALL_REPLY_BEGIN);
      IpcMsgHndlrRec* rec = index < recs.size() ? recs[index] : nullptr;
      if (rec != nullptr && !rec->m_autoRemove) {
        rec->invokeHandler(msg, proto);
        return true;
      }
    }
    return invokeOther(msg, proto);
  }

  // The routine of a typed handler: Method on handlerObj when msg has its class. The exact class
  // is the path worth keeping short; a derived class or another one is settled out of line.
  template <auto Method>
  static void typedCCb(void* handlerObj, IpcMsgHdr* msg, IpcMsgProto* proto) {
    using M = IpcMsgMethod<Method>;
    using T = typename M::Msg;
    if (&typeid(*msg) == &typeid(T)) [[likely]] {
      return M::call(static_cast<typename M::Object*>(handlerObj), static_cast<T*>(msg), proto);
    }
    typedOtherCCb<Method>(handlerObj, msg, proto);
  }
  template <auto Method>
  [[gnu::noinline]] static void typedOtherCCb(void* handlerObj, IpcMsgHdr* msg,
                                              IpcMsgProto* proto) {
    using M = IpcMsgMethod<Method>;
    if (auto* typed = msgCastOther<typename M::Msg>(msg)) {
      M::call(static_cast<typename M::Object*>(handlerObj), typed, proto);
    } else {
      unknownMsg(msg, proto, "appcomps/IpcMsgHndlrTbl::typedCCb");
    }
  }
  // A message a dispatcher has no handler for (a type it does not know, or a class other than
  // the one its type stands for): reported as the non-fatal internal error "unknown msg type"
  // (RC_SC_BAD_CASE_VALUE with the type) and, for a call, answered with that error as the
  // status; routine names the dispatcher.
  static void unknownMsg(IpcMsgHdr* msg, IpcMsgProto* proto, const char* routine);

  const RecVec& oneWayHandlers() const { return m_oneWayHandlers; }
  const RecVec& callHandlers() const { return m_callHandlers; }
  const RecSet& replyHandlers() const { return m_replyHandlers; }

 private:
  // invokeHandler for replies, auto-removed entries and messages without a handler.
  bool invokeOther(IpcMsgHdr* msg, IpcMsgProto* proto);
  void noHandler(IpcMsgHdr* msg, IpcMsgProto* proto) const;

  RecVec m_oneWayHandlers;
  RecVec m_callHandlers;
  RecSet m_replyHandlers;
};

// A list of typed handlers, the one place a set of handlers is named: registered together in
// list order, and looked up by their message types.
template <auto... Methods>
struct IpcMsgHandlers {
  template <class Obj>
  static void addTo(IpcMsgHndlrTbl* tbl, Obj* obj) {
    (tbl->add<Methods>(obj), ...);
  }
  // The routine of the handler of msgType, null when none in the list takes it.
  static IpcMsgHndlrCCb find(int msgType) {
    IpcMsgHndlrCCb found = nullptr;
    static_cast<void>(((IpcMsgMethod<Methods>::Msg::kMsgType == msgType &&
                        (found = &IpcMsgHndlrTbl::typedCCb<Methods>) != nullptr) ||
                       ...));
    return found;
  }
};

}  // namespace ac
