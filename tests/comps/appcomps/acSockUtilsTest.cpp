// ac::SockUtils on real sockets in the loopback range.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "comps/appcomps/acSockUtils.h"
#include "comps/recomps/rcFd.h"
#include "qvTestUtil.h"

namespace {

using ac::SockUtils;

constexpr unsigned int kLoopback = 0x7f000001;  // 127.0.0.1, host order

using rc::Fd;

int intOption(int sock, int level, int optname) {
  int value = -1;
  socklen_t len = sizeof value;
  return getsockopt(sock, level, optname, &value, &len) == 0 ? value : -1;
}

unsigned short localPort(int sock) {
  unsigned short port = 0;
  SockUtils::getSockName(sock, &port, nullptr);
  return port;
}

// A listener on 127.0.0.1 and one connection to it, made from localAddr when given.
struct Connection {
  Fd listener{SockUtils::createSocket(SockUtils::ANY_PORT, kLoopback, SockUtils::TCP_SOCK)};
  Fd client;
  Fd server;
  unsigned int remoteIp = 0;
  explicit Connection(const char* localAddr = nullptr) {
    client.reset(SockUtils::connectToSocket(localPort(listener.get()), "127.0.0.1", localAddr));
    server.reset(SockUtils::acceptConnect(listener.get(), &remoteIp));
  }
};

// A port on 127.0.0.1 that nobody listens on.
int closedPort() {
  Fd probe(SockUtils::createSocket(SockUtils::ANY_PORT, kLoopback, SockUtils::TCP_SOCK));
  return localPort(probe.get());
}

// An unbound socket for connecting, a listener, and accepted connections: keep-alive only for
// peers other than 127.0.0.1.
TEST(SockUtils, SocketsGetTheirOptions) {
  for (unsigned short port : {0, static_cast<int>(SockUtils::ANY_PORT)}) {
    Fd sock(SockUtils::createSocket(port, kLoopback, SockUtils::TCP_SOCK));
    EXPECT_EQ(intOption(sock.get(), SOL_SOCKET, SO_ACCEPTCONN), port != 0) << port;
    EXPECT_EQ(localPort(sock.get()) != 0, port != 0) << port;
    EXPECT_EQ(intOption(sock.get(), SOL_SOCKET, SO_REUSEADDR), 1) << port;
    EXPECT_EQ(intOption(sock.get(), IPPROTO_TCP, TCP_NODELAY), 1) << port;
  }
  for (const char* from : {static_cast<const char*>(nullptr), "127.0.0.2"}) {
    Connection conn(from);
    EXPECT_EQ(conn.remoteIp, from == nullptr ? kLoopback : 0x7f000002);
    EXPECT_EQ(intOption(conn.server.get(), SOL_SOCKET, SO_KEEPALIVE), from == nullptr ? 0 : 1);
  }
}

TEST(SockUtils, FillInAddrTakesDottedNamedAndAnyAddresses) {
  struct Case {
    const char* host;
    const char* expected;
  } cases[] = {{nullptr, "0.0.0.0"}, {"10.1.2.3", "10.1.2.3"}, {"localhost", "127.0.0.1"}};
  for (const Case& c : cases) {
    sockaddr_in addr;
    memset(&addr, 0x5a, sizeof addr);
    SockUtils::fillInAddr(&addr, 8080, c.host);
    EXPECT_EQ(addr.sin_family, AF_INET);
    EXPECT_EQ(ntohs(addr.sin_port), 8080);
    EXPECT_STREQ(SockUtils::ipToString(addr.sin_addr.s_addr), c.expected);
    SockUtils::fillInAddr(&addr, 1, SockUtils::stringToIp(c.expected));
    EXPECT_STREQ(SockUtils::ipToString(addr.sin_addr.s_addr), c.expected);
  }
}

TEST(SockUtils, RecvBytesGathersPiecesAndReportsAClosedPeer) {
  Connection conn;
  std::vector<char> sent(100000);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 + i / 251);
  std::thread peer([&] {
    for (size_t off = 0; off < sent.size(); off += 9973) {
      const size_t n = std::min<size_t>(9973, sent.size() - off);
      if (send(conn.client.get(), sent.data() + off, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n))
        return;
    }
  });
  std::vector<char> got(sent.size());
  SockUtils::recvBytes(conn.server.get(), got.data(), got.size());
  peer.join();
  EXPECT_EQ(got, sent);

  ASSERT_EQ(send(conn.client.get(), sent.data(), 10, 0), 10);
  SockUtils::closeSocket(conn.client.release(), true);
  const rc::Err err =
      qvtest::thrownErr([&] { SockUtils::recvBytes(conn.server.get(), got.data(), 20); });
  EXPECT_EQ(err.code(), AC_SC_RECV_FAILED);
  EXPECT_EQ(err.code2(), AC_SC_CONNECTION_RESET);
  EXPECT_STREQ(err.routine(), "ipcComps/SockUtils::recvBytes");
  EXPECT_EQ(std::string(got.data(), 10), std::string(sent.data(), 10));
}

// Whatever the program's SIGPIPE disposition, a send to a vanished peer is an error and the
// disposition is the same afterwards (run in a child: a stray signal must not end the tests).
TEST(SockUtils, SendBytesToAClosedPeerIsAnErrorAndLeavesSigpipeAlone) {
  static void (*const kCatcher)(int) = [](int) { _exit(9); };
  for (void (*disposition)(int) : {SIG_DFL, SIG_IGN, kCatcher}) {
    const qvtest::ProcResult result = qvtest::runInChild([&] {
      signal(SIGPIPE, disposition);
      rc::Err err;
      {
        Connection conn;
        conn.server.reset();
        const std::vector<char> block(65536);
        err = qvtest::thrownErr([&] {
          for (int i = 0; i < 100; ++i)
            SockUtils::sendBytes(conn.client.get(), block.data(), block.size());
        });
      }
      const bool same = signal(SIGPIPE, SIG_DFL) == disposition;
      const int e = err.code2() & ~rc::Err::UNIX_ERRNO;
      printf("%d %d %d\n", err.code(), e == EPIPE || e == ECONNRESET, same);
      fflush(stdout);
      _exit(0);
    });
    EXPECT_EQ(result.termSignal, 0);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, std::to_string(AC_SC_SEND_FAILED) + " 1 1\n");
  }
}

TEST(SockUtils, DatagramsCarryTheSendersAddressAndPort) {
  int portA = 0, portB = 0;
  Fd a(SockUtils::createUdpSocket(&portA, SockUtils::BIND_FABRIC));
  Fd b(SockUtils::createUdpSocket(&portB, SockUtils::BIND_WORLD));
  ASSERT_NE(portA, 0);
  const unsigned long loopback = SockUtils::stringToIp("127.0.0.1");
  EXPECT_EQ(SockUtils::sendBytesTo(a.get(), "ping", 4, loopback, portB), 4);
  char buf[16] = {};
  unsigned long fromIp = 0;
  int fromPort = 0;
  EXPECT_EQ(SockUtils::recvBytesFrom(b.get(), buf, sizeof buf, &fromIp, &fromPort), 4);
  EXPECT_EQ(fromIp, loopback);
  EXPECT_EQ(fromPort, portA);
  EXPECT_EQ(SockUtils::sendBytesTo(b.get(), "pong!", 5, fromIp, fromPort), 5);
  EXPECT_EQ(SockUtils::recvBytesFrom(a.get(), buf, sizeof buf, nullptr, nullptr), 5);
  EXPECT_STREQ(buf, "pong!");
}

TEST(SockUtils, WaitOnRxReturnsOnDataAndOnTimeout) {
  qvtest::Pipe pipe;
  EXPECT_FALSE(SockUtils::waitOnRx(pipe.rd, 1));
  ASSERT_TRUE(pipe.put());
  EXPECT_TRUE(SockUtils::waitOnRx(pipe.rd, 50));
}

// Each failure: its code, second code, routine, and a text with every placeholder filled.
TEST(SockUtils, ErrorsCarryCodeRoutineAndArguments) {
  const int port = closedPort();
  Fd udp(socket(AF_INET, SOCK_DGRAM, 0));
  ASSERT_TRUE(SockUtils::setRecvTimeout(udp.get(), 3));
  timeval timeout = {};
  socklen_t len = sizeof timeout;
  getsockopt(udp.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, &len);
  EXPECT_EQ(timeout.tv_sec, 3);
  // A socket without data that must not wait: the datagram receive gives up at once.
  fcntl(udp.get(), F_SETFL, O_NONBLOCK);
  Fd listener(SockUtils::createSocket(SockUtils::ANY_PORT, kLoopback, SockUtils::TCP_SOCK));
  const int busyPort = localPort(listener.get());
  const int notSock = open("/dev/null", O_RDONLY);
  Fd notSockFd(notSock);
  char buf[8];
  const int ux = rc::Err::UNIX_ERRNO;
  struct Case {
    std::function<void()> call;
    int code;
    int code2;
    const char* routine;
    std::string args;
  } cases[] = {
      {[&] { SockUtils::connectToSocket(port, nullptr, nullptr); }, AC_SC_CONNECT_FAILED,
       ECONNREFUSED | ux, "connectToSocket", "localhost, " + std::to_string(port)},
      {[&] { SockUtils::connectToSocket(port, "no-such-host.invalid", nullptr); },
       AC_SC_BAD_HOST_NAME, 0, "fillInAddr", "no-such-host.invalid"},
      {[&] { SockUtils::createSocket(busyPort, kLoopback, SockUtils::TCP_SOCK); },
       AC_SC_BIND_FAILED, EADDRINUSE | ux, "createSocket", std::to_string(busyPort)},
      {[&] { SockUtils::recvBytes(notSock, buf, 4); }, AC_SC_RECV_FAILED, ENOTSOCK | ux,
       "recvBytes", std::to_string(notSock)},
      {[&] { SockUtils::sendBytes(notSock, buf, 4); }, AC_SC_SEND_FAILED, ENOTSOCK | ux,
       "sendBytes", std::to_string(notSock)},
      {[&] { SockUtils::recvBytesFrom(notSock, buf, 4, nullptr, nullptr); }, AC_SC_RECV_FAILED,
       ENOTSOCK | ux, "recvBytesFrom", std::to_string(notSock)},
      {[&] { SockUtils::recvBytesFrom(udp.get(), buf, 4, nullptr, nullptr); }, AC_SC_RECV_FAILED,
       EAGAIN | ux, "recvBytesFrom", std::to_string(udp.get())},
      {[&] { SockUtils::waitOnRx(-1, 1); }, AC_SC_SELECT_FAILED, EBADF | ux, "waitOnRx", ""},
      {[&] { SockUtils::getSockName(notSock, nullptr, nullptr); }, AC_SC_GETSOCKNAME_FAILED,
       ENOTSOCK | ux, "", std::to_string(notSock)},
  };
  for (const Case& c : cases) {
    const rc::Err err = qvtest::thrownErr(c.call);
    const std::string routine =
        *c.routine != '\0' ? std::string("ipcComps/SockUtils::") + c.routine : "";
    SCOPED_TRACE(routine);
    EXPECT_EQ(err.code(), c.code);
    EXPECT_EQ(err.code2(), c.code2);
    EXPECT_EQ(err.routine(), routine);
    EXPECT_EQ(err.args() != nullptr ? err.args()->asString() : "", c.args);
    EXPECT_EQ(rc::Err::format(err).find('{'), std::string::npos) << rc::Err::format(err);
  }
}

}  // namespace
