// The process-wide funnel for user-visible messages. Error severities go to the standard-error
// device, everything else to the standard-output device. Command-line programs show messages
// without code numbers; daemons show "QV-" codes. Single-threaded.
#pragma once

#include <string>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOutDevice.h"

namespace rc {

class Out {
 public:
  Out();

  static Out* instance();

  void print(const Err& err, bool addNewLine);
  void print(const IntnlErr& intnlErr, bool addNewLine);
  void print(RcSeverity severity, int strCode, bool addNewLine);
  void print(RcSeverity severity, int strCode, const VarArgs& args, bool addNewLine);

  // Log-only printing: the text goes to the program's log, or nowhere when there is none yet.
  void printLog(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

  OutDevice* stdOutDevice() const { return m_stdOutDevice; }
  OutDevice* stdErrDevice() const { return m_stdErrDevice; }
  // Installs a device; null restores the process's standard stream.
  void setStdOutDevice(OutDevice* device);
  void setStdErrDevice(OutDevice* device);

 private:
  void pr(RcSeverity severity, const std::string& str);
  void pr(const std::string& str);
  static bool isDaemon();

  OutDevice* m_stdOutDevice;
  OutDevice* m_stdErrDevice;
};

}  // namespace rc
