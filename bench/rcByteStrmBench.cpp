// The byte stream's per-value cost: one million ints, then one million 16-character strings
// (length word, bytes, padding), written into a resizeable stream and read back, beside memcpy of
// the same bytes into a buffer sized in advance and beside appending to a std::vector<char>.
// "Fresh" variants start every round from an empty container and so include all growth; "Reused"
// variants write into a container kept from earlier rounds, as a connection's buffer is.
// The int loops come twice: as plain loops, which the compiler vectorises wherever nothing is
// checked, and with every value passed through an opaque barrier ("Opaque"), as values taken from
// and handed to surrounding code are; the barrier costs no instruction of its own. "IntWrites"
// rows time the writes alone, which is what a sender pays.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "comps/recomps/rcByteStrm.h"

namespace {

constexpr int N = 1000000;
constexpr size_t STR_LEN = 16;
const char STR[STR_LEN + 1] = "0123456789abcdef";

template <typename Strm, bool Opaque>
int64_t streamInts(Strm& s) {
  for (int i = 0; i < N; ++i) {
    int v = i;
    if (Opaque) benchmark::DoNotOptimize(v);
    s << v;
  }
  int64_t sum = 0;
  for (int i = 0; i < N; ++i) {
    int v;
    s >> v;
    if (Opaque) benchmark::DoNotOptimize(v);
    sum += v;
  }
  return sum;
}

// Only the writes of streamInts: what a sender pays.
template <typename Strm, bool Opaque>
int64_t writeInts(Strm& s) {
  for (int i = 0; i < N; ++i) {
    int v = i;
    if (Opaque) benchmark::DoNotOptimize(v);
    s << v;
  }
  return 0;
}

template <typename Strm>
int64_t streamStrs(Strm& s) {
  for (int i = 0; i < N; ++i) s.writeStr(STR, STR_LEN);
  int64_t sum = 0;
  char buf[32];
  for (int i = 0; i < N; ++i) {
    s.readStr(buf, sizeof buf);
    sum += buf[i & 15];
  }
  return sum;
}

// The baselines' two containers behind the stream's interface, with no checks beyond their own.
class MemcpyBuf {
 public:
  explicit MemcpyBuf(unsigned char* buf) : m_buf(buf) {}
  MemcpyBuf& operator<<(int v) {
    memcpy(m_buf + m_write, &v, sizeof v);
    m_write += sizeof v;
    return *this;
  }
  MemcpyBuf& operator>>(int& v) {
    memcpy(&v, m_buf + m_read, sizeof v);
    m_read += sizeof v;
    return *this;
  }
  void writeStr(const char* str, size_t n) {
    const uint32_t len = static_cast<uint32_t>(n);
    const size_t aligned = (n + 3) & ~size_t{3};
    memcpy(m_buf + m_write, &len, 4);
    memcpy(m_buf + m_write + 4, str, n);
    m_write += 4 + aligned;
  }
  void readStr(char* str, size_t bufSize) {
    uint32_t len;
    memcpy(&len, m_buf + m_read, 4);
    const size_t copied = len < bufSize - 1 ? len : bufSize - 1;
    memcpy(str, m_buf + m_read + 4, copied);
    str[copied] = '\0';
    m_read += 4 + ((len + 3) & ~3u);
  }

 private:
  unsigned char* m_buf;
  size_t m_write = 0;
  size_t m_read = 0;
};

class VectorBuf {
 public:
  explicit VectorBuf(std::vector<char>& v) : m_v(v) {}
  VectorBuf& operator<<(int v) {
    const char* p = reinterpret_cast<const char*>(&v);
    m_v.insert(m_v.end(), p, p + sizeof v);
    return *this;
  }
  VectorBuf& operator>>(int& v) {
    memcpy(&v, m_v.data() + m_read, sizeof v);
    m_read += sizeof v;
    return *this;
  }
  void writeStr(const char* str, size_t n) {
    const uint32_t len = static_cast<uint32_t>(n);
    const char* p = reinterpret_cast<const char*>(&len);
    m_v.insert(m_v.end(), p, p + 4);
    m_v.insert(m_v.end(), str, str + n);
    m_v.resize(m_v.size() + (((n + 3) & ~size_t{3}) - n));
  }
  void readStr(char* str, size_t bufSize) {
    uint32_t len;
    memcpy(&len, m_v.data() + m_read, 4);
    const size_t copied = len < bufSize - 1 ? len : bufSize - 1;
    memcpy(str, m_v.data() + m_read + 4, copied);
    str[copied] = '\0';
    m_read += 4 + ((len + 3) & ~3u);
  }

 private:
  std::vector<char>& m_v;
  size_t m_read = 0;
};

template <int64_t (*Body)(rc::ByteStrm&)>
void BM_ByteStrmFresh(benchmark::State& state) {
  for (auto _ : state) {
    rc::ByteStrm s;
    benchmark::DoNotOptimize(Body(s));
  }
}

template <int64_t (*Body)(rc::ByteStrm&)>
void BM_ByteStrmReused(benchmark::State& state) {
  rc::ByteStrm s;
  for (auto _ : state) {
    s.reset(0);
    benchmark::DoNotOptimize(Body(s));
  }
}

template <int64_t (*Body)(MemcpyBuf&)>
void BM_MemcpyPresized(benchmark::State& state) {
  std::vector<unsigned char> storage(N * (4 + STR_LEN));
  for (auto _ : state) {
    MemcpyBuf b(storage.data());
    benchmark::DoNotOptimize(Body(b));
    benchmark::ClobberMemory();
  }
}

template <int64_t (*Body)(VectorBuf&)>
void BM_VectorCharFresh(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<char> v;
    VectorBuf b(v);
    benchmark::DoNotOptimize(Body(b));
  }
}

template <int64_t (*Body)(VectorBuf&)>
void BM_VectorCharReused(benchmark::State& state) {
  std::vector<char> v;
  for (auto _ : state) {
    v.clear();
    VectorBuf b(v);
    benchmark::DoNotOptimize(Body(b));
  }
}

BENCHMARK(BM_MemcpyPresized<streamInts<MemcpyBuf, false>>)->Name("Ints/MemcpyPresized");
BENCHMARK(BM_ByteStrmReused<streamInts<rc::ByteStrm, false>>)->Name("Ints/ByteStrmReused");
BENCHMARK(BM_ByteStrmFresh<streamInts<rc::ByteStrm, false>>)->Name("Ints/ByteStrmFresh");
BENCHMARK(BM_VectorCharReused<streamInts<VectorBuf, false>>)->Name("Ints/VectorCharReused");
BENCHMARK(BM_VectorCharFresh<streamInts<VectorBuf, false>>)->Name("Ints/VectorCharFresh");
BENCHMARK(BM_MemcpyPresized<writeInts<MemcpyBuf, false>>)->Name("IntWrites/MemcpyPresized");
BENCHMARK(BM_ByteStrmReused<writeInts<rc::ByteStrm, false>>)->Name("IntWrites/ByteStrmReused");
BENCHMARK(BM_VectorCharReused<writeInts<VectorBuf, false>>)->Name("IntWrites/VectorCharReused");
BENCHMARK(BM_MemcpyPresized<streamInts<MemcpyBuf, true>>)->Name("IntsOpaque/MemcpyPresized");
BENCHMARK(BM_ByteStrmReused<streamInts<rc::ByteStrm, true>>)->Name("IntsOpaque/ByteStrmReused");
BENCHMARK(BM_ByteStrmFresh<streamInts<rc::ByteStrm, true>>)->Name("IntsOpaque/ByteStrmFresh");
BENCHMARK(BM_VectorCharReused<streamInts<VectorBuf, true>>)->Name("IntsOpaque/VectorCharReused");
BENCHMARK(BM_VectorCharFresh<streamInts<VectorBuf, true>>)->Name("IntsOpaque/VectorCharFresh");
BENCHMARK(BM_MemcpyPresized<streamStrs<MemcpyBuf>>)->Name("Strs/MemcpyPresized");
BENCHMARK(BM_ByteStrmReused<streamStrs<rc::ByteStrm>>)->Name("Strs/ByteStrmReused");
BENCHMARK(BM_ByteStrmFresh<streamStrs<rc::ByteStrm>>)->Name("Strs/ByteStrmFresh");
BENCHMARK(BM_VectorCharReused<streamStrs<VectorBuf>>)->Name("Strs/VectorCharReused");
BENCHMARK(BM_VectorCharFresh<streamStrs<VectorBuf>>)->Name("Strs/VectorCharFresh");

}  // namespace

BENCHMARK_MAIN();
