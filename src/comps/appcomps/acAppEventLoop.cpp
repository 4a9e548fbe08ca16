// ac::App's event loop: registration of descriptor sets and providers, and the base run().
#include "comps/appcomps/acApp.h"

namespace ac {

namespace {
// Bounds the message polling of one iteration so that descriptors and timers are never starved.
constexpr int kMaxCheckForMsgCalls = 5;
}  // namespace

void App::addToEventLoop(const rc::FdSet& fdSet) { m_staticFdSet += fdSet; }

void App::removeFromEventLoop(const rc::FdSet& fdSet) { m_staticFdSet -= fdSet; }

void App::addToEventLoop(void* cbObj, FdSetInfo::CbRtn cbRtn) {
  if (m_fdSetInfoVec == nullptr) m_fdSetInfoVec = new FdSetInfoVec(16);
  m_fdSetInfoVec->append(new FdSetInfo(cbObj, cbRtn));
}

void App::removeFromEventLoop(void* cbObj) {
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
  rc::FdSet fdSet;
  m_abortRunLoop = false;
  do {
    bool hasMoreMsgs = false;
    // Re-read every call: the routine may remove itself.
    for (int i = 0;
         i < kMaxCheckForMsgCalls && m_checkForMsgObj != nullptr && m_checkForMsgRtn != nullptr;
         ++i) {
      hasMoreMsgs = m_checkForMsgRtn(m_checkForMsgObj);
      if (!hasMoreMsgs) break;
    }
    if (m_staticFdSet.isEmpty()) {
      fdSet.clear();
    } else {
      fdSet = m_staticFdSet;
    }
    if (m_fdSetInfoVec != nullptr) m_fdSetInfoVec->updateDynamicFdSet(&fdSet);
    fdSet.doSelect(!hasMoreMsgs);
  } while (!m_abortRunLoop);
}

}  // namespace ac
