// ac::SockUtils beside the plain socket calls, on a TCP connection over the loopback interface:
//   PingPong/<api>   64 bytes sent and echoed back by a peer thread using the same calls; items
//                    are round trips.
//   Stream/<api>     64 MiB pushed by a sender thread in 64 KiB calls and taken in 64 KiB calls;
//                    bytes per second.
// <api> 0 is the framework (sendBytes / recvBytes), 1 the plain send / recv loops.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "comps/appcomps/acSockUtils.h"
#include "comps/recomps/rcErr.h"

namespace {

using ac::SockUtils;

constexpr size_t kPingSize = 64;
constexpr size_t kChunk = 64 * 1024;
constexpr size_t kStreamSize = 64 * 1024 * 1024;

void plainSend(int sock, const void* src, size_t len) {
  const char* p = static_cast<const char*>(src);
  while (len > 0) {
    const ssize_t n = send(sock, p, len, 0);
    if (n <= 0) abort();
    p += n;
    len -= static_cast<size_t>(n);
  }
}

// False when the peer closed before the first byte.
bool plainRecv(int sock, void* dst, size_t len) {
  char* p = static_cast<char*>(dst);
  while (len > 0) {
    const ssize_t n = recv(sock, p, len, 0);
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool frameworkRecv(int sock, void* dst, size_t len) {
  try {
    SockUtils::recvBytes(sock, dst, len);
    return true;
  } catch (const rc::Err&) {
    return false;
  }
}

struct Api {
  void (*sendAll)(int, const void*, size_t);
  bool (*recvAll)(int, void*, size_t);
};
const Api kApis[] = {{&SockUtils::sendBytes, &frameworkRecv}, {&plainSend, &plainRecv}};

// A connected pair over 127.0.0.1.
struct Connection {
  int client = -1;
  int server = -1;
  Connection() {
    const int listener =
        SockUtils::createSocket(SockUtils::ANY_PORT, INADDR_LOOPBACK, SockUtils::TCP_SOCK);
    unsigned short port = 0;
    SockUtils::getSockName(listener, &port, nullptr);
    client = SockUtils::connectToSocket(port, "127.0.0.1", nullptr);
    server = SockUtils::acceptConnect(listener, nullptr);
    close(listener);
  }
  ~Connection() {
    close(client);
    close(server);
  }
};

void PingPong(benchmark::State& state) {
  const Api& api = kApis[state.range(0)];
  Connection conn;
  std::thread echo([&] {
    char buf[kPingSize];
    while (api.recvAll(conn.server, buf, sizeof buf)) api.sendAll(conn.server, buf, sizeof buf);
  });
  char buf[kPingSize] = {};
  for (auto _ : state) {
    api.sendAll(conn.client, buf, sizeof buf);
    if (!api.recvAll(conn.client, buf, sizeof buf)) abort();
  }
  shutdown(conn.client, SHUT_WR);
  echo.join();
  state.SetItemsProcessed(state.iterations());
}

void Stream(benchmark::State& state) {
  const Api& api = kApis[state.range(0)];
  std::vector<char> chunk(kChunk);
  for (auto _ : state) {
    Connection conn;
    std::thread sender([&] {
      std::vector<char> out(kChunk, 'x');
      for (size_t sent = 0; sent < kStreamSize; sent += kChunk)
        api.sendAll(conn.client, out.data(), out.size());
    });
    for (size_t got = 0; got < kStreamSize; got += kChunk) {
      if (!api.recvAll(conn.server, chunk.data(), chunk.size())) abort();
    }
    sender.join();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kStreamSize);
}

}  // namespace

BENCHMARK(PingPong)->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(Stream)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
