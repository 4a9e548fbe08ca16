#include "comps/appcomps/acAppFollowers.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcOut.h"

namespace ac {

std::string AppFollowers::steps(const rc::DbgCtrls& ctrls, char sign) {
  String modules, flags;
  bool all = false;
  std::string text;
  if (const char* m = ctrls.getModuleFlags(&modules, &all)) text = std::string("m") + sign + m;
  if (const char* f = ctrls.getDebugFlags(&flags)) {
    text += (text.empty() ? "f" : " f") + std::string(1, sign) + f;
  }
  return text;
}

AppFollowers* AppFollowers::s_tapped = nullptr;

AppFollowers::AppFollowers(App* app, const size_t* othersBuffered, const size_t* budget)
    : m_othersBuffered(othersBuffered),
      m_budget(budget),
      m_keepAliveTimer(app->newTimer(AppTimer::INTERVAL, this, keepAliveCCb, m_keepAlive, false,
                                     "followers keep-alive")) {}

AppFollowers::~AppFollowers() {
  if (s_tapped == this) {
    rc::setLineTap(nullptr);
    s_tapped = nullptr;
  }
  rc::RefCnt_release(m_keepAliveTimer);
}

rc::DbgCtrls AppFollowers::add(IpcStrmConn* conn, const IpcPeer& peer, const rc::DbgCtrls& on) {
  rc::Dbg* dbg = rc::Dbg::instance();
  rc::DbgCtrls switched(RC_B_NO);
  auto follower = std::make_unique<Follower>();
  follower->conn = conn;
  follower->peer = peer;
  for (int m = DM_BEGIN; m < DM_END; ++m) {
    if (!on.isModuleOn(m)) continue;
    follower->asked.setModule(m);
    if (dbg->ctrls().isModuleOn(m)) continue;
    dbg->setModule(m);
    m_owned.setModule(m);
    switched.setModule(m);
  }
  const int newFlags = on.flags() & ~dbg->flags();
  follower->asked.setFlags(on.flags());
  if (newFlags != 0) {
    dbg->setFlag(newFlags);
    m_owned.setFlag(newFlags);
    switched.setFlag(newFlags);
  }
  conn->setFollower(true);
  m_followers.push_back(std::move(follower));
  if (s_tapped == nullptr) {
    s_tapped = this;
    rc::setLineTap(tapCCb);
  }
  if (!m_keepAliveTimer->isRunning()) m_keepAliveTimer->setTimerValue(m_keepAlive, true);
  return switched;
}

void AppFollowers::remove(IpcStrmConn* conn) {
  const auto it = std::find_if(m_followers.begin(), m_followers.end(),
                               [conn](const auto& f) { return f->conn == conn; });
  if (it == m_followers.end()) return;
  const IpcPeer peer = (*it)->peer;
  m_pendingBytes -= (*it)->pending.bytes();
  m_followers.erase(it);
  if (m_followers.empty()) {
    if (s_tapped == this) {
      rc::setLineTap(nullptr);
      s_tapped = nullptr;
    }
    m_keepAliveTimer->stop();
  }
  undo(peer);
}

void AppFollowers::undo(const IpcPeer& leaving) {
  rc::DbgCtrls off(RC_B_NO);
  rc::Dbg* dbg = rc::Dbg::instance();
  int stillAsked = 0;
  for (const auto& f : m_followers) stillAsked |= f->asked.flags();
  for (int m = DM_BEGIN; m < DM_END; ++m) {
    if (!m_owned.isModuleOn(m)) continue;
    const bool asked = std::any_of(m_followers.begin(), m_followers.end(),
                                   [m](const auto& f) { return f->asked.isModuleOn(m); });
    if (asked) continue;
    m_owned.clearModule(m);
    off.setModule(m);
    dbg->clearModule(m);
  }
  const int flags = m_owned.flags() & ~stillAsked;
  if (flags != 0) {
    m_owned.clearFlag(flags);
    off.setFlag(flags);
    dbg->clearFlag(flags);
  }
  const std::string what = steps(off, '-');
  if (what.empty()) return;
  rc::Out::instance()->printLog(rc::Err(RC_INFO, AC_SC_CTL_FOLLOW_UNDONE,
                                        rc::VarArgs() << static_cast<int>(leaving.pid)
                                                      << static_cast<int>(leaving.uid) << what,
                                        "appcomps/AppFollowers::remove"),
                                true);
}

void AppFollowers::changedByOthers(const rc::DbgCtrls& ctrls) {
  if ((ctrls.fieldFlags() & rc::DbgCtrls::FF_HAS_MODULES) != 0) {
    for (int m = DM_BEGIN; m < DM_END; ++m) m_owned.clearModule(m);
  }
  if ((ctrls.fieldFlags() & rc::DbgCtrls::FF_HAS_FLAGS) != 0) m_owned.setFlags(DF_NONE);
}

void AppFollowers::tapCCb(rc::LineKind kind, const char* text, bool addNewline) {
  if (s_tapped != nullptr) s_tapped->take(kind, text, addNewline);
}

void AppFollowers::take(rc::LineKind kind, const char* text, bool addNewline) {
  const size_t len = std::min<size_t>(strlen(text), TraceLines::MAX_TEXT);
  const size_t cost = TraceLines::LINE_OVERHEAD + len;
  for (const auto& f : m_followers) {
    if (f->broken) continue;
    if (f->pending.bytes() + cost > MAX_PENDING ||
        *m_othersBuffered + m_pendingBytes + cost > *m_budget) {
      ++f->dropped;
      continue;
    }
    const size_t before = f->pending.bytes();
    f->pending.append(kind, text, len, addNewline);
    m_pendingBytes += f->pending.bytes() - before;
    if (f->pending.bytes() >= BATCH_BYTES && f->conn->wantsLine()) send(f.get());
  }
}

void AppFollowers::flush() {
  for (const auto& f : m_followers) {
    if (!f->broken && (!f->pending.empty() || f->dropped != 0) && f->conn->wantsLine()) {
      send(f.get());
    }
  }
}

void AppFollowers::send(Follower* follower) {
  // The transport's own trace of this send comes back through the tap: it joins the next batch.
  if (m_sending) return;
  m_sending = true;
  TraceLinesMsg msg;
  msg.setDropped(static_cast<int>(std::min<long long>(follower->dropped, INT_MAX)));
  msg.lines().swap(follower->pending);
  m_pendingBytes -= msg.lines().bytes();
  follower->dropped = 0;
  follower->sentSinceTick = true;
  try {
    follower->conn->send(msg);
    follower->conn->touch(rc::Timeval::monotonicNow());
  } catch (const rc::Err&) {
    // The peer is gone; the server reports it when it closes the connection.
    follower->broken = true;
  }
  m_sending = false;
}

void AppFollowers::setIdleTimeout(const rc::Timeval& idleTimeout) {
  m_keepAlive = MAX_KEEP_ALIVE;
  if (idleTimeout > rc::Timeval::ZERO_TIMEVAL && idleTimeout < rc::Timeval::NO_TIMEVAL) {
    const long long us = (idleTimeout.tv_sec * 1000000LL + idleTimeout.tv_usec) / 3;
    const rc::Timeval third(static_cast<long>(us / 1000000), static_cast<long>(us % 1000000));
    m_keepAlive = std::min(m_keepAlive, third);
  }
  if (m_keepAliveTimer->isRunning()) m_keepAliveTimer->setTimerValue(m_keepAlive, true);
}

bool AppFollowers::keepAliveCCb(void* cbObj, AppTimer* /*timer*/) {
  auto* self = static_cast<AppFollowers*>(cbObj);
  for (const auto& f : self->m_followers) {
    if (!f->sentSinceTick && !f->broken && f->conn->wantsLine()) self->send(f.get());
    f->sentSinceTick = false;
  }
  return false;
}

}  // namespace ac
