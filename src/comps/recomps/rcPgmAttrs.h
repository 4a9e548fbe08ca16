// The facts a program knows about itself: the name and directory of its executable, its class,
// the name it logs under, its process id, a display label, an identity number and the source
// prefix ("(label.hwId.identity) ") that the output, log and debug facilities put at the head of
// their lines.
//
// Process-wide: the class-wide attributes live in static storage, the label, identity and prefix
// in the instance that instance() returns (a static default unless a hook supplies another).
// init() runs once, very early in start-up (before the environment table, debug, fault and log
// facilities) and handles "-prPgmAttrs" itself; reinit() refreshes a process that already ran
// init (after a fork). All texts are fixed-size buffers filled by truncating copies; the string
// accessors return null while the attribute is empty. init() throws rc::Err (RC_SC_READ_FAILED,
// "/proc/self/exe") when the executable cannot be located. Single-threaded; not for use in
// signal handlers.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace rc {

class PgmAttrs {
 public:
  enum { PATH_BUF_SIZE = 256, NAME_BUF_SIZE = 48, STD_SRC_PREFIX_LEN = 13 };
  enum { SRC_PREFIX_BUF_SIZE = 64, EXE_LINK_BUF_SIZE = 4096 };

  typedef PgmAttrs* (*InstanceRtn)();
  // Reads the link to the running executable into buf like readlink(2): the length read
  // (unterminated), or -1 with errno set.
  typedef ssize_t (*ExeLinkRtn)(char* buf, size_t bufSize);

  PgmAttrs();
  PgmAttrs(const PgmAttrs&) = delete;
  PgmAttrs& operator=(const PgmAttrs&) = delete;

  // The hook's object when it supplies one, else the static default.
  static PgmAttrs* instance();
  static void setInstanceRtn(InstanceRtn rtn);
  // Replaces how "/proc/self/exe" is read (null restores readlink); lets a test take the
  // fallback search along PATH.
  static void setExeLinkRtn(ExeLinkRtn rtn);

  // First-time initialisation; does nothing once done. "-prPgmAttrs" anywhere in argv (any
  // letter case) prints the attributes and a blank line and exits with status 0.
  void init(int argc, char** argv, int pgmClass, const char* pgmLabel, const char* logName);
  // Forgets the class-wide attributes so that the next init runs again (tests use it to play
  // another program).
  static void uninit() { s_initialized = false; }
  // Takes the current process id; a label (when given) resets identity, prefix and start flag.
  void reinit(const char* pgmLabel, const char* logName);
  // At most 47 characters of the label are kept; rebuilds the source prefix.
  void setPgmLabel(const char* pgmLabel, int identity);
  void setIdentity(int identity);
  // At most 47 characters; trailing blanks dropped, inner blanks become '_'.
  static void setLogName(const char* logName);
  // The prefix picks a new non-zero id up on its next use; 0 does not remove it from a built one.
  static void setHwId(int hwId) { s_hwId = hwId; }
  void setStartMsgLogged(bool logged) { m_startMsgLogged = logged; }
  bool isStartMsgLogged() const { return m_startMsgLogged; }

  // "(label) ", "(label.n) " or "(label.hwId.identity) "; a label too long for the buffer is cut
  // so that the numbers stay whole.
  const char* srcPrefix() const;
  // Prints every attribute to standard output, one "name = value" line each.
  void prAttrs() const;

  static bool isInitialized() { return s_initialized; }
  static int pgmClass() { return s_pgmClass; }
  static const char* arg0() { return orNull(s_arg0); }
  static const char* pgmName() { return orNull(s_pgmName); }
  static const char* pgmExecDir() { return orNull(s_pgmExecDir); }
  static int hwId() { return s_hwId; }
  static const char* logName() { return orNull(s_logName); }
  static int pid() { return s_pid; }
  static bool isDaemon();
  static bool isSingleDaemon();
  const char* pgmLabel() const { return orNull(m_pgmLabel); }
  int identity() const { return m_identity; }

 private:
  static const char* orNull(const char* str) { return str[0] != '\0' ? str : nullptr; }
  void processArgs(int argc, char** argv) const;
  void buildSrcPrefix() const;

  char m_pgmLabel[NAME_BUF_SIZE];
  // Built on first use and rebuilt when a new hardware id shows up, hence mutable.
  mutable char m_srcPrefix[SRC_PREFIX_BUF_SIZE];
  int m_identity;
  mutable int m_hwIdInSrcPrefix;
  bool m_startMsgLogged;

  static char s_arg0[PATH_BUF_SIZE];
  static char s_pgmName[NAME_BUF_SIZE];
  static char s_pgmExecDir[PATH_BUF_SIZE];
  static char s_logName[NAME_BUF_SIZE];
  static int s_pgmClass;
  static int s_hwId;
  static int s_pid;
  static bool s_initialized;
  static PgmAttrs* s_instance;
  static InstanceRtn s_instanceRtn;
};

}  // namespace rc
