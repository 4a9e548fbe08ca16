#include "comps/recomps/rcPgmAttrs.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFile.h"
#include "comps/recomps/rcPgmClass.h"
#include "comps/recomps/rcUtils.h"

namespace rc {

char PgmAttrs::s_arg0[PATH_BUF_SIZE] = "";
char PgmAttrs::s_pgmName[NAME_BUF_SIZE] = "";
char PgmAttrs::s_pgmExecDir[PATH_BUF_SIZE] = "";
char PgmAttrs::s_logName[NAME_BUF_SIZE] = "";
int PgmAttrs::s_pgmClass = PgmClass::UNKNOWN_PGM_CLASS;
int PgmAttrs::s_hwId = 0;
int PgmAttrs::s_pid = 0;
bool PgmAttrs::s_initialized = false;
PgmAttrs* PgmAttrs::s_instance = nullptr;
PgmAttrs::InstanceRtn PgmAttrs::s_instanceRtn = nullptr;

namespace {

PgmAttrs staticInstance;

ssize_t readProcSelfExe(char* buf, size_t bufSize) {
  return readlink("/proc/self/exe", buf, bufSize);
}

PgmAttrs::ExeLinkRtn s_exeLinkRtn = readProcSelfExe;

bool isPlainFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// The canonical absolute form of an existing file; empty when it is not one.
std::string canonicalFile(const std::string& path) {
  if (!isPlainFile(path)) return std::string();
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

// Where argv[0] names the executable: an absolute name as it stands; a relative one in the
// current directory, then along PATH.
std::string locateArg0(const char* arg0) {
  if (arg0 == nullptr || arg0[0] == '\0') return std::string();
  if (arg0[0] == '/') return canonicalFile(arg0);
  const std::string found = File::findFile(arg0, false);
  return found.empty() ? found : canonicalFile(found);
}

// The path of the running executable. The kernel marks a replaced or removed executable with
// " (deleted)"; the program's name and directory are those without the mark.
std::string exePath(const char* arg0) {
  char buf[PgmAttrs::EXE_LINK_BUF_SIZE];
  const ssize_t len = s_exeLinkRtn(buf, sizeof buf - 1);
  if (len > 0) {
    buf[len] = '\0';
    static const char kDeleted[] = " (deleted)";
    const size_t markLen = sizeof kDeleted - 1;
    const size_t n = static_cast<size_t>(len);
    if (n > markLen && strcmp(buf + n - markLen, kDeleted) == 0 && access(buf, F_OK) != 0) {
      buf[n - markLen] = '\0';
    }
    return buf;
  }
  const std::string found = locateArg0(arg0);
  if (found.empty()) {
    Err_Throw(
        Err(RC_ERROR, RC_SC_READ_FAILED, VarArgs() << "/proc/self/exe", "recomps/PgmAttrs::init"));
  }
  return found;
}

}  // namespace

PgmAttrs::PgmAttrs() : m_identity(0), m_hwIdInSrcPrefix(0), m_startMsgLogged(false) {
  m_pgmLabel[0] = '\0';
  m_srcPrefix[0] = '\0';
}

PgmAttrs* PgmAttrs::instance() {
  if (s_instanceRtn != nullptr) {
    PgmAttrs* attrs = s_instanceRtn();
    if (attrs != nullptr) return attrs;
  }
  if (s_instance == nullptr) s_instance = &staticInstance;
  return s_instance;
}

void PgmAttrs::setInstanceRtn(InstanceRtn rtn) { s_instanceRtn = rtn; }

void PgmAttrs::setExeLinkRtn(ExeLinkRtn rtn) {
  s_exeLinkRtn = rtn != nullptr ? rtn : readProcSelfExe;
}

void PgmAttrs::init(int argc, char** argv, int pgmClass, const char* pgmLabel,
                    const char* logName) {
  if (s_initialized) return;
  const char* arg0 = (argc > 0 && argv != nullptr) ? argv[0] : nullptr;
  s_pgmClass = pgmClass;
  s_pid = static_cast<int>(getpid());
  Utils::copyStr(s_arg0, arg0, sizeof s_arg0);

  const std::string path = exePath(arg0);
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    Utils::copyStr(s_pgmName, path.c_str(), sizeof s_pgmName);
    s_pgmExecDir[0] = '\0';
  } else {
    Utils::copyStr(s_pgmName, path.c_str() + slash + 1, sizeof s_pgmName);
    Utils::copyStr(s_pgmExecDir, slash == 0 ? "/" : path.substr(0, slash).c_str(),
                   sizeof s_pgmExecDir);
  }

  setLogName(logName != nullptr ? logName : s_pgmName);
  const int identity = pgmClass == PgmClass::SINGLE_DAEMON ? 0 : s_pid;
  setPgmLabel(pgmLabel != nullptr ? pgmLabel : s_pgmName, identity);
  processArgs(argc, argv);
  s_initialized = true;
}

void PgmAttrs::reinit(const char* pgmLabel, const char* logName) {
  s_pid = static_cast<int>(getpid());
  if (logName != nullptr) setLogName(logName);
  if (pgmLabel != nullptr) {
    setPgmLabel(pgmLabel, s_pgmClass == PgmClass::SINGLE_DAEMON ? 0 : s_pid);
    m_startMsgLogged = false;
  }
}

void PgmAttrs::setPgmLabel(const char* pgmLabel, int identity) {
  Utils::copyStr(m_pgmLabel, pgmLabel, sizeof m_pgmLabel);
  setIdentity(identity);
}

void PgmAttrs::setIdentity(int identity) {
  m_identity = identity;
  buildSrcPrefix();
}

void PgmAttrs::setLogName(const char* logName) {
  Utils::copyStr(s_logName, logName, sizeof s_logName);
  size_t len = strlen(s_logName);
  while (len > 0 && s_logName[len - 1] == ' ') s_logName[--len] = '\0';
  for (char* ch = s_logName; *ch != '\0'; ++ch) {
    if (*ch == ' ') *ch = '_';
  }
}

const char* PgmAttrs::srcPrefix() const {
  if (m_srcPrefix[0] == '\0' || (s_hwId != 0 && s_hwId != m_hwIdInSrcPrefix)) buildSrcPrefix();
  return m_srcPrefix;
}

void PgmAttrs::buildSrcPrefix() const {
  // The numbers and the closing ") " are formatted first so that a long label is what gets cut.
  char tail[40];
  if (m_identity != 0 && s_hwId != 0) {
    snprintf(tail, sizeof tail, ".%d.%d) ", s_hwId, m_identity);
  } else if (m_identity != 0 || s_hwId != 0) {
    snprintf(tail, sizeof tail, ".%d) ", m_identity != 0 ? m_identity : s_hwId);
  } else {
    snprintf(tail, sizeof tail, ") ");
  }
  const int labelRoom = static_cast<int>(sizeof m_srcPrefix) - 2 - static_cast<int>(strlen(tail));
  snprintf(m_srcPrefix, sizeof m_srcPrefix, "(%.*s%s", labelRoom, m_pgmLabel, tail);
  if (s_hwId != 0) m_hwIdInSrcPrefix = s_hwId;
}

void PgmAttrs::prAttrs() const {
  const int w = 12;
  printf("%-*s = '%s'\n", w, "arg0", s_arg0);
  printf("%-*s = '%s'\n", w, "Pgm name", s_pgmName);
  printf("%-*s = '%s'\n", w, "Pgm exec dir", s_pgmExecDir);
  printf("%-*s = %s\n", w, "Pgm class", PgmClass::symbol(s_pgmClass));
  printf("%-*s = %d\n", w, "HW ID", s_hwId);
  printf("%-*s = '%s'\n", w, "Log name", s_logName);
  printf("%-*s = %d\n", w, "PID", s_pid);
  printf("%-*s = %d\n", w, "Identity", m_identity);
  printf("%-*s = '%s'\n", w, "Pgm label", m_pgmLabel);
  printf("%-*s = '%s'\n", w, "Src prefix", m_srcPrefix);
  printf("%-*s = '%s'\n", w, "Start Msg Logged", m_startMsgLogged ? "yes" : "no");
}

void PgmAttrs::processArgs(int argc, char** argv) const {
  if (argv == nullptr) return;
  for (int i = 0; i < argc; ++i) {
    if (argv[i] != nullptr && strcasecmp(argv[i], "-prPgmAttrs") == 0) {
      prAttrs();
      putchar('\n');
      exit(0);
    }
  }
}

bool PgmAttrs::isDaemon() { return PgmClass::isDaemon(s_pgmClass); }

bool PgmAttrs::isSingleDaemon() { return PgmClass::isSingleDaemon(s_pgmClass); }

}  // namespace rc
