// The message catalog: turns a message code into its text. The texts of codes 0 to 28 are built
// into the program so that the errors that can occur before any strings file is readable always
// have text. One catalog per process, reached through instance(). Not thread-safe.
#pragma once

#include <string>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcVarArgs.h"

namespace rc {

struct StrDbRec {
  int m_code;
  const char* m_str;
};

class StrDb {
 public:
  enum { NumStrDbRecs = 29 };

  static StrDb* instance();

  // The text of a code; never null. "<no string defined>" when the catalog has no text for it.
  const char* lookupString(int strCode) const;

  static std::string format(int strCode);
  static std::string format(int strCode, const VarArgs& args);
  // Severity label, ": ", with showCode "QV-%05d: " and the raw code, then the text.
  static std::string format(RcSeverity severity, int strCode, bool showCode);
  static std::string format(RcSeverity severity, int strCode, const VarArgs& args, bool showCode);
};

}  // namespace rc
