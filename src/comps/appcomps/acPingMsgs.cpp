#include "comps/appcomps/acPingMsgs.h"

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"

namespace ac {

PingData::PingData(int references) : rc::RefCnt(references), m_msgCount(0) {}

PingData::PingData(const char* comment, int references) : PingData(references) {
  setComment(comment);
}

PingData::PingData(const PingData& src, int references)
    : rc::RefCnt(references), m_comment(src.m_comment), m_msgCount(src.m_msgCount) {}

PingData& PingData::operator=(const PingData& src) {
  m_comment = src.m_comment;
  m_msgCount = src.m_msgCount;
  return *this;
}

void PingData::saveOn(rc::ByteStrm& s) const { s << m_comment << m_msgCount; }

void PingData::restoreFrom(rc::ByteStrm& s) { s >> m_comment >> m_msgCount; }

size_t PingData::binarySize() const { return rc::ByteStrm::binarySize(m_comment) + 4; }

void PingData::dumpObj(int indentLvl, const char* label) const {
  rc::dumpHeader(indentLvl, label, "Ping Data", this, ":\n");
  rc::dumpLine(indentLvl + 1, "comment   = '%s'\n", m_comment.c_str());
  rc::dumpLine(indentLvl + 1, "msgCount  = %d\n", m_msgCount);
}

PingCall::PingCall() : IpcMsgOf(kMsgType, 0, 0) {}

PingCall::PingCall(short dstPgmId, PingData* pingData) : IpcMsgOf(dstPgmId) {
  setPingData(pingData);
}

PingReply::PingReply(PingData* pingData) { setPingData(pingData); }

}  // namespace ac
