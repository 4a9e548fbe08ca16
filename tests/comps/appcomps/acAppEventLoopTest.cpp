// The base event loop of ac::App, run in-process on real pipes. Every test registers a 10 s
// watchdog provider: a loop that blocks when it should not fails the test instead of hanging.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcOutDevice.h"
#include "qvTestApp.h"
#include "qvTestUtil.h"

using rc::FdSet;
using rc::Timeval;

namespace {

class EventLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_watchdogSet.set(Timeval(10, 0), this, watchdogCCb, nullptr);
    m_app.addToEventLoop(this, watchdogSetCCb);
  }
  void TearDown() override { FdSet::clearStaticFdInfos(); }

  static const FdSet& watchdogSetCCb(void* obj) {
    return static_cast<EventLoopTest*>(obj)->m_watchdogSet;
  }
  static void watchdogCCb(void* obj, FdSet::CbType, int, void*) {
    ADD_FAILURE() << "the loop waited for the watchdog";
    static_cast<EventLoopTest*>(obj)->m_app.stop();
  }

  qvtest::TestApp m_app{"loopTest"};
  FdSet m_watchdogSet;
  std::vector<std::string> m_log;
};

// A descriptor registration whose callback logs its name and runs an action.
struct Reg {
  EventLoopTest* test;
  std::vector<std::string>* log;
  std::string name;
  const qvtest::Pipe* pipe;
  bool drain;
  std::function<void()> action;
  FdSet set;

  void addTo(qvtest::TestApp& app) {
    set.add(FdSet::FDT_READ, pipe->rd, this, cb, nullptr);
    app.addToEventLoop(set);
  }
  static void cb(void* obj, FdSet::CbType cbType, int, void*) {
    auto* reg = static_cast<Reg*>(obj);
    EXPECT_EQ(cbType, FdSet::CBT_FD_READY);
    reg->log->push_back(reg->name);
    if (reg->drain) {
      EXPECT_TRUE(reg->pipe->drain());
    }
    if (reg->action) reg->action();
  }
};

}  // namespace

TEST_F(EventLoopTest, CallbacksMayChangeRegistrationsDuringDispatch) {
  qvtest::Pipe a, b, c;
  ASSERT_TRUE(a.put());
  ASSERT_TRUE(b.put());
  ASSERT_TRUE(c.put());
  Reg regA{this, &m_log, "a", &a, true, nullptr, {}};
  Reg regB{this, &m_log, "b", &b, false, nullptr, {}};  // stays readable
  Reg regC{this, &m_log, "c", &c, true, [this] { m_app.stop(); }, {}};
  regA.action = [&] {
    m_app.removeFromEventLoop(regB.set);
    regC.addTo(m_app);
  };
  regA.addTo(m_app);
  regB.addTo(m_app);
  m_app.run();
  // b, removed while iteration 1 dispatched, is not called back although its select saw it
  // ready (its owner may be gone); from iteration 2 on, c is watched.
  EXPECT_EQ(m_log, (std::vector<std::string>{"a", "c"}));
  EXPECT_FALSE(m_app.staticFdSet().readFds().isSet(b.rd));
  EXPECT_TRUE(m_app.staticFdSet().readFds().isSet(c.rd));
}

TEST_F(EventLoopTest, ProvidersAreAskedEveryIterationInOrder) {
  struct Provider {
    std::vector<std::string>* log;
    std::string name;
    FdSet set;
    std::function<void()> onTimeout;
    static const FdSet& get(void* obj) {
      auto* p = static_cast<Provider*>(obj);
      p->log->push_back("ask " + p->name);
      return p->set;
    }
    static void cb(void* obj, FdSet::CbType cbType, int fd, void*) {
      auto* p = static_cast<Provider*>(obj);
      EXPECT_EQ(cbType, FdSet::CBT_TIMEOUT);
      EXPECT_EQ(fd, -1);
      p->log->push_back("fire " + p->name);
      p->onTimeout();
    }
  };
  Provider p1{&m_log, "1", {}, [this] { m_app.stop(); }};
  Provider p2{&m_log, "2", {}, nullptr};
  Provider p3{&m_log, "3", {}, nullptr};
  p3.onTimeout = [&] { m_app.removeFromEventLoop(&p3); };
  p1.set.set(Timeval(0, 1000), &p1, Provider::cb, nullptr);
  p2.set.set(Timeval(0, 5000), &p2, Provider::cb, nullptr);
  p3.set.set(Timeval(0, 1000), &p3, Provider::cb, nullptr);
  for (Provider* p : {&p1, &p2, &p3}) m_app.addToEventLoop(p, Provider::get);
  m_app.run();
  // Equal timeouts: the provider merged last is the one called back.
  EXPECT_EQ(m_log, (std::vector<std::string>{"ask 1", "ask 2", "ask 3", "fire 3", "ask 1", "ask 2",
                                             "fire 1"}));
}

TEST_F(EventLoopTest, CheckForMessagesIsBoundedPerIteration) {
  const struct {
    std::vector<bool> answers;  // repeated
    int callsPerIteration;
  } rows[] = {{{true}, 5}, {{true, true, false}, 3}, {{false}, 1}, {{true, false}, 2}};
  for (const auto& row : rows) {
    struct Checker {
      const std::vector<bool>* answers;
      size_t calls = 0;
      static bool check(void* obj) {
        auto* c = static_cast<Checker*>(obj);
        return (*c->answers)[c->calls++ % c->answers->size()];
      }
    } checker{&row.answers};
    // A descriptor that is always ready counts the iterations.
    qvtest::Pipe ticker;
    ASSERT_TRUE(ticker.put());
    int iterations = 0;
    Reg tick{this,
             &m_log,
             "tick",
             &ticker,
             false,
             [&] {
               if (++iterations == 3) m_app.stop();
             },
             {}};
    tick.addTo(m_app);
    m_app.addCheckForMsgRtn(&checker, Checker::check);
    m_app.run();
    EXPECT_EQ(checker.calls, 3u * row.callsPerIteration) << row.answers.size();
    m_app.removeFromEventLoop(tick.set);
    m_app.removeCheckForMsgRtn();
  }
}

TEST_F(EventLoopTest, PendingMessagesNeverLetTheLoopBlock) {
  // Nothing is registered but the 10 s watchdog: with messages pending each wait lasts at most
  // 1 microsecond, and the watchdog is not due.
  struct Checker {
    qvtest::TestApp* app;
    int calls = 0;
    static bool check(void* obj) {
      auto* c = static_cast<Checker*>(obj);
      if (++c->calls == 12) c->app->stop();
      return true;
    }
  } checker{&m_app};
  m_app.addCheckForMsgRtn(&checker, Checker::check);
  m_app.run();
  EXPECT_EQ(checker.calls, 15);  // the iteration that stops still makes its five calls

  // A routine that removes itself is not called again.
  struct OneShot {
    qvtest::TestApp* app;
    int calls = 0;
    static bool check(void* obj) {
      auto* c = static_cast<OneShot*>(obj);
      ++c->calls;
      c->app->removeCheckForMsgRtn();
      c->app->stop();
      return true;
    }
  } oneShot{&m_app};
  m_app.addCheckForMsgRtn(&oneShot, OneShot::check);
  m_app.run();
  EXPECT_EQ(oneShot.calls, 1);
}

TEST_F(EventLoopTest, UnregisteredReadyDescriptorEndsRun) {
  qvtest::Pipe p;
  ASSERT_TRUE(p.put());
  fd_set fds;
  FD_ZERO(&fds);
  FD_SET(p.rd, &fds);
  FdSet orphan;
  orphan.set(p.rd + 1, &fds, FdSet::FDT_READ, nullptr, nullptr, nullptr, nullptr);
  m_app.addToEventLoop(orphan);
  const rc::Err err = qvtest::thrownErr([&] { m_app.run(); });
  EXPECT_EQ(err.code(), RC_SC_UNREGISTERED_FD);
  EXPECT_EQ(err.severity(), RC_WARNING);
}

TEST_F(EventLoopTest, RemovingAnUnknownProviderIsReportedAndIgnored) {
  qvtest::StdStreamsCapture capture;
  int stranger = 0;
  m_app.removeFromEventLoop(&stranger);
  EXPECT_NE(capture.err.text.find("Non-fatal Internal Error: ignoring error"), std::string::npos)
      << capture.err.text;
  EXPECT_EQ(capture.err.text.back(), '\n');

  // The watchdog is still registered: removing it by its object works once.
  capture.err.text.clear();
  m_app.removeFromEventLoop(this);
  EXPECT_EQ(capture.err.text, "");
}

TEST(App, RemovingAProviderWithoutAnyRegisteredIsReported) {
  qvtest::TestApp app("loopTest");
  int stranger = 0;
  qvtest::StdStreamsCapture capture;
  app.removeFromEventLoop(&stranger);
  EXPECT_NE(capture.err.text.find("ignoring error"), std::string::npos) << capture.err.text;
}

TEST_F(EventLoopTest, StaticSetsAreMergedAndSubtracted) {
  qvtest::Pipe p, q;
  FdSet one, two;
  one.add(FdSet::FDT_READ, p.rd, this, nullptr, nullptr);
  two.add(FdSet::FDT_WRITE, q.wr, this, nullptr, nullptr);
  m_app.addToEventLoop(one);
  m_app.addToEventLoop(two);
  FdSet seen = m_app.staticFdSet();
  EXPECT_TRUE(seen.readFds().isSet(p.rd));
  EXPECT_TRUE(seen.writeFds().isSet(q.wr));
  EXPECT_EQ(seen.numFds(), std::max(p.rd, q.wr) + 1);
  m_app.removeFromEventLoop(two);
  seen = m_app.staticFdSet();
  EXPECT_FALSE(seen.writeFds().isSet(q.wr));
  EXPECT_TRUE(seen.readFds().isSet(p.rd));
}
