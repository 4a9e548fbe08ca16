// ac::App's event loop: registration of descriptor sets and providers, and the base run().
#include <algorithm>

#include "comps/appcomps/acApp.h"

namespace ac {

namespace {
// Bounds the message polling of one iteration so that descriptors and timers are never starved.
constexpr int kMaxCheckForMsgCalls = 5;

// Takes the descriptors of fdSet out of the iteration being dispatched, so that their callbacks
// are not reached after their owner let go of them.
void stripDispatched(rc::FdSet* dispatchSet, const rc::FdSet& fdSet) {
  if (dispatchSet == nullptr || dispatchSet == &fdSet) return;
  const int count = std::min<int>(fdSet.numFds(), rc::FdBitSet::MAX_FD_SET_FDS);
  for (int fd = 0; fd < count; ++fd) {
    if (fdSet.readFds().isSet(fd)) dispatchSet->remove(rc::FdSet::FDT_READ, fd);
    if (fdSet.writeFds().isSet(fd)) dispatchSet->remove(rc::FdSet::FDT_WRITE, fd);
  }
}

AppTimerQueue* joinLoop(App* app, AppTimer* timer) {
  app->addToEventLoop(timer, AppTimer::getFdSetCCb);
  return &app->timerQueue();
}

void leaveLoop(App* app, AppTimer* timer) { app->removeFromEventLoop(timer); }

// Linked with every application (run() is in this file), before any timer can exist.
[[maybe_unused]] const bool s_timerLoopRtnsSet = (AppTimer::setLoopRtns(joinLoop, leaveLoop), true);

}  // namespace

AppTimer* App::newTimer(AppTimer::TimerType timerType, void* cbObj, AppTimer::CbRtn cbRtn,
                        const rc::Timeval& timerValue, bool startTimer, std::string name) {
  auto* timer = new AppTimer(this, timerType, cbObj, cbRtn, timerValue, std::move(name));
  if (startTimer) timer->start();
  return timer;
}

void App::addToEventLoop(const rc::FdSet& fdSet) { m_staticFdSet += fdSet; }

void App::removeFromEventLoop(const rc::FdSet& fdSet) {
  m_staticFdSet -= fdSet;
  stripDispatched(m_dispatchSet, fdSet);
}

void App::addToEventLoop(void* cbObj, FdSetInfo::CbRtn cbRtn) {
  if (cbRtn == AppTimer::getFdSetCCb) {
    m_timerQueue.addMember(static_cast<AppTimer*>(cbObj));
    return;
  }
  if (m_fdSetInfoVec == nullptr) m_fdSetInfoVec = new FdSetInfoVec(16);
  m_fdSetInfoVec->append(new FdSetInfo(cbObj, cbRtn));
}

void App::removeFromEventLoop(void* cbObj) {
  if (m_timerQueue.removeMember(cbObj)) return;
  // Without any provider ever registered the object is simply not found.
  if (m_fdSetInfoVec == nullptr) m_fdSetInfoVec = new FdSetInfoVec(16);
  m_fdSetInfoVec->remove(FdSetInfo(cbObj, nullptr));
}

void App::addCheckForMsgRtn(void* cbObj, bool (*cbRtn)(void*)) {
  m_checkForMsgObj = cbObj;
  m_checkForMsgRtn = cbRtn;
}

void App::removeCheckForMsgRtn() {
  m_checkForMsgObj = nullptr;
  m_checkForMsgRtn = nullptr;
}

void App::run() {
  // One set for every iteration: its buffers are reused.
  rc::FdSet fdSet;
  m_abortRunLoop = false;
  do {
    runOnce(&fdSet, true);
  } while (!m_abortRunLoop);
}

void App::runOnce(bool wait) {
  rc::FdSet fdSet;
  runOnce(&fdSet, wait);
}

void App::loopFdSet(rc::FdSet* fdSet) {
  if (m_staticFdSet.isEmpty()) {
    fdSet->clear();
  } else {
    *fdSet = m_staticFdSet;
  }
  if (m_fdSetInfoVec != nullptr) m_fdSetInfoVec->updateDynamicFdSet(fdSet);
  const rc::FdSet& timers = m_timerQueue.fdSet();
  if (!timers.isEmpty()) *fdSet += timers;
}

void App::runOnce(rc::FdSet* loopSet, bool wait) {
  bool hasMoreMsgs = false;
  // Re-read every call: the routine may remove itself.
  for (int i = 0;
       i < kMaxCheckForMsgCalls && m_checkForMsgObj != nullptr && m_checkForMsgRtn != nullptr;
       ++i) {
    hasMoreMsgs = m_checkForMsgRtn(m_checkForMsgObj);
    if (!hasMoreMsgs) break;
  }
  loopFdSet(loopSet);
  // Nested iterations (a callback running the loop) each dispatch their own set.
  rc::FdSet* const outer = m_dispatchSet;
  m_dispatchSet = loopSet;
  struct Restore {
    rc::FdSet** slot;
    rc::FdSet* value;
    ~Restore() { *slot = value; }
  } restore{&m_dispatchSet, outer};
  loopSet->doSelect(wait && !hasMoreMsgs);
}

}  // namespace ac
