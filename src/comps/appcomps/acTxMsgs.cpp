#include "comps/appcomps/acTxMsgs.h"

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"

namespace ac {

const char* txTypeSymbol(int txType) {
  switch (txType) {
    case TX_START: return "TX_START";
    case TX_COMMIT: return "TX_COMMIT";
    case TX_ABORT: return "TX_ABORT";
    default: return "UNKNOWN";
  }
}

void TxFields::saveOn(rc::ByteStrm& s) const { s << m_txType << m_txId; }

void TxFields::restoreFrom(rc::ByteStrm& s) { s >> m_txType >> m_txId; }

void TxFields::dump() const {
  rc::dumpLine(1, "txType = %s, txId = %d,%d\n", txTypeSymbol(m_txType),
               static_cast<int>(m_txId >> 32), static_cast<int>(m_txId & 0xFFFFFFFFu));
}

TransactionCall::TransactionCall(short dstPgmId, TxType txType, unsigned long long txId)
    : IpcMsgOf(MsgTypes::TRANSACTION_CALL, MsgTypes::TRANSACTION_REPLY, dstPgmId) {
  m_tx.m_txType = txType;
  m_tx.m_txId = txId;
}

void TransactionCall::restoreMsg(rc::ByteStrm& s) {
  IpcMsgHdr::restoreMsg(s);
  m_tx.restoreFrom(s);
}

void TransactionCall::saveMsg(rc::ByteStrm& s) const {
  IpcMsgHdr::saveMsg(s);
  m_tx.saveOn(s);
}

void TransactionCall::dumpMsg() const {
  IpcMsgHdr::dumpMsg();
  m_tx.dump();
}

void TransactionReply::restoreMsg(rc::ByteStrm& s) {
  if (restoreStsHdr(s)) m_tx.restoreFrom(s);
}

void TransactionReply::saveMsg(rc::ByteStrm& s) const {
  IpcStsMsgHdr::saveMsg(s);
  m_tx.saveOn(s);
}

void TransactionReply::dumpMsg() const {
  IpcStsMsgHdr::dumpMsg();
  m_tx.dump();
}

void TransactionReply::initReply(const TransactionCall& call) {
  initReplyHdr(call);
  m_tx = call.txFields();
}

}  // namespace ac
