// Transaction control: a call naming a transaction type and a 64-bit transaction id, and its
// reply, which repeats both (initReply copies them from the call). Not thread-safe.
#pragma once

#include "comps/appcomps/acIpcMsgImpl.h"

namespace ac {

enum TxType { TX_START = 0, TX_COMMIT = 1, TX_ABORT = 2 };
// "TX_START", "TX_COMMIT", "TX_ABORT"; "UNKNOWN" for any other value.
const char* txTypeSymbol(int txType);

// The fields both transaction messages carry: the type (int) and the id (8 bytes, low word
// first), dumped as "txType = TX_COMMIT, txId = <upper word>,<lower word>".
struct TxFields {
  int m_txType = TX_START;
  unsigned long long m_txId = 0;

  auto fields() {
    return msgFields(msgField(m_txType, "txType", txTypeSymbol), msgField(m_txId, "txId"));
  }
};

class TransactionReply;

class TransactionCall : public IpcMsgOf<TransactionCall, 1017, IpcMsgHdr, TransactionReply> {
 public:
  static constexpr const char* kMsgName = "TransactionCall";

  TransactionCall() = default;
  TransactionCall(short dstPgmId, TxType txType, unsigned long long txId);
  TransactionCall(const TransactionCall& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy), m_tx(src.m_tx) {}

  auto fields() { return m_tx.fields(); }

  int txType() const { return m_tx.m_txType; }
  unsigned long long txId() const { return m_tx.m_txId; }
  void setTxId(unsigned long long txId) { m_tx.m_txId = txId; }
  const TxFields& txFields() const { return m_tx; }

 private:
  TxFields m_tx;
};

class TransactionReply : public IpcMsgOf<TransactionReply, 1018, IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "TransactionReply";

  TransactionReply() = default;
  TransactionReply(const TransactionReply& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy), m_tx(src.m_tx) {}

  auto fields() { return m_tx.fields(); }
  // The reply header, the call's transaction type and id.
  void initReply(const TransactionCall& call);

  int txType() const { return m_tx.m_txType; }
  unsigned long long txId() const { return m_tx.m_txId; }
  void setTxId(unsigned long long txId) { m_tx.m_txId = txId; }

 private:
  TxFields m_tx;
};

}  // namespace ac
