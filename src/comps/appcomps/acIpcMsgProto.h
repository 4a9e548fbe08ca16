// What the message layer needs of a transport's protocol object, the endpoint of one connection:
// a delivery test (is a received message for this program, or to be forwarded?) and a reply
// operation (send a reply back on the connection its call came from). A transport hands every
// message it has received and restored, with the protocol object of its connection, to a sink:
// an object and a routine (IpcMsgSinkRtn), in a program ac::App::handleIpcMsgCCb with the
// application. The framework's handlers answer calls through sendReply. The reply is the
// caller's: the protocol object must have written or copied it when sendReply returns.
// A protocol object that knows the process at the other end (a connection accepted on a local
// socket takes its credentials at accept) tells it through peerProcess(), so that a handler can
// name who asked; the base knows nobody.
#pragma once

#include <sys/types.h>

namespace rc {
class Err;
}

namespace ac {

class IpcMsgHdr;
class IpcMsgProto;

// Where a transport delivers: the message is the sink's only for the call.
typedef void (*IpcMsgSinkRtn)(void* cbObj, IpcMsgHdr* msg, IpcMsgProto* proto);

// The process at the other end of a connection; -1 for what is not known.
struct IpcPeer {
  pid_t pid = -1;
  uid_t uid = static_cast<uid_t>(-1);
  bool isKnown() const { return pid > 0; }
};

class IpcMsgProto {
 public:
  virtual ~IpcMsgProto() = default;

  // True when this program is to handle msg itself.
  virtual bool isMsgForThisPgm(const IpcMsgHdr* msg) = 0;
  // Sends reply back to the program whose call it answers.
  virtual void sendReply(IpcMsgHdr* reply) = 0;
  virtual IpcPeer peerProcess() const { return {}; }

  // Answers call with a bare status reply carrying status (a program that cannot handle a call
  // still tells its caller so). Nothing is sent when proto is null or msg is no call.
  static void sendErrorReply(IpcMsgProto* proto, const IpcMsgHdr& call, const rc::Err& status);
};

}  // namespace ac
