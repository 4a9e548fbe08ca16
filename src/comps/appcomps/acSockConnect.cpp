// Name resolution and outgoing connections live apart from the other socket operations, so a
// program that only serves local sockets (and a statically linked one) never links the resolver.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "comps/appcomps/acSockUtils.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFd.h"

#define SOCK_ROUTINE(op) "ipcComps/SockUtils::" op

namespace ac {

namespace {

sockaddr* asSockAddr(sockaddr_in* addr) { return reinterpret_cast<sockaddr*>(addr); }

}  // namespace

void SockUtils::fillInAddr(sockaddr_in* inAddr, int port, const char* hostName) {
  memset(inAddr, 0, sizeof *inAddr);
  inAddr->sin_family = AF_INET;
  inAddr->sin_port = htons(static_cast<uint16_t>(port));
  inAddr->sin_addr.s_addr = htonl(INADDR_ANY);
  if (hostName == nullptr) return;
  if (inet_aton(hostName, &inAddr->sin_addr) != 0) return;

  // The reentrant resolver; the first IPv4 answer wins, as with the classic host lookup.
  struct addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* answers = nullptr;
  if (getaddrinfo(hostName, nullptr, &hints, &answers) != 0 || answers == nullptr) {
    rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_BAD_HOST_NAME, rc::VarArgs() << hostName,
                          SOCK_ROUTINE("fillInAddr")));
  }
  inAddr->sin_addr = reinterpret_cast<const sockaddr_in*>(answers->ai_addr)->sin_addr;
  freeaddrinfo(answers);
}

int SockUtils::connectToSocket(int port, const char* hostName, const char* localHostName) {
  const char* routine = SOCK_ROUTINE("connectToSocket");
  rc::Fd sock(createSocket(0, 0, TCP_SOCK));
  sockaddr_in addr;
  if (localHostName != nullptr && *localHostName != '\0') {
    fillInAddr(&addr, 0, localHostName);
    if (bind(sock.get(), asSockAddr(&addr), sizeof addr) != 0)
      rc::Err_ThrowErrno(AC_SC_BIND_FAILED, rc::VarArgs() << port, errno, routine);
  }
  fillInAddr(&addr, port, hostName);
  bool interrupted = false;
  for (;;) {
    if (connect(sock.get(), asSockAddr(&addr), sizeof addr) == 0) return sock.release();
    // A connect repeated after an interruption may find the connection already made.
    if (interrupted && errno == EISCONN) return sock.release();
    if (errno != EINTR) break;
    interrupted = true;
  }
  const int savedErrno = errno;
  shutdown(sock.get(), SHUT_RDWR);
  rc::Err_ThrowErrno(AC_SC_CONNECT_FAILED,
                     rc::VarArgs() << (hostName != nullptr ? hostName : "localhost") << port,
                     savedErrno, routine);
}

}  // namespace ac
