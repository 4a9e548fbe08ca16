#include "comps/appcomps/acIpcMsgHndlrTbl.h"

#include <memory>

#include "comps/appcomps/acIpcMsgFactory.h"
#include "comps/appcomps/acIpcMsgHdr.h"
#include "comps/appcomps/acIpcMsgProto.h"
#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcOut.h"

namespace ac {

void IpcMsgProto::sendErrorReply(IpcMsgProto* proto, const IpcMsgHdr& call, const rc::Err& status) {
  if (proto == nullptr || !call.isCallMsg()) return;
  IpcStsMsgHdr reply;
  reply.initReplyHdr(call);
  reply.setStatus(status);
  proto->sendReply(&reply);
}

IpcMsgHndlrRec::~IpcMsgHndlrRec() {
  rc::poison(m_handlerObj);
  m_handler = nullptr;
}

IpcMsgHndlrTbl::IpcMsgHndlrTbl()
    : m_oneWayHandlers(IpcMsgSlot::ONE_WAY_CAPACITY, nullptr),
      m_callHandlers(IpcMsgSlot::DEFAULT_CAPACITY, nullptr) {}

IpcMsgHndlrTbl::~IpcMsgHndlrTbl() {
  for (RecVec* recs : {&m_oneWayHandlers, &m_callHandlers}) {
    for (IpcMsgHndlrRec* rec : *recs) delete rec;
  }
  for (const auto& entry : m_replyHandlers) delete entry.second;
}

void IpcMsgHndlrTbl::add(int msgType, void* handlerObj, IpcMsgHndlrCCb handler) {
  if (IpcMsgHdr::isReplyMsg(msgType)) {
    rc::Assert_throwAssert("!ac::IpcMsgHdr::isReplyMsg (msgType)", nullptr, false, __FILE__,
                           __LINE__);
  }
  IpcMsgSlot slot;
  if (!IpcMsgSlot::of(msgType, &slot)) return;
  IpcMsgHndlrRec*& rec =
      IpcMsgSlot::slotIn(slot.oneWay ? m_oneWayHandlers : m_callHandlers, slot.index);
  if (rec != nullptr) {
    rec->set(handlerObj, handler, false);
  } else {
    rec = new IpcMsgHndlrRec(msgType, 0, handlerObj, handler, false);
  }
}

void IpcMsgHndlrTbl::add(int replyType, int interactId, void* handlerObj, IpcMsgHndlrCCb handler,
                         bool autoRemove) {
  if (!IpcMsgHdr::isReplyMsg(replyType)) {
    rc::Assert_throwAssert("ac::IpcMsgHdr::isReplyMsg (replyType)", nullptr, false, __FILE__,
                           __LINE__);
  }
  const uint64_t key = replyKey(replyType, interactId);
  const auto found = m_replyHandlers.find(key);
  if (found != m_replyHandlers.end()) {
    found->second->set(handlerObj, handler, autoRemove);
    return;
  }
  auto rec =
      std::make_unique<IpcMsgHndlrRec>(replyType, interactId, handlerObj, handler, autoRemove);
  m_replyHandlers.emplace(key, rec.get());
  rec.release();
}

IpcMsgHndlrRec* IpcMsgHndlrTbl::lookup(int msgType) const {
  IpcMsgSlot slot;
  if (IpcMsgHdr::isReplyMsg(msgType) || !IpcMsgSlot::of(msgType, &slot)) return nullptr;
  const RecVec& recs = slot.oneWay ? m_oneWayHandlers : m_callHandlers;
  return slot.index < recs.size() ? recs[slot.index] : nullptr;
}

IpcMsgHndlrRec* IpcMsgHndlrTbl::lookup(int replyType, int interactId) const {
  const auto found = m_replyHandlers.find(replyKey(replyType, interactId));
  return found != m_replyHandlers.end() ? found->second : nullptr;
}

void IpcMsgHndlrTbl::remove(int replyType, int interactId) {
  const auto found = m_replyHandlers.find(replyKey(replyType, interactId));
  if (found == m_replyHandlers.end()) return;
  IpcMsgHndlrRec* rec = found->second;
  m_replyHandlers.erase(found);
  delete rec;
}

bool IpcMsgHndlrTbl::invokeOther(IpcMsgHdr* msg, IpcMsgProto* proto) {
  const bool isReply = msg->isReplyMsg();
  IpcMsgHndlrRec* rec = nullptr;
  RecSet::iterator found = m_replyHandlers.end();
  if (isReply) {
    found = m_replyHandlers.find(replyKey(msg->msgType(), msg->interactId()));
    if (found != m_replyHandlers.end()) rec = found->second;
  } else {
    rec = lookup(msg->msgType());
  }
  if (rec == nullptr) {
    noHandler(msg, proto);
    return false;
  }
  if (!rec->m_autoRemove) {
    rec->invokeHandler(msg, proto);
    return true;
  }
  RC_ASSERT(isReply);
  // Out of the set first: the handler may register the next call's reply under the same key.
  m_replyHandlers.erase(found);
  const std::unique_ptr<IpcMsgHndlrRec> taken(rec);
  taken->invokeHandler(msg, proto);
  return true;
}

void IpcMsgHndlrTbl::unknownMsg(IpcMsgHdr* msg, IpcMsgProto* proto, const char* routine) {
  const rc::VarArgs args = rc::VarArgs() << msg->msgType();
  rc::Out::instance()->printIntnlErr(RC_NON_FATAL, "unknown msg type", RC_SC_BAD_CASE_VALUE, args,
                                     false, __FILE__, __LINE__);
  IpcMsgProto::sendErrorReply(proto, *msg,
                              rc::Err(RC_NON_FATAL, RC_SC_BAD_CASE_VALUE, args, routine));
}

void IpcMsgHndlrTbl::noHandler(IpcMsgHdr* msg, IpcMsgProto* proto) const {
  const rc::VarArgs args = rc::VarArgs() << msg->msgType() << msg->interactId();
  rc::Out::instance()->printIntnlErr(RC_NON_FATAL, "", AC_SC_NO_MSG_HANDLER, args, false, __FILE__,
                                     __LINE__);
  IpcMsgProto::sendErrorReply(
      proto, *msg,
      rc::Err(RC_ERROR, AC_SC_NO_MSG_HANDLER, args, "appcomps/IpcMsgHndlrTbl::invokeHandler"));
}

}  // namespace ac
