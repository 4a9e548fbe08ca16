// ac::App: the standard arguments, the usage printers and the option value readers.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcHelpArgs.h"
#include "comps/recomps/rcUtils.h"

namespace ac {

namespace {

[[noreturn]] void throwArgErr(int code, const char* arg, const char* routine) {
  rc::Err_Throw(rc::Err(RC_ERROR, code, rc::VarArgs() << arg, routine));
}

void needArgVal(const char* argVal, const char* argTxt, const char* routine) {
  if (argVal == nullptr) throwArgErr(AC_SC_NEED_ARG_VAL, argTxt, routine);
}

bool endsAt(const char* end, const char* argVal) { return end == argVal + strlen(argVal); }

}  // namespace

void App::processAppArgs(int* argc, char** argv) { processStdArgs(argc, argv); }

void App::processStdArgs(int* argc, char** argv) {
  for (int i = 0; i < *argc; ++i) {
    if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "-?") == 0) {
      --*argc;
      printUsage();
      _do_exit(0);
    }
  }
}

void App::printUsageSummary() const { rc::Utils::printUsageSummary(programName()); }

void App::printStdArgsUsage(int tabW) const { rc::HelpArgs::printUsage(tabW); }

std::ostream& App::printArgUsage(std::ostream& os, const char* arg, int tabW,
                                 const char* description) {
  os << ' ';
  if (arg == nullptr) {
    os.setstate(std::ios::failbit);
  } else {
    os << arg;
    const int pad = tabW - static_cast<int>(strlen(arg));
    for (int i = 0; i < pad; ++i) os << ' ';
  }
  if (description == nullptr) {
    os.setstate(std::ios::failbit);
  } else {
    os << description;
  }
  return os << "\n";
}

long App::needIntArg(const char* argVal, const char* argTxt, int strToLBase) {
  static const char* const routine = "appcomps/App::needIntArg";
  needArgVal(argVal, argTxt, routine);
  char* end = nullptr;
  errno = 0;
  const long value = strtol(argVal, &end, strToLBase);
  if (!endsAt(end, argVal)) throwArgErr(AC_SC_NEED_INT, argVal, routine);
  if (errno == ERANGE) throwArgErr(AC_SC_OUT_OF_RANGE, argVal, routine);
  return value;
}

int64_t App::needInt64Arg(const char* argVal, const char* argTxt, int strToLBase) {
  needArgVal(argVal, argTxt, "appcomps/App::needInt64Arg");
  char* end = nullptr;
  errno = 0;
  const long long value = strtoll(argVal, &end, strToLBase);
  if (end == argVal || !endsAt(end, argVal)) throwArgErr(AC_SC_NEED_INT, argVal, nullptr);
  if (errno == ERANGE) throwArgErr(AC_SC_OUT_OF_RANGE, argVal, nullptr);
  return value;
}

double App::needFloatArg(const char* argVal, const char* argTxt) {
  static const char* const routine = "appcomps/App::needFloatArg";
  needArgVal(argVal, argTxt, routine);
  char* end = nullptr;
  errno = 0;
  const double value = rc::Utils::QvStrtod(argVal, &end);
  if (!endsAt(end, argVal)) throwArgErr(AC_SC_NEED_FLOAT, argVal, routine);
  if (errno == ERANGE) throwArgErr(AC_SC_OUT_OF_RANGE, argVal, routine);
  return value;
}

std::string App::needStringArg(const char* argVal, const char* argTxt) {
  needArgVal(argVal, argTxt, "appcomps/App::needStringArg");
  return argVal;
}

}  // namespace ac
