#include "comps/recomps/rcEnv.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcFile.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcPgmAttrs.h"
#include "comps/recomps/rcUtils.h"

// An assertion reported with the condition text given, whatever the source's spacing.
#define ENV_ASSERT(cond, text) \
  ((cond) ? (void)0 : rc::Assert_throwAssert((text), nullptr, false, __FILE__, __LINE__))

namespace rc {

char Env::s_pgmName[48] = "";
char Env::s_pgmExecDir[256] = "";
bool Env::s_initialized = false;
String Env::s_userNameVal;
String Env::s_userHomeDirVal;
EnvVarTbl* EnvVarTbl::s_stdInstance = nullptr;

namespace {

bool isSeparator(char ch) { return ch == '/' || ch == '\\'; }

// The part of path before its last separator ("/" when that is empty; empty without one).
std::string parentDir(const std::string& path, std::string* leaf) {
  size_t sep = path.size();
  while (sep > 0 && !isSeparator(path[sep - 1])) --sep;
  if (leaf != nullptr) *leaf = path.substr(sep);
  if (sep == 0) return std::string();
  return sep == 1 ? path.substr(0, 1) : path.substr(0, sep - 1);
}

std::string withoutTrailingSeparator(const char* path) {
  std::string dir = path != nullptr ? path : "";
  if (dir.size() > 1 && isSeparator(dir.back())) dir.pop_back();
  return dir;
}

// A kit holds bin and sys side by side. The file-system root holds /bin and /sys too, but is
// not an installation.
bool isKit(const std::string& dir) {
  return !dir.empty() && dir != "/" &&
         File::exists(File::concatenatePath(dir.c_str(), "bin").c_str()) &&
         File::exists(File::concatenatePath(dir.c_str(), "sys").c_str());
}

// A whole decimal number within the range of long long; no digits or trailing characters fail.
bool parseInt64(const char* text, long long* value) {
  if (text == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = strtoll(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE) return false;
  *value = parsed;
  return true;
}

bool parseInt(const char* text, int* value) {
  long long parsed = 0;
  if (!parseInt64(text, &parsed) || parsed < INT_MIN || parsed > INT_MAX) return false;
  *value = static_cast<int>(parsed);
  return true;
}

// A whole floating-point number; an overflow fails, an underflow gives the tiny result.
bool parseDouble(const char* text, double* value) {
  if (text == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  const double parsed = Utils::QvStrtod(text, &end);
  if (end == text || *end != '\0' || (errno == ERANGE && std::isinf(parsed))) return false;
  *value = parsed;
  return true;
}

void putEnviron(const char* name, const char* value) {
  errno = EINVAL;
  if (name == nullptr || setenv(name, value != nullptr ? value : "", 1) != 0) {
    const int savedErrno = errno;
    Err_ThrowErrno(RC_SC_BAD_ARG_VAL,
                   VarArgs() << "environment variable name" << (name != nullptr ? name : ""),
                   savedErrno, "recomps/Env::setEnvVar");
  }
}

const char* joined(std::string* buf, const std::string& dir, const char* name) {
  *buf = File::concatenatePath(dir.c_str(), name);
  return buf->c_str();
}

const char* assigned(std::string* buf, const std::string& text) {
  *buf = text;
  return buf->c_str();
}

struct RecDef {
  Env::VarType varType;
  const char* varName;
  Env::DataType dataType;
  Env::DefaultValRtn defaultValRtn;
  bool syntaxTag;
};

}  // namespace

// --- EnvVarRec ---------------------------------------------------------------------------------

EnvVarRec::EnvVarRec(Env::VarType varType, const char* varName, Env::DataType dataType,
                     Env::DefaultValRtn defaultValRtn, bool syntaxTag)
    : m_varType(varType),
      m_varName(varName),
      m_dataType(dataType),
      m_defaultValRtn(defaultValRtn),
      m_syntaxTag(syntaxTag),
      m_strVal(nullptr),
      m_intVal(INT_MIN),
      m_int64Val(NO_INT64),
      m_boolVal(-1) {}

EnvVarRec::~EnvVarRec() {
  poison(m_varName);
  poison(m_strVal);
}

const char* EnvVarRec::sourceText() const {
  return m_strVal != nullptr ? m_strVal : getenv(m_varName);
}

void EnvVarRec::cacheText(const char* text) {
  m_strValBuf = text != nullptr ? text : "";
  m_strVal = m_strValBuf.c_str();
}

const char* EnvVarRec::strVal() {
  if (m_strVal != nullptr) return m_strVal;
  const char* envVal = getenv(m_varName);
  if (envVal == nullptr) return defaultVal();
  cacheText(envVal);
  return m_strVal;
}

template <typename T>
T EnvVarRec::numVal(T* cache, T none, bool (*parse)(const char*, T*)) {
  if (*cache != none) return *cache;
  T value = 0;
  if (parse(sourceText(), &value)) {
    *cache = value;
    return value;
  }
  const char* dflt = defaultVal();
  ENV_ASSERT(dflt, "strVal");
  ENV_ASSERT(parse(dflt, &value), "*sts == EOS");
  return value;
}

int EnvVarRec::intVal() { return numVal(&m_intVal, INT_MIN, parseInt); }

long long EnvVarRec::int64Val() { return numVal(&m_int64Val, NO_INT64, parseInt64); }

bool EnvVarRec::boolVal() {
  if (m_boolVal != -1) return m_boolVal != 0;
  int val = Utils::strToBool(sourceText());
  if (val != -1) {
    m_boolVal = val;
    return val != 0;
  }
  val = Utils::strToBool(defaultVal());
  ENV_ASSERT(val != -1, "val != -1");
  return val != 0;
}

bool EnvVarRec::exists() const {
  return m_strVal != nullptr || m_intVal != INT_MIN || m_int64Val != NO_INT64 || m_boolVal != -1 ||
         getenv(m_varName) != nullptr;
}

const char* EnvVarRec::defaultVal() {
  ENV_ASSERT(m_defaultValRtn, "m_defaultValRtn");
  return m_defaultValRtn(m_varType, &m_dfltValBuf);
}

void EnvVarRec::setStrVal(const char* value) {
  clearCachedValue();
  cacheText(value);
}

void EnvVarRec::setIntVal(int value) {
  clearCachedValue();
  cacheText(std::to_string(value).c_str());
  m_intVal = value;
  m_int64Val = value;
}

void EnvVarRec::setInt64Val(long long value) {
  clearCachedValue();
  cacheText(std::to_string(value).c_str());
  m_int64Val = value;
  if (value >= INT_MIN && value <= INT_MAX) m_intVal = static_cast<int>(value);
}

void EnvVarRec::setBoolVal(bool value) {
  clearCachedValue();
  cacheText(value ? "true" : "false");
  m_boolVal = value ? 1 : 0;
}

void EnvVarRec::clearCachedValue() {
  m_strVal = nullptr;
  m_strValBuf.clear();
  m_intVal = INT_MIN;
  m_int64Val = NO_INT64;
  m_boolVal = -1;
}

std::string EnvVarRec::valText() {
  switch (m_dataType) {
    case Env::DT_STR: return strVal();
    case Env::DT_INT: return std::to_string(intVal());
    case Env::DT_BOOL: return boolVal() ? "yes" : "no";
  }
  return "INVALID";
}

bool EnvVarRec::isSecret() const {
  static constexpr char kSuffix[] = "PASSWORD";
  const size_t len = strlen(m_varName);
  return len >= sizeof kSuffix - 1 && strcmp(m_varName + len - (sizeof kSuffix - 1), kSuffix) == 0;
}

std::string EnvVarRec::shownText() {
  // Listings and dumps end up on terminals, in support bundles and in logs: a password is shown
  // only as present, never in clear.
  std::string text = valText();
  if (isSecret() && !text.empty()) text = "********";
  return text;
}

void EnvVarRec::prEnv() {
  printf("%-21s = %s%s\n", m_varName, shownText().c_str(), exists() ? " (set)" : "");
}

void EnvVarRec::dumpObj(int indentLvl, const char* label) {
  dumpHeader(indentLvl, label, "Rec", this, ": %s (# %d) = %s, DT = %d\n", m_varName,
             static_cast<int>(m_varType), shownText().c_str(), static_cast<int>(m_dataType));
}

// --- EnvVarTbl ---------------------------------------------------------------------------------

EnvVarTbl::~EnvVarTbl() {
  for (EnvVarRec* rec : m_recs) delete rec;
}

EnvVarTbl* EnvVarTbl::instance() {
  if (s_stdInstance != nullptr) return s_stdInstance;
  const Env::DefaultValRtn dflt = static_cast<Env::DefaultValRtn>(&Env::defaultVal);
  const Env::DefaultValRtn blank = &Env::defaultToBlank;
  const Env::DefaultValRtn no = &Env::defaultToFalse;
  const RecDef defs[] = {
      {Env::QV_DIR, "QV_DIR", Env::DT_STR, dflt, true},
      {Env::BIN_DIR, "QV_BIN_DIR", Env::DT_STR, dflt, true},
      {Env::DATA_DIR, "QV_DATA_DIR", Env::DT_STR, dflt, true},
      {Env::KIT_DIR, "QV_KIT_DIR", Env::DT_STR, dflt, true},
      {Env::LOG_DIR, "QV_LOG_DIR", Env::DT_STR, dflt, true},
      {Env::SBIN_DIR, "QV_SBIN_DIR", Env::DT_STR, dflt, true},
      {Env::SYS_DIR, "QV_SYS_DIR", Env::DT_STR, dflt, true},
      {Env::STRINGS_DIR, "QV_STRINGS_DIR", Env::DT_STR, dflt, false},
      {Env::TMP_DIR, "QV_TMP_DIR", Env::DT_STR, dflt, true},
      {Env::REPL_DIR, "QV_REPL_DIR", Env::DT_STR, dflt, true},
      {Env::DATABASE, "QV_DATABASE", Env::DT_STR, blank, false},
      {Env::HOST, "QV_HOST", Env::DT_STR, blank, false},
      {Env::PASSWORD, "QV_PASSWORD", Env::DT_STR, blank, false},
      {Env::USER, "QV_USER", Env::DT_STR, dflt, false},
      {Env::MIBS_DIR, "QV_MIBS_DIR", Env::DT_STR, dflt, true},
      {Env::THIS_IS_HOST, "QV_THIS_IS_HOST", Env::DT_BOOL, dflt, true},
      {Env::SIM, "QV_SIM", Env::DT_BOOL, no, false},
      {Env::PG_MAXBACKENDS, "PG_MAXBACKENDS", Env::DT_STR, dflt, false},
      {Env::KEEP_LOGS_ON_HOST, "QV_KEEP_LOGS_ON_HOST", Env::DT_BOOL, no, false},
      {Env::ARCV_NODENAME, "QV_ARCV_NODENAME", Env::DT_STR, dflt, false},
      {Env::ARCV_NODEOWNER, "QV_ARCV_NODEOWNER", Env::DT_STR, dflt, false},
      {Env::ARCV_PASSWORD, "QV_ARCV_PASSWORD", Env::DT_STR, dflt, false},
      {Env::LOG_TO_FILE, "QV_LOG_TO_FILE", Env::DT_BOOL, no, false},
      {Env::LOG_TO_SYS_LOG, "QV_LOG_TO_SYS_LOG", Env::DT_BOOL, no, false},
      {Env::LOG_TO_STD_OUT, "QV_LOG_TO_STD_OUT", Env::DT_BOOL, no, false},
      {Env::STD_ERR_TO_SYS_LOG, "QV_STD_ERR_TO_SYS_LOG", Env::DT_BOOL, no, false},
      {Env::CLIENT_MGR_PORT, "QV_CLIENT_MGR_PORT", Env::DT_INT, dflt, false},
      {Env::MSG_SVR_PORT, "QV_MSG_SVR_PORT", Env::DT_INT, dflt, false},
      {Env::NO_SPS_RESTART, "QV_NO_SPS_RESTART", Env::DT_BOOL, no, false},
      {Env::BNR_MGR_PORT, "QV_BNR_MGR_PORT", Env::DT_INT, dflt, false},
      {Env::VAC_MGR_PORT, "QV_RECLAIM_MGR_PORT", Env::DT_INT, dflt, false},
      {Env::CA_CERT_FILE, "QV_CA_CERT_FILE", Env::DT_STR, dflt, false},
      {Env::SECURITY_LEVEL, "QV_SECURITY_LEVEL", Env::DT_STR, dflt, false},
      {Env::SCHEMA, "QV_SCHEMA", Env::DT_STR, blank, false},
  };
  s_stdInstance = new EnvVarTbl;
  s_stdInstance->m_recs.reserve(std::size(defs));
  for (const RecDef& def : defs) {
    s_stdInstance->insert(
        new EnvVarRec(def.varType, def.varName, def.dataType, def.defaultValRtn, def.syntaxTag));
  }
  return s_stdInstance;
}

void EnvVarTbl::cleanup() {
  delete s_stdInstance;
  s_stdInstance = nullptr;
}

void EnvVarTbl::insert(EnvVarRec* rec) {
  // The table is built in type order, so the end is where a record goes: no search at start-up.
  const EnvVarRecPtrComp less;
  auto it = m_recs.end();
  if (!m_recs.empty() && !less(m_recs.back(), rec))
    it = std::lower_bound(m_recs.begin(), m_recs.end(), rec, less);
  const bool inserted = it == m_recs.end() || less(rec, *it);
  if (!inserted) delete rec;
  ENV_ASSERT(inserted, "result.second");
  m_recs.insert(it, rec);
  if (rec->varType() > 0 && rec->varType() < Env::VAR_TYPE_END) m_byType[rec->varType()] = rec;
}

EnvVarRec* EnvVarTbl::find(const char* varName) const {
  if (varName == nullptr) return nullptr;
  for (EnvVarRec* rec : m_recs) {
    if (strcmp(rec->varName(), varName) == 0) return rec;
  }
  return nullptr;
}

void EnvVarTbl::clearCache() {
  for (EnvVarRec* rec : m_recs) rec->clearCachedValue();
}

void EnvVarTbl::dumpObj(int indentLvl, const char* label) const {
  dumpHeader(indentLvl, label, "Var Tbl", this, ", entries = %d, contents:\n",
             static_cast<int>(m_recs.size()));
  int num = 0;
  for (EnvVarRec* rec : m_recs) {
    char recLabel[16];
    snprintf(recLabel, sizeof recLabel, "%d. ", ++num);
    rec->dumpObj(indentLvl + 1, recLabel);
  }
}

// --- Env ---------------------------------------------------------------------------------------

void Env::init(int* argc, char** argv, int pgmClass) {
  PgmAttrs* pgmAttrs = PgmAttrs::instance();
  pgmAttrs->init(argc != nullptr ? *argc : 0, argv, pgmClass, nullptr, nullptr);
  ENV_ASSERT(pgmAttrs->pgmName(), "pgmAttrs->pgmName ()");
  ENV_ASSERT(pgmAttrs->pgmExecDir(), "pgmAttrs->pgmExecDir ()");
  Utils::copyStr(s_pgmName, pgmAttrs->pgmName(), sizeof s_pgmName);
  Utils::copyStr(s_pgmExecDir, pgmAttrs->pgmExecDir(), sizeof s_pgmExecDir);
  processArgs(argc, argv);
  s_initialized = true;
}

int Env::pgmClass() { return PgmAttrs::pgmClass(); }

void Env::processArgs(int* argc, char** argv) {
  if (argc == nullptr || argv == nullptr) return;
  for (int i = 0; i < *argc; ++i) {
    if (argv[i] != nullptr && strcasecmp(argv[i], "-prEnv") == 0) {
      prEnv(argv[0]);
      exit(0);
    }
  }
}

const char* Env::strEnvVar(VarType varType) {
  EnvVarRec* rec = EnvVarTbl::instance()->find(varType);
  return rec != nullptr ? rec->strVal() : "UNKNOWN";
}

int Env::intEnvVar(VarType varType) {
  EnvVarRec* rec = EnvVarTbl::instance()->find(varType);
  return rec != nullptr ? rec->intVal() : 0;
}

long long Env::int64EnvVar(VarType varType) {
  EnvVarRec* rec = EnvVarTbl::instance()->find(varType);
  return rec != nullptr ? rec->int64Val() : 0;
}

bool Env::boolEnvVar(VarType varType) {
  EnvVarRec* rec = EnvVarTbl::instance()->find(varType);
  return rec != nullptr && rec->boolVal();
}

bool Env::envVarExists(VarType varType) {
  EnvVarRec* rec = EnvVarTbl::instance()->find(varType);
  return rec != nullptr && rec->exists();
}

const char* Env::envVarName(VarType varType) {
  EnvVarRec* rec = EnvVarTbl::instance()->find(varType);
  return rec != nullptr ? rec->varName() : "UNKNOWN";
}

const char* Env::defaultVal(VarType varType) {
  EnvVarRec* rec = EnvVarTbl::instance()->find(varType);
  return rec != nullptr ? rec->defaultVal() : "UNKNOWN";
}

std::string Env::pathName(VarType dirType, const char* fileName) {
  const std::string dir = strEnvVar(dirType);
  return fileName != nullptr ? File::concatenatePath(dir.c_str(), fileName) : dir;
}

std::string Env::pathName(VarType dirType, const char* subDirName, const char* fileName) {
  const std::string dir = pathName(dirType, subDirName);
  return fileName != nullptr ? File::concatenatePath(dir.c_str(), fileName) : dir;
}

bool Env::isHost() {
  if (envVarExists(THIS_IS_HOST)) return boolEnvVar(THIS_IS_HOST);
  return File::exists(pathName(SBIN_DIR, "startupsvr").c_str());
}

namespace {

EnvVarRec* recordOfType(Env::VarType varType, Env::DataType dataType, const char* dataTypeCond) {
  EnvVarRec* rec = EnvVarTbl::instance()->find(varType);
  ENV_ASSERT(rec, "rec");
  ENV_ASSERT(rec->dataType() == dataType, dataTypeCond);
  return rec;
}

}  // namespace

void Env::setEnvVar(VarType varType, const char* value, bool updateEnviron) {
  EnvVarRec* rec = recordOfType(varType, DT_STR, "rec->dataType () == DT_STR");
  rec->setStrVal(value);
  if (updateEnviron) putEnviron(rec->varName(), rec->strVal());
}

void Env::setIntEnvVar(VarType varType, int value, bool updateEnviron) {
  EnvVarRec* rec = recordOfType(varType, DT_INT, "rec->dataType () == DT_INT");
  rec->setIntVal(value);
  if (updateEnviron) putEnviron(rec->varName(), rec->strVal());
}

void Env::setBoolEnvVar(VarType varType, bool value, bool updateEnviron) {
  EnvVarRec* rec = recordOfType(varType, DT_BOOL, "rec->dataType () == DT_BOOL");
  rec->setBoolVal(value);
  if (updateEnviron) putEnviron(rec->varName(), rec->strVal());
}

const char* Env::strEnvVar(const char* name, const char* defaultIfNone) {
  const char* value = name != nullptr ? getenv(name) : nullptr;
  return value != nullptr ? value : defaultIfNone;
}

bool Env::boolEnvVar(const char* name, bool defaultIfNone) {
  const int value = Utils::strToBool(strEnvVar(name, nullptr));
  return value == -1 ? defaultIfNone : value == 1;
}

int Env::intEnvVar(const char* name, int defaultIfNone) {
  int value = 0;
  return parseInt(strEnvVar(name, nullptr), &value) ? value : defaultIfNone;
}

long long Env::int64EnvVar(const char* name, long long defaultIfNone) {
  long long value = 0;
  return parseInt64(strEnvVar(name, nullptr), &value) ? value : defaultIfNone;
}

double Env::dblEnvVar(const char* name, double defaultIfNone) {
  double value = 0;
  return parseDouble(strEnvVar(name, nullptr), &value) ? value : defaultIfNone;
}

void Env::setEnvVar(const char* name, const char* value) {
  putEnviron(name, value);
  EnvVarRec* rec = EnvVarTbl::instance()->find(name);
  if (rec != nullptr) rec->clearCachedValue();
}

namespace {

// Finds uid in the local password file ("name:passwd:uid:gid:gecos:home:shell" lines). The
// library's password lookup is avoided on purpose: in a statically linked program it needs the
// shared name-service libraries of the exact library version at run time.
bool findPasswdEntry(uid_t uid, String* userName, String* homeDir) {
  FILE* file = fopen("/etc/passwd", "r");
  if (file == nullptr) return false;
  char line[1024];
  bool found = false;
  while (!found && fgets(line, sizeof line, file) != nullptr) {
    std::string fields[7];
    size_t n = 0;
    for (const char* p = line; *p != '\0' && *p != '\n' && n < 7; ++p) {
      if (*p == ':') {
        ++n;
      } else {
        fields[n] += *p;
      }
    }
    if (n < 6 || fields[0].empty() || fields[2].empty()) continue;
    char* end = nullptr;
    const unsigned long id = strtoul(fields[2].c_str(), &end, 10);
    if (*end != '\0' || id != static_cast<unsigned long>(uid)) continue;
    userName->assign(fields[0].data(), fields[0].size());
    homeDir->assign(fields[5].data(), fields[5].size());
    found = true;
  }
  fclose(file);
  return found;
}

void lookupPasswd(String* userName, String* homeDir) {
  const uid_t uid = getuid();
  if (findPasswdEntry(uid, userName, homeDir)) return;
  // Containers often run under an id that the password database does not know.
  *userName = std::to_string(static_cast<unsigned long>(uid)).c_str();
  const char* home = getenv("HOME");
  *homeDir = home != nullptr && home[0] != '\0' ? home : "/";
}

}  // namespace

const char* Env::lookupUser() {
  if (s_userNameVal.empty()) lookupPasswd(&s_userNameVal, &s_userHomeDirVal);
  return s_userNameVal.c_str();
}

const char* Env::userHomeDir() {
  if (s_userNameVal.empty()) lookupPasswd(&s_userNameVal, &s_userHomeDirVal);
  return s_userHomeDirVal.c_str();
}

void Env::clearCache() {
  EnvVarTbl::instance()->clearCache();
  s_userNameVal.clear();
  s_userHomeDirVal.clear();
}

std::vector<const char*> Env::tagNamesForHelp() {
  std::vector<const char*> names;
  for (const EnvVarRec* rec : *EnvVarTbl::instance()) {
    if (rec->isSyntaxTag() && rec->dataType() == DT_STR) names.push_back(rec->varName());
  }
  return names;
}

std::vector<std::pair<std::string, std::string>> Env::varVals(bool syntaxTagsOnly) {
  std::vector<std::pair<std::string, std::string>> vals;
  for (EnvVarRec* rec : *EnvVarTbl::instance()) {
    if (rec->dataType() != DT_STR || (syntaxTagsOnly && !rec->isSyntaxTag())) continue;
    std::string value = rec->strVal();
    if (!value.empty() && isSeparator(value.back())) value.pop_back();
    vals.emplace_back(rec->varName(), value);
  }
  vals.emplace_back("HOST", hostName());
  return vals;
}

const char* Env::hostName() { return Os::hostName(); }

void Env::prEnv(const char* /*arg0*/) {
  PgmAttrs::instance()->prAttrs();
  printf("\n");
  for (EnvVarRec* rec : *EnvVarTbl::instance()) rec->prEnv();
  Os::flushStdOut();
}

void Env::dumpEnvVarTbl(int dbgModule, int dbgFlag, const char* msg) {
  if (!traceOn(dbgModule, dbgFlag)) return;
  trace(dbgModule, dbgFlag, "%s\n", msg != nullptr ? msg : "");
  EnvVarTbl::instance()->dump();
}

void Env::cleanupTbl() { EnvVarTbl::cleanup(); }

const char* Env::defaultToBlank(VarType /*varType*/, std::string* /*buf*/) { return ""; }

const char* Env::defaultToFalse(VarType /*varType*/, std::string* /*buf*/) { return "false"; }

const char* Env::defaultVal(VarType varType, std::string* buf) {
  switch (varType) {
    case EXEC_DIR: return s_pgmExecDir;
    case QV_DIR: {
      const std::string root = s_pgmExecDir[0] != '\0' ? extractQvDir(s_pgmExecDir) : "";
      return assigned(buf, root.empty() ? std::string("/qv") : root);
    }
    case KIT_DIR: {
      const std::string kit = s_pgmExecDir[0] != '\0' ? extractKitDir(s_pgmExecDir) : "";
      if (!kit.empty()) return assigned(buf, kit);
      const std::string root = strEnvVar(QV_DIR);
      const std::string rootKit = File::concatenatePath(root.c_str(), "kit");
      return assigned(buf, File::exists(rootKit.c_str()) ? rootKit : root);
    }
    case BIN_DIR: return joined(buf, strEnvVar(KIT_DIR), "bin");
    case LOG_DIR: return joined(buf, strEnvVar(KIT_DIR), "log");
    case SBIN_DIR: return joined(buf, strEnvVar(KIT_DIR), "sbin");
    case SYS_DIR: return joined(buf, strEnvVar(KIT_DIR), "sys");
    case DATA_DIR: return joined(buf, strEnvVar(QV_DIR), isRealHw() ? "data" : "simdata");
    case STRINGS_DIR: return joined(buf, strEnvVar(SYS_DIR), "strings");
    case MIBS_DIR: return joined(buf, strEnvVar(SYS_DIR), "mibs");
    case TMP_DIR:
      if (File::exists("/qvscratch/tmp")) return "/qvscratch/tmp";
      return joined(buf, strEnvVar(QV_DIR), "tmp");
    case REPL_DIR: return "/var/qvrepl";
    case USER: return lookupUser();
    case THIS_IS_HOST: return "f";
    case SIM:
    case KEEP_LOGS_ON_HOST:
    case LOG_TO_FILE:
    case LOG_TO_SYS_LOG:
    case LOG_TO_STD_OUT:
    case STD_ERR_TO_SYS_LOG:
    case NO_SPS_RESTART: return "false";
    case PG_MAXBACKENDS: return "120";
    case CLIENT_MGR_PORT: return "5481";
    case BNR_MGR_PORT: return "5483";
    case VAC_MGR_PORT: return "5484";
    case MSG_SVR_PORT:
    case IPC_SVR_PORT: return "5485";
    case DATABASE:
    case HOST:
    case PASSWORD:
    case ARCV_NODENAME:
    case ARCV_NODEOWNER:
    case ARCV_PASSWORD:
    case CA_CERT_FILE:
    case SECURITY_LEVEL:
    case SCHEMA: return "";
    case VAR_TYPE_END: break;
  }
  return "UNKNOWN";
}

std::string Env::extractKitDir(const char* execDir) {
  std::string leaf;
  const std::string parent = parentDir(withoutTrailingSeparator(execDir), &leaf);
  if (isKit(parent)) return parent;
  if (leaf == "adm") {
    const std::string grandParent = parentDir(parent, nullptr);
    if (isKit(grandParent)) return grandParent;
  }
  return std::string();
}

std::string Env::extractQvDir(const char* execDir) {
  // A kit given through the table (set in the environment or by the program) wins.
  std::string kit;
  if (envVarExists(KIT_DIR)) kit = EnvVarTbl::instance()->find(KIT_DIR)->strVal();
  if (kit.empty()) kit = extractKitDir(execDir);
  if (kit.empty()) return std::string();
  if (File::exists(File::concatenatePath(kit.c_str(), "tmp").c_str())) return kit;
  return parentDir(withoutTrailingSeparator(kit.c_str()), nullptr);
}

}  // namespace rc

void rcInitEnv(int* argc, char** argv, int pgmClass) { rc::Env::init(argc, argv, pgmClass); }

const char* rcGetTmpDir() { return rc::Env::tmpDir(); }

const char* rcGetReplDir() { return rc::Env::replDir(); }
