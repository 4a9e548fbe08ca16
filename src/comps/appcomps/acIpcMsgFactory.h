// The message factory: one per process, it maps a message type to the routine that creates an
// empty message object of that type, so that whoever receives bytes can build the right object
// from the type in the header and let it restore itself.
//
// Records live in two vectors, one-way types indexed by the type, call and reply types by the
// type minus 1001; a vector grows in steps of 64 slots. The factory owns its records. An
// unregistered or impossible type (0, negative, beyond the tables) has no record and gives a
// null message. Not thread-safe.
#pragma once

#include <vector>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memStlAlloc.h"

namespace ac {

class IpcMsgHdr;

using NewIpcMsgRtn = IpcMsgHdr* (*)(int msgType);

class IpcMsgRec : public mem::newDelete<mt_anonymous> {
 public:
  IpcMsgRec(int msgType, NewIpcMsgRtn newIpcMsgRtn)
      : m_msgType(msgType), m_newIpcMsgRtn(newIpcMsgRtn) {}

  int msgType() const { return m_msgType; }
  NewIpcMsgRtn newIpcMsgRtn() const { return m_newIpcMsgRtn; }
  void setNewIpcMsgRtn(NewIpcMsgRtn rtn) { m_newIpcMsgRtn = rtn; }
  IpcMsgHdr* newIpcMsg() const { return m_newIpcMsgRtn(m_msgType); }

 private:
  int m_msgType;
  NewIpcMsgRtn m_newIpcMsgRtn;
};

// A pair for registering many types from a table.
struct IpcMsgRecData {
  int msgType;
  NewIpcMsgRtn newIpcMsgRtn;
};

// The slot of a type in the one-way or the call/reply vector, and the growth rule the factory
// and the handler table share. A type outside both ranges has no slot.
struct IpcMsgSlot {
  enum { ONE_WAY_CAPACITY = 32, DEFAULT_CAPACITY = 64, GROWTH_STEP = 64 };
  // True for one-way types (index = type), false for calls and replies (index = type - 1001).
  bool oneWay;
  size_t index;

  // False for types of 0 or below.
  static bool of(int msgType, IpcMsgSlot* slot);
  // The vector size that holds index: capacity plus 64, raised in steps of 64 until it exceeds
  // index; the current size when it already does.
  static size_t grownSize(size_t size, size_t capacity, size_t index);

  template <class Vec>
  static typename Vec::value_type& slotIn(Vec& vec, size_t index) {
    if (index >= vec.size()) vec.resize(grownSize(vec.size(), vec.capacity(), index), nullptr);
    return vec[index];
  }
};

class IpcMsgFactory : public mem::newDelete<mt_anonymous> {
 public:
  using RecVec = std::vector<IpcMsgRec*, mem::stlAlloc<IpcMsgRec*>>;

  IpcMsgFactory();
  ~IpcMsgFactory();
  IpcMsgFactory(const IpcMsgFactory&) = delete;
  IpcMsgFactory& operator=(const IpcMsgFactory&) = delete;

  // The process's factory, created first when there is none and allocIfNull.
  static IpcMsgFactory* instance(bool allocIfNull = true);
  // Destroys the factory and its records; a later instance(true) builds a new, empty one.
  static void cleanupInstance();

  // Registers or replaces the routine of a type; a type of 0 or below is ignored.
  void add(int msgType, NewIpcMsgRtn newIpcMsgRtn);
  void add(const IpcMsgRecData* dataRecs, unsigned int nRecs);
  const IpcMsgRec* lookup(int msgType) const;
  // A new, empty message of the type (the caller owns it), or null without a record.
  IpcMsgHdr* newIpcMsg(int msgType) const;
  void destroyContents();

  const RecVec& oneWayRecs() const { return m_oneWayRecs; }
  const RecVec& callReplyRecs() const { return m_callReplyRecs; }

 private:
  RecVec m_oneWayRecs;
  RecVec m_callReplyRecs;

  static IpcMsgFactory* s_instance;
};

}  // namespace ac
