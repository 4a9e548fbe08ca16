#include "qvTestApp.h"

#include "qvTestSupport.h"

namespace qvtest {

bool TestApp::step() {
  rc::FdSet next;
  loopFdSet(&next);
  if (next.minTimeout() == rc::Timeval::NO_TIMEVAL) return false;
  TestMonotonicClock::advance(next.minTimeout());
  runOnce(false);
  return true;
}

void TestApp::stepUntil(const rc::Timeval& until) {
  while (!(TestMonotonicClock::now() > until) && step()) {
  }
}

bool TestApp::runUntil(const std::function<bool()>& done, int secs) {
  // A tick wakes the loop, so that a condition on time or on the world outside is seen too.
  ac::AppTimer* tick =
      newTimer(ac::AppTimer::INTERVAL, nullptr, nullptr, rc::Timeval(0, 2000), true, "test tick");
  const rc::Timeval deadline = rc::Timeval::monotonicNow() + rc::Timeval(secs, 0);
  m_iterations = 0;
  while (!done() && !(rc::Timeval::monotonicNow() > deadline)) {
    runOnce(true);
    ++m_iterations;
  }
  rc::RefCnt_release(tick);
  return done();
}

}  // namespace qvtest
