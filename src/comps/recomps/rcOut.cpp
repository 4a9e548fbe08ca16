#include "comps/recomps/rcOut.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcLog.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcPgmAttrs.h"
#include "comps/recomps/rcPgmClass.h"
#include "comps/recomps/rcStrDb.h"

namespace rc {

Out* Out::s_out = nullptr;
Out* Out::s_defaultOut = nullptr;

namespace {

constexpr const char kOomLine[] = "Out of memory. Cannot allocate memory for log message.\n";
static_assert(sizeof kOomLine - 2 == std::char_traits<char>::length(Out::OOM_TEXT));

// Free-form text: formatted into a zeroed buffer with one byte of it held back, so that at most
// FMT_BUF_SIZE - 2 characters remain.
void formatText(char (&buf)[Out::FMT_BUF_SIZE], const char* fmt, va_list ap) {
  RC_ASSERT(fmt);
  memset(buf, 0, sizeof buf);
  vsnprintf(buf, sizeof buf - 1, fmt, ap);
}

std::string withNewLine(std::string text, bool addNewLine) {
  if (addNewLine) text += "\n";
  return text;
}

bool isDaemon() { return PgmClass::isDaemon(Env::pgmClass()); }

Err::FmtFlags codeDisplay() { return isDaemon() ? Err::FF_SHOW_CODES : Err::FF_DEFAULT; }

// The log's device when it can take a line.
OutDevice* openLogFacilityDevice() {
  Log* log = Log::instance();
  if (log == nullptr) return nullptr;
  OutDevice* device = log->logDevice();
  return device != nullptr && device->isOpen() ? device : nullptr;
}

// Runs fn, which produces and routes a text; running out of memory prints the fixed line instead.
template <class Fn>
void orOom(Out* out, bool addNewLine, Fn fn) {
  try {
    fn();
  } catch (const std::bad_alloc&) {
    out->printOom(addNewLine);
  }
}

// Hands a text to the current log; without a log, or without memory for it, the text is lost.
template <class Fn>
void toLog(Fn fn) {
  Log* log = Log::instance();
  if (log == nullptr) return;
  try {
    fn(log);
  } catch (const std::bad_alloc&) {
  }
}

// The descriptor of the log file, or standard error when no log file is open.
int logFileDescriptor() {
  OutDevice* device = openLogFacilityDevice();
  if (device != nullptr && device->fd() != nullptr) {
    const int fd = fileno(device->fd());
    if (fd >= 0) return fd;
  }
  return 2;
}

// The terminate handler's report of an exception nobody caught: a line to the log (where a
// daemon's errors are looked for), then the error through the output facility.
void reportUnexpected() {
  static const char kHeader[] = "Unexpected exception:\n";
  Os::writeAll(logFileDescriptor(), kHeader, sizeof kHeader - 1);
  Out* out = Out::instance();
  const CaughtExc caught = CaughtExc::classify();
  switch (caught.kind) {
    case CaughtExc::RC_ERR: out->print(*caught.err, true); break;
    case CaughtExc::INTNL_ERR: out->print(*caught.intnlErr, true); break;
    case CaughtExc::STD_EXCEPTION:
      out->print(IntnlErr(RC_ERROR, caught.stdEx->what(), RC_SC_INTERNAL_ERROR, VarArgs(),
                          "recomps/Os::rc_os_unexpected"),
                 true);
      break;
    case CaughtExc::OTHER: out->print(RC_FATAL, AC_SC_UNHANDLED_EXCEPTION, true); break;
  }
}

void printThroughOut(const Err* err, const IntnlErr* intnlErr) {
  if (err != nullptr) Out::instance()->print(*err, true);
  if (intnlErr != nullptr) Out::instance()->print(*intnlErr, true);
}

OutDevice* outStdOutDevice() { return Out::instance()->stdOutDevice(); }
void teeOutStdErrToSysLog(bool enable) { Out::instance()->setTeeToSysLog(enable); }

void reportForStrDb(RcSeverity severity, bool logOnly, const char* text) {
  if (logOnly) {
    Out::instance()->printLog("%s", text);
  } else {
    Out::instance()->print(severity, "%s", text);
  }
}

// Errors, the terminate handler, the log's standard-output copy and the catalog's reports go
// through this facility once it is part of the program.
[[maybe_unused]] const bool s_hooksInstalled =
    (setErrPrintRtn(&printThroughOut), Os::setUnexpectedRtn(&reportUnexpected),
     setLogOutRtns({&outStdOutDevice, &teeOutStdErrToSysLog}), setStrDbReportRtn(&reportForStrDb),
     true);

template <class Device>
void holdDevice(Device*& slot, Device* device) {
  RefCnt_release(slot);
  slot = device;
  if (slot != nullptr) slot->addReference();
}

}  // namespace

Out::Out(int references) : Out(nullptr, nullptr, references) {}

Out::Out(OutDevice* stdOutDevice, OutDevice* stdErrDevice, int references)
    : RefCnt(references),
      m_stdOutDevice(nullptr),
      m_stdErrDevice(nullptr),
      m_logDevice(nullptr),
      m_sysLogDevice(nullptr) {
  setStdOutDevice(stdOutDevice);
  setStdErrDevice(stdErrDevice);
}

Out::~Out() {
  RefCnt_release(m_stdOutDevice);
  RefCnt_release(m_stdErrDevice);
  RefCnt_release(m_logDevice);
  RefCnt_release(m_sysLogDevice);
  if (s_defaultOut == this) s_defaultOut = nullptr;
}

Out* Out::instance() {
  if (s_out == nullptr) setInstance(nullptr);
  return s_out;
}

Out* Out::defaultOut(bool allocIfNull) {
  if (s_defaultOut == nullptr && allocIfNull) s_defaultOut = new Out(1);
  return s_defaultOut;
}

void Out::setInstance(Out* out) { holdDevice(s_out, out != nullptr ? out : defaultOut(true)); }

void Out::setStdOutDevice(OutDevice* device) {
  holdDevice(m_stdOutDevice, device != nullptr ? device : StdOutDevice::instance());
}

void Out::setStdErrDevice(OutDevice* device) {
  holdDevice(m_stdErrDevice, device != nullptr ? device : StdErrDevice::instance());
}

void Out::setLogDevice(OutDevice* device) { holdDevice(m_logDevice, device); }

void Out::setTeeToSysLog(bool enable) {
  if (enable == (m_sysLogDevice != nullptr)) return;
  if (!enable) {
    RefCnt_release(m_sysLogDevice);
    return;
  }
  SysLogDevice* device = SysLogDevice::instance();
  if (!device->isOpen()) device->open(Env::pgmName(), false);
  holdDevice(m_sysLogDevice, device);
}

void Out::print(const Err& err, bool addNewLine) {
  orOom(this, addNewLine, [&] {
    pr(err.severity(), withNewLine(Err::format(err, codeDisplay()), addNewLine).c_str());
  });
}

void Out::print(const IntnlErr& intnlErr, bool addNewLine) {
  orOom(this, addNewLine, [&] {
    pr(intnlErr.err().severity(),
       withNewLine(IntnlErr::format(intnlErr, codeDisplay()), addNewLine).c_str());
  });
}

void Out::print(RcSeverity severity, int strCode, bool addNewLine) {
  orOom(this, addNewLine, [&] {
    pr(severity, withNewLine(StrDb::format(severity, strCode, isDaemon()), addNewLine).c_str());
  });
}

void Out::print(RcSeverity severity, int strCode, const VarArgs& args, bool addNewLine) {
  orOom(this, addNewLine, [&] {
    pr(withNewLine(StrDb::format(severity, strCode, args, isDaemon()), addNewLine).c_str());
  });
}

void Out::print(int strCode, const VarArgs& args, bool addNewLine) {
  orOom(this, addNewLine,
        [&] { pr(withNewLine(StrDb::format(strCode, args), addNewLine).c_str()); });
}

void Out::print(int strCode, bool addNewLine) {
  orOom(this, addNewLine, [&] { pr(withNewLine(StrDb::format(strCode), addNewLine).c_str()); });
}

void Out::print(RcSeverity severity, const char* fmt, ...) {
  char buf[FMT_BUF_SIZE];
  va_list ap;
  va_start(ap, fmt);
  formatText(buf, fmt, ap);
  va_end(ap);
  orOom(this, true,
        [&] { pr(severity, (std::string(Severity::label(severity)) + ": " + buf).c_str()); });
}

void Out::print(const char* fmt, ...) {
  char buf[FMT_BUF_SIZE];
  va_list ap;
  va_start(ap, fmt);
  formatText(buf, fmt, ap);
  va_end(ap);
  orOom(this, true, [&] { pr(RC_INFO, buf); });
}

void Out::printIntnlErr(RcSeverity severity, const char* msgString, int code, const VarArgs& args,
                        bool addErrno, const char* fileName, int lineNo) {
  const int savedErrno = errno;
  orOom(this, true, [&] {
    IntnlErr intnlErr(severity, msgString, code, code != 0 ? args : VarArgs::NO_VARARGS, nullptr);
    if (addErrno) intnlErr.err().addCode2(Err::errnoCode(savedErrno));
    intnlErr.err().addFileName(fileName, lineNo);
    print(intnlErr, true);
  });
}

void Out::printOom(bool addNewLine) {
  try {
    // kOomLine is the text with its newline; without one the same bytes are cut before it.
    char line[sizeof kOomLine];
    memcpy(line, kOomLine, sizeof kOomLine);
    if (!addNewLine) line[sizeof kOomLine - 2] = '\0';
    pr(RC_ERROR, line);
  } catch (const std::bad_alloc&) {
    // Nothing is left to report with.
  }
}

void Out::printLog(const Err& err, bool addNewLine) {
  toLog([&](Log* log) { log->print(err, addNewLine); });
}

void Out::printLog(RcSeverity severity, int strCode, const VarArgs& args, bool addNewLine) {
  toLog([&](Log* log) { log->print(severity, strCode, args, addNewLine); });
}

void Out::printLog(RcSeverity severity, int strCode, bool addNewLine) {
  toLog([&](Log* log) { log->print(severity, strCode, addNewLine); });
}

void Out::printLog(RcSeverity severity, const char* fmt, ...) {
  char buf[FMT_BUF_SIZE];
  va_list ap;
  va_start(ap, fmt);
  formatText(buf, fmt, ap);
  va_end(ap);
  toLog([&](Log* log) { log->print(severity, buf); });
}

void Out::printLog(const char* fmt, ...) {
  char buf[FMT_BUF_SIZE];
  va_list ap;
  va_start(ap, fmt);
  formatText(buf, fmt, ap);
  va_end(ap);
  if (Log::instance() != nullptr) orOom(this, true, [&] { Log::instance()->print(RC_INFO, buf); });
}

void Out::pr(RcSeverity severity, const char* str) {
  if (Severity::isErrorSeverity(severity)) {
    prTerminal(m_stdErrDevice, true, severity, str);
    if (OutDevice* logFacilityDevice = openLogFacilityDevice()) {
      logFacilityDevice->print(severity, str);
    }
  } else {
    prTerminal(m_stdOutDevice, true, severity, str);
  }
  if (m_logDevice != nullptr) m_logDevice->print(severity, str);
  if (m_sysLogDevice != nullptr) m_sysLogDevice->print(severity, str);
}

void Out::pr(const char* str) {
  prTerminal(m_stdOutDevice, false, RC_NO_SEVERITY, str);
  if (m_logDevice != nullptr) m_logDevice->print(str);
  if (m_sysLogDevice != nullptr) m_sysLogDevice->print(str);
}

void Out::prTerminal(OutDevice* device, bool hasSeverity, RcSeverity severity, const char* str) {
  auto write = [&](const char* line) {
    if (hasSeverity) {
      device->print(severity, line);
    } else {
      device->print(line);
    }
  };
  if (str[0] == '\n' || !isDaemon()) {
    write(str);
    return;
  }
  // Short lines are joined on the stack so that the out-of-memory line needs no heap.
  const char* prefix = PgmAttrs::instance()->srcPrefix();
  char buf[512];
  const int n = snprintf(buf, sizeof buf, "%-*s%s", static_cast<int>(PgmAttrs::STD_SRC_PREFIX_LEN),
                         prefix, str);
  if (n >= 0 && static_cast<size_t>(n) < sizeof buf) {
    write(buf);
    return;
  }
  std::string line(prefix);
  if (line.size() < PgmAttrs::STD_SRC_PREFIX_LEN) line.resize(PgmAttrs::STD_SRC_PREFIX_LEN, ' ');
  write((line + str).c_str());
}

}  // namespace rc
