#include "comps/appcomps/acChildTbl.h"

#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOut.h"

namespace ac {

namespace {}  // namespace

ChildInfo::ChildInfo(int pid, void* cbObj, CbRtn cbRtn, int references)
    : rc::RefCnt(references),
      m_pid(pid),
      m_startTime(time(nullptr)),
      m_dead(false),
      m_status(0),
      m_cbObj(cbObj),
      m_cbRtn(cbRtn) {}

ChildInfo::ChildInfo(int pid, int references) : ChildInfo(pid, nullptr, nullptr, references) {}

ChildInfo::ChildInfo(const ChildInfo& src, int references) : rc::RefCnt(references) { *this = src; }

ChildInfo::~ChildInfo() {
  rc::poison(m_cbObj);
  m_cbRtn = reinterpret_cast<CbRtn>(rc::invalidAddr<void>());
}

ChildInfo& ChildInfo::operator=(const ChildInfo& src) {
  m_pid = src.m_pid;
  m_startTime = src.m_startTime;
  m_dead = src.m_dead;
  m_status = src.m_status;
  m_cbObj = src.m_cbObj;
  m_cbRtn = src.m_cbRtn;
  return *this;
}

void ChildInfo::invokeCb() {
  RC_ASSERT(m_cbObj);
  RC_ASSERT(m_cbRtn);
  RC_TRACE(DM_AC, DF_DEBUG, "invoking child died callback for pid = %d, status = %d\n", m_pid,
           m_status);
  m_cbRtn(m_cbObj, m_pid, m_status);
}

void ChildInfo::clearCb() {
  m_cbObj = nullptr;
  m_cbRtn = nullptr;
}

void ChildInfo::dumpObj(int indentLvl, const char* label) const {
  rc::dumpHeader(indentLvl, label, "Child Info", this,
                 ": pid = %d, dead = %s, status = %d, start = %d\n", m_pid, m_dead ? "yes" : "no",
                 m_status, static_cast<int>(m_startTime));
}

void ChildTbl::insert(int pid, void* cbObj, ChildInfo::CbRtn cbRtn) {
  RC_TRACE(DM_AC, DF_MINOR, "inserting child info for pid = %d\n", pid);
  ChildInfo* info = new ChildInfo(pid, cbObj, cbRtn, 1);
  auto [it, inserted] = m_infos.insert(info);
  if (!inserted) {
    RC_TRACE(DM_AC, DF_DEBUG, "child info already exists for pid = %d, over-writing\n", pid);
    **it = *info;
    delete info;
  }
}

void ChildTbl::remove(int pid) { remove(ChildInfo(pid, 0), true); }

void ChildTbl::remove(const ChildInfo& info, bool destroy) {
  auto it = m_infos.find(const_cast<ChildInfo*>(&info));
  if (it == m_infos.end()) {
    rc::Out::instance()->print(rc::IntnlErr(RC_NON_FATAL, "ignoring error", RC_SC_OBJ_NOT_FOUND,
                                            rc::VarArgs() << "child info"
                                                          << "pid" << info.pid(),
                                            nullptr),
                               true);
    return;
  }
  ChildInfo* found = *it;
  const int pid = found->pid();  // info may be the record itself
  m_infos.erase(it);
  if (destroy) rc::RefCnt_release(found);
  RC_TRACE(DM_AC, DF_MINOR, "removed child info for pid = %d\n", pid);
}

ChildInfo* ChildTbl::lookup(int pid) const {
  ChildInfo key(pid, 0);
  auto it = m_infos.find(&key);
  return it != m_infos.end() ? *it : nullptr;
}

void ChildTbl::destroyContents() {
  InfoSet infos;
  infos.swap(m_infos);
  for (ChildInfo* info : infos) rc::RefCnt_release(info);
}

void ChildTbl::dumpObj(int indentLvl, const char* label) const {
  rc::dumpHeader(indentLvl, label, "Child Tbl", this, ", entries = %d, contents:\n",
                 static_cast<int>(m_infos.size()));
  int n = 0;
  for (const ChildInfo* info : m_infos) {
    char itemLabel[16];
    snprintf(itemLabel, sizeof itemLabel, "%d. ", ++n);
    info->dumpObj(indentLvl + 1, itemLabel);
  }
}

}  // namespace ac
