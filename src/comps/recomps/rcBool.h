// The tri-state switch value of options and control records: no, yes, "as is" (leave the
// setting unchanged when a control record is merged) and bad. rc::Bool parses the option words
// (yes/no, true/false, y/n, t/f, 1/0 ignoring case, and "asIs" exactly) and reports a missing or
// unrecognised value as rc::Err (RC_ERROR). Unlike the environment's boolean reading it does not
// take on/off. A plain value type; no process-wide state.
#pragma once

#include "comps/recomps/rcErr.h"

enum RcBool {
  RC_B_BAD = -2,
  RC_B_AS_IS = -1,
  RC_B_NO = 0,
  RC_B_FALSE = 0,
  RC_B_YES = 1,
  RC_B_TRUE = 1
};

namespace rc {

class Bool {
 public:
  explicit Bool(int val = RC_B_NO) : m_val(val) {}
  explicit Bool(const char* symbol) : m_val(val(symbol)) {}
  Bool(const Bool&) = default;
  Bool& operator=(const Bool&) = default;

  int val() const { return m_val; }
  const char* symbol() const { return symbol(m_val); }
  const char* label() const { return label(m_val); }

  // "bad", "asIs", "no", "yes"; "unknown" for any other value.
  static const char* symbol(int val);
  // "Bad", "As Is", "No", "Yes"; "Unknown" for any other value.
  static const char* label(int val);
  // The value of an option word; RC_B_BAD for null or a word it does not know.
  static int val(const char* symbol);
  // The words an option value may be, as error texts list them.
  static constexpr const char* WORDS = "yes/no, true/false, 1/0";

  // The value of an option's value word (RC_B_AS_IS included). Throws RC_SC_NEED_ARG_VAL
  // (keyword) for a null or empty value, RC_SC_NEED_BOOL (keyword, value, WORDS) for an unknown
  // word.
  static int needArg(const char* keyword, const char* value);
  // The value of a word. An unknown word is RC_SC_BAD_BOOL_VAL (symbol), a null or empty one
  // RC_SC_BAD_NULL ("boolean"): stored into *err with the result RC_B_BAD, or thrown when err is
  // null.
  static int parse(const char* symbol, Err* err);

  int m_val;
};

}  // namespace rc
