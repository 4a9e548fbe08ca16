#include "comps/recomps/rcStrDb.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcFile.h"
#include "comps/recomps/rcHook.h"
#include "comps/recomps/rcMutex.h"
#include "comps/recomps/rcStrVec.h"

namespace rc {

namespace {

// Errors find their texts here once the catalog is part of the program.
const char* catalogText(int strCode) { return StrDb::instance()->lookupString(strCode); }
[[maybe_unused]] const bool s_textRtnInstalled = (setErrTextRtn(&catalogText), true);

constexpr const char* kNoString = "<no string defined>";
constexpr const char* kUnused = "<unused>";
constexpr const char* kIndexTooBig = "<rc::StrVec index too big>";
constexpr size_t kLineBufSize = 2048;

StrDb* s_stdInstance = nullptr;
StrDb* s_shmInstance = nullptr;

void printRefused(const char* msg, int value) {
  Err_Print(IntnlErr(RC_NON_FATAL, msg, RC_SC_OUT_OF_RANGE, VarArgs() << value, nullptr));
}

void reportToStdErr(RcSeverity severity, bool logOnly, const char* text) {
  if (!logOnly) fprintf(stderr, "%s: %s", Severity::label(severity), text);
}

StrDbReportRtn s_reportRtn = &reportToStdErr;

// At most 2046 characters of the text, as the output facility keeps of free-form text.
void reportProblem(RcSeverity severity, bool logOnly, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
void reportProblem(RcSeverity severity, bool logOnly, const char* fmt, ...) {
  char buf[2048] = {};
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf - 1, fmt, ap);
  va_end(ap);
  s_reportRtn(severity, logOnly, buf);
}

void logParseError(const char* path, int lineNum, const char* what) {
  reportProblem(RC_INFO, true, "Parsing error caught in strings file %s at line number %d,%s\n",
                path, lineNum, what);
}

// The file line parser's complaint, kept in the wording users of the catalog know.
constexpr const char* kNotInFormat = "line not in format \"<id><white space><quoted message>\"";

std::string labelled(RcSeverity severity, int strCode, bool showCode) {
  std::string line = std::string(Severity::label(severity)) + ": ";
  if (showCode) line += Err::codePrefix(strCode);
  return line;
}

}  // namespace

StrDbReportRtn setStrDbReportRtn(StrDbReportRtn rtn) {
  return installHook(s_reportRtn, rtn, &reportToStdErr);
}

const char* StrCodeDefs::rangeSymbolName(int range) {
  switch (range) {
    case CR_RC: return "rc";
    case CR_RC_TST: return "rcTst";
    case CR_AC: return "ac";
    case CR_DC: return "dc";
    case CR_ADC: return "adc";
    default: return "unknown";
  }
}

// The problems found in one strings file. Their texts are built here, not from the catalog,
// because the catalog may be loading the very range their codes would come from. A file full of
// bad lines gives a few reports and a count, not one line each.
class LocVec::FileReports {
 public:
  explicit FileReports(const std::string& path) : m_path(path) {}
  ~FileReports() {
    if (m_count > MAX_FILE_REPORTS) {
      reportProblem(RC_INFO, true, "Parsing errors in strings file %s: %d more not shown\n",
                    m_path.c_str(), m_count - MAX_FILE_REPORTS);
    }
  }
  FileReports(const FileReports&) = delete;
  FileReports& operator=(const FileReports&) = delete;

  void setLineNum(int lineNum) { m_lineNum = lineNum; }
  // Counts a problem; false once the file's share of reports is used up.
  bool admit() { return ++m_count <= MAX_FILE_REPORTS; }
  // A problem with the current line, logged in the parser's own form.
  void report(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    if (!admit()) return;
    char what[256];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(what, sizeof what, fmt, ap);
    va_end(ap);
    logParseError(m_path.c_str(), m_lineNum, what);
  }

 private:
  std::string m_path;
  int m_lineNum = 0;
  int m_count = 0;
};

LocVec::LocVec(Locale::LangType langType) : m_langType(langType), m_strVecs{} {
  for (bool& loaded : m_strVecLoaded) loaded = false;
}

LocVec::~LocVec() {
  for (StrVec* vec : m_strVecs) delete vec;
}

StrVec* LocVec::rangeVec(int range) {
  StrVec*& vec = m_strVecs[range];
  if (vec == nullptr) vec = new StrVec(STR_VEC_CAPACITY, STR_VEC_CHARS);
  return vec;
}

const StrVec* LocVec::strVec(int strCode) const {
  return StrCodeDefs::isCatalogCode(strCode) ? m_strVecs[codeRange(strCode)] : nullptr;
}

StrVec* LocVec::strVec(int strCode, bool* isLoaded) {
  if (!StrCodeDefs::isCatalogCode(strCode)) return nullptr;
  const int range = codeRange(strCode);
  if (isLoaded != nullptr) *isLoaded = m_strVecLoaded[range];
  return rangeVec(range);
}

int LocVec::codeRange(int strCode) const {
  const int range = StrCodeDefs::codeRange(strCode);
  RC_ASSERT(range < StrCodeDefs::MAX_ID_RANGES);
  return range;
}

void LocVec::refuse(const char* what, int value) {
  if (m_fileReports == nullptr || m_fileReports->admit()) printRefused(what, value);
}

void LocVec::addString(int strCode, const char* str) {
  if (!StrCodeDefs::isCatalogCode(strCode)) {
    refuse("code outside the catalog's ranges", strCode);
    return;
  }
  StrVec& vec = *strVec(strCode, nullptr);
  const unsigned int index = static_cast<unsigned int>(StrCodeDefs::rangeIndex(strCode));
  if (index < vec.entries()) {
    refuse("index < nextSlot (reused code)", static_cast<int>(index));
    return;
  }
  while (vec.entries() < index) vec.append(kUnused);
  vec.append(str);
}

void LocVec::addStrings(size_t nRecs, const StrDbRec* recs) {
  for (size_t i = 0; i < nRecs; ++i) addString(recs[i]);
}

const char* LocVec::lookupString(int strCode) {
  if (!StrCodeDefs::isCatalogCode(strCode)) return nullptr;
  bool isLoaded = false;
  const StrVec& vec = *strVec(strCode, &isLoaded);
  const unsigned int index = static_cast<unsigned int>(StrCodeDefs::rangeIndex(strCode));
  if (index >= vec.entries() && !isLoaded) {
    try {
      initFromFile(codeRange(strCode));
    } catch (const Err& err) {
      Err_Print(err);
    }
  }
  return index < vec.entries() ? vec[index] : kIndexTooBig;
}

std::string LocVec::fileName(int range) const {
  return std::string(StrCodeDefs::rangeSymbolName(range)) + "Strings." +
         LocaleDb::instance()->dirName(m_langType) + ".txt";
}

int LocVec::strCodeToken(char* curPos, char** newPos, int lineNum, const char* fileName) {
  while (*curPos != '\0' && isspace(static_cast<unsigned char>(*curPos))) ++curPos;
  const char* digits = curPos;
  while (*curPos != '\0' && !isspace(static_cast<unsigned char>(*curPos))) {
    if (!isdigit(static_cast<unsigned char>(*curPos))) {
      if (m_fileReports != nullptr) {
        m_fileReports->report("%s", kNotInFormat);
      } else {
        logParseError(fileName, lineNum, kNotInFormat);
      }
      *curPos++ = '\0';  // the offending character ends the token and is consumed
      *newPos = curPos;
      return atoi(digits);
    }
    ++curPos;
  }
  if (*curPos != '\0') *curPos++ = '\0';
  *newPos = curPos;
  // atoi of a run of digits too long for an int is undefined: such a code is out of range.
  return strlen(digits) > 9 ? -1 : atoi(digits);
}

char* LocVec::strTxtToken(char* curPos) {
  while (*curPos != '\0' && isspace(static_cast<unsigned char>(*curPos))) ++curPos;
  char quote = '\0';
  if (*curPos == '\'' || *curPos == '"') quote = *curPos++;
  char* text = curPos;
  char* out = curPos;
  while (*curPos != '\0') {
    if (*curPos == '\\' && curPos[1] != '\0') {
      ++curPos;  // the backslash goes, the next character stays whatever it is
    } else if (quote != '\0' && *curPos == quote) {
      break;
    }
    *out++ = *curPos++;
  }
  *out = '\0';
  return text;
}

void LocVec::initFromFile(int range) {
  const std::string path = Env::pathName(Env::STRINGS_DIR, fileName(range).c_str());
  trace(DM_RC, DF_INIT, "loading strings file '%s' ...\n", path.c_str());
  // The range counts as loaded from the first attempt on: a file that cannot be opened is
  // reported once, and later misses answer at once without trying again.
  m_strVecLoaded[range] = true;
  File file(1);
  file.openRegular(path.c_str(), MAX_FILE_BYTES, "recomps/LocVec::initFromFile");
  FileReports reports(path);
  m_fileReports = &reports;
  struct Detach {
    FileReports*& reports;
    ~Detach() { reports = nullptr; }
  } detach{m_fileReports};
  char line[kLineBufSize];
  Err lineErr;
  int lineNum = 0;
  for (;;) {
    const char* got = file.readLine2(line, sizeof line, &lineErr);
    if (got == nullptr && lineErr.code() == 0) break;  // the end of the file
    reports.setLineNum(++lineNum);
    if (got == nullptr) {
      // A line too long for the buffer is passed over; the lines after it still count.
      if (File::isLineTooLong(lineErr) && file.skipLine()) {
        reports.report("line longer than %d characters, skipped",
                       static_cast<int>(sizeof line) - 1);
        continue;
      }
      reports.report("unable to read the file - %s", Err::lookupString(lineErr.code2()));
      break;
    }
    if (line[0] == '\0' || line[0] == '#') continue;
    char* rest = nullptr;
    const int code = strCodeToken(line, &rest, lineNum, path.c_str());
    addString(code, strTxtToken(rest));
  }
  file.close();
  trace(DM_RC, DF_INIT, "strings file load complete\n");
}

void LocVec::dump() const {
  for (int range = 0; range < StrCodeDefs::MAX_ID_RANGES; ++range) {
    const StrVec* vec = m_strVecs[range];
    if (vec == nullptr) continue;
    printf("    Range %d (%d), StrVec [%s]:\n", range, range * StrCodeDefs::CODES_PER_RANGE,
           DumpAddr(vec).str());
    for (unsigned int i = 0; i < vec->entries(); ++i) {
      printf("      %d. '%s'\n", range * StrCodeDefs::CODES_PER_RANGE + static_cast<int>(i),
             (*vec)[i]);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// StrDbMutexGuard

StrDbMutexGuard::StrDbMutexGuard(Mutex* mutex, bool throwOnFailure)
    : m_mutex(mutex), m_criticalSectionEntered(false) {
  if (m_mutex == nullptr) return;
  if (!throwOnFailure) {
    m_mutex->acquire(false);  // ends the process when the semaphore fails
    m_criticalSectionEntered = true;
    return;
  }
  try {
    m_mutex->acquire(true);
    m_criticalSectionEntered = true;
  } catch (const Err&) {
    // A catalog that cannot be locked is still better read unlocked than not at all.
  }
}

StrDbMutexGuard::~StrDbMutexGuard() {
  if (m_criticalSectionEntered) m_mutex->release();
}

// ---------------------------------------------------------------------------------------------
// StrDb

StrDb::StrDb(mem::regionName_t region) : m_locVecs{}, m_dfltLocVec(nullptr), m_mutex(nullptr) {
  // The process heap is the only region of this program; a catalog meant for shared memory
  // lives there too and still gets the mutex that other processes sharing it rely on.
  if (region == mem::REGION_GLOBAL) {
    m_mutex = new Mutex();
    m_mutex->create();
  }
  for (int code = 0; code < NumStrDbRecs; ++code) {
    addString({code, builtInErrText(code)}, Locale::LT_US_ENG);
  }
  m_dfltLocVec = m_locVecs[Locale::LT_US_ENG];
}

StrDb::~StrDb() {
  for (LocVec* vec : m_locVecs) delete vec;
  delete m_mutex;  // removes the semaphore
}

StrDb* StrDb::instance() { return s_shmInstance != nullptr ? s_shmInstance : stdInstance(); }

StrDb* StrDb::instance(int region) {
  switch (region) {
    case mem::REGION_HEAP: return stdInstance();
    case mem::REGION_GLOBAL:
      if (s_shmInstance == nullptr) s_shmInstance = new StrDb(mem::REGION_GLOBAL);
      return s_shmInstance;
    default:
      Assert_throwAssert("false", "unknown mem region", false, __FILE__, __LINE__);
      return nullptr;  // not reached: the failed assertion aborts or throws
  }
}

StrDb* StrDb::stdInstance() {
  if (s_stdInstance == nullptr) s_stdInstance = new StrDb(mem::REGION_HEAP);
  return s_stdInstance;
}

StrDb* StrDb::shmInstance() { return s_shmInstance; }

void StrDb::setShmInstance(StrDb* strDb) { s_shmInstance = strDb; }

void StrDb::cleanupInstance() {
  delete s_stdInstance;
  s_stdInstance = nullptr;
  delete s_shmInstance;
  s_shmInstance = nullptr;
}

LocVec* StrDb::locVec(Locale::LangType langType) {
  if (langType == Locale::LT_DEFAULT && m_dfltLocVec != nullptr) return m_dfltLocVec;
  const int lt = langType == Locale::LT_DEFAULT ? Locale::LT_US_ENG : langType;
  RC_ASSERT(lt < Locale::MAX_LANG_TYPES && lt >= 0);
  if (m_locVecs[lt] == nullptr) m_locVecs[lt] = new LocVec(static_cast<Locale::LangType>(lt));
  return m_locVecs[lt];
}

LocVec* StrDb::locVec(Locale::LangType langType) const {
  if (langType == Locale::LT_DEFAULT) return m_dfltLocVec;
  RC_ASSERT(langType < Locale::MAX_LANG_TYPES && langType >= 0);
  return m_locVecs[langType];
}

void StrDb::addStrings(size_t nRecs, const StrDbRec* recs, Locale::LangType langType) {
  const StrDbMutexGuard guard(m_mutex, false);
  locVec(langType)->addStrings(nRecs, recs);
}

void StrDb::addString(int id, const char* str, Locale::LangType langType) {
  const StrDbMutexGuard guard(m_mutex, false);
  locVec(langType)->addString(id, str);
}

const char* StrDb::lookupString(int strCode, Locale::LangType langType) const {
  // Without a mutex (the process's own catalog) a text already loaded is answered at once.
  if (m_mutex == nullptr && langType == Locale::LT_DEFAULT && m_dfltLocVec != nullptr) {
    const char* text = m_dfltLocVec->findLoaded(strCode);
    if (text != nullptr) return text;
  }
  const StrDbMutexGuard guard(m_mutex, true);
  LocVec* vec = locVec(langType);
  if (vec == nullptr) return kNoString;
  const char* text = vec->lookupString(strCode);
  if (text == nullptr) {
    trace(DM_RC, DF_DEBUG, "no string for code %d\n", strCode);
    return kNoString;
  }
  return text;
}

std::string StrDb::format(int strCode) { return instance()->lookupString(strCode); }

std::string StrDb::format(int strCode, const VarArgs& args) {
  return args.substituteArgs(instance()->lookupString(strCode));
}

std::string StrDb::format(RcSeverity severity, int strCode, bool showCode) {
  return labelled(severity, strCode, showCode) + format(strCode);
}

std::string StrDb::format(RcSeverity severity, int strCode, const VarArgs& args, bool showCode) {
  return labelled(severity, strCode, showCode) + format(strCode, args);
}

void StrDb::dump() const {
  printf("StrDb [%s]:\n", DumpAddr(this).str());
  for (int lt = Locale::LT_BEGIN; lt < Locale::LT_END; ++lt) {
    if (m_locVecs[lt] == nullptr) continue;
    printf("  Locale %s:\n", LocaleDb::instance()->localeLabel(lt));
    m_locVecs[lt]->dump();
  }
}

}  // namespace rc
