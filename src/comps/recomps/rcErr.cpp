#include "comps/recomps/rcErr.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcHook.h"
#include "comps/recomps/rcSymRows.h"

namespace rc {

namespace {

constexpr SymRec kSeverityRecs[] = {
    {RC_NO_SEVERITY, "none", "None"},
    {RC_DEBUG, "debug", "Debug"},
    {RC_INFO, "info", "Info"},
    {RC_WARNING, "warning", "Warning"},
    {RC_ERROR, "error", "Error"},
    {RC_NON_FATAL, "nonFatal", "Non-fatal Internal Error"},
    {RC_FATAL, "fatal", "Internal Error"},
    {RC_BAD_SEVERITY, "badSeverityValue", "Bad Severity Value"},
};
constexpr SymRows kSeverities(kSeverityRecs);

constexpr const char* kFormatFallback =
    "Could not format message. Probably running low on shared memory or heap";

// The catalog's built-in texts live here, beside the errors that use them, so that every program
// linking the library has them whether or not it references the catalog.
constexpr const char* kBuiltInTexts[] = {
    "ok",                                                      // RC_SC_OK
    "test msg 1",                                              // RC_SC_TST_1
    "test msg 2, value = '{1}'",                               // RC_SC_TST_2
    "assert '{1}' failed",                                     // RC_SC_ASSERT
    "assert '{1}' failed for {2}",                             // RC_SC_ASSERT_MSG
    "internal error",                                          // RC_SC_INTERNAL_ERROR
    "unable to open '{1}'",                                    // RC_SC_OPEN_FAILED
    "unable to close '{1}'",                                   // RC_SC_CLOSE_FAILED
    "unable to print to '{1}'",                                // RC_SC_PRINT_FAILED
    "unable to flush '{1}'",                                   // RC_SC_FLUSH_FAILED
    "unable to read from '{1}'",                               // RC_SC_READ_FAILED
    "unable to write to '{1}'",                                // RC_SC_WRITE_FAILED
    "file is not currently open",                              // RC_SC_FILE_NOT_OPEN
    "buffer size of '{1}' is too small",                       // RC_SC_BUF_TOO_SMALL
    "unable to obtain size of '{1}'",                          // RC_SC_SIZE_FAILED
    "{1} value cannot be NULL",                                // RC_SC_BAD_NULL
    "{1} value '{2}' is unknown or invalid",                   // RC_SC_UNKNOWN_VALUE
    "command line arg '{1}' is unknown or invalid",            // RC_SC_BAD_CMD_LINE_ARG
    "bad status '{1}'",                                        // RC_SC_BAD_STATUS
    "switch statement case '{1}' is unknown or invalid",       // RC_SC_BAD_CASE_VALUE
    "{1}",                                                     // RC_SC_CERROR
    "insufficient memory",                                     // RC_SC_OUT_OF_MEMORY
    "--- program '{1}' ({2}) starting on host '{3}' ... ---",  // RC_SC_PGM_STARTING
    "--- program '{1}' ({2}) exiting on host '{3}' ... ---",   // RC_SC_PGM_EXITING
    "inserted fault",                                          // RC_SC_FAULT_INSERT
    "{1}",                                                     // RC_SC_FAULT_ARGS
    "one or more keys invalid. first invalid key = '{1}'",     // RC_SC_INVALID_REGKEY
    "XML error - '{1}'",                                       // RC_SC_XML_ERROR
    "login error - {1}",                                       // RC_SC_LOGIN_ERROR
};

// A text the catalog does not have; the same marker the catalog answers.
constexpr const char* kNoText = "<rc::StrVec index too big>";

const char* noCatalogText(int strCode) {
  const char* text = builtInErrText(strCode);
  return text != nullptr ? text : kNoText;
}

void printToStdErr(const Err* err, const IntnlErr* intnlErr) {
  const std::string text = err != nullptr ? Err::format(*err) : IntnlErr::format(*intnlErr);
  fprintf(stderr, "%s\n", text.c_str());
}

ErrTextRtn s_textRtn = &noCatalogText;
ErrPrintRtn s_printRtn = &printToStdErr;

}  // namespace

std::string Err::codePrefix(int code, int code2) {
  char buf[33];
  if (code2 != 0) {
    snprintf(buf, 32, "%s%05d/%05d: ", "QV-", code, code2);
  } else {
    snprintf(buf, 32, "%s%05d: ", "QV-", code);
  }
  return buf;
}

namespace {

std::string codeText(int code, const VarArgs* args) {
  const char* text = Err::lookupString(code);
  if (strcmp(text, kNoText) != 0) {
    return args != nullptr ? args->substituteArgs(text) : std::string(text);
  }
  // Without its text, the code and the arguments are all that still say what went wrong.
  std::string shown = Err::codePrefix(Err::displayCode(code), 0);
  shown.resize(shown.size() - 2);  // no ": "
  const size_t nArgs = args != nullptr ? args->size() : 0;
  for (size_t i = 0; i < nArgs; ++i)
    shown += std::string(i == 0 ? ": '" : ", '") + (*args)[i] + "'";
  return std::string(kNoText) + " (" + shown + ")";
}

}  // namespace

const char* Severity::symbol(int id) { return kSeverities.symbol(id, "unknown"); }

const char* Severity::label(int id) { return kSeverities.label(id, "unknown"); }

int Severity::id(const char* symbol) {
  if (symbol == nullptr || symbol[0] == '\0') return RC_NO_SEVERITY;
  return kSeverities.id(symbol, RC_BAD_SEVERITY, RC_DEBUG, RC_FATAL);
}

const Err* Err::s_abortErr = nullptr;
const IntnlErr* IntnlErr::s_abortErr = nullptr;

Err::Err() : Err(mem::getMemRegion(this)) {}

Err::Err(mem::regionName_t region)
    : m_memRegion(region),
      m_severity(RC_NO_SEVERITY),
      m_code(0),
      m_args(nullptr),
      m_code2(0),
      m_args2(nullptr),
      m_lineNo(0),
      m_fileName(nullptr) {
  m_routine[0] = '\0';
}

Err::Err(RcSeverity severity, int code, const char* routine) : Err() {
  set(severity, code, routine);
}

Err::Err(RcSeverity severity, int code, int code2, const char* routine) : Err() {
  set(severity, code, code2, routine);
}

Err::Err(RcSeverity severity, int code, const VarArgs& args, const char* routine) : Err() {
  set(severity, code, args, routine);
}

Err::Err(RcSeverity severity, int code, const VarArgs& args, int code2, const VarArgs& args2,
         const char* routine)
    : Err() {
  set(severity, code, args, code2, args2, routine);
}

Err::Err(const Err& src) : Err() { deepCopyFrom(src); }

Err::Err(const Err& src, mem::regionName_t region) : Err(region) { deepCopyFrom(src); }

Err& Err::operator=(const Err& src) {
  deepCopyFrom(src);
  return *this;
}

Err::~Err() {
  delete m_args;
  delete m_args2;
  mem::freeBlock(m_fileName);
}

void Err::set(RcSeverity severity, int code, const char* routine) {
  clear();
  m_severity = severity;
  m_code = code;
  addRoutine(routine);
}

void Err::set(RcSeverity severity, int code, int code2, const char* routine) {
  set(severity, code, routine);
  m_code2 = code2;
}

void Err::set(RcSeverity severity, int code, const VarArgs& args, const char* routine) {
  set(severity, code, routine);
  assignArgs(m_args, &args);
}

void Err::set(RcSeverity severity, int code, const VarArgs& args, int code2, const VarArgs& args2,
              const char* routine) {
  set(severity, code, args, routine);
  m_code2 = code2;
  assignArgs(m_args2, &args2);
}

void Err::assignArgs(VarArgs*& dst, const VarArgs* src) {
  if (src == nullptr || src->isEmpty()) {
    if (dst != nullptr) dst->clear();
  } else if (dst != nullptr) {
    *dst = *src;
  } else {
    dst = new VarArgs(*src, m_memRegion);
  }
}

void Err::addCode(int code, const VarArgs& args) {
  m_code = code;
  assignArgs(m_args, &args);
}

void Err::addCode2(int code2, const VarArgs& args2) {
  m_code2 = code2;
  assignArgs(m_args2, &args2);
}

void Err::clear() {
  m_severity = RC_NO_SEVERITY;
  m_code = 0;
  if (m_args != nullptr) m_args->clear();
  m_code2 = 0;
  if (m_args2 != nullptr) m_args2->clear();
  m_lineNo = 0;
  mem::freeBlock(m_fileName);
  m_fileName = nullptr;
  m_routine[0] = '\0';
}

void Err::deepCopyFrom(const Err& src) {
  if (&src == this) return;
  m_severity = src.m_severity;
  m_code = src.m_code;
  assignArgs(m_args, src.m_args);
  m_code2 = src.m_code2;
  assignArgs(m_args2, src.m_args2);
  m_lineNo = src.m_lineNo;
  mem::freeBlock(m_fileName);
  m_fileName = nullptr;
  addFileName(src.m_fileName, 0);
  memcpy(m_routine, src.m_routine, sizeof m_routine);
}

Err* Err::copy() const { return new Err(*this); }

// A truncating copy, as Utils::copyStr makes (that unit raises errors, so it sits above this one).
void Err::addRoutine(const char* routine) {
  snprintf(m_routine, sizeof m_routine, "%s", routine != nullptr ? routine : "");
}

void Err::addFileName(const char* fileName, int lineNo) {
  if (fileName != nullptr) {
    const size_t len = strlen(fileName);
    mem::AllocContext ctx = mem::k_anonHeap;
    ctx.setRegion(m_memRegion);
    char* copy = static_cast<char*>(mem::allocBlock(len + 1, ctx));
    memcpy(copy, fileName, len + 1);
    mem::freeBlock(m_fileName);
    m_fileName = copy;
  }
  if (lineNo != 0) m_lineNo = lineNo;
}

namespace {

void saveArgs(ByteStrm& s, const VarArgs* args) {
  if (args != nullptr && !args->isEmpty()) {
    s << 1;
    args->saveOn(s);
  } else {
    s << 0;
  }
}

}  // namespace

void Err::saveOn(ByteStrm& s) const {
  s << static_cast<int>(m_severity) << m_code;
  saveArgs(s, m_args);
  s << m_code2;
  saveArgs(s, m_args2);
  s << m_lineNo;
  s.writeStr(m_fileName, m_fileName != nullptr ? strlen(m_fileName) : 0);
  s.writeStr(m_routine, strlen(m_routine));
}

void Err::restoreArgs(ByteStrm& s, VarArgs*& args) {
  int hasArgs = 0;
  s >> hasArgs;
  if (hasArgs != 0) {
    if (args == nullptr) args = new VarArgs();
    args->restoreFrom(s);
  } else if (args != nullptr) {
    args->clear();
  }
}

void Err::restoreFrom(ByteStrm& s) {
  int severity = 0;
  s >> severity >> m_code;
  m_severity = static_cast<RcSeverity>(severity);
  restoreArgs(s, m_args);
  s >> m_code2;
  restoreArgs(s, m_args2);
  s >> m_lineNo;
  std::string fileName;
  s >> fileName;
  mem::freeBlock(m_fileName);
  m_fileName = nullptr;
  // The name ends at its first NUL; one that is empty up to there counts as absent.
  if (fileName.c_str()[0] != '\0') addFileName(fileName.c_str(), 0);
  s.readStr(m_routine, ROUTINE_BUF_SIZE);
}

namespace {

// What saveArgs writes after its flag.
size_t argsSize(const VarArgs* args) {
  return args != nullptr && !args->isEmpty() ? args->binarySize() : 0;
}

}  // namespace

// Exactly what saveOn writes, so a buffer sized from it holds any file name and argument list.
size_t Err::binarySize() const {
  const size_t ints = 6 * sizeof(int32_t);
  return ints + argsSize(m_args) + argsSize(m_args2) +
         ByteStrm::strSize(m_fileName != nullptr ? strlen(m_fileName) : 0) +
         ByteStrm::strSize(strlen(m_routine));
}

void Err::dumpObj(int indentLvl, const char* label) const {
  std::string rest;
  if (m_code2 != 0) rest += ", code2 = " + std::to_string(m_code2);
  if (m_lineNo != 0) rest += ", lineNo = " + std::to_string(m_lineNo);
  if (m_fileName != nullptr) rest += std::string(", fileName = ") + m_fileName;
  dumpHeader(indentLvl, label, "Err", this,
             ": mem region = %d, severity = %s, code = %d%s, routine = '%s'\n",
             static_cast<int>(m_memRegion), severitySymbol(), m_code, rest.c_str(), m_routine);
  if (m_args != nullptr) m_args->dumpObj(indentLvl, "args = ");
  if (m_args2 != nullptr) m_args2->dumpObj(indentLvl, "args2 = ");
}

int Err::displayCode(int strCode) {
  if (strCode & CERROR) return (strCode & ~CERROR) + 10000;
  if (strCode & UNIX_ERRNO) return (strCode & ~UNIX_ERRNO) + 20000;
  return strCode;
}

const char* Err::lookupString(int strCode) {
  if (strCode & UNIX_ERRNO) return strerror(strCode & ~UNIX_ERRNO);
  return s_textRtn(strCode);
}

std::string Err::format(const Err& err, FmtFlags flags) {
  try {
    return err.formatHelper(flags);
  } catch (...) {
    return kFormatFallback;
  }
}

std::string Err::formatHelper(FmtFlags flags) const {
  std::string text;
  if (m_fileName != nullptr) text = text + "File " + m_fileName;
  if (m_lineNo != 0) {
    if (m_fileName != nullptr) text += ", ";
    text += "Line " + std::to_string(m_lineNo);
  }
  if (m_fileName != nullptr || m_lineNo != 0) text += ": ";
  if (m_severity != RC_NO_SEVERITY) {
    if (!(flags & FF_OMIT_SEVERITY)) text += std::string(severityLabel()) + ": ";
    if (flags & FF_SHOW_CODES) {
      text += Err::codePrefix(displayCode(m_code), m_code2 != 0 ? displayCode(m_code2) : 0);
    }
  }
  text += codeText(m_code, m_args);
  if (m_code2 != 0 && !(m_code2 & CERROR)) text += " - " + codeText(m_code2, m_args2);
  if (m_severity != RC_NO_SEVERITY) {
    // A severity promises a sentence; an empty one means the catalog is broken.
    if (text.empty()) throw std::runtime_error("empty error text");
    if (text.back() != '.') text += ".";
  }
  return text;
}

void Err_Throw(const Err& err) {
  Err::setAbortErr(err);
  throw Err(err);
}

Err Err::fromErrno(int code, const VarArgs& args, int savedErrno, const char* routine) {
  return Err(RC_ERROR, code, args, errnoCode(savedErrno), VarArgs::NO_VARARGS, routine);
}

void Err_ThrowErrno(int code, const VarArgs& args, int savedErrno, const char* routine) {
  Err_Throw(Err::fromErrno(code, args, savedErrno, routine));
}

IntnlErr::IntnlErr() { m_msgString[0] = '\0'; }

IntnlErr::IntnlErr(mem::regionName_t region) : m_err(region) { m_msgString[0] = '\0'; }

IntnlErr::IntnlErr(const IntnlErr& src, mem::regionName_t region) : m_err(src.m_err, region) {
  memcpy(m_msgString, src.m_msgString, sizeof m_msgString);
}

IntnlErr::IntnlErr(RcSeverity severity) : m_err(severity, 0, nullptr) { m_msgString[0] = '\0'; }

IntnlErr::IntnlErr(RcSeverity severity, const char* msgString, int code, const char* routine)
    : m_err(severity, code, routine) {
  addStringString(msgString);
}

IntnlErr::IntnlErr(RcSeverity severity, const char* msgString, int code, const VarArgs& args,
                   const char* routine)
    : m_err(severity, code, args, routine) {
  addStringString(msgString);
}

void IntnlErr::saveOn(ByteStrm& s) const {
  m_err.saveOn(s);
  s.writeStr(m_msgString, strlen(m_msgString));
}

size_t IntnlErr::binarySize() const {
  return m_err.binarySize() + ByteStrm::strSize(strlen(m_msgString));
}

void IntnlErr::restoreFrom(ByteStrm& s) {
  m_err.restoreFrom(s);
  s.readStr(m_msgString, MSG_STR_BUF_SIZE);
}

void IntnlErr::clear() {
  m_err.clear();
  m_msgString[0] = '\0';
}

void IntnlErr::addStringString(const char* msgString) {
  snprintf(m_msgString, sizeof m_msgString, "%s", msgString != nullptr ? msgString : "");
}

std::string IntnlErr::format(const IntnlErr& err, Err::FmtFlags flags) {
  try {
    return err.formatHelper(flags);
  } catch (...) {
    return kFormatFallback;
  }
}

std::string IntnlErr::formatHelper(Err::FmtFlags flags) const {
  std::string text;
  if (!(flags & Err::FF_OMIT_SEVERITY)) text += std::string(m_err.severityLabel()) + ": ";
  if ((flags & Err::FF_SHOW_CODES) && m_err.code() != 0) {
    text += Err::codePrefix(m_err.code(), m_err.code2());
  }
  text += m_msgString;
  if (m_err.code() != 0) {
    if (m_msgString[0] != '\0') text += " - ";
    text += codeText(m_err.code(), m_err.args());
  }
  if (m_err.code2() != 0) text += " - " + codeText(m_err.code2(), m_err.args2());
  if (m_err.fileName() != nullptr) {
    text += std::string(" (in file ") + m_err.fileName() + ", line " +
            std::to_string(m_err.lineNo()) + ")";
  }
  text += ".";
  return text;
}

CaughtExc CaughtExc::classify() {
  try {
    throw;
  } catch (Err& err) {
    return {RC_ERR, &err, nullptr, nullptr};
  } catch (const IntnlErr& err) {
    return {INTNL_ERR, nullptr, &err, nullptr};
  } catch (const std::exception& ex) {
    return {STD_EXCEPTION, nullptr, nullptr, &ex};
  } catch (...) {
    return {OTHER, nullptr, nullptr, nullptr};
  }
}

int CaughtExc::code(int otherCode) const {
  if (err != nullptr) return err->code();
  if (intnlErr != nullptr) return intnlErr->code();
  return otherCode;
}

const char* builtInErrText(int strCode) {
  static_assert(std::size(kBuiltInTexts) == RC_SC_LOGIN_ERROR + 1);
  if (strCode < 0 || strCode > RC_SC_LOGIN_ERROR) return nullptr;
  return kBuiltInTexts[strCode];
}

ErrTextRtn setErrTextRtn(ErrTextRtn rtn) { return installHook(s_textRtn, rtn, &noCatalogText); }

ErrPrintRtn setErrPrintRtn(ErrPrintRtn rtn) { return installHook(s_printRtn, rtn, &printToStdErr); }

void Err_Print(const Err& err) { s_printRtn(&err, nullptr); }

void Err_Print(const IntnlErr& intnlErr) { s_printRtn(nullptr, &intnlErr); }

namespace {

void reportAssert(const char* condition, const char* msg, bool addErrno, const char* fileName,
                  int lineNo) {
  const int savedErrno = errno;
  VarArgs args;
  args << condition;
  if (msg != nullptr) args << msg;
  IntnlErr intnlErr(RC_FATAL, nullptr, msg != nullptr ? RC_SC_ASSERT_MSG : RC_SC_ASSERT, args,
                    "reComps/Assert::throwAssert");
  if (addErrno) intnlErr.err().addCode2(Err::errnoCode(savedErrno));
  intnlErr.err().addFileName(fileName, lineNo);
  Err_Print(intnlErr);
  if (Assert::s_abortOnFail) {
    IntnlErr::setAbortErr(intnlErr);
    abort();
  }
  throw IntnlErr(intnlErr);
}

void raiseCoded(int code, const char* arg, const char* routine) {
  Err_Throw(Err(RC_ERROR, code, VarArgs() << arg, routine));
}

// The units below rc::Err report their failures as errors once this file is part of the program.
[[maybe_unused]] const bool s_failRtnsInstalled =
    (setAssertRtn(&reportAssert), setRaiseRtn(&raiseCoded), true);

}  // namespace

}  // namespace rc
