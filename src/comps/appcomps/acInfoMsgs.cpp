#include "comps/appcomps/acInfoMsgs.h"

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"

namespace ac {

GetRevDataReply::GetRevDataReply(const rc::RevData& revData) : GetRevDataReply() {
  setRevData(revData);
}

GetRevDataReply::GetRevDataReply(const GetRevDataReply& src, bool deepCopy)
    : IpcMsgOf(src, deepCopy),
      m_revData(src.m_revData != nullptr ? new rc::RevData(*src.m_revData) : nullptr) {}

GetRevDataReply::~GetRevDataReply() { delete m_revData; }

void GetRevDataReply::setRevData(const rc::RevData& revData) {
  if (m_revData == nullptr) {
    m_revData = new rc::RevData(revData);
  } else {
    *m_revData = revData;
  }
}

void GetRevDataReply::restoreMsg(rc::ByteStrm& s) {
  if (!restoreStsHdr(s)) return;
  int present = 0;
  s >> present;
  if (present == 0) {
    delete m_revData;
    m_revData = nullptr;
    return;
  }
  if (m_revData == nullptr) m_revData = new rc::RevData();
  m_revData->restoreFrom(s);
}

size_t GetRevDataReply::binaryMsgSize() const {
  return IpcStsMsgHdr::binaryMsgSize() + 4 + (m_revData != nullptr ? m_revData->binarySize() : 0);
}

void GetRevDataReply::saveMsg(rc::ByteStrm& s) const {
  IpcStsMsgHdr::saveMsg(s);
  s << int{m_revData != nullptr};
  if (m_revData != nullptr) m_revData->saveOn(s);
}

void GetRevDataReply::dumpMsg() const {
  IpcStsMsgHdr::dumpMsg();
  if (m_revData != nullptr) m_revData->dumpObj(1, nullptr);
}

}  // namespace ac
