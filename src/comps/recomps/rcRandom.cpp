#include "comps/recomps/rcRandom.h"

namespace rc {

namespace {
constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ULL;
constexpr unsigned long kDefaultSeed1 = 20000101;
constexpr unsigned long kDefaultSeed2 = 1;
}  // namespace

void Random::srandom(unsigned long seed1, unsigned long seed2) {
  // The second seed is spread over the high bits so that (time, pid) pairs that differ only in
  // the pid still start far apart.
  m_state = static_cast<uint64_t>(seed1) ^ (static_cast<uint64_t>(seed2) * kGolden);
  m_seeded = true;
}

void Random::srandom() { srandom(kDefaultSeed1, kDefaultSeed2); }

// SplitMix64: every state is visited once per 2^64 steps and each output is well mixed, which
// is all the framework asks of it (it is not a cryptographic source).
uint64_t Random::next() {
  if (!m_seeded) srandom();
  uint64_t z = (m_state += kGolden);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

long Random::random(long limit) {
  const uint64_t value = next();
  if (limit <= 0) return static_cast<long>(value >> 33);
  // The modulo bias of a 64-bit value over a limit below 2^63 is at most limit / 2^64.
  return static_cast<long>(value % static_cast<uint64_t>(limit));
}

}  // namespace rc
