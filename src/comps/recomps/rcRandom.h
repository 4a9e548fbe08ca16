// The process's source of pseudo-random numbers (one instance, rc::Os::s_rand). Seeding is
// explicit; a source that was never seeded seeds itself from a fixed default on first use, so a
// run is reproducible unless someone seeds it (the framework reseeds it with the time and the
// process id in every new process). Not for cryptographic use; single-threaded.
#pragma once

#include <cstdint>

namespace rc {

class Random {
 public:
  Random() = default;

  void srandom(unsigned int seed1, unsigned int seed2);
  void srandom();
  // The next number: in [0, limit) for a positive limit, otherwise in [0, 2^31).
  long random(long limit);

  bool isSeeded() const { return m_seeded; }

 private:
  bool m_seeded = false;
  uint64_t m_state = 0;
};

}  // namespace rc
