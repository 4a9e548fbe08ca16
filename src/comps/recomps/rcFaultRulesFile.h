// The fault rules file: the text a tester writes to say which faults of a program are on.
//
// Each line sets one attribute, or one field of an attribute, of one rule:
//   <rule>.<attribute>[.<field>[.<subfield>]] = <value>   # comment
// rc::fault::Tkn splits a line into tokens (words, quoted texts, "=", end of line or comment);
// rc::fault::RulesFile reads the lines of a file, or of an rc::StrVec, and applies them in order
// to its rc::fault::Rules. Lines are cut into pieces of at most MAX_LINE_LEN characters, each
// counting as a line of its own; a carriage return before the line end is dropped.
//
// Errors: open raises rc::Err RC_SC_OPEN_FAILED (the file name, errno). An error raised while a
// line is applied, and a failed read, leave read() with the line number (and the file name)
// attached; the rules read so far stay in rules(). A plain value given to an attribute that is an
// auto-counter is such an error (RC_SC_BAD_VALUE: the name, the value). Anything else a line holds
// that the model does not know (fields, type names) is passed over. Not thread-safe.
#pragma once

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memString.h"
#include "comps/recomps/rcFaultRule.h"
#include "comps/recomps/rcFile.h"

namespace rc {
class StrVec;
}

namespace rc::fault {

class Tkn {
 public:
  enum Type { T_NONE = 0, T_ID = 1, T_EQ = 2, T_EOL = 3, T_QUOTED = 4 };

  Tkn();
  Tkn(const Tkn&) = delete;
  Tkn& operator=(const Tkn&) = delete;

  // Copies the line and starts reading it from its first character.
  void setLine(const char* line);
  // Reads the next token into token and returns its type: T_ID for a word or a quoted text, T_EQ
  // for "=", T_EOL at the end of the line or a "#". When no characters are left, token is left as
  // it was. A quoted text that reads as a number keeps its quotes (so that it stays a string).
  int next(String& token);

 private:
  String m_line;
  int m_end;
  int m_pos;
};

class RulesFile : public mem::newDelete<mt_rc_fault_rules_file> {
 public:
  enum { MAX_LINE_LEN = 2048 };
  // The largest rules file open accepts.
  static constexpr long long MAX_FILE_BYTES = 64LL << 20;

  RulesFile();
  ~RulesFile();
  RulesFile(const RulesFile&) = delete;
  RulesFile& operator=(const RulesFile&) = delete;

  // Opens the file for reading; RC_SC_OPEN_FAILED when it cannot be opened, or when it is not a
  // regular file or is larger than MAX_FILE_BYTES (then with a second code RC_SC_CERROR saying
  // which).
  void open(const char* pathName);
  // Reads these lines instead of the file (not owned; must outlive read()).
  void setLines(const StrVec* lines) { m_lines = lines; }
  // Applies every line to rules().
  void read();
  Rules& rules() { return m_rules; }
  void close();

  // Applies one line (tokenised with tkn) to rules; errors leave without a line number.
  static void applyLine(Rules& rules, Tkn& tkn, const char* line);

 private:
  void readFile();
  void readLines();
  // Applies the line numbered lineNo, attaching the number (and the file name) to an error.
  void apply(const char* line, int lineNo);
  [[noreturn]] void rethrowWithLine(Err err, int lineNo) const;

  File m_file;
  Rules m_rules;
  const StrVec* m_lines;
  Tkn m_tkn;
  char m_lineBuf[MAX_LINE_LEN + 1];
};

}  // namespace rc::fault
