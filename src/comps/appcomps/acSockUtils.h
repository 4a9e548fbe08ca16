// Socket utilities: static operations over the operating system's IPv4 socket interface for the
// framework's transports (listening TCP sockets, connections, whole-buffer transfers, datagrams,
// waiting for input, address conversions). Addresses are IPv4; "network order" and "host order"
// are stated per operation.
//
// Ownership: every operation that creates a socket returns it to the caller, who closes it with
// closeSocket; an operation that fails after creating a socket closes it before it throws.
// Errors: rc::Err (RC_ERROR) with an AC_SC_* code, the failing operation's arguments and, for a
// failed system call, errno | UNIX_ERRNO as second code; the routine is
// "ipcComps/SockUtils::<operation>". No operation raises SIGPIPE: a peer that has gone away is an
// AC_SC_SEND_FAILED error and the process's SIGPIPE disposition is never touched.
// The operations keep no state. Not for use in signal handlers.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace ac {

class SockUtils {
 public:
  // Neither changes behaviour: createSocket always makes a TCP socket and createUdpSocket always
  // binds to any local address.
  enum SockType { TCP_SOCK = 0, UDP_SOCK = 1 };
  enum BindType { BIND_FABRIC = 0, BIND_WORLD = 1 };
  enum { ANY_PORT = 0xFFFF, LISTEN_BACKLOG = 10, MAX_RECV_CHUNK = 65536 };

  // True when setsockopt succeeds.
  static bool setSocketOption(int sock, int level, int optname, const void* optval, size_t optlen);
  static bool setSocketOption(int sock, int level, int optname, int optval);
  // SO_RCVTIMEO of nSecs seconds; true on success.
  static bool setRecvTimeout(int sock, int nSecs);

  // The dotted address in network byte order; INADDR_NONE (all bits set) when not valid.
  // (The conversions are inline so that a program that only shows addresses does not link the
  // resolver.)
  static unsigned long stringToIp(const char* ip) {
    return ip != nullptr ? static_cast<uint32_t>(inet_addr(ip))
                         : static_cast<uint32_t>(INADDR_NONE);
  }
  // The dotted text of a network-order address, in a buffer of the calling thread that the next
  // call overwrites (inet_ntoa's formatting, without its process-wide buffer).
  static const char* ipToString(unsigned long ipAddr) {
    static thread_local char text[INET_ADDRSTRLEN];
    const uint32_t net = static_cast<uint32_t>(ipAddr);
    const auto* b = reinterpret_cast<const unsigned char*>(&net);
    snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
  }

  // IPv4, the port in network order. A null hostName gives the any-address; a dotted address is
  // taken as it is; anything else is resolved (first IPv4 answer) or raises AC_SC_BAD_HOST_NAME.
  static void fillInAddr(sockaddr_in* inAddr, int port, const char* hostName);
  // ipAddr (network order) 0 means the any-address.
  static void fillInAddr(sockaddr_in* inAddr, int port, unsigned long ipAddr);
  // The local port and address in host order; each stored only when its pointer is not null.
  // Raises AC_SC_GETSOCKNAME_FAILED with the socket.
  static void getSockName(int s, unsigned short* port, unsigned int* ipaddr);
  // Shuts both directions down first when asked, then closes.
  static void closeSocket(int sock, bool callShutdown);
  // Nothing to do on this platform; the application calls them at start and at exit.
  // (Inline, so that a program using no sockets does not link the resolver.)
  static void loadSocketLib() {}
  static void unloadSocketLib() {}

  // A TCP socket with SO_REUSEADDR and TCP_NODELAY. Port 0: returned unbound (for connecting);
  // ANY_PORT: bound to a free port; otherwise bound to that port. A bound socket listens on
  // bind_ipaddr (host order, 0 for any).
  static int createSocket(unsigned short bind_port, unsigned int bind_ipaddr, SockType sockType);
  // A connected socket. A null hostName reaches the local host (errors name it "localhost"); a
  // non-empty localHostName binds the local end to that address first.
  static int connectToSocket(int port, const char* hostName, const char* localHostName);
  // One accepted connection; keep-alive is set unless the peer is 127.0.0.1. The peer's address
  // is stored in host order when remoteIp is not null.
  static int acceptConnect(int svrSock, unsigned int* remoteIp);
  // A datagram socket with SO_BROADCAST and SO_REUSEADDR bound to any address at *port (0 for a
  // free port); *port is set to the port actually bound.
  static int createUdpSocket(int* port, BindType bindType);

  // Sends all len bytes; interruptions are resumed. Raises AC_SC_SEND_FAILED.
  static void sendBytes(int sock, const void* src, size_t len);
  // Receives exactly nBytes; interruptions are resumed. Raises AC_SC_RECV_FAILED with the system
  // error, or with the second code AC_SC_CONNECTION_RESET when the peer closed first.
  static void recvBytes(int sock, void* dst, size_t nBytes);
  // One datagram to ipAddr (network order) and port; returns the count sent. A failure is tried
  // again twice a second apart before AC_SC_SENDTO_FAILED is raised.
  static int sendBytesTo(int sock, const void* src, size_t nBytes, unsigned long ipAddr, int port);
  // One datagram of at most nBytes; returns its size and stores the sender's address (network
  // order) and port (host order) where the pointers are not null. Transient failures are logged
  // and retried a second apart; a failure that waiting cannot clear (a bad descriptor or
  // argument, a receive time-out, a non-blocking socket without data) raises AC_SC_RECV_FAILED.
  static int recvBytesFrom(int sock, void* dst, size_t nBytes, unsigned long* ipAddr, int* port);
  // Waits up to tenths tenths of a second for fd to become readable: true when it is, false on
  // time-out or interruption. Raises AC_SC_SELECT_FAILED.
  static bool waitOnRx(int fd, int tenths);
};

}  // namespace ac
