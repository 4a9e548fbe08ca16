// The application of in-process tests: ac::App with an empty usage and a loop the test drives
// one iteration at a time (App::runOnce), never by hand. With a TestMonotonicClock installed,
// step() moves the clock to the loop's nearest timeout and runs the iteration that serves it,
// so timers and idle time-outs are tested without waiting. Exactly one App may exist at a time.
#pragma once

#include <functional>

#include "comps/appcomps/acApp.h"

namespace qvtest {

class TestApp : public ac::App {
 public:
  explicit TestApp(const char* name = "testApp", unsigned flags = AF_DEFAULT)
      : ac::App(name, 0, flags) {}
  void printUsage() const override {}

  // One iteration that waits at most 1 microsecond.
  void poll() { runOnce(false); }
  // Moves the test clock to the nearest timeout and serves it; false (and nothing done) when
  // nothing in the loop has a timeout.
  bool step();
  // Steps while the test clock has not passed `until`.
  void stepUntil(const rc::Timeval& until);
  // Iterations until done() holds or secs pass on the real monotonic clock; returns done().
  // done() is checked after every iteration and at least every 2 ms.
  bool runUntil(const std::function<bool()>& done, int secs = 20);
  // The iterations of the last runUntil.
  int iterations() const { return m_iterations; }
  // Makes run() return after the current iteration.
  void stop() { m_abortRunLoop = true; }

  size_t numTimers() { return timerQueue().numMembers(); }
  size_t numProviders() const { return m_fdSetInfoVec != nullptr ? m_fdSetInfoVec->size() : 0; }

 private:
  int m_iterations = 0;
};

}  // namespace qvtest
