// A connection this program made to another program's control channel, served from the event
// loop like the accepted ones. It is the program's own to keep: never closed for idleness.
// Raises the errors of CtlChannel::connectTo. Not thread-safe; not for signal handlers.
#pragma once

#include <string>

#include "comps/appcomps/acIpcStrmProto.h"

namespace ac {

class IpcOutgoingConn : public IpcStrmConn {
 public:
  // Connects to the channel at path; the connection is non-blocking from then on.
  explicit IpcOutgoingConn(const std::string& path);
};

}  // namespace ac
