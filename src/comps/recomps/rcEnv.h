// The environment-variable table: every variable that configures the system (installation
// directories, service ports, connection defaults, switches), each with its data type and a
// default for when it is not set. Most directory defaults derive from where the running
// executable lies, so a kit copied anywhere (bin/ beside sys/) finds its own directories without
// any variable set.
//
// Values are read lazily and cached per record: a read takes the cached value, else the process
// environment (cached when usable), else the default (never cached). The set operations update
// the cache and, when asked, the process environment; clearCache() makes every later read go to
// the environment again. A value that is set but unusable for its type is never reported: reads
// fall back to the default while the variable still counts as set.
//
// Process-wide: one table (EnvVarTbl::instance(), built on first use, freed by cleanupTbl()) and
// the program's name and executable directory recorded by Env::init (rcInitEnv) at start-up,
// which handles "-prEnv". Returned texts point into the table's records or static buffers and
// stay valid until the next read of the same variable or a change of the cache. Programming
// errors (a type not in the table, setting a record of another data type, a broken built-in
// default) are failed assertions. Single-threaded; not for signal handlers. The table, its set
// and its records are mt_env_var_tbl heap blocks.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memStlAlloc.h"
#include "comps/memcomps/base/memString.h"
#include "comps/recomps/rcBool.h"
#include "comps/recomps/rcErr.h"

namespace rc {

class EnvVarRec;

class Env {
 public:
  enum DataType : int { DT_STR = 1, DT_INT = 2, DT_BOOL = 3 };

  // A fixed underlying type: a type number from outside (a message, a file) may be any int.
  enum VarType : int {
    EXEC_DIR = 1,
    QV_DIR = 2,
    BIN_DIR = 3,
    DATA_DIR = 4,
    KIT_DIR = 5,
    LOG_DIR = 6,
    SBIN_DIR = 7,
    SYS_DIR = 8,
    STRINGS_DIR = 9,
    TMP_DIR = 10,
    REPL_DIR = 11,
    DATABASE = 12,
    HOST = 13,
    PASSWORD = 14,
    USER = 15,
    MIBS_DIR = 16,
    THIS_IS_HOST = 17,
    SIM = 18,
    PG_MAXBACKENDS = 19,
    KEEP_LOGS_ON_HOST = 20,
    ARCV_NODENAME = 21,
    ARCV_NODEOWNER = 22,
    ARCV_PASSWORD = 23,
    LOG_TO_FILE = 24,
    LOG_TO_SYS_LOG = 25,
    LOG_TO_STD_OUT = 26,
    STD_ERR_TO_SYS_LOG = 27,
    CLIENT_MGR_PORT = 28,
    MSG_SVR_PORT = 29,
    NO_SPS_RESTART = 30,
    BNR_MGR_PORT = 31,
    VAC_MGR_PORT = 32,
    IPC_SVR_PORT = 33,
    CA_CERT_FILE = 34,
    SECURITY_LEVEL = 35,
    SCHEMA = 36,
    VAR_TYPE_END = 37
  };

  // A default routine may build its text in buf and return buf's data.
  typedef const char* (*DefaultValRtn)(VarType varType, std::string* buf);

  // Initialises the program attributes, records the program's name and executable directory
  // and handles "-prEnv" (prints the environment and exits with status 0).
  static void init(int* argc, char** argv, int pgmClass);
  static bool isInitialized() { return s_initialized; }
  // "" before init.
  static const char* pgmName() { return s_pgmName; }
  static const char* pgmExecDir() { return s_pgmExecDir; }
  static int pgmClass();
  // "-prEnv" in any letter case anywhere in argv (argv[0] included): prEnv, then exit(0).
  static void processArgs(int* argc, char** argv);

  // Typed reads through the table; a type not in the table gives "UNKNOWN", 0 or false.
  static const char* strEnvVar(VarType varType);
  static int intEnvVar(VarType varType);
  static long long int64EnvVar(VarType varType);
  static bool boolEnvVar(VarType varType);
  // Set through this table or in the process environment (usable or not).
  static bool envVarExists(VarType varType);
  static const char* envVarName(VarType varType);
  // What the record's default routine answers.
  static const char* defaultVal(VarType varType);
  // The directory variable's value joined with the names that are given (null ones are left out).
  static std::string pathName(VarType dirType, const char* fileName);
  static std::string pathName(VarType dirType, const char* subDirName, const char* fileName);

  static const char* qvDir() { return strEnvVar(QV_DIR); }
  static const char* kitDir() { return strEnvVar(KIT_DIR); }
  static const char* logDir() { return strEnvVar(LOG_DIR); }
  static const char* sysDir() { return strEnvVar(SYS_DIR); }
  static const char* sbinDir() { return strEnvVar(SBIN_DIR); }
  static const char* dataDir() { return strEnvVar(DATA_DIR); }
  static const char* mibsDir() { return strEnvVar(MIBS_DIR); }
  static const char* tmpDir() { return strEnvVar(TMP_DIR); }
  static const char* replDir() { return strEnvVar(REPL_DIR); }
  static const char* userName() { return strEnvVar(USER); }
  static bool isRealHw() { return !boolEnvVar(SIM); }
  // QV_THIS_IS_HOST when it is set, else whether <sbin>/startupsvr exists.
  static bool isHost();

  // Setters: the record's cache and, with updateEnviron, the process environment (overwriting).
  // Each asserts that the type is in the table and that the record has the setter's data type.
  // A null value is taken as empty.
  static void setEnvVar(VarType varType, const char* value, bool updateEnviron);
  static void setIntEnvVar(VarType varType, int value, bool updateEnviron);
  static void setBoolEnvVar(VarType varType, bool value, bool updateEnviron);

  // Direct access by variable name, bypassing the table's cache. Unset, unusable or overflowing
  // values give the default; numbers must fill the whole value.
  static const char* strEnvVar(const char* name, const char* defaultIfNone);
  static bool boolEnvVar(const char* name, bool defaultIfNone);
  static int intEnvVar(const char* name, int defaultIfNone);
  static long long int64EnvVar(const char* name, long long defaultIfNone);
  static double dblEnvVar(const char* name, double defaultIfNone);
  // setenv with overwrite; a table record of that name forgets its cached value. A name setenv
  // refuses (empty, with '=') throws RC_SC_BAD_ARG_VAL with errno | UNIX_ERRNO.
  static void setEnvVar(const char* name, const char* value);

  // The real user's login name and home directory from the password database, cached. A user
  // without an entry is named by the numeric user id and has $HOME (else "/") as home.
  static const char* lookupUser();
  static const char* userHomeDir();

  // Drops every cached value, so that changed environment variables are read again.
  static void clearCache();

  // Appends the help rows of the substitution tags: "Environment" / "HOST", then one row per
  // tagged string variable (empty first cell, the name). Works with any table that has
  // numRows() and append(rowNum, text), rc::TxtTbl among them.
  template <typename TxtTblT>
  static void addTagsForHelp(TxtTblT* txtTbl);
  // Adds one entry per string variable (tagged ones only with syntaxTagsOnly), ids counting up
  // from maxId() + 1, each with its value less one trailing separator, and last "HOST" with the
  // host name. Works with any table that has maxId() and add(id, symbol, label, copyStrings),
  // rc::SymTbl among them.
  template <typename SymTblT>
  static void addVarVals(SymTblT* varTbl, bool syntaxTagsOnly);
  // The names addTagsForHelp lists and the (name, value) pairs addVarVals adds, in that order.
  static std::vector<const char*> tagNamesForHelp();
  static std::vector<std::pair<std::string, std::string>> varVals(bool syntaxTagsOnly);

  // The program attributes, a blank line, then "NAME = value" for every record in type order,
  // " (set)" marking the ones that exist.
  static void prEnv(const char* arg0);
  // msg as a trace line of (dbgModule, dbgFlag); when that line is written, the table follows.
  static void dumpEnvVarTbl(int dbgModule, int dbgFlag, const char* msg);
  static void cleanupTbl();

  // The default routines of the records.
  static const char* defaultToBlank(VarType varType, std::string* buf);
  static const char* defaultToFalse(VarType varType, std::string* buf);
  // By type: the derived directories, ports, switches; "UNKNOWN" for a type it does not know.
  static const char* defaultVal(VarType varType, std::string* buf);

  // The kit an executable directory belongs to: the parent when it holds bin and sys, or, for a
  // directory named adm, the grandparent when that does; else empty. The file-system root is
  // never taken as a kit.
  static std::string extractKitDir(const char* execDir);
  // The installation root: QV_KIT_DIR from the environment, else the derived kit; the kit
  // itself when it holds tmp, else its parent; empty without a kit.
  static std::string extractQvDir(const char* execDir);

 private:
  static const char* hostName();

  static char s_pgmName[48];
  static char s_pgmExecDir[256];
  static bool s_initialized;
  static String s_userNameVal;
  static String s_userHomeDirVal;
};

// One variable of the table with its cached values. The name is a string literal (not owned).
class EnvVarRec : public mem::newDelete<mt_env_var_tbl> {
 public:
  EnvVarRec(Env::VarType varType, const char* varName, Env::DataType dataType,
            Env::DefaultValRtn defaultValRtn, bool syntaxTag);
  ~EnvVarRec();
  EnvVarRec(const EnvVarRec&) = delete;
  EnvVarRec& operator=(const EnvVarRec&) = delete;

  // Cached text, else the environment's (then cached), else the default (not cached).
  const char* strVal();
  // Cached number, else the environment's when it is a whole in-range decimal number (then
  // cached), else the default's.
  int intVal();
  long long int64Val();
  // Cached switch, else the environment's when it is a boolean word (then cached), else the
  // default's.
  bool boolVal();
  // A value is in the cache, or the variable is set in the process environment.
  bool exists() const;
  const char* defaultVal();
  // Each setter caches its value and the matching text, and drops the other typed caches.
  void setStrVal(const char* value);
  void setIntVal(int value);
  void setInt64Val(long long value);
  void setBoolVal(bool value);
  void clearCachedValue();

  Env::VarType varType() const { return m_varType; }
  const char* varName() const { return m_varName; }
  Env::DataType dataType() const { return m_dataType; }
  Env::DefaultValRtn defaultValRtn() const { return m_defaultValRtn; }
  bool isSyntaxTag() const { return m_syntaxTag; }
  // The value as "-prEnv" shows it: decimal, "yes"/"no" or the text.
  std::string valText();
  // True for the variables that hold secrets (names ending in "PASSWORD").
  bool isSecret() const;
  // The value as listings and dumps show it: valText(), except that a secret's non-empty value
  // is a fixed mask. The getters still return the real value.
  std::string shownText();
  // One "-prEnv" line on standard output, with shownText().
  void prEnv();
  // Shows shownText() too: dumps land in the same logs as the listing.
  void dumpObj(int indentLvl, const char* label);
  void dump() { dumpObj(0, nullptr); }

 private:
  static constexpr long long NO_INT64 = INT_MIN;

  // The text reads parse: the cached text, else the environment's, else null.
  const char* sourceText() const;
  // The cached number, else the source text's when it parses (then cached), else the default's.
  template <typename T>
  T numVal(T* cache, T none, bool (*parse)(const char*, T*));
  void cacheText(const char* text);

  Env::VarType m_varType;
  const char* m_varName;
  Env::DataType m_dataType;
  Env::DefaultValRtn m_defaultValRtn;
  bool m_syntaxTag;
  String m_strValBuf;
  const char* m_strVal;
  int m_intVal;
  long long m_int64Val;
  int m_boolVal;
  // A standard string: the default routines' interface takes one.
  std::string m_dfltValBuf;
};

// Orders records by type; lookups by a bare type need no record.
struct EnvVarRecPtrComp {
  using is_transparent = void;
  bool operator()(const EnvVarRec* a, const EnvVarRec* b) const {
    return a->varType() < b->varType();
  }
  bool operator()(const EnvVarRec* a, int b) const { return a->varType() < b; }
  bool operator()(int a, const EnvVarRec* b) const { return a < b->varType(); }
};

// The records, owned, iterated in type order.
class EnvVarTbl : public mem::newDelete<mt_env_var_tbl> {
 public:
  // Sorted by type (EnvVarRecPtrComp), one record a type: a flat array, since the table is built
  // once, in type order, and then only read.
  typedef std::vector<EnvVarRec*, mem::stlAlloc<EnvVarRec*, mt_env_var_tbl>> RecSet;

  EnvVarTbl() = default;
  ~EnvVarTbl();
  EnvVarTbl(const EnvVarTbl&) = delete;
  EnvVarTbl& operator=(const EnvVarTbl&) = delete;

  // The standard table with every record, built on first use.
  static EnvVarTbl* instance();
  // Deletes the standard table; the next instance() builds a fresh one.
  static void cleanup();

  // Takes ownership; a second record of one type is a failed assertion.
  void insert(EnvVarRec* rec);
  // The record of a type, or null.
  EnvVarRec* find(int varType) const {
    return varType > 0 && varType < Env::VAR_TYPE_END ? m_byType[varType] : nullptr;
  }
  // The record of a variable name, or null.
  EnvVarRec* find(const char* varName) const;
  size_t entries() const { return m_recs.size(); }
  RecSet::const_iterator begin() const { return m_recs.begin(); }
  RecSet::const_iterator end() const { return m_recs.end(); }
  void clearCache();

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

 private:
  RecSet m_recs;
  // The same records indexed by type, so that a cached read costs one array access.
  EnvVarRec* m_byType[Env::VAR_TYPE_END] = {};

  static EnvVarTbl* s_stdInstance;
};

template <typename TxtTblT>
void Env::addTagsForHelp(TxtTblT* txtTbl) {
  RC_ASSERT(txtTbl);
  unsigned int rowNum = txtTbl->numRows() + 1;
  txtTbl->append(rowNum, "Environment");
  txtTbl->append(rowNum, "HOST");
  for (const char* name : tagNamesForHelp()) {
    ++rowNum;
    txtTbl->append(rowNum, "");
    txtTbl->append(rowNum, name);
  }
}

template <typename SymTblT>
void Env::addVarVals(SymTblT* varTbl, bool syntaxTagsOnly) {
  RC_ASSERT(varTbl);
  int id = varTbl->maxId() + 1;
  for (const auto& nameVal : varVals(syntaxTagsOnly)) {
    varTbl->add(id++, nameVal.first.c_str(), nameVal.second.c_str(), true);
  }
}

}  // namespace rc

void rcInitEnv(int* argc, char** argv, int pgmClass);
const char* rcGetTmpDir();
const char* rcGetReplDir();
