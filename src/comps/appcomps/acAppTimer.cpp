#include "comps/appcomps/acAppTimer.h"

#include <algorithm>
#include <cinttypes>
#include <utility>
#include <vector>

#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcDump.h"

namespace ac {

namespace {

using rc::Timeval;

unsigned addr(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

int secs(const Timeval& tv) { return static_cast<int>(tv.tv_sec); }
int usecs(const Timeval& tv) { return static_cast<int>(tv.tv_usec); }

}  // namespace

AppTimer::JoinLoopRtn AppTimer::s_joinLoop = nullptr;
AppTimer::LeaveLoopRtn AppTimer::s_leaveLoop = nullptr;

void AppTimer::setLoopRtns(JoinLoopRtn join, LeaveLoopRtn leave) {
  s_joinLoop = join;
  s_leaveLoop = leave;
}

const rc::FdSet& AppTimer::emptyFdSet() {
  // Made on first use: a program that never runs its loop pays nothing for it.
  static const rc::FdSet empty;
  return empty;
}

// ---------------------------------------------------------------------------------------------
// AppTimerQueue

void AppTimerQueue::place(size_t pos, const Entry& entry) {
  m_heap[pos] = entry;
  entry.timer->m_queuePos = pos;
}

void AppTimerQueue::siftUp(size_t pos) {
  const Entry entry = m_heap[pos];
  while (pos > 0) {
    const size_t parent = (pos - 1) / 2;
    if (!(entry < m_heap[parent])) break;
    place(pos, m_heap[parent]);
    pos = parent;
  }
  place(pos, entry);
}

void AppTimerQueue::siftDown(size_t pos) {
  const Entry entry = m_heap[pos];
  const size_t n = m_heap.size();
  for (;;) {
    size_t child = 2 * pos + 1;
    if (child >= n) break;
    if (child + 1 < n && m_heap[child + 1] < m_heap[child]) ++child;
    if (!(m_heap[child] < entry)) break;
    place(pos, m_heap[child]);
    pos = child;
  }
  place(pos, entry);
}

void AppTimerQueue::push(AppTimer* timer) {
  m_heap.push_back(Entry{timer->m_expireTime, m_armCount++, timer});
  siftUp(m_heap.size() - 1);
}

void AppTimerQueue::erase(AppTimer* timer) {
  const size_t pos = timer->m_queuePos;
  timer->m_queuePos = AppTimer::NOT_QUEUED;
  const Entry last = m_heap.back();
  m_heap.pop_back();
  if (last.timer == timer) return;
  place(pos, last);
  if (pos > 0 && last < m_heap[(pos - 1) / 2]) {
    siftUp(pos);
  } else {
    siftDown(pos);
  }
}

const rc::FdSet& AppTimerQueue::fdSet() {
  return m_heap.empty() ? AppTimer::emptyFdSet() : m_heap.front().timer->getFdSetCb();
}

void AppTimerQueue::takeDue(const Timeval& now, std::vector<Entry, mem::stlAlloc<Entry>>* due) {
  // A node that is not due hides no due one below it, so the walk costs what it finds.
  // Breadth first, it finds them in array order, which is already queue order when they were
  // armed in expiry order.
  std::vector<size_t, mem::stlAlloc<size_t>>& todo = m_todo;
  todo.clear();
  if (!m_heap.empty() && !(m_heap[0].expire > now)) todo.push_back(0);
  for (size_t next = 0; next < todo.size(); ++next) {
    const size_t pos = todo[next];
    due->push_back(m_heap[pos]);
    for (size_t child = 2 * pos + 1; child <= 2 * pos + 2 && child < m_heap.size(); ++child) {
      if (!(m_heap[child].expire > now)) todo.push_back(child);
    }
  }
  if (due->empty()) return;
  if (due->size() == m_heap.size()) {
    m_heap.clear();
  } else if (due->size() * 4 < m_heap.size()) {
    for (const Entry& entry : *due) erase(entry.timer);
  } else {
    // Many at once: keep the rest and build the heap again.
    size_t kept = 0;
    for (const Entry& entry : m_heap) {
      if (entry.expire > now) m_heap[kept++] = entry;
    }
    m_heap.resize(kept);
    for (size_t pos = 0; pos < kept; ++pos) m_heap[pos].timer->m_queuePos = pos;
    for (size_t pos = kept / 2; pos-- > 0;) siftDown(pos);
  }
  if (!std::is_sorted(due->begin(), due->end())) std::sort(due->begin(), due->end());
}

void AppTimerQueue::fireDue() {
  const Timeval now = Timeval::monotonicNow();
  // Taken out of the queue and held first, so that a callback that stops, moves or releases
  // another due timer cannot pull it from under the walk. A nested loop gets its own list.
  std::vector<Entry, mem::stlAlloc<Entry>> due;
  due.swap(m_due);
  takeDue(now, &due);
  for (const Entry& entry : due) {
    entry.timer->m_queuePos = AppTimer::NOT_QUEUED;
    entry.timer->addReference();
  }
  for (const Entry& entry : due) {
    AppTimer* timer = entry.timer;
    // An earlier callback may have stopped, paused or moved it. Like the time a loop reads once
    // per iteration, the walk's time stands for the expiry of every timer it fires.
    if (timer->isArmed() && !(timer->m_expireTime > now)) {
      timer->fireAt(now);
    } else {
      timer->syncQueue();
    }
    rc::RefCnt_release(timer);
  }
  due.clear();
  if (m_due.capacity() < due.capacity()) m_due.swap(due);
}

// ---------------------------------------------------------------------------------------------
// AppTimer

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
      m_queue(nullptr),
      m_queuePos(NOT_QUEUED) {
  RC_ASSERT(app);
  RC_ASSERT(s_joinLoop);
  m_queue = s_joinLoop(m_app, this);
  m_createTime = Timeval::monotonicNow();
}

AppTimer::~AppTimer() {
  stop();
  s_leaveLoop(m_app, this);
  rc::poison(m_app);
  rc::poison(m_cbObj);
  rc::poison(m_queue);
}

void AppTimer::syncQueue() {
  if (isQueued()) {
    if (isArmed() && m_queue->m_heap[m_queuePos].expire == m_expireTime) return;
    m_queue->erase(this);
  }
  if (isArmed()) m_queue->push(this);
}

void AppTimer::start() {
  RC_TRACE(DM_AC, DF_MINOR, "starting timer [0x%x] ...\n", addr(this));
  updateTimes();
  m_running = true;
  syncQueue();
}

void AppTimer::stop() { stopAt(Timeval::monotonicNow()); }

void AppTimer::stopAt(const Timeval& now) {
  RC_TRACE(DM_AC, DF_MINOR, "stopping timer ...\n");
  m_running = false;
  m_working = false;
  // Clears the record in place: a loop that already collected it will not call it.
  if (!m_timerFdSet.isEmpty()) m_timerFdSet.clear();
  m_lastTimerProcessingEnd = now;
  syncQueue();
}

void AppTimer::setTimerValue(const Timeval& timerValue, bool startTimer) {
  RC_TRACE(DM_AC, DF_MINOR, "setting timer [0x%x] value to %d, %d\n", addr(this), secs(timerValue),
           usecs(timerValue));
  m_timerValue = timerValue;
  if (m_running) stop();
  if (startTimer) start();
}

void AppTimer::workStarted() {
  m_working = true;
  RC_TRACE(DM_AC, DF_MINOR, "work started for timer [0x%x]\n", addr(this));
  syncQueue();
}

void AppTimer::workDone() {
  m_working = false;
  const Timeval now = Timeval::monotonicNow();
  m_lastTimerProcessingEnd = now;
  if (!(now > m_expireTime)) {
    RC_TRACE(DM_AC, DF_MINOR, "workDone called [0x%x], but expire time has not been reached\n",
             addr(this));
  } else if (m_running && m_timerType == INTERVAL) {
    RC_TRACE(DM_AC, DF_MINOR, "workDone [0x%x]: exceeded timer interval, starting again now\n",
             addr(this));
    start();
  }
  syncQueue();
}

void AppTimer::updateTimes() {
  const Timeval now = Timeval::monotonicNow();
  m_startTime = m_running && now > m_expireTime ? m_expireTime : now;
  m_expireTime = m_startTime + m_timerValue;
  if (m_expireTime < now) m_expireTime = now;
  if (RC_TRACE_ON(DM_AC, DF_MINOR_DATA)) {
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
  // Only the earliest timer of the application gives the loop a timeout; the others are handled
  // when it fires.
  if (!isArmed()) return m_running ? emptyFdSet() : m_timerFdSet;
  if (m_queue->first() != this) return emptyFdSet();
  updateFdSet();
  return m_timerFdSet;
}

void AppTimer::updateFdSet() {
  const Timeval now = Timeval::monotonicNow();
  const Timeval timeout = now < m_expireTime ? m_expireTime - now : Timeval::ZERO_TIMEVAL;
  m_timerFdSet.set(timeout, this, eventCCb, nullptr);
  RC_TRACE(DM_AC, DF_MINOR,
           "set timer [0x%x] timeout to '%d, %d' from expire = '%d, %d' - now = '%d, %d'\n",
           addr(this), secs(timeout), usecs(timeout), secs(m_expireTime), usecs(m_expireTime),
           secs(now), usecs(now));
}

void AppTimer::eventCCb(void* cbObj, rc::FdSet::CbType /*cbType*/, int /*fd*/, void* /*userData*/) {
  static_cast<AppTimer*>(cbObj)->m_queue->fireDue();
}

bool AppTimer::timerExpired() { return expiredAt(Timeval::monotonicNow()); }

bool AppTimer::expiredAt(const Timeval& now) {
  if (m_cbObj == nullptr || m_cbRtn == nullptr) return false;
  ++m_firedCount;
  m_lastTimerProcessingStart = now;
  const bool result = m_cbRtn(m_cbObj, this);
  return m_timerType == INTERVAL ? result : false;
}

void AppTimer::eventCb(rc::FdSet::CbType /*cbType*/, int /*fd*/, void* /*userData*/) {
  fireAt(Timeval::monotonicNow());
}

void AppTimer::fireAt(const Timeval& firedAt) {
  if (RC_TRACE_ON(DM_AC, DF_MINOR)) {
    rc::Dbg::instance()->print(DM_AC, DF_MINOR, "timer [0x%x] expired, time = %d, %d\n", addr(this),
                               secs(firedAt), usecs(firedAt));
  }
  if (m_timerType == COUNTDOWN) {
    stopAt(firedAt);
    expiredAt(firedAt);  // may release the timer: nothing touches it afterwards
    return;
  }

  addReference();
  m_working = expiredAt(firedAt);
  if (removeReference() < 1) {
    delete this;
    return;
  }
  if (m_running && !m_working) {
    RC_TRACE(DM_AC, DF_MINOR, "work for timer [0x%x] completed synchronously\n", addr(this));
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

}  // namespace ac
