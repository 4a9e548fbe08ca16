// One-shot (COUNTDOWN) and periodic (INTERVAL) timers that run inside an application's event
// loop. A timer registers itself with its application's loop as a descriptor-set provider when
// it is built and unregisters when it is destroyed; it must therefore be released before its
// application. Reference counted: the creator holds the first reference, and the holder that
// sees the count drop below 1 deletes the timer; a callback may release the last reference of
// its own timer.
//
// Expiries are measured on the monotonic clock (rc::Timeval::monotonicNow), so setting the wall
// clock neither silences timers nor fires them in a burst; every time field below is on that
// clock. A periodic timer keeps its phase: the next period starts at the previous expiry, and a
// timer that fell behind by more than a period fires once and restarts its phase from then. The
// callback's result tells whether it started asynchronous work: the timer then stays quiet until
// workDone().
//
// Each application keeps its armed timers in its own queue (AppTimerQueue), earliest expiry first
// and, at equal expiries, in arming order. The loop asks only the earliest timer for its set; every
// other timer hands it an empty set, and when the earliest fires every timer of the application
// due by then fires in the same iteration, in queue order. Single-threaded; not for signal
// handlers.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memStlAlloc.h"
#include "comps/recomps/rcFdSet.h"
#include "comps/recomps/rcRefCnt.h"
#include "comps/recomps/rcTimeval.h"

namespace ac {

class App;
class AppTimer;

// The timers of one application, owned by its loop: every registered timer is a member, and the
// armed ones (running without work in progress) sit in a binary heap ordered by expiry and then by
// arming order, so that arming, disarming and finding the earliest cost O(log n) at most and no
// allocation once the heap has grown. Members are not owned; they leave when destroyed.
class AppTimerQueue {
 public:
  AppTimerQueue() = default;
  AppTimerQueue(const AppTimerQueue&) = delete;
  AppTimerQueue& operator=(const AppTimerQueue&) = delete;

  void addMember(AppTimer* timer) { m_members.insert(timer); }
  // False when cbObj is not a member.
  bool removeMember(const void* cbObj) { return m_members.erase(cbObj) != 0; }
  size_t numMembers() const { return m_members.size(); }
  size_t numArmed() const { return m_heap.size(); }
  AppTimer* first() const { return m_heap.empty() ? nullptr : m_heap.front().timer; }
  // Calls fn(const AppTimer&) for every armed timer, in no particular order.
  template <class Fn>
  void forEachArmed(Fn fn) const {
    for (const Entry& entry : m_heap) fn(static_cast<const AppTimer&>(*entry.timer));
  }

  // The set the loop merges: the earliest timer's, or an empty one.
  const rc::FdSet& fdSet();
  // Fires every armed timer due by now, in queue order.
  void fireDue();

 private:
  friend class AppTimer;
  void push(AppTimer* timer);
  void erase(AppTimer* timer);
  // A heap entry carries its key, so that ordering never touches the timers themselves.
  struct Entry {
    rc::Timeval expire;
    uint64_t armOrder;
    AppTimer* timer;
    bool operator<(const Entry& rhs) const {
      return expire < rhs.expire || (expire == rhs.expire && armOrder < rhs.armOrder);
    }
  };
  void place(size_t pos, const Entry& entry);
  // Takes every entry due by now out of the heap, in queue order.
  void takeDue(const rc::Timeval& now, std::vector<Entry, mem::stlAlloc<Entry>>* due);
  void siftUp(size_t pos);
  void siftDown(size_t pos);

  std::unordered_set<const void*, std::hash<const void*>, std::equal_to<const void*>,
                     mem::stlAlloc<const void*>>
      m_members;
  std::vector<Entry, mem::stlAlloc<Entry>> m_heap;
  std::vector<Entry, mem::stlAlloc<Entry>> m_due;
  std::vector<size_t, mem::stlAlloc<size_t>> m_todo;
  uint64_t m_armCount = 0;
};

class AppTimer : public rc::RefCnt, public mem::newDelete<mt_anonymous> {
 public:
  enum TimerType { INTERVAL = 0, COUNTDOWN = 1 };
  // Returns true when it started work that will report workDone() (INTERVAL timers only).
  typedef bool (*CbRtn)(void* cbObj, AppTimer* timer);

  AppTimer(App* app, TimerType timerType, void* cbObj, CbRtn cbRtn, const rc::Timeval& timerValue,
           std::string name);
  ~AppTimer() override;
  AppTimer(const AppTimer&) = delete;
  AppTimer& operator=(const AppTimer&) = delete;

  void start();
  void stop();
  // Stores the value; a running timer is stopped, and started again when startTimer.
  void setTimerValue(const rc::Timeval& timerValue, bool startTimer);
  void workStarted();
  // Ends the pause of an INTERVAL timer: it fires at its expiry, or at once when that has passed.
  void workDone();

  // How a timer joins its application's loop (App::addToEventLoop with getFdSetCCb; the result
  // is the application's timer queue) and leaves it (App::removeFromEventLoop). The application
  // installs them, so that timers need not know the application class.
  typedef AppTimerQueue* (*JoinLoopRtn)(App* app, AppTimer* timer);
  typedef void (*LeaveLoopRtn)(App* app, AppTimer* timer);
  static void setLoopRtns(JoinLoopRtn join, LeaveLoopRtn leave);

  // Loop entry points.
  static const rc::FdSet& getFdSetCCb(void* cbObj);
  static void eventCCb(void* cbObj, rc::FdSet::CbType cbType, int fd, void* userData);
  const rc::FdSet& getFdSetCb();
  void eventCb(rc::FdSet::CbType cbType, int fd, void* userData);

  // Runs the callback; its result for INTERVAL timers, false otherwise.
  bool timerExpired();
  // Starts the next period: at the previous expiry while running and past it, else now.
  void updateTimes();
  // m_timerFdSet := the time left until the expiry (zero when due).
  void updateFdSet();

  TimerType timerType() const { return m_timerType; }
  const rc::Timeval& timerValue() const { return m_timerValue; }
  const rc::Timeval& startTime() const { return m_startTime; }
  const rc::Timeval& expireTime() const { return m_expireTime; }
  bool isRunning() const { return m_running; }
  bool isWorking() const { return m_working; }
  const std::string& name() const { return m_name; }
  uint64_t firedCount() const { return m_firedCount; }
  const rc::FdSet& timerFdSet() const { return m_timerFdSet; }

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

 private:
  friend class AppTimerQueue;
  enum : size_t { NOT_QUEUED = ~size_t(0) };
  static JoinLoopRtn s_joinLoop;
  static LeaveLoopRtn s_leaveLoop;
  // What a timer that is not its application's earliest hands the loop.
  static const rc::FdSet& emptyFdSet();
  // Puts the timer in its queue at its expiry while it runs without work in progress, takes it
  // out otherwise.
  void syncQueue();
  bool isArmed() const { return m_running && !m_working; }
  bool isQueued() const { return m_queuePos != NOT_QUEUED; }
  // stop() and timerExpired() at a time already read: a countdown's end reads the clock once.
  void stopAt(const rc::Timeval& now);
  bool expiredAt(const rc::Timeval& now);
  // eventCb for an expiry processed at firedAt.
  void fireAt(const rc::Timeval& firedAt);

  App* m_app;
  void* m_cbObj;
  CbRtn m_cbRtn;
  TimerType m_timerType;
  rc::Timeval m_timerValue;
  rc::Timeval m_startTime;
  rc::Timeval m_expireTime;
  bool m_running;
  bool m_working;
  rc::FdSet m_timerFdSet;
  std::string m_name;
  rc::Timeval m_createTime;
  rc::Timeval m_lastTimerProcessingStart;
  rc::Timeval m_lastTimerProcessingEnd;
  uint64_t m_firedCount;
  AppTimerQueue* m_queue;
  size_t m_queuePos;
};

}  // namespace ac
