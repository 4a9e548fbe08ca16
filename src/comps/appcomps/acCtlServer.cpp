#include "comps/appcomps/acCtlServer.h"

#include <sys/resource.h>
#include <sys/select.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcStrDb.h"

namespace ac {

namespace {

constexpr const char* kRoutine = "appcomps/CtlServer";

std::string seconds(const rc::Timeval& t) {
  char text[32];
  snprintf(text, sizeof text, "%g", t.asDouble());
  return text;
}

}  // namespace

CtlServer::CtlServer(App* app, void* msgObj, IpcMsgSinkRtn msgRtn)
    : m_app(app),
      m_msgObj(msgObj),
      m_msgRtn(msgRtn),
      m_idleTimer(app->newTimer(AppTimer::COUNTDOWN, this, idleCCb, m_idleTimeout, false,
                                "control channel idle")),
      m_acceptTimer(app->newTimer(AppTimer::COUNTDOWN, this, acceptCCb, ACCEPT_PAUSE, false,
                                  "control channel accept pause")),
      m_reportTimer(app->newTimer(AppTimer::COUNTDOWN, this, reportCCb, REPORT_WINDOW, false,
                                  "control channel reports")),
      m_followers(app, &m_buffered, &m_budget) {
  m_app->addToEventLoop(this, fdSetCCb);
}

CtlServer::~CtlServer() {
  m_app->removeFromEventLoop(this);
  while (!m_conns.empty()) drop(m_conns.begin()->first, nullptr);
  reportSuppressed(true);
  for (AppTimer* timer : {m_idleTimer, m_acceptTimer, m_reportTimer}) rc::RefCnt_release(timer);
}

size_t CtlServer::defaultMaxConns() {
  size_t limit = FD_SETSIZE;
  rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < limit) limit = rl.rlim_cur;
  const size_t reserve = std::max<size_t>(MIN_RESERVED_FDS, limit / 4);
  return limit > reserve ? std::min<size_t>(MAX_CONNS, limit - reserve) : 1;
}

void CtlServer::listen(const std::string& path) {
  RC_ASSERT(m_listener == nullptr);
  m_listener = std::make_unique<IpcListener>(path);
  m_fdSet.add(rc::FdSet::FDT_READ, m_listener->fd(), this, listenCCb, nullptr);
  // Reading a range's texts loads the whole range, while descriptors are still to be had.
  rc::StrDb::instance()->lookupString(AC_SC_ACCEPT_FAILED);
}

const std::string& CtlServer::path() const {
  static const std::string kNone;
  return m_listener != nullptr ? m_listener->path() : kNone;
}

IpcStrmConn* CtlServer::connectTo(const std::string& path) {
  IpcStrmConn* conn = new IpcOutgoingConn(path);
  add(conn, false);
  return conn;
}

IpcStrmConn* CtlServer::outgoing() const {
  for (const auto& [fd, slot] : m_conns) {
    if (!slot.accepted) return slot.conn;
  }
  return nullptr;
}

void CtlServer::add(IpcStrmConn* conn, bool accepted) {
  std::unique_ptr<IpcStrmConn> owned(conn);
  // Raises for a descriptor beyond a select mask, which cannot be served.
  m_fdSet.add(rc::FdSet::FDT_READ, conn->fd(), this, readCCb, nullptr);
  conn->setPendingWatcher(this, pendingCCb);
  m_conns[conn->fd()] = {owned.release(), 0, accepted};
  if (accepted) ++m_numAccepted;
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
  // A follower that has just handed over its lines may go idle again.
  if (!conn->hasPendingOutput() && !self->m_idleTimer->isRunning()) self->armIdleTimer();
}

void CtlServer::setIdleTimeout(const rc::Timeval& timeout) {
  m_idleTimeout = timeout;
  m_followers.setIdleTimeout(timeout);
  armIdleTimer();
}

void CtlServer::armIdleTimer() {
  rc::Timeval deadline = rc::Timeval::NO_TIMEVAL;
  for (const auto& [fd, slot] : m_conns)
    deadline = std::min(deadline, slot.conn->idleDeadline(m_idleTimeout));
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
  const std::string secs = seconds(m_idleTimeout);
  for (auto it = m_conns.begin(); it != m_conns.end();) {
    const int fd = it->first;
    const rc::Timeval deadline = it->second.conn->idleDeadline(m_idleTimeout);
    ++it;  // drop() erases the current entry
    if (deadline == rc::Timeval::NO_TIMEVAL || deadline > now) continue;
    const rc::Err err(RC_ERROR, AC_SC_CTL_IDLE_TIMEOUT, rc::VarArgs() << fd << secs,
                      "appcomps/CtlServer::dropIdle");
    drop(fd, &err);
  }
  armIdleTimer();
}

const rc::FdSet& CtlServer::fdSetCCb(void* cbObj) {
  auto* self = static_cast<CtlServer*>(cbObj);
  // Asked before every wait: the lines written since the last one go out now.
  self->m_followers.flush();
  return self->m_fdSet;
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
  IpcListener::Accepted got = m_listener->accept();
  if (got.error != 0) {
    pauseAccepting(got.error);
    return;
  }
  m_acceptFailing = false;
  if (got.refused) {
    report(got.peer, rc::Err(RC_ERROR, AC_SC_CTL_PEER_REFUSED,
                             rc::VarArgs() << static_cast<int>(got.peer.uid),
                             "appcomps/IpcListener::accept"));
    return;
  }
  if (!got.fd.isOpen()) return;
  const int fd = got.fd.get();
  auto conn =
      std::make_unique<IpcAcceptedConn>(got.fd.release(), got.peer, rc::Timeval::monotonicNow());
  if (m_numAccepted >= m_maxConns) {
    // Told, so that it does not wait for an answer or take the close for a failure of its own.
    const rc::Err busy(RC_ERROR, AC_SC_CONNECTION_LIMIT_EXCEEDED,
                       rc::VarArgs() << static_cast<int>(m_maxConns), "appcomps/CtlServer::accept");
    conn->sayGoodbye(busy);
    report(got.peer, busy);
    return;
  }
  try {
    add(conn.release(), true);
  } catch (const rc::Err& err) {
    report(got.peer, err);
    return;
  }
  RC_TRACE(DM_IPC, DF_INIT, "control channel connection %d of %s accepted\n", fd,
           m_conns[fd].conn->peer().c_str());
}

void CtlServer::pauseAccepting(int error) {
  // Retrying at once would find the same shortage: the program would spin and flood its log.
  m_fdSet.remove(rc::FdSet::FDT_READ, m_listener->fd());
  m_acceptTimer->setTimerValue(ACCEPT_PAUSE, true);
  if (m_acceptFailing) return;
  m_acceptFailing = true;
  rc::Out::instance()->print(
      rc::Err::fromErrno(AC_SC_ACCEPT_FAILED, rc::VarArgs() << m_listener->fd(), error,
                         "appcomps/CtlServer::accept"),
      true);
}

bool CtlServer::acceptCCb(void* cbObj, AppTimer* /*timer*/) {
  auto* self = static_cast<CtlServer*>(cbObj);
  self->m_fdSet.add(rc::FdSet::FDT_READ, self->m_listener->fd(), self, listenCCb, nullptr);
  return false;
}

void CtlServer::serve(int fd, bool writable) {
  const auto it = m_conns.find(fd);
  if (it == m_conns.end()) return;
  IpcStrmConn* conn = it->second.conn;
  // A wake-up brings bytes, an end of stream or room for our replies: the peer is alive.
  conn->touch(rc::Timeval::monotonicNow());
  bool open;
  try {
    open = writable ? (conn->flush(), true) : conn->receive(m_msgObj, m_msgRtn);
  } catch (const rc::Err& err) {
    // The connection may already be gone when a handler closed it.
    const auto again = m_conns.find(fd);
    if (again == m_conns.end() || again->second.conn != conn) return;
    // A follower leaves by closing, often with lines still on their way to it: no error of its
    // client to report.
    const bool left = writable || err.code2() == rc::Err::errnoCode(ECONNRESET);
    drop(fd, left && conn->isFollower() ? nullptr : &err);
    return;
  }
  const auto again = m_conns.find(fd);
  if (again == m_conns.end() || again->second.conn != conn) return;
  if (!open) {
    drop(fd, nullptr);
  } else if (!recharge(&again->second) && again->second.accepted && !conn->isFollower()) {
    const rc::Err err(RC_ERROR, AC_SC_CTL_BUDGET_EXCEEDED,
                      rc::VarArgs() << fd << static_cast<long long>(again->second.charged)
                                    << static_cast<long long>(m_budget),
                      "appcomps/CtlServer::serve");
    drop(fd, &err, true);
  }
}

bool CtlServer::recharge(Slot* slot) {
  const size_t bytes = slot->conn->footprint();
  m_buffered = m_buffered - slot->charged + bytes;
  slot->charged = bytes;
  return m_buffered <= m_budget;
}

void CtlServer::drop(int fd, const rc::Err* err, bool goodbye) {
  const auto it = m_conns.find(fd);
  if (it == m_conns.end()) return;
  IpcStrmConn* conn = it->second.conn;
  if (err != nullptr) {
    if (goodbye) conn->sayGoodbye(*err);
    report(conn->peerProcess(), *err);
  }
  if (conn->isFollower()) m_followers.remove(conn);
  RC_TRACE(DM_IPC, DF_INIT, "connection %d to %s closed\n", fd, conn->peer().c_str());
  // A readiness of fd the loop collected already finds no connection in serve().
  m_fdSet.remove(rc::FdSet::FDT_READ, fd);
  m_fdSet.remove(rc::FdSet::FDT_WRITE, fd);
  m_buffered -= it->second.charged;
  if (it->second.accepted) --m_numAccepted;
  m_conns.erase(it);
  delete conn;
}

void CtlServer::report(const IpcPeer& peer, const rc::Err& err) {
  const rc::Timeval now = rc::Timeval::monotonicNow();
  Reports& reports = m_reports[err.code()];
  if (!(now < reports.windowEnd)) {
    if (reports.suppressed > 0) reportSuppressed();
    reports = {now + REPORT_WINDOW, 0, 0};
  }
  if (reports.printed == REPORTS_PER_KIND) {
    if (reports.suppressed++ == 0 && !m_reportTimer->isRunning())
      m_reportTimer->setTimerValue(reports.windowEnd - now, true);
    return;
  }
  ++reports.printed;
  const auto flags =
      static_cast<rc::Err::FmtFlags>(rc::Err::FF_SHOW_CODES | rc::Err::FF_OMIT_SEVERITY);
  rc::Out::instance()->print(
      rc::Err(err.severity(), AC_SC_CTL_CLIENT_ERR,
              rc::VarArgs() << static_cast<int>(peer.pid) << static_cast<int>(peer.uid)
                            << rc::Err::format(err, flags),
              kRoutine),
      true);
}

bool CtlServer::reportCCb(void* cbObj, AppTimer* /*timer*/) {
  static_cast<CtlServer*>(cbObj)->reportSuppressed();
  return false;
}

void CtlServer::reportSuppressed(bool all) {
  const rc::Timeval now = rc::Timeval::monotonicNow();
  rc::Timeval next = rc::Timeval::NO_TIMEVAL;
  for (auto& [code, reports] : m_reports) {
    if (reports.suppressed == 0) continue;
    if (reports.windowEnd > now && !all) {
      next = std::min(next, reports.windowEnd);
      continue;
    }
    char codeText[16];
    snprintf(codeText, sizeof codeText, "%05d", code);
    rc::Out::instance()->print(
        rc::Err(RC_WARNING, AC_SC_CTL_ERRS_SUPPRESSED,
                rc::VarArgs() << reports.suppressed << codeText << seconds(REPORT_WINDOW),
                kRoutine),
        true);
    reports.suppressed = 0;
  }
  if (next == rc::Timeval::NO_TIMEVAL) {
    m_reportTimer->stop();
  } else {
    m_reportTimer->setTimerValue(next - now, true);
  }
}

}  // namespace ac
