// Coded errors. Every reported failure is an rc::Err thrown by value: a severity, a catalog code
// with its arguments, an optional second code (typically errno | UNIX_ERRNO) with its own
// arguments, an optional file name and line, and the raising routine
// ("component/Class::method"). The text is never stored: format() builds it from the catalog.
// rc::IntnlErr reports a violated internal condition (a failed assertion). Not thread-safe.
#pragma once

#include <exception>
#include <string>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/recomps/rcAssert.h"
#include "comps/recomps/rcStrCodes.h"
#include "comps/recomps/rcVarArgs.h"

enum RcSeverity : int {
  RC_NO_SEVERITY = 0,
  RC_DEBUG = 1,
  RC_INFO = 2,
  RC_WARNING = 3,
  RC_ERROR = 4,
  RC_NON_FATAL = 5,
  RC_FATAL = 6,
  RC_BAD_SEVERITY = 7
};

namespace rc {

class ByteStrm;

class Severity {
 public:
  explicit Severity(int id) : m_id(id) {}
  explicit Severity(const char* symbol) : m_id(id(symbol)) {}

  const char* symbol() const { return symbol(m_id); }
  const char* label() const { return label(m_id); }

  static const char* symbol(int id);
  static const char* label(int id);
  // False only for RC_DEBUG and RC_INFO.
  static bool isErrorSeverity(int id) { return id != RC_DEBUG && id != RC_INFO; }
  // Exact match of "debug" .. "fatal"; null or empty gives RC_NO_SEVERITY, else RC_BAD_SEVERITY.
  static int id(const char* symbol);

  int m_id;
};

class Err : public mem::newDelete<mt_err> {
 public:
  enum : int {
    UNIX_ERRNO = 0x08000000,
    NT_ERROR = 0x10000000,
    NT_WS2_ERROR = 0x20000000,
    CERROR = 0x40000000,
    MAX_ROUTINE_LEN = 47,
    ROUTINE_BUF_SIZE = 48
  };
  enum FmtFlags { FF_DEFAULT = 0, FF_SHOW_CODES = 1, FF_OMIT_SEVERITY = 2 };

  Err();
  explicit Err(mem::regionName_t region);
  Err(RcSeverity severity, int code, const char* routine);
  Err(RcSeverity severity, int code, int code2, const char* routine);
  Err(RcSeverity severity, int code, const VarArgs& args, const char* routine);
  // Callers pass VarArgs::NO_VARARGS for an absent list.
  Err(RcSeverity severity, int code, const VarArgs& args, int code2, const VarArgs& args2,
      const char* routine);
  // Deep copies: the owned lists and file name are copied into the copy's own region.
  Err(const Err& src);
  Err(const Err& src, mem::regionName_t region);
  Err& operator=(const Err& src);
  ~Err();

  // set() first clears everything, then stores what it is given.
  void set(RcSeverity severity, int code, const char* routine);
  void set(RcSeverity severity, int code, int code2, const char* routine);
  void set(RcSeverity severity, int code, const VarArgs& args, const char* routine);
  void set(RcSeverity severity, int code, const VarArgs& args, int code2, const VarArgs& args2,
           const char* routine);
  void addSeverity(RcSeverity severity) { m_severity = severity; }
  void addCode(int code) { m_code = code; }
  void addCode(int code, const VarArgs& args);
  void addCode2(int code2) { m_code2 = code2; }
  void addCode2(int code2, const VarArgs& args2);
  void addLineNo(int lineNo) { m_lineNo = lineNo; }
  // Replaces the file name only when fileName is non-null, the line only when lineNo is non-zero.
  void addFileName(const char* fileName, int lineNo);
  // Copied and cut to MAX_ROUTINE_LEN characters.
  void addRoutine(const char* routine);
  void clear();
  void deepCopyFrom(const Err& src);
  // A heap copy the caller owns.
  Err* copy() const;

  // The error of a failed system call: RC_ERROR, the code with its arguments, and the saved
  // errno marked UNIX_ERRNO as the second code. Every system-call failure is built here.
  static Err fromErrno(int code, const VarArgs& args, int savedErrno, const char* routine);
  // The second code that stands for a saved errno.
  static int errnoCode(int savedErrno) { return savedErrno | UNIX_ERRNO; }

  mem::regionName_t memRegion() const { return m_memRegion; }
  RcSeverity severity() const { return m_severity; }
  int code() const { return m_code; }
  int code2() const { return m_code2; }
  // The argument lists; null when absent.
  const VarArgs* args() const { return m_args; }
  const VarArgs* args2() const { return m_args2; }
  int lineNo() const { return m_lineNo; }
  const char* fileName() const { return m_fileName; }
  const char* routine() const { return m_routine; }
  const char* severityLabel() const { return Severity::label(m_severity); }
  const char* severitySymbol() const { return Severity::symbol(m_severity); }

  // "QV-%05d: ", or "QV-%05d/%05d: " when code2 is non-zero: how codes are shown in messages.
  static std::string codePrefix(int code, int code2 = 0);
  // CERROR codes display as number + 10000, UNIX_ERRNO codes as number + 20000.
  static int displayCode(int strCode);
  // strerror for UNIX_ERRNO codes, otherwise the catalog's text.
  static const char* lookupString(int strCode);
  // The error's text; never throws (a failure gives a fixed fallback text).
  static std::string format(const Err& err, FmtFlags flags = FF_DEFAULT);
  static void setAbortErr(const Err& err) { s_abortErr = &err; }

  // Severity, code, the primary list (a flag and the list), second code, its list, line, file
  // name and routine. A restore of damaged bytes raises RC_SC_READ_FAILED.
  void saveOn(ByteStrm& s) const;
  void restoreFrom(ByteStrm& s);
  // The exact size saveOn writes, for sizing buffers.
  size_t binarySize() const;

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

  // The last error handed to setAbortErr (by Err_Throw), for post-mortem inspection.
  static const Err* s_abortErr;

 private:
  std::string formatHelper(FmtFlags flags) const;
  // Stores a list by the rule for argument lists: only a non-empty list is kept; an empty one
  // clears an existing list and allocates nothing.
  void assignArgs(VarArgs*& dst, const VarArgs* src);
  static void restoreArgs(ByteStrm& s, VarArgs*& args);

  // The region in which the error's owned parts (lists, file name) are allocated.
  mem::regionName_t m_memRegion;
  RcSeverity m_severity;
  int m_code;
  VarArgs* m_args;
  int m_code2;
  VarArgs* m_args2;
  int m_lineNo;
  char* m_fileName;
  char m_routine[ROUTINE_BUF_SIZE];
};

// Throws a copy of err.
[[noreturn]] void Err_Throw(const Err& err);
// Throws Err::fromErrno(code, args, savedErrno, routine).
[[noreturn]] void Err_ThrowErrno(int code, const VarArgs& args, int savedErrno,
                                 const char* routine);

class IntnlErr : public mem::newDelete<mt_intnl_err> {
 public:
  enum { MSG_STR_BUF_SIZE = 256, MAX_MSG_STR_LEN = 255 };
  // The same format flags as rc::Err's, reachable under this class's own name.
  using FmtFlags = Err::FmtFlags;
  static constexpr FmtFlags FF_DEFAULT = Err::FF_DEFAULT;
  static constexpr FmtFlags FF_SHOW_CODES = Err::FF_SHOW_CODES;
  static constexpr FmtFlags FF_OMIT_SEVERITY = Err::FF_OMIT_SEVERITY;

  IntnlErr();
  explicit IntnlErr(mem::regionName_t region);
  explicit IntnlErr(RcSeverity severity);
  IntnlErr(RcSeverity severity, const char* msgString, int code, const char* routine);
  IntnlErr(RcSeverity severity, const char* msgString, int code, const VarArgs& args,
           const char* routine);

  IntnlErr(const IntnlErr& src) = default;
  IntnlErr(const IntnlErr& src, mem::regionName_t region);
  IntnlErr& operator=(const IntnlErr& src) = default;

  Err& err() { return m_err; }
  const Err& err() const { return m_err; }
  RcSeverity severity() const { return m_err.severity(); }
  int code() const { return m_err.code(); }
  const char* msgString() const { return m_msgString; }
  // Copied and cut to MAX_MSG_STR_LEN characters.
  void addStringString(const char* msgString);
  void clear();

  // The error part, then the message.
  void saveOn(ByteStrm& s) const;
  void restoreFrom(ByteStrm& s);
  size_t binarySize() const;

  static std::string format(const IntnlErr& err, FmtFlags flags = FF_DEFAULT);
  static void setAbortErr(const IntnlErr& err) { s_abortErr = &err; }
  static const IntnlErr* s_abortErr;

 private:
  std::string formatHelper(FmtFlags flags) const;

  Err m_err;
  char m_msgString[MSG_STR_BUF_SIZE];
};

// What errors need from the facilities above them, installed by those facilities when they are
// part of the program: the message catalog its text lookup, the output facility its printer.
// Until then a catalog code has only its built-in text, if any, and errors are written to
// standard error.
using ErrTextRtn = const char* (*)(int strCode);
using ErrPrintRtn = void (*)(const Err* err, const IntnlErr* intnlErr);
// Each returns the previous routine; null restores the default.
ErrTextRtn setErrTextRtn(ErrTextRtn rtn);
ErrPrintRtn setErrPrintRtn(ErrPrintRtn rtn);
// The built-in text of a code of range 0 (RC_SC_OK to RC_SC_LOGIN_ERROR); null for other codes.
const char* builtInErrText(int strCode);
// Shows an error, with its newline, where the program's errors go.
void Err_Print(const Err& err);
void Err_Print(const IntnlErr& intnlErr);

}  // namespace rc

namespace rc {

// The exception a catch (...) handler holds, sorted into the kinds the framework reports
// differently. Exactly one pointer is set for the first three kinds; they point at the exception
// object itself, so they stay valid until the handler that called classify() ends.
struct CaughtExc {
  enum Kind { RC_ERR, INTNL_ERR, STD_EXCEPTION, OTHER };
  Kind kind;
  Err* err;
  const IntnlErr* intnlErr;
  const std::exception* stdEx;

  // Only inside a catch handler (it rethrows the exception in flight to look at it).
  static CaughtExc classify();
  // The error code the exception carries: the error's own code, otherwise otherCode.
  int code(int otherCode) const;
};

}  // namespace rc
