// What the message layer needs of a transport's protocol object, the endpoint of one connection:
// a delivery test (is a received message for this program, or to be forwarded?) and a reply
// operation (send a reply back on the connection its call came from). A transport hands every
// message it has received and restored, with the protocol object of its connection, to a sink:
// an object and a routine (IpcMsgSinkRtn), in a program ac::App::handleIpcMsgCCb with the
// application. The framework's handlers answer calls through sendReply. The reply is the
// caller's: the protocol object must have written or copied it when sendReply returns.
#pragma once

namespace rc {
class Err;
}

namespace ac {

class IpcMsgHdr;
class IpcMsgProto;

// Where a transport delivers: the message is the sink's only for the call.
typedef void (*IpcMsgSinkRtn)(void* cbObj, IpcMsgHdr* msg, IpcMsgProto* proto);

class IpcMsgProto {
 public:
  virtual ~IpcMsgProto() = default;

  // True when this program is to handle msg itself.
  virtual bool isMsgForThisPgm(const IpcMsgHdr* msg) = 0;
  // Sends reply back to the program whose call it answers.
  virtual void sendReply(IpcMsgHdr* reply) = 0;

  // Answers call with a bare status reply carrying status (a program that cannot handle a call
  // still tells its caller so). Nothing is sent when proto is null or msg is no call.
  static void sendErrorReply(IpcMsgProto* proto, const IpcMsgHdr& call, const rc::Err& status);
};

}  // namespace ac
