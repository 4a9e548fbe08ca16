#include "comps/appcomps/acTxMsgs.h"

namespace ac {

const char* txTypeSymbol(int txType) {
  switch (txType) {
    case TX_START: return "TX_START";
    case TX_COMMIT: return "TX_COMMIT";
    case TX_ABORT: return "TX_ABORT";
    default: return "UNKNOWN";
  }
}

TransactionCall::TransactionCall(short dstPgmId, TxType txType, unsigned long long txId)
    : IpcMsgOf(dstPgmId) {
  m_tx.m_txType = txType;
  m_tx.m_txId = txId;
}

void TransactionReply::initReply(const TransactionCall& call) {
  initReplyHdr(call);
  m_tx = call.txFields();
}

}  // namespace ac
