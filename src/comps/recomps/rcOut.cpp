#include "comps/recomps/rcOut.h"

#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcPgmClass.h"
#include "comps/recomps/rcStrDb.h"

namespace rc {

namespace {
OutDevice* stdOutSingleton() {
  static OutDevice s_stdOut(stdout);
  return &s_stdOut;
}
OutDevice* stdErrSingleton() {
  static OutDevice s_stdErr(stderr);
  return &s_stdErr;
}
std::string withNewLine(std::string text, bool addNewLine) {
  if (addNewLine) text += "\n";
  return text;
}
Err::FmtFlags daemonFlags(bool isDaemon) { return isDaemon ? Err::FF_SHOW_CODES : Err::FF_DEFAULT; }
}  // namespace

Out::Out() : m_stdOutDevice(stdOutSingleton()), m_stdErrDevice(stdErrSingleton()) {}

Out* Out::instance() {
  static Out s_out;
  return &s_out;
}

void Out::setStdOutDevice(OutDevice* device) {
  m_stdOutDevice = device != nullptr ? device : stdOutSingleton();
}

void Out::setStdErrDevice(OutDevice* device) {
  m_stdErrDevice = device != nullptr ? device : stdErrSingleton();
}

bool Out::isDaemon() { return PgmClass::isDaemon(Env::pgmClass()); }

void Out::print(const Err& err, bool addNewLine) {
  pr(err.severity(), withNewLine(Err::format(err, daemonFlags(isDaemon())), addNewLine));
}

void Out::print(const IntnlErr& intnlErr, bool addNewLine) {
  pr(intnlErr.err().severity(),
     withNewLine(IntnlErr::format(intnlErr, daemonFlags(isDaemon())), addNewLine));
}

void Out::print(RcSeverity severity, int strCode, bool addNewLine) {
  pr(severity, withNewLine(StrDb::format(severity, strCode, isDaemon()), addNewLine));
}

void Out::print(RcSeverity severity, int strCode, const VarArgs& args, bool addNewLine) {
  pr(withNewLine(StrDb::format(severity, strCode, args, isDaemon()), addNewLine));
}

void Out::printLog(const char* /*fmt*/, ...) {}

void Out::pr(RcSeverity severity, const std::string& str) {
  OutDevice* device = Severity::isErrorSeverity(severity) ? m_stdErrDevice : m_stdOutDevice;
  device->print(severity, str.c_str());
}

void Out::pr(const std::string& str) { m_stdOutDevice->print(str.c_str()); }

}  // namespace rc
