// The process-wide funnel for user-visible messages: errors, internal errors, catalog messages
// and free-form text. Each text is produced first and then routed:
//  - with a severity: error severities (everything but debug and info) to the standard-error
//    device, also copied to the current log's open device; the others to the standard-output
//    device;
//  - without a severity: to the standard-output device only;
//  - in both cases also to the extra log device and the syslog tee when they are set.
// Daemon programs show "QV-" codes and get the program's source prefix, padded to 13 columns, at
// the head of every terminal line that does not begin with "\n"; the log and syslog copies are
// never prefixed. Free-form text is cut at 2046 characters. Running out of memory while a
// message is produced or routed prints one fixed line instead.
//
// Log-only printing (printLog) hands the text to the current log (rc::Log::instance()); while
// there is no log the text is dropped.
//
// One current instance per process (instance()); devices are held by reference count and may be
// replaced, e.g. by a test with a device it can read. Single-threaded; not for signal handlers.
#pragma once

#include <string>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOutDevice.h"
#include "comps/recomps/rcRefCnt.h"
#include "comps/recomps/rcVarArgs.h"

namespace rc {

class Out : public RefCnt {
 public:
  enum { FMT_BUF_SIZE = 2048 };

  // On the standard-output and standard-error singletons.
  explicit Out(int references);
  // Null devices are replaced by the standard singletons.
  Out(OutDevice* stdOutDevice, OutDevice* stdErrDevice, int references);
  ~Out() override;

  // The current instance; the default one, created on first use, until another is installed.
  static Out* instance();
  static Out* defaultOut(bool allocIfNull);
  // Releases the current instance and installs out, or the default one when out is null.
  static void setInstance(Out* out);

  OutDevice* stdOutDevice() const { return m_stdOutDevice; }
  OutDevice* stdErrDevice() const { return m_stdErrDevice; }
  OutDevice* logDevice() const { return m_logDevice; }
  SysLogDevice* sysLogDevice() const { return m_sysLogDevice; }
  // Each releases the device in place and takes a reference on the new one; a null standard
  // device means the standard singleton, a null log device none.
  void setStdOutDevice(OutDevice* device);
  void setStdErrDevice(OutDevice* device);
  void setLogDevice(OutDevice* device);
  // Copies every routed line to syslog, opening it with the program name when it is closed.
  // Switching it on twice or off when it is off does nothing.
  void setTeeToSysLog(bool enable);

  void print(const Err& err, bool addNewLine);
  void print(const IntnlErr& intnlErr, bool addNewLine);
  void print(RcSeverity severity, int strCode, bool addNewLine);
  // Routed without severity: standard output, even for an error severity.
  void print(RcSeverity severity, int strCode, const VarArgs& args, bool addNewLine);
  void print(int strCode, const VarArgs& args, bool addNewLine);
  void print(int strCode, bool addNewLine);
  // "<severity label>: " and the formatted text. A null fmt is a failed assertion.
  void print(RcSeverity severity, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
  // Routed as RC_INFO.
  void print(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // Builds and prints an internal error: msgString when non-empty, code with args when non-zero,
  // errno as second code when addErrno, and the file and line.
  void printIntnlErr(RcSeverity severity, const char* msgString, int code, const VarArgs& args,
                     bool addErrno, const char* fileName, int lineNo);
  // The fixed out-of-memory line, as RC_ERROR; allocates nothing.
  void printOom(bool addNewLine);

  void printLog(const Err& err, bool addNewLine);
  void printLog(RcSeverity severity, int strCode, const VarArgs& args, bool addNewLine);
  void printLog(RcSeverity severity, int strCode, bool addNewLine);
  void printLog(RcSeverity severity, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
  void printLog(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

  static constexpr const char* OOM_TEXT = "Out of memory. Cannot allocate memory for log message.";

 private:
  void pr(RcSeverity severity, const char* str);
  void pr(const char* str);
  // Writes str to device, behind the source prefix for a daemon; with hasSeverity the severity
  // form of print is used.
  void prTerminal(OutDevice* device, bool hasSeverity, RcSeverity severity, const char* str);

  OutDevice* m_stdOutDevice;
  OutDevice* m_stdErrDevice;
  OutDevice* m_logDevice;
  SysLogDevice* m_sysLogDevice;

  static Out* s_out;
  static Out* s_defaultOut;
};

}  // namespace rc
