// Assertions, and the coded failures of the units rc::Err is built on. RC_ASSERT states a
// condition the program's own logic guarantees; Assert_throwAssert reports one that failed. The
// byte stream and the string vectors sit below rc::Err (an error holds its arguments in them), so
// they raise their coded failures through raiseErr instead of naming rc::Err. Both hand over to
// routines the error unit installs when it is part of the program: there a failed assertion
// becomes an rc::IntnlErr, printed at once and then aborting (the default) or thrown, and raiseErr
// throws rc::Err (RC_ERROR, the code, the one argument, the routine). Without the error unit a
// failure is written to standard error and the process aborts.
#pragma once

namespace rc {

class Assert {
 public:
  static void setAbortOnFail(bool abortOnFail) { s_abortOnFail = abortOnFail; }
  static bool s_abortOnFail;
};

// Reports a failed assertion: prints the internal error at once, then aborts (the default) or,
// with abort switched off, throws it as rc::IntnlErr.
void Assert_throwAssert(const char* condition, const char* msg, bool addErrno, const char* fileName,
                        int lineNo);

// Throws rc::Err (RC_ERROR, code, arguments { arg }, routine).
[[noreturn]] void raiseErr(int code, const char* arg, const char* routine);

using AssertRtn = void (*)(const char* condition, const char* msg, bool addErrno,
                           const char* fileName, int lineNo);
// Must not return.
using RaiseRtn = void (*)(int code, const char* arg, const char* routine);
// Each returns the previous routine; null restores the default.
AssertRtn setAssertRtn(AssertRtn rtn);
RaiseRtn setRaiseRtn(RaiseRtn rtn);

}  // namespace rc

// Asserts a condition that the program's own logic guarantees.
#define RC_ASSERT(cond) \
  ((cond) ? (void)0 : rc::Assert_throwAssert(#cond, nullptr, false, __FILE__, __LINE__))
#define RC_ASSERT_MSG(cond, msg) \
  ((cond) ? (void)0 : rc::Assert_throwAssert(#cond, (msg), false, __FILE__, __LINE__))
