#include "comps/recomps/rcLog.h"

#include <string>

#include "comps/recomps/rcOutDevice.h"
#include "comps/recomps/rcStrDb.h"

namespace rc {

Log* Log::s_log = nullptr;

namespace {
std::string withNewLine(std::string text, bool addNewLine) {
  if (addNewLine) text += "\n";
  return text;
}
}  // namespace

Log::Log(int references) : RefCnt(references), m_logDevice(nullptr) {}

Log::~Log() { RefCnt_release(m_logDevice); }

void Log::setInstance(Log* log) {
  RefCnt_release(s_log);
  s_log = log;
  if (s_log != nullptr) s_log->addReference();
}

void Log::setLogDevice(OutDevice* device) {
  RefCnt_release(m_logDevice);
  m_logDevice = device;
  if (m_logDevice != nullptr) m_logDevice->addReference();
}

void Log::print(RcSeverity severity, const char* str) {
  RC_ASSERT(str);
  pr(severity, (std::string(Severity::label(severity)) + ": " + str).c_str());
}

void Log::print(RcSeverity severity, int strCode, bool addNewLine) {
  pr(severity, withNewLine(StrDb::format(severity, strCode, true), addNewLine).c_str());
}

void Log::print(RcSeverity severity, int strCode, const VarArgs& args, bool addNewLine) {
  pr(severity, withNewLine(StrDb::format(severity, strCode, args, true), addNewLine).c_str());
}

void Log::print(const Err& err, bool addNewLine) {
  pr(err.severity(), withNewLine(Err::format(err, Err::FF_SHOW_CODES), addNewLine).c_str());
}

void Log::print(const IntnlErr& intnlErr, bool addNewLine) {
  pr(intnlErr.err().severity(),
     withNewLine(IntnlErr::format(intnlErr, Err::FF_SHOW_CODES), addNewLine).c_str());
}

void Log::pr(RcSeverity severity, const char* str) {
  if (m_logDevice == nullptr) return;
  m_logDevice->print(severity, str);
  m_logDevice->flush();
}

}  // namespace rc
