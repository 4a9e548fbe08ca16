#include "comps/recomps/rcAssert.h"

#include <cstdio>
#include <cstdlib>

#include "comps/recomps/rcHook.h"

namespace rc {

namespace {

void abortOnAssert(const char* condition, const char* msg, bool /*addErrno*/, const char* fileName,
                   int lineNo) {
  fprintf(stderr, "Assertion failed: %s%s%s (in file %s, line %d)\n", condition,
          msg != nullptr ? " - " : "", msg != nullptr ? msg : "",
          fileName != nullptr ? fileName : "?", lineNo);
  abort();
}

void abortOnRaise(int code, const char* arg, const char* routine) {
  fprintf(stderr, "%s: error %d (%s)\n", routine != nullptr ? routine : "?", code,
          arg != nullptr ? arg : "");
  abort();
}

AssertRtn s_assertRtn = &abortOnAssert;
RaiseRtn s_raiseRtn = &abortOnRaise;

}  // namespace

bool Assert::s_abortOnFail = true;

void Assert_throwAssert(const char* condition, const char* msg, bool addErrno, const char* fileName,
                        int lineNo) {
  s_assertRtn(condition, msg, addErrno, fileName, lineNo);
}

void raiseErr(int code, const char* arg, const char* routine) {
  s_raiseRtn(code, arg, routine);
  abort();
}

AssertRtn setAssertRtn(AssertRtn rtn) { return installHook(s_assertRtn, rtn, &abortOnAssert); }

RaiseRtn setRaiseRtn(RaiseRtn rtn) { return installHook(s_raiseRtn, rtn, &abortOnRaise); }

}  // namespace rc
