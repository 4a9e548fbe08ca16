// The message catalog: turns a message code into its text.
//
// Code c belongs to range c / 100 and has index c % 100 in it. The texts of codes 0 to 28 are
// built into the program, so the errors that can occur before any strings file is readable always
// have text; every other range is read lazily, the first time one of its codes is missed, from
// the strings file <range symbol>Strings.<language dir>.txt in the strings directory. A range is
// read at most once: a file that cannot be opened is reported once, and later misses answer
// "<rc::StrVec index too big>" at once. Texts are only ever added, never replaced.
//
// Codes outside 0 to 3299 (negative codes, codes carrying flag bits) have no range: a lookup of
// one answers "<no string defined>", and a strings-file line with one is refused with a printed
// error; neither ever indexes a table.
//
// One standard catalog per process (instance()); a second one, the shared-memory catalog
// (instance(1)), serialises every add and lookup with a semaphore mutex that a process may take
// recursively and that other processes sharing the catalog (forked children) wait on. A lookup
// that cannot take the mutex goes on without it; an add that cannot take it ends the process.
// Texts are stored in rc::StrVec pools and never move: a text once returned stays valid until the
// catalog is destroyed. The catalog and its language tables are mt_strdb heap blocks. Not for use
// in signal handlers.
#pragma once

#include <cstddef>
#include <string>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcLocale.h"
#include "comps/recomps/rcStrVec.h"
#include "comps/recomps/rcVarArgs.h"

namespace rc {

class Mutex;
class StrVec;

// How the catalog reports problems with its strings files: a warning, or with logOnly a line for
// the log only. The output facility formats its texts through this catalog, so it sits above it
// and installs its printers when it is part of the program; until then warnings go to standard
// error and log-only lines nowhere. Returns the previous routine; null restores the default.
using StrDbReportRtn = void (*)(RcSeverity severity, bool logOnly, const char* text);
StrDbReportRtn setStrDbReportRtn(StrDbReportRtn rtn);

class StrCodeDefs {
 public:
  enum CodeRange { CR_RC = 0, CR_RC_TST = 1, CR_AC = 2, CR_DC = 11, CR_ADC = 13, CR_END = 33 };
  enum {
    CODES_PER_RANGE = 100,
    CODE_INDEX_BEGIN = 0,
    CODE_INDEX_END = 100,
    MAX_ID_RANGES = 33,
    MAX_CODE = MAX_ID_RANGES * CODES_PER_RANGE - 1
  };

  static bool isCatalogCode(int strCode) { return strCode >= 0 && strCode <= MAX_CODE; }
  static int codeRange(int strCode) { return strCode / CODES_PER_RANGE; }
  static int rangeIndex(int strCode) { return strCode % CODES_PER_RANGE; }
  // The range's short name ("rc", "ac" ...), which prefixes its strings file; "unknown" for a
  // range without one.
  static const char* rangeSymbolName(int range);
};

struct StrDbRec {
  int m_code;
  const char* m_str;
};

// The texts of one language: one vector per code range, created on first use, the entry at
// position i holding the text of code range * 100 + i ("<unused>" in gaps).
class LocVec : public mem::newDelete<mt_strdb> {
 public:
  enum { STR_VEC_CAPACITY = 50, STR_VEC_CHARS = 64 };

  explicit LocVec(Locale::LangType langType);
  ~LocVec();
  LocVec(const LocVec&) = delete;
  LocVec& operator=(const LocVec&) = delete;

  // Refuses (with a printed non-fatal internal error) a code at or below the highest one already
  // present in its range, and codes without a range. While a strings file loads, the refusal is
  // one of that file's reports instead.
  void addString(int strCode, const char* str);
  void addString(const StrDbRec& rec) { addString(rec.m_code, rec.m_str); }
  void addStrings(size_t nRecs, const StrDbRec* recs);
  // Reads the range's strings file on the first miss; never null.
  const char* lookupString(int strCode);

  // The vector of the code's range, or null when there is none yet (or the code has no range).
  const StrVec* strVec(int strCode) const;
  // The vector of the code's range, created when missing (null for a code without a range);
  // *isLoaded tells whether the range's strings file has been read.
  StrVec* strVec(int strCode, bool* isLoaded);
  int codeRange(int strCode) const;
  // "<range symbol>Strings.<dir>.txt"
  std::string fileName(int range) const;
  // Reads the strings file of a range; a file that cannot be opened, is not a regular file or is
  // larger than MAX_FILE_BYTES is thrown as rc::Err. A line in no known format, a line too long
  // for the reader (skipped) and a read failure are logged as parse errors naming the file and
  // the line; a refused code is printed as a non-fatal internal error. A file's first
  // MAX_FILE_REPORTS problems are reported, then their count is logged.
  void initFromFile(int range);
  enum { MAX_FILE_REPORTS = 10 };
  static constexpr long long MAX_FILE_BYTES = 64LL << 20;
  // The line parser; both work in place on the line buffer.
  int strCodeToken(char* curPos, char** newPos, int lineNum, const char* fileName);
  static char* strTxtToken(char* curPos);
  bool isLoaded(int range) const { return m_strVecLoaded[range]; }
  void dump() const;

 private:
  class FileReports;

  StrVec* rangeVec(int range);
  void refuse(const char* what, int value);

  Locale::LangType m_langType;
  StrVec* m_strVecs[StrCodeDefs::MAX_ID_RANGES];

 public:
  // The text when the code's range already holds it; null otherwise (then lookupString decides).
  const char* findLoaded(int strCode) const {
    if (!StrCodeDefs::isCatalogCode(strCode)) return nullptr;
    const StrVec* vec = m_strVecs[StrCodeDefs::codeRange(strCode)];
    const unsigned int index = static_cast<unsigned int>(StrCodeDefs::rangeIndex(strCode));
    return vec != nullptr && index < vec->entries() ? (*vec)[index] : nullptr;
  }

 private:
  bool m_strVecLoaded[StrCodeDefs::MAX_ID_RANGES];
  // The reports of the strings file being read; null between loads.
  FileReports* m_fileReports = nullptr;
};

class StrDb : public mem::newDelete<mt_strdb> {
 public:
  enum { NumStrDbRecs = 29 };

  // The built-in texts; REGION_GLOBAL (1) also creates the mutex of a shared catalog.
  explicit StrDb(mem::regionName_t region = mem::REGION_HEAP);
  ~StrDb();
  StrDb(const StrDb&) = delete;
  StrDb& operator=(const StrDb&) = delete;

  // The shared-memory catalog if one is set, else the standard one (created on first use).
  static StrDb* instance();
  // Region 0: the standard catalog; region 1: the shared-memory catalog with its mutex, each
  // created on first use. Any other region is a failed assertion ("unknown mem region").
  static StrDb* instance(int region);
  static StrDb* stdInstance();
  static StrDb* shmInstance();
  static void setShmInstance(StrDb* strDb);
  // Destroys both catalogs (and the shared one's semaphore).
  static void cleanupInstance();

  void addStrings(size_t nRecs, const StrDbRec* recs, Locale::LangType langType);
  void addString(int id, const char* str, Locale::LangType langType);
  void addString(const StrDbRec& rec, Locale::LangType langType) {
    addString(rec.m_code, rec.m_str, langType);
  }

  // The text of a code; never null.
  const char* lookupString(int strCode) const {
    // Without a mutex (the process's own catalog) a text already loaded is answered at once.
    if (m_mutex == nullptr && m_dfltLocVec != nullptr) {
      const char* text = m_dfltLocVec->findLoaded(strCode);
      if (text != nullptr) return text;
    }
    return lookupString(strCode, Locale::LT_DEFAULT);
  }
  const char* lookupString(int strCode, Locale::LangType langType) const;

  // The language's texts, created on first use (the non-const form).
  LocVec* locVec(Locale::LangType langType);
  LocVec* locVec(Locale::LangType langType) const;

  static std::string format(int strCode);
  static std::string format(int strCode, const VarArgs& args);
  // Severity label, ": ", with showCode "QV-%05d: " and the raw code, then the text; no period.
  static std::string format(RcSeverity severity, int strCode, bool showCode);
  static std::string format(RcSeverity severity, int strCode, const VarArgs& args, bool showCode);

  // Null but in the shared-memory catalog.
  Mutex* mutex() const { return m_mutex; }

  void dump() const;

 private:
  LocVec* m_locVecs[Locale::MAX_LANG_TYPES];
  LocVec* m_dfltLocVec;
  Mutex* m_mutex;
};

// Holds a catalog's mutex for a scope; does nothing for a catalog without one. With
// throwOnFailure a mutex that cannot be taken leaves the scope unlocked; without it the process
// ends.
class StrDbMutexGuard {
 public:
  StrDbMutexGuard(Mutex* mutex, bool throwOnFailure);
  ~StrDbMutexGuard();
  StrDbMutexGuard(const StrDbMutexGuard&) = delete;
  StrDbMutexGuard& operator=(const StrDbMutexGuard&) = delete;

  bool isLocked() const { return m_criticalSectionEntered; }

 private:
  Mutex* m_mutex;
  bool m_criticalSectionEntered;
};

}  // namespace rc
