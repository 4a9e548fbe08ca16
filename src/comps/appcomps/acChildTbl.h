// The children an application has started and the routines to call when each one ends.
// ac::ChildInfo is one child: its pid, when it was registered, whether it has been reaped with
// which decoded status, and its "child died" callback. ac::ChildTbl holds one counted reference
// to each record, at most one record per pid, ordered by pid; a record taken out of the table
// is released (deleted when no other holder has a reference). A record without a callback
// routine stands for a child that is still to be reaped but whose end nobody wants to hear of.
// Records and tables are anonymous heap blocks (mt_anonymous). Single-threaded; nothing here is
// for signal handlers (SIGCHLD reaches the application through its signal pipe).
#pragma once

#include <ctime>
#include <set>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memStlAlloc.h"
#include "comps/recomps/rcRefCnt.h"

namespace ac {

class ChildInfo : public rc::RefCnt, public mem::newDelete<mt_anonymous> {
 public:
  typedef void (*CbRtn)(void* cbObj, int pid, int status);

  ChildInfo(int pid, void* cbObj, CbRtn cbRtn, int references);
  // Without a callback: a search key.
  ChildInfo(int pid, int references);
  ChildInfo(const ChildInfo& src, int references);
  ~ChildInfo() override;
  // Every field but the reference count.
  ChildInfo& operator=(const ChildInfo& src);

  // Calls the callback with the pid and the status; both callback parts must be set.
  void invokeCb();
  void setDead(bool dead) { m_dead = dead; }
  void setStatus(int status) { m_status = status; }
  void clearCb();
  bool hasCb() const { return m_cbRtn != nullptr; }
  int secsFromStart() const { return static_cast<int>(time(nullptr) - m_startTime); }

  int pid() const { return m_pid; }
  bool isDead() const { return m_dead; }
  int status() const { return m_status; }
  void* cbObj() const { return m_cbObj; }
  CbRtn cbRtn() const { return m_cbRtn; }

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

 private:
  int m_pid;
  time_t m_startTime;
  bool m_dead;
  int m_status;
  void* m_cbObj;
  CbRtn m_cbRtn;
};

struct ChildInfoPtrComp {
  bool operator()(const ChildInfo* lhs, const ChildInfo* rhs) const {
    return lhs->pid() < rhs->pid();
  }
};

class ChildTbl : public mem::newDelete<mt_anonymous> {
 public:
  typedef std::set<ChildInfo*, ChildInfoPtrComp, mem::stlAlloc<ChildInfo*>> InfoSet;

  ChildTbl() = default;
  ~ChildTbl() { destroyContents(); }
  ChildTbl(const ChildTbl&) = delete;
  ChildTbl& operator=(const ChildTbl&) = delete;

  // A second insert for a pid overwrites the first record's fields (callback included).
  void insert(int pid, void* cbObj, ChildInfo::CbRtn cbRtn);
  // Takes the pid's record out and releases it. An unknown pid is reported (RC_NON_FATAL,
  // "ignoring error", RC_SC_OBJ_NOT_FOUND) and ignored.
  void remove(int pid);
  // The same for info's pid; the record is released only when destroy is set.
  void remove(const ChildInfo& info, bool destroy);
  ChildInfo* lookup(int pid) const;
  // Releases every record and empties the table.
  void destroyContents();
  size_t size() const { return m_infos.size(); }
  const InfoSet& infos() const { return m_infos; }

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

 private:
  InfoSet m_infos;
};

}  // namespace ac
