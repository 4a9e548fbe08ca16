// Asking a running program how it is: GetStatusCall answers with one screen's worth of facts
// (what it is, since when, where its log and trace go, its debug and fault controls, its
// children, timers, control connections and heap by memory type); GetFaultPointsCall with the
// fault points passed so far. Both replies are built whole by the answering program and read
// by qvctl.
//
// Every number on the wire has the same width in 32-bit and 64-bit builds (counts and sizes as
// unsigned long long); every list is a BoundedVec, so a reply from another process cannot make
// the reader allocate beyond its bounds, and strings are checked against the data received.
// Not thread-safe.
#pragma once

#include <string>

#include "comps/appcomps/acIpcMsgImpl.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcFaultApi.h"

namespace ac {

// What one fault point saw while rules were on.
struct FaultPointEntry {
  std::string name;
  unsigned long long evaluated = 0;
  unsigned long long fired = 0;
  auto fields() {
    return msgFields(msgField(name, "name"), msgField(evaluated, "evaluated"),
                     msgField(fired, "fired"));
  }
};

struct ChildEntry {
  int pid = 0;
  // Its command line, arguments joined by blanks.
  std::string command;
  auto fields() { return msgFields(msgField(pid, "pid"), msgField(command, "command")); }
};

struct TimerEntry {
  std::string name;
  // AppTimer::TimerType.
  int kind = 0;
  // To its next expiry; 0 when due.
  long long msLeft = 0;
  auto fields() {
    return msgFields(msgField(name, "name"), msgField(kind, "kind"), msgField(msLeft, "msLeft"));
  }
};

// A client of the control channel; -1 for what was not known at accept.
struct ConnEntry {
  int pid = -1;
  int uid = -1;
  auto fields() { return msgFields(msgField(pid, "pid"), msgField(uid, "uid")); }
};

// The live blocks of one memory type; bytes as malloc reports them, headers included.
struct HeapEntry {
  std::string type;
  unsigned long long blocks = 0;
  unsigned long long bytes = 0;
  auto fields() {
    return msgFields(msgField(type, "type"), msgField(blocks, "blocks"), msgField(bytes, "bytes"));
  }
};

enum : int { MAX_STATUS_LIST = 1024 };
using FaultPointVec = BoundedVec<FaultPointEntry, MAX_STATUS_LIST>;

// The program's state in the order of the fields() list below.
struct ProgramStatus {
  std::string program;
  int pgmClass = 0;
  int pgmType = 0;
  int pid = 0;
  // Seconds since the epoch.
  int startTime = 0;
  std::string revision;
  std::string build;
  // Empty while the program writes no log file.
  std::string logFile;
  // Where trace lines go: "stdout" or the debug file, then "+ log" and "+ syslog" for the tees.
  std::string dbgOutput;
  rc::DbgCtrls dbgCtrls;
  // The global switch and the rules in force.
  rc::fault::Ctrls faultCtrls;
  // The counts of the points named by the rules, in rule order; a rule no point has passed has
  // none.
  FaultPointVec ruleCounts;
  BoundedVec<ChildEntry, MAX_STATUS_LIST> children;
  // The armed timers, earliest first.
  BoundedVec<TimerEntry, MAX_STATUS_LIST> timers;
  BoundedVec<ConnEntry, MAX_STATUS_LIST> conns;
  // Most bytes first.
  BoundedVec<HeapEntry, MAX_STATUS_LIST> heap;

  auto fields() {
    return msgFields(
        msgField(program, "program"), msgField(pgmClass, "pgmClass"), msgField(pgmType, "pgmType"),
        msgField(pid, "pid"), msgField(startTime, "startTime"), msgField(revision, "revision"),
        msgField(build, "build"), msgField(logFile, "logFile"), msgField(dbgOutput, "dbgOutput"),
        msgField(dbgCtrls), msgField(faultCtrls), msgField(ruleCounts), msgField(children),
        msgField(timers), msgField(conns), msgField(heap));
  }
};

class GetStatusReply : public IpcMsgOf<GetStatusReply, 1022, IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "GetStatusReply";
  GetStatusReply() = default;
  GetStatusReply(const GetStatusReply& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy), m_status(src.m_status) {}

  auto fields() { return m_status.fields(); }
  void initReply(const IpcMsgHdr& call) { initReplyHdr(call); }

  const ProgramStatus& status() const { return m_status; }
  ProgramStatus& status() { return m_status; }

 private:
  ProgramStatus m_status;
};

class GetStatusCall : public IpcMsgOf<GetStatusCall, 1021, IpcMsgHdr, GetStatusReply> {
 public:
  static constexpr const char* kMsgName = "GetStatusCall";
  explicit GetStatusCall(short dstPgmId = 0) : IpcMsgOf(dstPgmId) {}
  GetStatusCall(const GetStatusCall& src, bool deepCopy = false) : IpcMsgOf(src, deepCopy) {}
};

// The registered fault points in name order.
class GetFaultPointsReply : public IpcMsgOf<GetFaultPointsReply, 1024, IpcStsMsgHdr> {
 public:
  static constexpr const char* kMsgName = "GetFaultPointsReply";
  GetFaultPointsReply() = default;
  explicit GetFaultPointsReply(const rc::fault::PointStatsVec& points) {
    for (const auto& p : points) m_points.entries.push_back(pointEntry(p));
  }
  GetFaultPointsReply(const GetFaultPointsReply& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy), m_points(src.m_points) {}

  auto fields() { return msgFields(msgField(m_points)); }
  void initReply(const IpcMsgHdr& call) { initReplyHdr(call); }

  const FaultPointVec& points() const { return m_points; }

  static FaultPointEntry pointEntry(const rc::fault::PointStats& p) {
    return {std::string(p.name.c_str()), p.evaluated, p.fired};
  }

 private:
  FaultPointVec m_points;
};

class GetFaultPointsCall
    : public IpcMsgOf<GetFaultPointsCall, 1023, IpcMsgHdr, GetFaultPointsReply> {
 public:
  static constexpr const char* kMsgName = "GetFaultPointsCall";
  explicit GetFaultPointsCall(short dstPgmId = 0) : IpcMsgOf(dstPgmId) {}
  GetFaultPointsCall(const GetFaultPointsCall& src, bool deepCopy = false)
      : IpcMsgOf(src, deepCopy) {}
};

}  // namespace ac
