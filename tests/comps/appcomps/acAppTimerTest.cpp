// Application timers driven by a test clock: each step moves the clock to the loop's nearest
// timeout and runs that iteration, so that no test waits in real time. Fire times are recorded as
// seconds after the clock's start.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcDump.h"
#include "qvTestApp.h"
#include "qvTestSupport.h"
#include "qvTestUtil.h"

using ac::AppTimer;
using qvtest::TestMonotonicClock;
using rc::Timeval;

namespace {

const Timeval kStart(1000, 0);

// Fire times are taken from here.
Timeval s_origin = kStart;
double seconds() { return (TestMonotonicClock::now() - s_origin).asDouble(); }
void resetOrigin() { s_origin = TestMonotonicClock::now(); }

// Records its timer's fire times and runs an action in the callback.
struct Recorder {
  std::vector<double> fired;
  std::function<bool(AppTimer*)> action;
  static bool cb(void* obj, AppTimer* timer) {
    auto* r = static_cast<Recorder*>(obj);
    r->fired.push_back(seconds());
    return r->action ? r->action(timer) : false;
  }
};

class AppTimerTest : public ::testing::Test {
 protected:
  AppTimer* newTimer(AppTimer::TimerType type, double secs, Recorder* rec) {
    Timeval value;
    value.setFromDouble(secs);
    return m_app.newTimer(type, rec, Recorder::cb, value, true, "t");
  }
  static void release(AppTimer* timer) {
    if (timer->removeReference() < 1) delete timer;
  }

  TestMonotonicClock m_clock{kStart};
  qvtest::TestApp m_app{"timerTest"};
};

}  // namespace

TEST_F(AppTimerTest, IntervalKeepsItsPhase) {
  const struct {
    double before;  // the loop is held up this long before its first iteration
    double work;    // each callback takes this long
    std::vector<double> fired;
  } rows[] = {{0, 0.3, {1, 2, 3}}, {3.5, 0, {3.5, 4.5, 5.5}}, {0.5, 0, {1, 2, 3}}};
  for (const auto& row : rows) {
    Recorder rec;
    rec.action = [&](AppTimer*) {
      TestMonotonicClock::advance(row.work);
      return false;
    };
    resetOrigin();
    AppTimer* timer = newTimer(AppTimer::INTERVAL, 1, &rec);
    TestMonotonicClock::advance(row.before);
    while (rec.fired.size() < 3 && m_app.step()) {
    }
    EXPECT_EQ(rec.fired, row.fired) << row.before << " " << row.work;
    release(timer);
  }
}

TEST_F(AppTimerTest, WorkInProgressPausesUntilWorkDone) {
  const struct {
    double doneAt;  // workDone() this long after the first expiry
    std::vector<double> fired;
  } rows[] = {{0.5, {1, 2}}, {1.5, {1, 2.5}}};
  for (const auto& row : rows) {
    resetOrigin();
    Recorder rec;
    rec.action = [](AppTimer*) { return true; };
    AppTimer* timer = newTimer(AppTimer::INTERVAL, 1, &rec);
    m_app.step();
    EXPECT_TRUE(timer->isWorking());
    EXPECT_FALSE(m_app.step());  // quiet while working
    TestMonotonicClock::advance(row.doneAt);
    timer->workDone();
    m_app.step();
    EXPECT_EQ(rec.fired, row.fired) << row.doneAt;
    release(timer);
  }
}

TEST_F(AppTimerTest, CountdownFiresOnceUntilStartedAgain) {
  resetOrigin();
  Recorder rec;
  AppTimer* timer = newTimer(AppTimer::COUNTDOWN, 2, &rec);
  m_app.stepUntil(s_origin + Timeval(10, 0));
  EXPECT_EQ(rec.fired, std::vector<double>{2});
  EXPECT_FALSE(timer->isRunning());
  timer->start();
  m_app.stepUntil(s_origin + Timeval(20, 0));
  EXPECT_EQ(rec.fired, (std::vector<double>{2, 4}));
  timer->setTimerValue(Timeval(1, 0), false);
  EXPECT_FALSE(m_app.step());
  release(timer);
}

TEST_F(AppTimerTest, CallbackMayReleaseTheLastReference) {
  for (auto type : {AppTimer::INTERVAL, AppTimer::COUNTDOWN}) {
    Recorder rec;
    rec.action = [](AppTimer* timer) {
      release(timer);
      return false;
    };
    const size_t before = m_app.numTimers();
    newTimer(type, 1, &rec);
    EXPECT_EQ(m_app.numTimers(), before + 1);
    m_app.step();
    EXPECT_EQ(rec.fired.size(), 1u);
    EXPECT_EQ(m_app.numTimers(), before);  // deleted and unregistered
    EXPECT_FALSE(m_app.step());
  }
}

TEST_F(AppTimerTest, ManyTimersDueTogetherFireInOneIteration) {
  Recorder rec;
  std::vector<AppTimer*> timers;
  for (int i = 0; i < 1000; ++i) timers.push_back(newTimer(AppTimer::COUNTDOWN, 0.001, &rec));
  // A later timer and a stopped one stay quiet.
  timers.push_back(newTimer(AppTimer::COUNTDOWN, 5, &rec));
  timers.back()->stop();
  EXPECT_TRUE(m_app.step());
  EXPECT_EQ(rec.fired.size(), 1000u);
  EXPECT_FALSE(m_app.step());
  for (AppTimer* timer : timers) release(timer);
  EXPECT_EQ(m_app.numTimers(), 0u);
}

TEST_F(AppTimerTest, TimersFireInExpiryThenArmingOrder) {
  // Seconds per timer, armed in the order listed: a few due out of many, most of them at once,
  // and ties.
  const int secs[] = {5, 1, 4, 1, 3, 2, 2, 2, 2, 2, 2, 2};
  std::vector<int> order;
  struct Tagged {
    std::vector<int>* order;
    int tag;
    static bool cb(void* obj, AppTimer*) {
      auto* t = static_cast<Tagged*>(obj);
      t->order->push_back(t->tag);
      return false;
    }
  };
  std::vector<Tagged> tagged;
  for (int i = 0; i < 12; ++i) tagged.push_back({&order, i});
  std::vector<AppTimer*> timers;
  // Created in reverse, so that arming order and creation order differ.
  for (int i = 11; i >= 0; --i) {
    timers.push_back(m_app.newTimer(AppTimer::COUNTDOWN, &tagged[i], Tagged::cb,
                                    Timeval(secs[i], 0), false, "t"));
  }
  for (int i = 11; i >= 0; --i) timers[i]->start();
  while (m_app.step()) {
  }
  EXPECT_EQ(order, (std::vector<int>{1, 3, 5, 6, 7, 8, 9, 10, 11, 4, 2, 0}));
  for (AppTimer* timer : timers) release(timer);
}

TEST_F(AppTimerTest, DumpShowsTheTimer) {
  static std::vector<std::string> lines;
  lines.clear();
  const rc::DumpSinkRtn prev = rc::setDumpSink([](const char* line) { lines.push_back(line); });
  Recorder rec;
  AppTimer* timer = newTimer(AppTimer::INTERVAL, 1.5, &rec);
  timer->dump();
  rc::setDumpSink(prev);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_TRUE(qvtest::matchesShape(
      lines[0],
      "App Timer \\[0x*\\]: name = 't', type = interval, running = yes, working = no, "
      "fired = 0\n"))
      << lines[0];
  EXPECT_EQ(lines[1], "  value = 1, 500000\n");
  release(timer);
}
