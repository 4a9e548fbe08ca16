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
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memStlAlloc.h"

namespace ac {

class IpcMsgHdr;
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
  void invokeHandler(IpcMsgHdr* msg, IpcMsgProto* proto) const;
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

// The key of a reply entry, for lookups that build no entry.
struct IpcMsgHndlrKey {
  int m_msgType;
  int m_interactId;
};

// Orders entries by type, then interaction id.
struct IpcMsgHndlrRecPtrComp {
  using is_transparent = void;
  template <class A, class B>
  bool operator()(const A& a, const B& b) const {
    return key(a).m_msgType != key(b).m_msgType ? key(a).m_msgType < key(b).m_msgType
                                                : key(a).m_interactId < key(b).m_interactId;
  }
  static const IpcMsgHndlrKey& key(const IpcMsgHndlrKey& k) { return k; }
  static IpcMsgHndlrKey key(const IpcMsgHndlrRec* rec) {
    return {rec->m_msgType, rec->m_interactId};
  }
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
  IpcMsgHndlrRec* lookup(int msgType) const;
  IpcMsgHndlrRec* lookup(int replyType, int interactId) const;
  void remove(int replyType, int interactId);

  // Runs the handler of msg. Returns false when there is none (reported, see above).
  bool invokeHandler(IpcMsgHdr* msg, IpcMsgProto* proto);

  const RecVec& oneWayHandlers() const { return m_oneWayHandlers; }
  const RecVec& callHandlers() const { return m_callHandlers; }
  const RecSet& replyHandlers() const { return m_replyHandlers; }

 private:
  void noHandler(IpcMsgHdr* msg, IpcMsgProto* proto) const;

  RecVec m_oneWayHandlers;
  RecVec m_callHandlers;
  RecSet m_replyHandlers;
};

}  // namespace ac
