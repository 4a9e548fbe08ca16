// The process's source of pseudo-random numbers. The framework keeps one instance for the whole
// process and reseeds it with the time and the process id in every new process, so that forked
// children do not repeat their parent's sequence. The generator is private to the object: it
// neither reads nor disturbs the C library's random() state. An unseeded source seeds itself
// from a fixed default on first use. Not thread-safe; not for use in signal handlers.
#pragma once

#include <cstdint>

namespace rc {

class Random {
 public:
  Random() = default;

  // Equal seed pairs give equal sequences.
  void srandom(unsigned long seed1, unsigned long seed2);
  void srandom();
  // A number in [0, limit) when limit > 0, otherwise in [0, 2147483647].
  long random(long limit = 0);

  bool isSeeded() const { return m_seeded; }

 private:
  uint64_t next();

  bool m_seeded = false;
  uint64_t m_state = 0;
};

}  // namespace rc
