// The header every inter-process message starts with, and the base of every message class.
// ac::IpcMsgHdr holds the message type, the type of the expected reply, flags, version, time
// stamp, source and destination addresses, the user and the interaction id that ties a reply to
// its call; ac::IpcStsMsgHdr adds a status (an rc::Err) and is the base of every reply.
//
// A message travels as two parts: the message proper (saveMsg: this header and the class's own
// fields, at most binaryMsgSize() bytes) and an optional payload (savePayload, at most
// binaryPayloadSize() bytes). Both sizes are true upper bounds, so a transport may size its
// buffers from them. The receiving side builds an empty object with the message factory from
// the type, then calls restoreMsg and, for the payload part, restorePayload.
//
// Received bytes come from another process: every read is bounds-checked and damaged input
// raises rc::Err (RC_SC_READ_FAILED), a header of another version AC_SC_BAD_MSG_HDR_VER. The
// payload marker of a received header is only a "payload follows" flag (payloadFollows()); the
// header never points at anything until the transport attaches a stream with setRawPayload.
// The raw payload stream is never owned by the header. Not thread-safe (interaction ids are
// drawn from a plain process-wide counter); not for use in signal handlers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <typeinfo>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/recomps/rcErr.h"

namespace rc {
class ByteStrm;
}

namespace ac {

class Socket;

class IpcMsgHdr : public mem::newDelete<mt_anonymous> {
 public:
  enum MsgFlags : unsigned short {
    MF_DEFAULT = 0,
    MF_IGNORE_NO_DST = 1,
    MF_TINY_HDR = 2,
    MF_EXPRESS_PAYLOAD = 4,
    MF_SHMEM_PAYLOAD = 8
  };
  enum : int {
    ONE_WAY_BEGIN = 1,
    ONE_WAY_END = 1001,
    CALL_REPLY_BEGIN = 1001,
    USER_BUF_SIZE = 256,
    MAX_USER_LEN = 128,
    VERSION = 23,
    // The user field of headers up to this version is 32 bytes on the wire.
    SHORT_USER_VERSION = 9,
    SHORT_USER_SIZE = 32,
    // A full header; a tiny one (MF_TINY_HDR) leaves out the 276-byte addressing block.
    FULL_HDR_SIZE = 296,
    TINY_HDR_SIZE = 20
  };

  IpcMsgHdr();
  IpcMsgHdr(short msgType, short replyType, short dstPgmId);
  // Keeps src's interaction id; the payload is not copied (src must carry no raw payload).
  IpcMsgHdr(const IpcMsgHdr& src, bool deepCopy = false);
  IpcMsgHdr& operator=(const IpcMsgHdr& src) {
    assignFrom(src);
    return *this;
  }

  // Virtual operations, in slot order.
  virtual ~IpcMsgHdr();
  // A new message of the same class; the base has none (failed assertion).
  virtual IpcMsgHdr* copy(bool deepCopy) const;
  // A header of another version raises AC_SC_BAD_MSG_HDR_VER after its interaction id (or
  // where it ends, when shorter than ours), so the fields read address the reply to it.
  virtual void restoreMsg(rc::ByteStrm& s);
  // Reads the payload part; the base classes have no payload objects and read nothing.
  virtual void restorePayload(rc::ByteStrm& s);
  virtual void recvExpressPayload(Socket* socket);
  // Copies the header fields as the copy constructor does; the payload becomes null.
  virtual void assignFrom(const IpcMsgHdr& src);
  // Makes this header the reply to call: its type becomes the call's reply type, the addresses
  // are swapped, the user and the interaction id copied.
  virtual void initReplyHdr(const IpcMsgHdr& call);
  virtual const char* msgName() const;
  virtual const char* cliLogEntry() const;
  virtual size_t binaryMsgSize() const;
  virtual void saveMsg(rc::ByteStrm& s) const;
  virtual bool hasPayload() const;
  virtual size_t binaryPayloadSize() const;
  // Moves the raw payload's unread bytes to s.
  virtual void savePayload(rc::ByteStrm& s) const;
  virtual bool hasExpressPayload() const;
  virtual size_t expressPayloadSize() const;
  virtual void sendExpressPayload(Socket* socket) const;
  virtual void dump() const;
  virtual void dumpMsg() const;
  virtual void dumpPayload() const;
  virtual void dumpExpressPayloadInfo() const;
  // A new, empty reply object of the call's reply class; the base has none (failed assertion).
  virtual IpcMsgHdr* newReplyMsg() const;

  // Writes the header with a zero payload marker, for peers of older versions.
  void saveMsgInOldFormat(rc::ByteStrm& s) const;
  // newReplyMsg() made the reply of this call (initReplyHdr); the caller owns it.
  IpcMsgHdr* newReply() const;
  // The owning forms of copy and newReply, for code that passes messages on.
  std::unique_ptr<IpcMsgHdr> copyPtr(bool deepCopy) const {
    return std::unique_ptr<IpcMsgHdr>(copy(deepCopy));
  }
  std::unique_ptr<IpcMsgHdr> newReplyPtr() const { return std::unique_ptr<IpcMsgHdr>(newReply()); }

  static constexpr bool isOneWayMsg(int msgType) {
    return msgType >= ONE_WAY_BEGIN && msgType < ONE_WAY_END;
  }
  static constexpr bool isCallMsg(int msgType) {
    return msgType >= CALL_REPLY_BEGIN && (msgType & 1) != 0;
  }
  static constexpr bool isReplyMsg(int msgType) {
    return msgType > CALL_REPLY_BEGIN && (msgType & 1) == 0;
  }
  bool isOneWayMsg() const { return isOneWayMsg(m_msgType); }
  bool isCallMsg() const { return isCallMsg(m_msgType); }
  bool isReplyMsg() const { return isReplyMsg(m_msgType); }

  short msgType() const { return m_msgType; }
  void setMsgType(short msgType) { m_msgType = msgType; }
  short replyType() const { return m_replyType; }
  unsigned short msgFlags() const { return m_msgFlags; }
  void setMsgFlags(unsigned short flags) { m_msgFlags = flags; }
  void setMsgFlag(unsigned short flag) {
    m_msgFlags = static_cast<unsigned short>(m_msgFlags | flag);
  }
  void clrMsgFlag(unsigned short flag) {
    m_msgFlags = static_cast<unsigned short>(m_msgFlags & ~flag);
  }
  bool isMsgFlagSet(unsigned short flag) const { return (m_msgFlags & flag) != 0; }
  short version() const { return m_version; }
  void setVersion(short version) { m_version = version; }
  int32_t timestamp() const { return m_timestamp; }
  void setTimestamp(int32_t timestamp) { m_timestamp = timestamp; }
  short srcPgmId() const { return m_srcPgmId; }
  void setSrcPgmId(short id) { m_srcPgmId = id; }
  short dstPgmId() const { return m_dstPgmId; }
  void setDstPgmId(short id) { m_dstPgmId = id; }
  short srcHostId() const { return m_srcHostId; }
  void setSrcHostId(short id) { m_srcHostId = id; }
  short dstHostId() const { return m_dstHostId; }
  void setDstHostId(short id) { m_dstHostId = id; }
  short srcClientId() const { return m_srcClientId; }
  void setSrcClientId(short id) { m_srcClientId = id; }
  short dstClientId() const { return m_dstClientId; }
  void setDstClientId(short id) { m_dstClientId = id; }
  int srcSpuId() const { return m_srcSpuId; }
  int dstSpuId() const { return m_dstSpuId; }
  void setDstSpuId(short id) { m_dstSpuId = id; }
  const char* user() const { return m_user; }
  // At most MAX_USER_LEN characters are kept; null empties the user.
  void setUser(const char* user);
  int interactId() const { return m_interactId; }
  void setInteractId(int id) { m_interactId = id; }

  rc::ByteStrm* rawPayload() const { return static_cast<rc::ByteStrm*>(m_payload); }
  void setRawPayload(rc::ByteStrm* payload) { m_payload = payload; }
  char* expressPayload() const { return static_cast<char*>(m_payload); }
  void setExpressPayload(char* payload) { m_payload = payload; }
  // Whether the sender marked a payload part as following this message (received headers).
  bool payloadFollows() const { return m_payloadFollows; }

  // The next interaction id: counts up from 1, wraps from INT_MAX back to 1, never gives 0.
  static int nextInteractId();
  static int s_nextInteractId;

 protected:
  // Helpers for the message classes that carry a payload object P (saveOn, restoreFrom,
  // binarySize, dumpObj): the object when present, else the header's raw payload.
  template <class P>
  bool hasPayloadOf(const P* obj) const {
    return obj != nullptr || IpcMsgHdr::hasPayload();
  }
  template <class P>
  size_t payloadSizeOf(const P* obj) const {
    return obj != nullptr ? static_cast<size_t>(obj->binarySize()) : IpcMsgHdr::binaryPayloadSize();
  }
  template <class P>
  void savePayloadOf(const P* obj, rc::ByteStrm& s) const {
    if (obj != nullptr) {
      obj->saveOn(s);
    } else {
      IpcMsgHdr::savePayload(s);
    }
  }
  template <class P>
  static void dumpPayloadOf(const P* obj) {
    if (obj != nullptr) obj->dumpObj(1, nullptr);
  }
  // Rows 1 to 9 and the marker, with the marker given.
  void saveHdr(rc::ByteStrm& s, uint32_t payloadMarker) const;

 private:
  void copyFields(const IpcMsgHdr& src);

  short m_msgType;
  short m_replyType;
  unsigned short m_msgFlags;
  short m_version;
  int32_t m_timestamp;
  short m_srcPgmId;
  short m_dstPgmId;
  short m_srcHostId;
  short m_dstHostId;
  short m_srcClientId;
  short m_dstClientId;
  int m_srcSpuId;
  int m_dstSpuId;
  char m_user[USER_BUF_SIZE];
  int m_interactId;
  void* m_payload;
  bool m_payloadFollows;
};

class IpcStsMsgHdr : public IpcMsgHdr {
 public:
  IpcStsMsgHdr();
  IpcStsMsgHdr(short msgType, short replyType, short dstPgmId);
  IpcStsMsgHdr(const IpcStsMsgHdr& src, bool deepCopy = false);
  IpcStsMsgHdr& operator=(const IpcStsMsgHdr& src) {
    assignFrom(src);
    return *this;
  }

  ~IpcStsMsgHdr() override;
  IpcMsgHdr* copy(bool deepCopy) const override;
  void restoreMsg(rc::ByteStrm& s) override;
  void restorePayload(rc::ByteStrm& s) override;
  // src must be a status header; its status is copied too.
  void assignFrom(const IpcMsgHdr& src) override;
  const char* msgName() const override;
  size_t binaryMsgSize() const override;
  // The header (in the old format for a version error to a peer of version 22 or lower), then
  // the status.
  void saveMsg(rc::ByteStrm& s) const override;
  bool hasPayload() const override;
  size_t binaryPayloadSize() const override;
  void savePayload(rc::ByteStrm& s) const override;
  void dumpMsg() const override;

  const rc::Err& status() const { return m_status; }
  rc::Err& status() { return m_status; }
  void setStatus(const rc::Err& status) { m_status = status; }
  bool isStatusOk() const { return m_status.code() == 0; }

 protected:
  // For the reply classes' restoreMsg: restores the header and the status and tells whether the
  // class's own fields follow. A failed call may be answered by a bare status reply (a program
  // without a handler for it), whose image ends after the status.
  bool restoreStsHdr(rc::ByteStrm& s);

 private:
  rc::Err m_status;
};

// A message whose ownership moves: what the factory, copyPtr and newReplyPtr return.
using IpcMsgPtr = std::unique_ptr<IpcMsgHdr>;

// msg as a T when its class is T or derives from it, else null. The type number of a received
// message comes from a peer and the factory routine of a type may be replaced, so code that
// reaches a class from a type checks before it casts; the exact class costs one comparison.
template <class T>
[[gnu::noinline]] T* msgCastOther(IpcMsgHdr* msg) {
  if (msg == nullptr) return nullptr;
  return typeid(*msg) == typeid(T) ? static_cast<T*>(msg) : dynamic_cast<T*>(msg);
}
template <class T>
T* msgCast(IpcMsgHdr* msg) {
  if (msg != nullptr && &typeid(*msg) == &typeid(T)) [[likely]] {
    return static_cast<T*>(msg);
  }
  return msgCastOther<T>(msg);
}

}  // namespace ac
