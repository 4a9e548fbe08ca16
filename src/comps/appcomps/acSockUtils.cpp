#include "comps/appcomps/acSockUtils.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFd.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcOut.h"

#define SOCK_ROUTINE(op) "ipcComps/SockUtils::" op

namespace ac {

namespace {

constexpr const char* kOptionRoutine = "<unknown>";

// The address of a sockaddr_in as the socket calls take it.
sockaddr* asSockAddr(sockaddr_in* addr) { return reinterpret_cast<sockaddr*>(addr); }

// The option routine of the create and accept operations: an integer option that must take.
// The caller's owner closes the socket when it throws.
void requireOption(int sock, int level, int optname, int value, int port) {
  if (SockUtils::setSocketOption(sock, level, optname, value)) return;
  rc::Err_ThrowErrno(AC_SC_SETSOCKOPT_FAILED, rc::VarArgs() << level << optname << value << port,
                     errno, kOptionRoutine);
}

// Errors of a datagram receive that waiting a second cannot clear.
bool isLastingRecvError(int err) {
  switch (err) {
    case EBADF:
    case ENOTSOCK:
    case EINVAL:
    case EFAULT:
    case EOPNOTSUPP:
    case ENOTCONN:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      return true;
    default: return false;
  }
}

}  // namespace

bool SockUtils::setSocketOption(int sock, int level, int optname, const void* optval,
                                size_t optlen) {
  return setsockopt(sock, level, optname, optval, static_cast<socklen_t>(optlen)) == 0;
}

bool SockUtils::setSocketOption(int sock, int level, int optname, int optval) {
  return setSocketOption(sock, level, optname, &optval, sizeof optval);
}

bool SockUtils::setRecvTimeout(int sock, int nSecs) {
  struct timeval tv = {};
  tv.tv_sec = nSecs;
  return setSocketOption(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

void SockUtils::fillInAddr(sockaddr_in* inAddr, int port, unsigned long ipAddr) {
  memset(inAddr, 0, sizeof *inAddr);
  inAddr->sin_family = AF_INET;
  inAddr->sin_port = htons(static_cast<uint16_t>(port));
  inAddr->sin_addr.s_addr = ipAddr != 0 ? static_cast<uint32_t>(ipAddr) : htonl(INADDR_ANY);
}

void SockUtils::getSockName(int s, unsigned short* port, unsigned int* ipaddr) {
  sockaddr_in addr = {};
  socklen_t len = sizeof addr;
  if (getsockname(s, asSockAddr(&addr), &len) != 0) {
    rc::Err_ThrowErrno(AC_SC_GETSOCKNAME_FAILED, rc::VarArgs() << s, errno, nullptr);
  }
  if (port != nullptr) *port = ntohs(addr.sin_port);
  if (ipaddr != nullptr) *ipaddr = ntohl(addr.sin_addr.s_addr);
}

void SockUtils::closeSocket(int sock, bool callShutdown) {
  if (callShutdown) shutdown(sock, SHUT_RDWR);
  close(sock);
}

int SockUtils::createSocket(unsigned short bind_port, unsigned int bind_ipaddr,
                            SockType /*sockType*/) {
  const char* routine = SOCK_ROUTINE("createSocket");
  rc::Fd sock(socket(AF_INET, SOCK_STREAM, 0));
  if (!sock.isOpen())
    rc::Err_ThrowErrno(AC_SC_SOCKET_FAILED, rc::VarArgs() << bind_port, errno, routine);
  requireOption(sock.get(), SOL_SOCKET, SO_REUSEADDR, 1, bind_port);
  requireOption(sock.get(), IPPROTO_TCP, TCP_NODELAY, 1, bind_port);
  if (bind_port == 0) return sock.release();

  const int port = bind_port == ANY_PORT ? 0 : bind_port;
  sockaddr_in addr;
  fillInAddr(&addr, port, static_cast<unsigned long>(htonl(bind_ipaddr)));
  if (bind(sock.get(), asSockAddr(&addr), sizeof addr) != 0)
    rc::Err_ThrowErrno(AC_SC_BIND_FAILED, rc::VarArgs() << port, errno, routine);
  if (listen(sock.get(), LISTEN_BACKLOG) != 0)
    rc::Err_ThrowErrno(AC_SC_LISTEN_FAILED, rc::VarArgs() << port, errno, routine);
  return sock.release();
}

int SockUtils::acceptConnect(int svrSock, unsigned int* remoteIp) {
  sockaddr_in peer = {};
  int fd;
  do {
    socklen_t len = sizeof peer;
    fd = accept(svrSock, asSockAddr(&peer), &len);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    rc::Err_ThrowErrno(AC_SC_ACCEPT_FAILED, rc::VarArgs() << svrSock, errno,
                       SOCK_ROUTINE("acceptConnect"));
  }
  rc::Fd sock(fd);
  if (peer.sin_addr.s_addr != htonl(INADDR_LOOPBACK)) {
    // Connections from other hosts must notice a peer that vanished without closing.
    unsigned short localPort = 0;
    try {
      getSockName(sock.get(), &localPort, nullptr);
    } catch (const rc::Err&) {
      // The port only names the socket in a possible error.
    }
    requireOption(sock.get(), SOL_SOCKET, SO_KEEPALIVE, 1, localPort);
  }
  if (remoteIp != nullptr) *remoteIp = ntohl(peer.sin_addr.s_addr);
  return sock.release();
}

int SockUtils::createUdpSocket(int* port, BindType /*bindType*/) {
  const char* routine = SOCK_ROUTINE("createUdpSocket");
  const int requested = *port;
  rc::Fd sock(socket(AF_INET, SOCK_DGRAM, 0));
  if (!sock.isOpen())
    rc::Err_ThrowErrno(AC_SC_SOCKET_FAILED, rc::VarArgs() << requested, errno, routine);
  requireOption(sock.get(), SOL_SOCKET, SO_BROADCAST, 1, requested);
  requireOption(sock.get(), SOL_SOCKET, SO_REUSEADDR, 1, requested);
  sockaddr_in addr;
  fillInAddr(&addr, requested, 0UL);
  if (bind(sock.get(), asSockAddr(&addr), sizeof addr) != 0)
    rc::Err_ThrowErrno(AC_SC_BIND_FAILED, rc::VarArgs() << requested, errno, routine);
  socklen_t len = sizeof addr;
  if (getsockname(sock.get(), asSockAddr(&addr), &len) != 0) {
    // The text names a socket, so the socket is the argument (as with getSockName).
    rc::Err_ThrowErrno(AC_SC_GETSOCKNAME_FAILED, rc::VarArgs() << sock.get(), errno, routine);
  }
  *port = ntohs(addr.sin_port);
  return sock.release();
}

void SockUtils::sendBytes(int sock, const void* src, size_t len) {
  const auto* p = static_cast<const char*>(src);
  while (len > 0) {
    // MSG_NOSIGNAL: a vanished peer is an EPIPE error here, never a signal, and the program's
    // own SIGPIPE disposition stays as it is.
    const ssize_t n = send(sock, p, len, MSG_NOSIGNAL);
    if (n >= 0) {
      p += n;
      len -= static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    const int savedErrno = errno;
    const int marked = rc::Err::errnoCode(savedErrno);
    if (savedErrno == EPIPE) {
      RC_TRACE(DM_IPC, DF_MINOR, "received SIGPIPE during socket operation\n");
    }
    RC_TRACE(DM_IPC, DF_DEBUG, "send failed, errno = %d\n", marked);
    rc::Err_ThrowErrno(AC_SC_SEND_FAILED, rc::VarArgs() << sock, savedErrno,
                       SOCK_ROUTINE("sendBytes"));
  }
}

void SockUtils::recvBytes(int sock, void* dst, size_t nBytes) {
  const char* routine = SOCK_ROUTINE("recvBytes");
  auto* p = static_cast<char*>(dst);
  while (nBytes > 0) {
    const size_t ask = std::min<size_t>(nBytes, MAX_RECV_CHUNK);
    const ssize_t n = recv(sock, p, ask, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      rc::Err_ThrowErrno(AC_SC_RECV_FAILED, rc::VarArgs() << sock, errno, routine);
    }
    if (n == 0) {
      rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_RECV_FAILED, rc::VarArgs() << sock,
                            AC_SC_CONNECTION_RESET, rc::VarArgs::NO_VARARGS, routine));
    }
    if (static_cast<size_t>(n) < nBytes)
      RC_TRACE(DM_IPC, DF_MINOR, "received partial bytes (%d of %d) from sock %d\n",
               static_cast<int>(n), static_cast<int>(nBytes), sock);
    p += n;
    nBytes -= static_cast<size_t>(n);
  }
}

int SockUtils::sendBytesTo(int sock, const void* src, size_t nBytes, unsigned long ipAddr,
                           int port) {
  enum { MAX_TRIES = 3 };
  RC_TRACE(DM_IPC, DF_MINOR, "sendBytesTo %8x:%d n = %d\n", static_cast<unsigned>(ipAddr), port,
           static_cast<int>(nBytes));
  sockaddr_in addr;
  fillInAddr(&addr, port, ipAddr);
  for (int failures = 0;;) {
    const ssize_t n = sendto(sock, src, nBytes, MSG_NOSIGNAL, asSockAddr(&addr), sizeof addr);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    const int savedErrno = errno;
    if (++failures < MAX_TRIES) {
      RC_TRACE(DM_IPC, DF_DEBUG, "sendTo failed, retry = %d\n", failures);
      rc::Os::sleep(1);
      continue;
    }
    // A host short of memory would only make the log worse.
    if (savedErrno != ENOMEM) {
      rc::Out::instance()->printLog(RC_ERROR, "sendto failed with errno = %d\n", savedErrno);
    }
    rc::Err_ThrowErrno(AC_SC_SENDTO_FAILED, rc::VarArgs() << sock, savedErrno,
                       SOCK_ROUTINE("sendBytesTo"));
  }
}

int SockUtils::recvBytesFrom(int sock, void* dst, size_t nBytes, unsigned long* ipAddr, int* port) {
  sockaddr_in from = {};
  ssize_t n;
  for (;;) {
    socklen_t len = sizeof from;
    n = recvfrom(sock, dst, nBytes, 0, asSockAddr(&from), &len);
    if (n >= 0) break;
    const int savedErrno = errno;
    if (savedErrno == EINTR) continue;
    if (isLastingRecvError(savedErrno)) {
      rc::Err_ThrowErrno(AC_SC_RECV_FAILED, rc::VarArgs() << sock, savedErrno,
                         SOCK_ROUTINE("recvBytesFrom"));
    }
    rc::Out::instance()->printLog("recvfrom failed with errno = %d\n", savedErrno);
    rc::Os::sleep(1);
  }
  if (ipAddr != nullptr) *ipAddr = from.sin_addr.s_addr;
  if (port != nullptr) *port = ntohs(from.sin_port);
  RC_TRACE(DM_IPC, DF_MINOR, "recvBytesFrom %8x:%d n = %d\n",
           static_cast<unsigned>(from.sin_addr.s_addr), ntohs(from.sin_port), static_cast<int>(n));
  return static_cast<int>(n);
}

bool SockUtils::waitOnRx(int fd, int tenths) {
  // poll rather than select: a descriptor above FD_SETSIZE must not write past an fd_set.
  // A negative descriptor would simply be skipped by poll; it is as wrong as a closed one.
  if (fd < 0)
    rc::Err_ThrowErrno(AC_SC_SELECT_FAILED, rc::VarArgs::NO_VARARGS, EBADF,
                       SOCK_ROUTINE("waitOnRx"));
  struct pollfd pfd = {fd, POLLIN, 0};
  const int timeoutMs = tenths <= 0 ? 0 : tenths > INT_MAX / 100 ? INT_MAX : tenths * 100;
  const int n = poll(&pfd, 1, timeoutMs);
  if (n < 0) {
    if (errno == EINTR) return false;
    rc::Err_ThrowErrno(AC_SC_SELECT_FAILED, rc::VarArgs::NO_VARARGS, errno,
                       SOCK_ROUTINE("waitOnRx"));
  }
  if (n > 0 && (pfd.revents & POLLNVAL) != 0) {
    rc::Err_ThrowErrno(AC_SC_SELECT_FAILED, rc::VarArgs::NO_VARARGS, EBADF,
                       SOCK_ROUTINE("waitOnRx"));
  }
  return n > 0;
}

}  // namespace ac
