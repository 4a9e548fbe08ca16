#include "comps/appcomps/acCtlServer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acCtlChannel.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcOut.h"

namespace ac {

CtlServer::CtlServer(App* app) : m_app(app) { m_app->addToEventLoop(this, fdSetCCb); }

CtlServer::~CtlServer() {
  m_app->removeFromEventLoop(this);
  while (!m_conns.empty()) drop(m_conns.begin()->first, nullptr);
  if (m_listenFd >= 0) {
    close(m_listenFd);
    unlink(m_path.c_str());
  }
}

void CtlServer::listen(const std::string& path) {
  RC_ASSERT(m_listenFd < 0);
  m_listenFd = CtlChannel::listenAt(path);
  m_path = path;
}

IpcStrmConn* CtlServer::connectTo(const std::string& path) {
  const int fd = CtlChannel::connectTo(path);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  add(fd, path, true);
  return m_conns[fd].conn;
}

IpcStrmConn* CtlServer::outgoing() const {
  for (const auto& [fd, rec] : m_conns) {
    if (rec.outgoing) return rec.conn;
  }
  return nullptr;
}

void CtlServer::add(int fd, const std::string& peer, bool outgoing) {
  // Descriptors beyond a select mask cannot be served.
  if (fd >= rc::FdBitSet::MAX_FD_SET_FDS) {
    close(fd);
    rc::Err_Throw(rc::Err(RC_ERROR, RC_SC_VAL_OUT_OF_RANGE,
                          rc::VarArgs() << fd << 0 << rc::FdBitSet::MAX_FD_SET_FDS - 1,
                          "appcomps/CtlServer::add"));
  }
  m_conns[fd] = ConnRec{new IpcStrmConn(fd, peer), outgoing, rc::Timeval::monotonicNow()};
}

rc::Timeval CtlServer::idleDeadline(const ConnRec& rec) const {
  if (rec.outgoing || rec.conn->hasPendingOutput() ||
      !(m_idleTimeout > rc::Timeval::ZERO_TIMEVAL) || m_idleTimeout >= rc::Timeval::NO_TIMEVAL) {
    return rc::Timeval::NO_TIMEVAL;
  }
  return rec.lastActive + m_idleTimeout;
}

void CtlServer::dropIdle() {
  const rc::Timeval now = rc::Timeval::monotonicNow();
  char secs[32];
  snprintf(secs, sizeof secs, "%g", m_idleTimeout.asDouble());
  for (auto it = m_conns.begin(); it != m_conns.end();) {
    const int fd = it->first;
    const rc::Timeval deadline = idleDeadline(it->second);
    ++it;  // drop() erases the current entry
    if (deadline == rc::Timeval::NO_TIMEVAL || deadline > now) continue;
    const rc::Err err(RC_ERROR, AC_SC_CTL_IDLE_TIMEOUT, rc::VarArgs() << fd << secs,
                      "appcomps/CtlServer::dropIdle");
    drop(fd, &err);
  }
}

const rc::FdSet& CtlServer::fdSetCCb(void* cbObj) {
  CtlServer* self = static_cast<CtlServer*>(cbObj);
  rc::FdSet& set = self->m_fdSet;
  rc::Timeval deadline = rc::Timeval::NO_TIMEVAL;
  for (const auto& [fd, rec] : self->m_conns)
    deadline = std::min(deadline, self->idleDeadline(rec));
  if (deadline == rc::Timeval::NO_TIMEVAL) {
    set.clear();
  } else {
    const rc::Timeval now = rc::Timeval::monotonicNow();
    set.set(deadline > now ? deadline - now : rc::Timeval::ZERO_TIMEVAL, self, fdCCb, nullptr);
  }
  if (self->m_listenFd >= 0) set.add(rc::FdSet::FDT_READ, self->m_listenFd, self, fdCCb, nullptr);
  for (const auto& [fd, rec] : self->m_conns) {
    // A peer that does not take its replies is not read from until it does.
    if (rec.conn->hasPendingOutput()) {
      set.add(rc::FdSet::FDT_WRITE, fd, self, fdCCb, reinterpret_cast<void*>(1));
    } else {
      set.add(rc::FdSet::FDT_READ, fd, self, fdCCb, nullptr);
    }
  }
  return set;
}

void CtlServer::fdCCb(void* cbObj, rc::FdSet::CbType cbType, int fd, void* userData) {
  CtlServer* self = static_cast<CtlServer*>(cbObj);
  if (cbType == rc::FdSet::CBT_TIMEOUT) {
    self->dropIdle();
    return;
  }
  if (cbType != rc::FdSet::CBT_FD_READY) return;
  if (fd == self->m_listenFd) {
    self->accept();
  } else {
    self->serve(fd, userData != nullptr ? rc::FdSet::FDT_WRITE : rc::FdSet::FDT_READ);
  }
}

void CtlServer::accept() {
  const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    // Another wake-up took it, or the peer gave up before we came to it.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) return;
    rc::Out::instance()->print(rc::Err::fromErrno(AC_SC_ACCEPT_FAILED, rc::VarArgs() << m_listenFd,
                                                  errno, "appcomps/CtlServer::accept"),
                               true);
    return;
  }
  uid_t uid = 0;
  if (!CtlChannel::peerAllowed(fd, &uid)) {
    close(fd);
    rc::Out::instance()->print(
        rc::Err(RC_ERROR, AC_SC_CTL_PEER_REFUSED, rc::VarArgs() << static_cast<int>(uid),
                "appcomps/CtlServer::accept"),
        true);
    return;
  }
  try {
    add(fd, m_path, false);
  } catch (const rc::Err& err) {
    rc::Out::instance()->print(err, true);
    return;
  }
  if (rc::Dbg::s_anyOn) {
    rc::Dbg::instance()->print(DM_IPC, DF_INIT, "control channel connection %d accepted\n", fd);
  }
}

void CtlServer::serve(int fd, rc::FdSet::FdType fdType) {
  const auto it = m_conns.find(fd);
  if (it == m_conns.end()) return;
  IpcStrmConn* conn = it->second.conn;
  // A wake-up brings bytes, an end of stream or room for our replies: the peer is alive.
  it->second.lastActive = rc::Timeval::monotonicNow();
  try {
    const bool open = fdType == rc::FdSet::FDT_WRITE ? (conn->flush(), true) : conn->receive(m_app);
    if (!open) drop(fd, nullptr);
  } catch (const rc::Err& err) {
    // The connection may already be gone when a handler closed it.
    if (m_conns.count(fd) != 0 && m_conns[fd].conn == conn) drop(fd, &err);
  }
}

void CtlServer::drop(int fd, const rc::Err* err) {
  const auto it = m_conns.find(fd);
  if (it == m_conns.end()) return;
  if (err != nullptr) rc::Out::instance()->print(*err, true);
  if (rc::Dbg::s_anyOn) {
    rc::Dbg::instance()->print(DM_IPC, DF_INIT, "connection %d to %s closed\n", fd,
                               it->second.conn->peer().c_str());
  }
  delete it->second.conn;
  m_conns.erase(it);
}

}  // namespace ac
