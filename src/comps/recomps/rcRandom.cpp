#include "comps/recomps/rcRandom.h"

namespace rc {

namespace {
constexpr unsigned int kDefaultSeed1 = 1;
constexpr unsigned int kDefaultSeed2 = 0;
}  // namespace

void Random::srandom(unsigned int seed1, unsigned int seed2) {
  m_state = (static_cast<uint64_t>(seed1) << 32) ^ seed2;
  m_seeded = true;
}

void Random::srandom() { srandom(kDefaultSeed1, kDefaultSeed2); }

long Random::random(long limit) {
  if (!m_seeded) srandom();
  // SplitMix64: every seed, 0 included, gives a full-period, well-mixed sequence.
  uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  if (limit > 0) return static_cast<long>(z % static_cast<uint64_t>(limit));
  return static_cast<long>(z >> 33);
}

}  // namespace rc
