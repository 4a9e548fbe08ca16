// The logging facility as the output facility sees it: the process's current log (null until the
// program sets one up), the device its lines go to, and the print operations that turn messages
// into log lines ("<severity label>: " and the text; catalog messages and errors with their
// "QV-" codes). With no log, text meant only for the log is dropped. The current log and its
// device are held by reference count. Single-threaded; not for use in signal handlers.
#pragma once

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcRefCnt.h"
#include "comps/recomps/rcVarArgs.h"

namespace rc {

class OutDevice;

class Log : public RefCnt {
 public:
  explicit Log(int references);
  ~Log() override;

  // The current log, or null while the program has none.
  static Log* instance() { return s_log; }
  // Releases the current log and installs log (null allowed), taking a reference on it.
  static void setInstance(Log* log);

  // The device log lines are written to; null while the log writes no file.
  OutDevice* logDevice() const { return m_logDevice; }
  // Releases the current device and takes a reference on device (null allowed).
  void setLogDevice(OutDevice* device);

  // A null str is a failed assertion.
  void print(RcSeverity severity, const char* str);
  void print(const char* str) { print(RC_INFO, str); }
  void print(RcSeverity severity, int strCode, bool addNewLine);
  void print(RcSeverity severity, int strCode, const VarArgs& args, bool addNewLine);
  void print(const Err& err, bool addNewLine);
  void print(const IntnlErr& intnlErr, bool addNewLine);

 private:
  void pr(RcSeverity severity, const char* str);

  static Log* s_log;

  OutDevice* m_logDevice;
};

}  // namespace rc
