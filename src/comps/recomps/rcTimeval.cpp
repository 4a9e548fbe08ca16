#include "comps/recomps/rcTimeval.h"

#include <cmath>
#include <ctime>

#include "comps/recomps/rcDump.h"

namespace rc {

namespace {
constexpr long kUsecPerSec = 1000000;
Timeval::ClockRtn s_monotonicClock = nullptr;
}  // namespace

Timeval Timeval::monotonicNow() {
  Timeval tv;
  if (s_monotonicClock != nullptr) {
    s_monotonicClock(&tv);
    return tv;
  }
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  tv.tv_sec = ts.tv_sec;
  tv.tv_usec = static_cast<decltype(tv.tv_usec)>(ts.tv_nsec / 1000);
  return tv;
}

Timeval::ClockRtn Timeval::setMonotonicClockRtn(ClockRtn rtn) {
  const ClockRtn previous = s_monotonicClock;
  s_monotonicClock = rtn;
  return previous;
}

void Timeval::setToNow() { gettimeofday(this, nullptr); }

Timeval Timeval::now() {
  Timeval tv;
  tv.setToNow();
  return tv;
}

Timeval& Timeval::operator+=(const Timeval& rhs) {
  tv_sec += rhs.tv_sec;
  tv_usec += rhs.tv_usec;
  if (tv_usec >= kUsecPerSec) {
    tv_usec -= kUsecPerSec;
    ++tv_sec;
  }
  return *this;
}

Timeval& Timeval::operator-=(const Timeval& rhs) {
  tv_sec -= rhs.tv_sec;
  tv_usec -= rhs.tv_usec;
  if (tv_usec < 0) {
    tv_usec += kUsecPerSec;
    --tv_sec;
  }
  return *this;
}

Timeval Timeval::operator+(const Timeval& rhs) const {
  Timeval sum(*this);
  return sum += rhs;
}

Timeval Timeval::operator-(const Timeval& rhs) const {
  Timeval diff(*this);
  return diff -= rhs;
}

void Timeval::setFromDouble(double secs) {
  // Whole microseconds first: splitting the double into seconds and a fraction would turn 2.3
  // into 2 s and 299999 us.
  const long long usecs = std::llround(secs * static_cast<double>(kUsecPerSec));
  long long sec = usecs / kUsecPerSec;
  long long usec = usecs % kUsecPerSec;
  if (usec < 0) {
    usec += kUsecPerSec;
    --sec;
  }
  tv_sec = static_cast<decltype(tv_sec)>(sec);
  tv_usec = static_cast<decltype(tv_usec)>(usec);
}

void Timeval::dumpObj(int indentLvl, const char* label) const {
  dumpHeader(indentLvl, label, "Timeval", this, ": %ld s, %ld us\n", static_cast<long>(tv_sec),
             static_cast<long>(tv_usec));
}

}  // namespace rc
