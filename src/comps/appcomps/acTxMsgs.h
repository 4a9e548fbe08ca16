// Transaction control: a call naming a transaction type and a 64-bit transaction id, and its
// reply, which repeats both (initReply copies them from the call). Not thread-safe.
#pragma once

#include "comps/appcomps/acIpcMsgImpl.h"
#include "comps/appcomps/acMsgTypes.h"

namespace ac {

enum TxType { TX_START = 0, TX_COMMIT = 1, TX_ABORT = 2 };
// "TX_START", "TX_COMMIT", "TX_ABORT"; "UNKNOWN" for any other value.
const char* txTypeSymbol(int txType);

// The fields both transaction messages carry: the type (int) and the id (8 bytes, low word
// first).
struct TxFields {
  int m_txType = TX_START;
  unsigned long long m_txId = 0;

  enum { BINARY_SIZE = 12 };
  void saveOn(rc::ByteStrm& s) const;
  void restoreFrom(rc::ByteStrm& s);
  // "txType = TX_COMMIT, txId = <upper word>,<lower word>"
  void dump() const;
};

class TransactionReply;

class TransactionCall : public IpcMsgOf<TransactionCall, IpcMsgHdr, TransactionReply> {
 public:
  static constexpr const char* kMsgName = "TransactionCall";

  TransactionCall() : IpcMsgOf(MsgTypes::TRANSACTION_CALL, MsgTypes::TRANSACTION_REPLY, 0) {}
  TransactionCall(short dstPgmId, TxType txType, unsigned long long txId);
  TransactionCall(const TransactionCall& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy), m_tx(src.m_tx) {}

  void restoreMsg(rc::ByteStrm& s) override;
  size_t binaryMsgSize() const override {
    return IpcMsgHdr::binaryMsgSize() + TxFields::BINARY_SIZE;
  }
  void saveMsg(rc::ByteStrm& s) const override;
  void dumpMsg() const override;

  int txType() const { return m_tx.m_txType; }
  unsigned long long txId() const { return m_tx.m_txId; }
  void setTxId(unsigned long long txId) { m_tx.m_txId = txId; }
  const TxFields& txFields() const { return m_tx; }

 private:
  TxFields m_tx;
};

class TransactionReply : public IpcMsgOf<TransactionReply, IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "TransactionReply";

  TransactionReply() : IpcMsgOf(MsgTypes::TRANSACTION_REPLY, 0, 0) {}
  TransactionReply(const TransactionReply& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy), m_tx(src.m_tx) {}

  void restoreMsg(rc::ByteStrm& s) override;
  size_t binaryMsgSize() const override {
    return IpcStsMsgHdr::binaryMsgSize() + TxFields::BINARY_SIZE;
  }
  void saveMsg(rc::ByteStrm& s) const override;
  void dumpMsg() const override;
  // The reply header, the call's transaction type and id.
  void initReply(const TransactionCall& call);

  int txType() const { return m_tx.m_txType; }
  unsigned long long txId() const { return m_tx.m_txId; }
  void setTxId(unsigned long long txId) { m_tx.m_txId = txId; }

 private:
  TxFields m_tx;
};

}  // namespace ac
