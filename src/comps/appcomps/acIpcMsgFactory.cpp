#include "comps/appcomps/acIpcMsgFactory.h"

#include "comps/appcomps/acIpcMsgHdr.h"

namespace ac {

bool IpcMsgSlot::of(int msgType, IpcMsgSlot* slot) {
  if (msgType < IpcMsgHdr::ONE_WAY_BEGIN) return false;
  slot->oneWay = msgType < IpcMsgHdr::ONE_WAY_END;
  slot->index = static_cast<size_t>(slot->oneWay ? msgType : msgType - IpcMsgHdr::CALL_REPLY_BEGIN);
  return true;
}

size_t IpcMsgSlot::grownSize(size_t size, size_t capacity, size_t index) {
  if (index < size) return size;
  size_t newSize = capacity + GROWTH_STEP;
  while (newSize <= index) newSize += GROWTH_STEP;
  return newSize;
}

IpcMsgFactory* IpcMsgFactory::s_instance = nullptr;

IpcMsgFactory::IpcMsgFactory()
    : m_oneWayRecs(IpcMsgSlot::ONE_WAY_CAPACITY, nullptr),
      m_callReplyRecs(IpcMsgSlot::DEFAULT_CAPACITY, nullptr) {}

IpcMsgFactory::~IpcMsgFactory() { destroyContents(); }

IpcMsgFactory* IpcMsgFactory::instance(bool allocIfNull) {
  if (s_instance == nullptr && allocIfNull) s_instance = new IpcMsgFactory();
  return s_instance;
}

void IpcMsgFactory::cleanupInstance() {
  delete s_instance;
  s_instance = nullptr;
}

void IpcMsgFactory::add(int msgType, NewIpcMsgRtn newIpcMsgRtn) {
  IpcMsgSlot slot;
  if (!IpcMsgSlot::of(msgType, &slot)) return;
  IpcMsgRec*& rec = IpcMsgSlot::slotIn(slot.oneWay ? m_oneWayRecs : m_callReplyRecs, slot.index);
  if (rec != nullptr) {
    rec->setNewIpcMsgRtn(newIpcMsgRtn);
  } else {
    rec = new IpcMsgRec(msgType, newIpcMsgRtn);
  }
}

void IpcMsgFactory::add(const IpcMsgRecData* dataRecs, unsigned int nRecs) {
  for (unsigned int i = 0; i < nRecs; ++i) add(dataRecs[i].msgType, dataRecs[i].newIpcMsgRtn);
}

const IpcMsgRec* IpcMsgFactory::lookup(int msgType) const {
  IpcMsgSlot slot;
  if (!IpcMsgSlot::of(msgType, &slot)) return nullptr;
  const RecVec& recs = slot.oneWay ? m_oneWayRecs : m_callReplyRecs;
  return slot.index < recs.size() ? recs[slot.index] : nullptr;
}

IpcMsgHdr* IpcMsgFactory::newIpcMsg(int msgType) const {
  const IpcMsgRec* rec = lookup(msgType);
  return rec != nullptr ? rec->newIpcMsg() : nullptr;
}

void IpcMsgFactory::destroyContents() {
  for (RecVec* recs : {&m_oneWayRecs, &m_callReplyRecs}) {
    for (IpcMsgRec*& rec : *recs) {
      delete rec;
      rec = nullptr;
    }
  }
}

}  // namespace ac
