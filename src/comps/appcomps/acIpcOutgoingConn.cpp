#include "comps/appcomps/acIpcOutgoingConn.h"

#include <fcntl.h>

#include "comps/appcomps/acCtlChannel.h"

namespace ac {

namespace {

int connectNonBlocking(const std::string& path) {
  const int fd = CtlChannel::connectTo(path);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

}  // namespace

IpcOutgoingConn::IpcOutgoingConn(const std::string& path)
    : IpcStrmConn(connectNonBlocking(path), path) {}

}  // namespace ac
