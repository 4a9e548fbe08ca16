// Reading and setting another program's debug controls and fault-insertion controls. The debug
// controls travel in the message proper and are held by value; the fault controls travel as the
// payload part and are owned by the message (a copy of the message copies them). The fault calls
// name the SPU they address (IP, SPA, slot); a copy of such a call addresses no SPU. Not
// thread-safe.
#pragma once

#include "comps/appcomps/acIpcMsgImpl.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcFaultApi.h"

namespace ac {

class GetDbgCtrlsReply : public IpcMsgOf<GetDbgCtrlsReply, 1006, IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "GetDbgCtrlsReply";
  GetDbgCtrlsReply() = default;
  explicit GetDbgCtrlsReply(const rc::DbgCtrls& dbgCtrls) : m_dbgCtrls(dbgCtrls) {}
  GetDbgCtrlsReply(const GetDbgCtrlsReply& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy), m_dbgCtrls(src.m_dbgCtrls) {}

  auto fields() { return msgFields(msgField(m_dbgCtrls)); }
  void initReply(const IpcMsgHdr& call) { initReplyHdr(call); }

  const rc::DbgCtrls& dbgCtrls() const { return m_dbgCtrls; }
  void setDbgCtrls(const rc::DbgCtrls& dbgCtrls) { m_dbgCtrls = dbgCtrls; }

 private:
  rc::DbgCtrls m_dbgCtrls;
};

class GetDbgCtrlsCall : public IpcMsgOf<GetDbgCtrlsCall, 1005, IpcMsgHdr, GetDbgCtrlsReply> {
 public:
  static constexpr const char* kMsgName = "GetDbgCtrlsCall";
  explicit GetDbgCtrlsCall(short dstPgmId = 0) : IpcMsgOf(dstPgmId) {}
  GetDbgCtrlsCall(const GetDbgCtrlsCall& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}
};

// Its debug controls are not sent.
class SetDbgCtrlsReply : public IpcMsgOf<SetDbgCtrlsReply, 1014, IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "SetDbgCtrlsReply";
  SetDbgCtrlsReply() = default;
  SetDbgCtrlsReply(const SetDbgCtrlsReply& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy), m_dbgCtrls(src.m_dbgCtrls) {}
  void initReply(const IpcMsgHdr& call) { initReplyHdr(call); }

  const rc::DbgCtrls& dbgCtrls() const { return m_dbgCtrls; }
  void setDbgCtrls(const rc::DbgCtrls& dbgCtrls) { m_dbgCtrls = dbgCtrls; }

 private:
  rc::DbgCtrls m_dbgCtrls;
};

class SetDbgCtrlsCall : public IpcMsgOf<SetDbgCtrlsCall, 1013, IpcMsgHdr, SetDbgCtrlsReply> {
 public:
  static constexpr const char* kMsgName = "SetDbgCtrlsCall";
  explicit SetDbgCtrlsCall(short dstPgmId = 0) : IpcMsgOf(dstPgmId) {}
  SetDbgCtrlsCall(short dstPgmId, const rc::DbgCtrls& dbgCtrls)
      : IpcMsgOf(dstPgmId), m_dbgCtrls(dbgCtrls) {}
  SetDbgCtrlsCall(const SetDbgCtrlsCall& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy), m_dbgCtrls(src.m_dbgCtrls) {}

  auto fields() { return msgFields(msgField(m_dbgCtrls)); }

  const rc::DbgCtrls& dbgCtrls() const { return m_dbgCtrls; }
  void setDbgCtrls(const rc::DbgCtrls& dbgCtrls) { m_dbgCtrls = dbgCtrls; }

 private:
  rc::DbgCtrls m_dbgCtrls;
};

// The SPU a fault call addresses: IP (network order, unsigned int), SPA and slot (ints).
struct SpuAddr {
  unsigned int m_spuip = 0;
  int m_spuspa = 0;
  int m_spuslot = 0;

  auto fields() { return msgFields(msgField(m_spuip), msgField(m_spuspa), msgField(m_spuslot)); }
  // "IP address = a.b.c.d, SPA/Slot = n/m", at level 0.
  void dump() const;
};

// The SPU address both fault calls carry after their header, with its accessors.
class SpuTarget {
 public:
  const SpuAddr& spuAddr() const { return m_spu; }
  void setDstSpuIp(unsigned int ip) { m_spu.m_spuip = ip; }
  void setDstSpuSpa(int spa) { m_spu.m_spuspa = spa; }
  void setDstSpuSlot(int slot) { m_spu.m_spuslot = slot; }

 protected:
  SpuAddr m_spu;
};

class GetFaultCtrlsReply
    : public IpcMsgOf<GetFaultCtrlsReply, 1010, PayloadObjMsg<IpcStsMsgHdr, rc::fault::Ctrls>> {
 public:
  static constexpr const char* kMsgName = "GetFaultCtrlsReply";
  GetFaultCtrlsReply() = default;
  explicit GetFaultCtrlsReply(const rc::fault::Ctrls& ctrls);
  GetFaultCtrlsReply(const GetFaultCtrlsReply& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy) {}
  void initReply(const IpcMsgHdr& call) { initReplyHdr(call); }

  const rc::fault::Ctrls* ctrls() const { return m_payloadObj; }
  // Copies ctrls, creating the controls when absent.
  void setFaultCtrls(const rc::fault::Ctrls& ctrls) { assignObj(ctrls); }
  rc::fault::Ctrls* allocCtrls() { return allocObj(); }
};

class GetFaultCtrlsCall : public IpcMsgOf<GetFaultCtrlsCall, 1009, IpcMsgHdr, GetFaultCtrlsReply>,
                          public SpuTarget {
 public:
  static constexpr const char* kMsgName = "GetFaultCtrlsCall";
  explicit GetFaultCtrlsCall(short dstPgmId = 0) : IpcMsgOf(dstPgmId) {}
  // The copy addresses no SPU.
  GetFaultCtrlsCall(const GetFaultCtrlsCall& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy) {}

  auto fields() { return m_spu.fields(); }
  // The header, then the SPU address at level 0.
  void dumpMsg() const override;
};

class SetFaultCtrlsReply : public IpcMsgOf<SetFaultCtrlsReply, 1016, IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "SetFaultCtrlsReply";
  SetFaultCtrlsReply() = default;
  SetFaultCtrlsReply(const SetFaultCtrlsReply& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy) {}
  void initReply(const IpcMsgHdr& call) { initReplyHdr(call); }
};

// With clearExistingRules and not addNew the receiver only clears its controls; otherwise it
// merges the call's controls into its own.
class SetFaultCtrlsCall
    : public IpcMsgOf<SetFaultCtrlsCall, 1015, PayloadObjMsg<IpcMsgHdr, rc::fault::Ctrls>,
                      SetFaultCtrlsReply>,
      public SpuTarget {
 public:
  static constexpr const char* kMsgName = "SetFaultCtrlsCall";
  explicit SetFaultCtrlsCall(short dstPgmId = 0) : IpcMsgOf(dstPgmId) {}
  SetFaultCtrlsCall(short dstPgmId, const rc::fault::Ctrls& ctrls);
  // The copy keeps the flags and the controls but addresses no SPU.
  SetFaultCtrlsCall(const SetFaultCtrlsCall& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy),
        m_clearExistingRules(src.m_clearExistingRules),
        m_addNew(src.m_addNew) {}

  // The SPU address and the two flags: 20 bytes after the header.
  auto fields() {
    return std::tuple_cat(m_spu.fields(),
                          msgFields(msgField(m_clearExistingRules), msgField(m_addNew)));
  }
  // The header, the SPU address, "clear rules = yes|no" and "is add = yes|no", at level 0.
  void dumpMsg() const override;

  bool clearExistingRules() const { return m_clearExistingRules; }
  void setClearExistingRules(bool clear) { m_clearExistingRules = clear; }
  bool addNew() const { return m_addNew; }
  void setAddNew(bool addNew) { m_addNew = addNew; }
  const rc::fault::Ctrls* ctrls() const { return m_payloadObj; }
  void setFaultCtrls(const rc::fault::Ctrls& ctrls) { assignObj(ctrls); }
  rc::fault::Ctrls* allocCtrls() { return allocObj(); }

 private:
  bool m_clearExistingRules = false;
  bool m_addNew = false;
};

}  // namespace ac
