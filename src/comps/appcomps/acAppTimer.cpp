#include "comps/appcomps/acAppTimer.h"

#include <cinttypes>
#include <utility>
#include <vector>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcDump.h"

namespace ac {

namespace {

using rc::Timeval;

unsigned addr(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

int secs(const Timeval& tv) { return static_cast<int>(tv.tv_sec); }
int usecs(const Timeval& tv) { return static_cast<int>(tv.tv_usec); }

bool dbgOn(int flag) { return rc::Dbg::s_anyOn && rc::Dbg::instance()->isOn(DM_AC, flag); }

void release(AppTimer* timer) {
  if (timer->removeReference() < 1) delete timer;
}

}  // namespace

// Never destroyed: timers released by static destructors may still leave it.
AppTimer::Queue* AppTimer::s_queue = new AppTimer::Queue;
const rc::FdSet AppTimer::s_emptyFdSet;

AppTimer::AppTimer(App* app, TimerType timerType, void* cbObj, CbRtn cbRtn,
                   const Timeval& timerValue, std::string name)
    : rc::RefCnt(1),
      m_app(app),
      m_cbObj(cbObj),
      m_cbRtn(cbRtn),
      m_timerType(timerType),
      m_timerValue(timerValue),
      m_running(false),
      m_working(false),
      m_name(std::move(name)),
      m_firedCount(0),
      m_queued(false) {
  RC_ASSERT(app);
  m_app->addToEventLoop(this, getFdSetCCb);
  m_createTime = Timeval::monotonicNow();
}

AppTimer::~AppTimer() {
  stop();
  m_app->removeFromEventLoop(this);
  rc::poison(m_app);
  rc::poison(m_cbObj);
}

void AppTimer::syncQueue() {
  Queue& q = *s_queue;
  if (m_queued) {
    if (isArmed() && m_queuePos->first == m_expireTime) return;
    q.erase(m_queuePos);
    m_queued = false;
  }
  if (isArmed()) {
    m_queuePos = q.emplace(m_expireTime, this);
    m_queued = true;
  }
}

void AppTimer::start() {
  if (rc::Dbg::s_anyOn)
    rc::Dbg::instance()->print(DM_AC, DF_MINOR, "starting timer [0x%x] ...\n", addr(this));
  updateTimes();
  m_running = true;
  syncQueue();
}

void AppTimer::stop() {
  if (rc::Dbg::s_anyOn) rc::Dbg::instance()->print(DM_AC, DF_MINOR, "stopping timer ...\n");
  m_running = false;
  m_working = false;
  // Clears the record in place: a loop that already collected it will not call it.
  m_timerFdSet.clear();
  m_lastTimerProcessingEnd = Timeval::monotonicNow();
  syncQueue();
}

void AppTimer::setTimerValue(const Timeval& timerValue, bool startTimer) {
  if (rc::Dbg::s_anyOn) {
    rc::Dbg::instance()->print(DM_AC, DF_MINOR, "setting timer [0x%x] value to %d, %d\n",
                               addr(this), secs(timerValue), usecs(timerValue));
  }
  m_timerValue = timerValue;
  if (m_running) stop();
  if (startTimer) start();
}

void AppTimer::workStarted() {
  m_working = true;
  if (rc::Dbg::s_anyOn)
    rc::Dbg::instance()->print(DM_AC, DF_MINOR, "work started for timer [0x%x]\n", addr(this));
  syncQueue();
}

void AppTimer::workDone() {
  m_working = false;
  const Timeval now = Timeval::monotonicNow();
  m_lastTimerProcessingEnd = now;
  if (!(now > m_expireTime)) {
    if (rc::Dbg::s_anyOn) {
      rc::Dbg::instance()->print(DM_AC, DF_MINOR,
                                 "workDone called [0x%x], but expire time has not been reached\n",
                                 addr(this));
    }
  } else if (m_running && m_timerType == INTERVAL) {
    if (rc::Dbg::s_anyOn) {
      rc::Dbg::instance()->print(DM_AC, DF_MINOR,
                                 "workDone [0x%x]: exceeded timer interval, starting again now\n",
                                 addr(this));
    }
    start();
  }
  syncQueue();
}

void AppTimer::updateTimes() {
  const Timeval now = Timeval::monotonicNow();
  m_startTime = m_running && now > m_expireTime ? m_expireTime : now;
  m_expireTime = m_startTime + m_timerValue;
  if (m_expireTime < now) m_expireTime = now;
  if (dbgOn(DF_MINOR_DATA)) {
    rc::Dbg::instance()->print(DM_AC, DF_MINOR_DATA,
                               "new timer [0x%x] times: now = '%d, %d', start time = '%d, %d', "
                               "expire time = '%d, %d'\n",
                               addr(this), secs(now), usecs(now), secs(m_startTime),
                               usecs(m_startTime), secs(m_expireTime), usecs(m_expireTime));
  }
  syncQueue();
}

const rc::FdSet& AppTimer::getFdSetCCb(void* cbObj) {
  return static_cast<AppTimer*>(cbObj)->getFdSetCb();
}

const rc::FdSet& AppTimer::getFdSetCb() {
  // Asked by the loop at every iteration, so kept short. Only the earliest timer of this
  // application gives the loop a timeout; the others are handled when it fires.
  if (!isArmed()) return m_running ? s_emptyFdSet : m_timerFdSet;
  const AppTimer* first = s_queue->begin()->second;
  if (first != this) {
    if (first->m_app == m_app) return s_emptyFdSet;
    for (const auto& entry : *s_queue) {
      if (entry.second->m_app != m_app) continue;
      if (entry.second != this) return s_emptyFdSet;
      break;
    }
  }
  updateFdSet();
  return m_timerFdSet;
}

void AppTimer::updateFdSet() {
  const Timeval now = Timeval::monotonicNow();
  const Timeval timeout = now < m_expireTime ? m_expireTime - now : Timeval::ZERO_TIMEVAL;
  m_timerFdSet.set(timeout, this, eventCCb, nullptr);
  if (rc::Dbg::s_anyOn) {
    rc::Dbg::instance()->print(
        DM_AC, DF_MINOR,
        "set timer [0x%x] timeout to '%d, %d' from expire = '%d, %d' - now = '%d, %d'\n",
        addr(this), secs(timeout), usecs(timeout), secs(m_expireTime), usecs(m_expireTime),
        secs(now), usecs(now));
  }
}

void AppTimer::eventCCb(void* cbObj, rc::FdSet::CbType cbType, int fd, void* userData) {
  auto* fired = static_cast<AppTimer*>(cbObj);
  const Timeval now = Timeval::monotonicNow();
  // Every timer of the application that is due by now, the one the loop called first; each is
  // held so that a callback releasing another timer cannot pull it from under the walk.
  std::vector<AppTimer*, mem::stlAlloc<AppTimer*>> due;
  fired->addReference();
  due.push_back(fired);
  for (const auto& entry : *s_queue) {
    if (entry.first > now) break;
    AppTimer* timer = entry.second;
    if (timer == fired || timer->m_app != fired->m_app) continue;
    timer->addReference();
    due.push_back(timer);
  }
  for (AppTimer* timer : due) {
    // An earlier callback may have stopped, paused or moved it.
    if (timer->isArmed() && !(timer->m_expireTime > now)) timer->eventCb(cbType, fd, userData);
    release(timer);
  }
}

bool AppTimer::timerExpired() {
  if (m_cbObj == nullptr || m_cbRtn == nullptr) return false;
  ++m_firedCount;
  m_lastTimerProcessingStart = Timeval::monotonicNow();
  const bool result = m_cbRtn(m_cbObj, this);
  return m_timerType == INTERVAL ? result : false;
}

void AppTimer::eventCb(rc::FdSet::CbType /*cbType*/, int /*fd*/, void* /*userData*/) {
  if (dbgOn(DF_MINOR)) {
    const Timeval now = Timeval::monotonicNow();
    rc::Dbg::instance()->print(DM_AC, DF_MINOR, "timer [0x%x] expired, time = %d, %d\n", addr(this),
                               secs(now), usecs(now));
  }
  if (m_timerType == COUNTDOWN) {
    stop();
    timerExpired();  // may release the timer: nothing touches it afterwards
    return;
  }

  addReference();
  m_working = timerExpired();
  if (removeReference() < 1) {
    delete this;
    return;
  }
  if (m_running && !m_working) {
    if (rc::Dbg::s_anyOn) {
      rc::Dbg::instance()->print(DM_AC, DF_MINOR, "work for timer [0x%x] completed synchronously\n",
                                 addr(this));
    }
    const Timeval now = Timeval::monotonicNow();
    m_lastTimerProcessingEnd = now;
    updateTimes();
    // A timer that fell behind by more than a period has just fired for all of it: the next
    // period starts now, instead of an expiry of "now" that would fire again at once.
    if (!(m_expireTime > now) && m_timerValue > Timeval::ZERO_TIMEVAL) {
      m_startTime = now;
      m_expireTime = now + m_timerValue;
    }
  } else if (m_working) {
    // Quiet until workDone().
    m_timerFdSet.set(Timeval::NO_TIMEVAL, this, eventCCb, nullptr);
  }
  syncQueue();
}

void AppTimer::dumpObj(int indentLvl, const char* label) const {
  rc::dumpHeader(indentLvl, label, "App Timer", this,
                 ": name = '%s', type = %s, running = %s, working = %s, fired = %" PRIu64 "\n",
                 m_name.c_str(), m_timerType == INTERVAL ? "interval" : "countdown",
                 m_running ? "yes" : "no", m_working ? "yes" : "no", m_firedCount);
  const struct {
    const char* name;
    const Timeval& value;
  } times[] = {{"value", m_timerValue},
               {"start", m_startTime},
               {"expire", m_expireTime},
               {"created", m_createTime},
               {"last start", m_lastTimerProcessingStart},
               {"last end", m_lastTimerProcessingEnd}};
  for (const auto& t : times)
    rc::dumpLine(indentLvl + 1, "%s = %d, %d\n", t.name, secs(t.value), usecs(t.value));
}

AppTimer* App::newTimer(AppTimer::TimerType timerType, void* cbObj, AppTimer::CbRtn cbRtn,
                        const rc::Timeval& timerValue, bool startTimer, std::string name) {
  auto* timer = new AppTimer(this, timerType, cbObj, cbRtn, timerValue, std::move(name));
  if (startTimer) timer->start();
  return timer;
}

}  // namespace ac
