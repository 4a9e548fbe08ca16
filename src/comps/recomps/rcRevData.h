// The revision identity of a program in a fixed-size, serialisable form, so that one program can
// ask another for its revision over the message layer: the build stamp, the revision symbol and
// the revision label, each at most 47 characters (longer texts are cut). A default-constructed
// object holds this program's own revision.
//
// The statics learn the installed release's revision by running the revision command "qvrev"
// found along PATH (directly, never through a shell) and select the revision texts that agree
// with a given one in their leading numbers. s_qvrevBuffer is process-wide and filled once;
// single-threaded use is assumed. Nothing here is for use in signal handlers.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "comps/memcomps/base/memNewDelete.h"

namespace rc {

class ByteStrm;

class RevData : public mem::newDelete<mt_anonymous> {
 public:
  enum { FIELD_SIZE = 48, QVREV_BUF_SIZE = 256 };
  // Three strings of at most 47 characters: 3 x (4 + 48).
  enum : unsigned { BINARY_SIZE = 156 };
  using SetHdsRevs = std::set<std::string>;
  using VecHdsRevsDigits = std::vector<int>;

  RevData();
  RevData(const RevData& src);
  RevData& operator=(const RevData& src);
  ~RevData() = default;

  const char* buildStr() const { return m_buildStr; }
  const char* revSymbol() const { return m_revSymbol; }
  const char* revLabel() const { return m_revLabel; }
  void set(const char* buildStr, const char* revSymbol, const char* revLabel);

  unsigned binarySize() const { return BINARY_SIZE; }
  void saveOn(ByteStrm& s) const;
  void restoreFrom(ByteStrm& s);

  void dump() const { dumpObj(0, nullptr); }
  void dumpObj(int indentLvl, const char* label) const;

  // Reads the first output line of the revision command into s_qvrevBuffer (once); false, with
  // a log line and the buffer left empty, when the command cannot be found, run or read.
  static bool initHdsVersion();
  // The members of hdsRevStrs whose first numDigitsToMatch numbers (of major, minor, sub-minor,
  // patch) equal those of hdsRevToBeMatched.
  static SetHdsRevs revCompare(std::string hdsRevToBeMatched, const SetHdsRevs& hdsRevStrs,
                               int numDigitsToMatch);
  // The numbers of a revision line ("Release 7.1.0.0 [Build 35553]" gives 7, 1, 0, 0); empty
  // for an empty text.
  static VecHdsRevsDigits createVecOfHdsRevDigits(const char* hdsVerStr);

  static char s_qvrevBuffer[QVREV_BUF_SIZE];

 private:
  char m_buildStr[FIELD_SIZE];
  char m_revSymbol[FIELD_SIZE];
  char m_revLabel[FIELD_SIZE];
};

}  // namespace rc
