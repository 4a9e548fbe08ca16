// A list of message classes: the one place a set of messages is named for registration. Each
// class brings its own type (kMsgType) and factory routine (newInstance, see IpcMsgOf), so
// registering the list writes no type number:
//
//   using MyMsgs = ac::MsgList<TickCountCall, TickCountReply>;
//   MyMsgs::registerMsgs();  // into the process's factory, in list order
//
// Registering a type again replaces its routine. Not thread-safe.
#pragma once

#include "comps/appcomps/acIpcMsgFactory.h"

namespace ac {

template <class... Msgs>
struct MsgList {
  // Adds each class's routine under its type, in list order.
  static void registerWith(IpcMsgFactory* factory) {
    (factory->add(Msgs::kMsgType, Msgs::newInstance), ...);
  }
  // The same with the process's factory, created first when absent.
  static void registerMsgs() { registerWith(IpcMsgFactory::instance(true)); }
};

}  // namespace ac
