#include "comps/appcomps/acCtlServer.h"

#include <algorithm>
#include <cstdio>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcOut.h"

namespace ac {

CtlServer::CtlServer(App* app, void* msgObj, IpcMsgSinkRtn msgRtn)
    : m_app(app),
      m_msgObj(msgObj),
      m_msgRtn(msgRtn),
      m_idleTimer(app->newTimer(AppTimer::COUNTDOWN, this, idleCCb, m_idleTimeout, false,
                                "control channel idle")) {
  m_app->addToEventLoop(this, fdSetCCb);
}

CtlServer::~CtlServer() {
  m_app->removeFromEventLoop(this);
  while (!m_conns.empty()) drop(m_conns.begin()->first, nullptr);
  rc::RefCnt_release(m_idleTimer);
}

void CtlServer::listen(const std::string& path) {
  RC_ASSERT(m_listener == nullptr);
  m_listener = std::make_unique<IpcListener>(path);
  m_fdSet.add(rc::FdSet::FDT_READ, m_listener->fd(), this, listenCCb, nullptr);
}

const std::string& CtlServer::path() const {
  static const std::string kNone;
  return m_listener != nullptr ? m_listener->path() : kNone;
}

IpcStrmConn* CtlServer::connectTo(const std::string& path) {
  IpcStrmConn* conn = new IpcOutgoingConn(path);
  add(conn);
  return conn;
}

IpcStrmConn* CtlServer::outgoing() const {
  for (const auto& [fd, conn] : m_conns) {
    if (dynamic_cast<IpcOutgoingConn*>(conn) != nullptr) return conn;
  }
  return nullptr;
}

void CtlServer::add(IpcStrmConn* conn) {
  std::unique_ptr<IpcStrmConn> owned(conn);
  // Raises for a descriptor beyond a select mask, which cannot be served.
  m_fdSet.add(rc::FdSet::FDT_READ, conn->fd(), this, readCCb, nullptr);
  conn->setPendingWatcher(this, pendingCCb);
  m_conns[conn->fd()] = owned.release();
  if (!m_idleTimer->isRunning()) armIdleTimer();
}

void CtlServer::watch(const IpcStrmConn* conn) {
  const int fd = conn->fd();
  if (conn->hasPendingOutput()) {
    m_fdSet.remove(rc::FdSet::FDT_READ, fd);
    m_fdSet.add(rc::FdSet::FDT_WRITE, fd, this, writeCCb, nullptr);
  } else {
    m_fdSet.remove(rc::FdSet::FDT_WRITE, fd);
    m_fdSet.add(rc::FdSet::FDT_READ, fd, this, readCCb, nullptr);
  }
}

void CtlServer::pendingCCb(void* cbObj, IpcStrmConn* conn) {
  auto* self = static_cast<CtlServer*>(cbObj);
  self->watch(conn);
  // A connection that has just handed over its replies may go idle again.
  if (!conn->hasPendingOutput() && !self->m_idleTimer->isRunning()) self->armIdleTimer();
}

void CtlServer::setIdleTimeout(const rc::Timeval& timeout) {
  m_idleTimeout = timeout;
  armIdleTimer();
}

void CtlServer::armIdleTimer() {
  rc::Timeval deadline = rc::Timeval::NO_TIMEVAL;
  for (const auto& [fd, conn] : m_conns)
    deadline = std::min(deadline, conn->idleDeadline(m_idleTimeout));
  if (deadline == rc::Timeval::NO_TIMEVAL) {
    m_idleTimer->stop();
    return;
  }
  const rc::Timeval now = rc::Timeval::monotonicNow();
  m_idleTimer->setTimerValue(deadline > now ? deadline - now : rc::Timeval::ZERO_TIMEVAL, true);
}

bool CtlServer::idleCCb(void* cbObj, AppTimer* /*timer*/) {
  static_cast<CtlServer*>(cbObj)->dropIdle();
  return false;
}

void CtlServer::dropIdle() {
  const rc::Timeval now = rc::Timeval::monotonicNow();
  char secs[32];
  snprintf(secs, sizeof secs, "%g", m_idleTimeout.asDouble());
  for (auto it = m_conns.begin(); it != m_conns.end();) {
    const int fd = it->first;
    const rc::Timeval deadline = it->second->idleDeadline(m_idleTimeout);
    ++it;  // drop() erases the current entry
    if (deadline == rc::Timeval::NO_TIMEVAL || deadline > now) continue;
    const rc::Err err(RC_ERROR, AC_SC_CTL_IDLE_TIMEOUT, rc::VarArgs() << fd << secs,
                      "appcomps/CtlServer::dropIdle");
    drop(fd, &err);
  }
  armIdleTimer();
}

const rc::FdSet& CtlServer::fdSetCCb(void* cbObj) {
  return static_cast<CtlServer*>(cbObj)->m_fdSet;
}

void CtlServer::listenCCb(void* cbObj, rc::FdSet::CbType cbType, int, void*) {
  if (cbType == rc::FdSet::CBT_FD_READY) static_cast<CtlServer*>(cbObj)->accept();
}

void CtlServer::readCCb(void* cbObj, rc::FdSet::CbType cbType, int fd, void*) {
  if (cbType == rc::FdSet::CBT_FD_READY) static_cast<CtlServer*>(cbObj)->serve(fd, false);
}

void CtlServer::writeCCb(void* cbObj, rc::FdSet::CbType cbType, int fd, void*) {
  if (cbType == rc::FdSet::CBT_FD_READY) static_cast<CtlServer*>(cbObj)->serve(fd, true);
}

void CtlServer::accept() {
  rc::Fd fd = m_listener->accept();
  if (!fd.isOpen()) return;
  const int num = fd.get();
  try {
    add(new IpcAcceptedConn(fd.release(), m_listener->path(), rc::Timeval::monotonicNow()));
  } catch (const rc::Err& err) {
    rc::Out::instance()->print(err, true);
    return;
  }
  RC_TRACE(DM_IPC, DF_INIT, "control channel connection %d accepted\n", num);
}

void CtlServer::serve(int fd, bool writable) {
  const auto it = m_conns.find(fd);
  if (it == m_conns.end()) return;
  IpcStrmConn* conn = it->second;
  // A wake-up brings bytes, an end of stream or room for our replies: the peer is alive.
  conn->touch(rc::Timeval::monotonicNow());
  try {
    const bool open = writable ? (conn->flush(), true) : conn->receive(m_msgObj, m_msgRtn);
    if (!open) drop(fd, nullptr);
  } catch (const rc::Err& err) {
    // The connection may already be gone when a handler closed it.
    const auto again = m_conns.find(fd);
    if (again != m_conns.end() && again->second == conn) drop(fd, &err);
  }
}

void CtlServer::drop(int fd, const rc::Err* err) {
  const auto it = m_conns.find(fd);
  if (it == m_conns.end()) return;
  if (err != nullptr) rc::Out::instance()->print(*err, true);
  RC_TRACE(DM_IPC, DF_INIT, "connection %d to %s closed\n", fd, it->second->peer().c_str());
  // A readiness of fd the loop collected already finds no connection in serve().
  m_fdSet.remove(rc::FdSet::FDT_READ, fd);
  m_fdSet.remove(rc::FdSet::FDT_WRITE, fd);
  delete it->second;
  m_conns.erase(it);
}

}  // namespace ac
