// A time value (seconds and microseconds) used both as a point in time and as a duration. The
// arithmetic keeps the microseconds in 0-999999 for values built from normalised operands;
// comparisons look at the seconds first. NO_TIMEVAL (equal to MAX_TIMEVAL, 0x7FFFFFF seconds)
// stands for "no timeout" in descriptor sets and timers. The constants are constant-initialised,
// so they may be used during static initialisation. Plain value type; safe in signal handlers.
#pragma once

#include <sys/time.h>

namespace rc {

class Timeval : public ::timeval {
 public:
  constexpr Timeval() : ::timeval{0, 0} {}
  constexpr Timeval(long sec, long usec) : ::timeval{sec, usec} {}
  constexpr Timeval(const ::timeval& tv) : ::timeval(tv) {}  // NOLINT: implicit by design

  // gettimeofday.
  void setToNow();
  static Timeval now();
  // Elapsed time on a clock that the wall clock's steps do not move (CLOCK_MONOTONIC): what
  // timers measure expiries with.
  static Timeval monotonicNow();
  // Replaces that clock (tests drive timers with it); null restores the system's. Returns the
  // routine that was in place.
  typedef void (*ClockRtn)(::timeval* now);
  static ClockRtn setMonotonicClockRtn(ClockRtn rtn);

  Timeval operator+(const Timeval& rhs) const;
  Timeval operator-(const Timeval& rhs) const;
  Timeval& operator+=(const Timeval& rhs);
  Timeval& operator-=(const Timeval& rhs);

  bool operator==(const Timeval& rhs) const {
    return tv_sec == rhs.tv_sec && tv_usec == rhs.tv_usec;
  }
  bool operator!=(const Timeval& rhs) const { return !(*this == rhs); }
  bool operator<(const Timeval& rhs) const {
    return tv_sec < rhs.tv_sec || (tv_sec == rhs.tv_sec && tv_usec < rhs.tv_usec);
  }
  bool operator>(const Timeval& rhs) const { return rhs < *this; }
  bool operator<=(const Timeval& rhs) const { return !(rhs < *this); }
  bool operator>=(const Timeval& rhs) const { return !(*this < rhs); }

  double asDouble() const { return static_cast<double>(tv_sec) + tv_usec / 1e6; }
  // Rounds to the nearest microsecond and normalises (-1.5 gives {-2, 500000}), so that the
  // result compares correctly with values produced by the arithmetic.
  void setFromDouble(double secs);

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

  static const Timeval ZERO_TIMEVAL;
  static const Timeval ONE_MICROSEC_TIMEVAL;
  static const Timeval ONE_MILLISEC_TIMEVAL;
  static const Timeval ONE_SEC_TIMEVAL;
  static const Timeval MAX_TIMEVAL;
  static const Timeval NO_TIMEVAL;
};

inline constexpr Timeval Timeval::ZERO_TIMEVAL{0, 0};
inline constexpr Timeval Timeval::ONE_MICROSEC_TIMEVAL{0, 1};
inline constexpr Timeval Timeval::ONE_MILLISEC_TIMEVAL{0, 1000};
inline constexpr Timeval Timeval::ONE_SEC_TIMEVAL{1, 0};
inline constexpr Timeval Timeval::MAX_TIMEVAL{0x7FFFFFF, 0};
inline constexpr Timeval Timeval::NO_TIMEVAL{0x7FFFFFF, 0};

}  // namespace rc
