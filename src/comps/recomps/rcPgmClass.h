// Program classes: what kind of program a process is (daemon, command-line application ...),
// which decides logging defaults, code display and the working directory. A small value type;
// the static tests work on a bare class id, and an id outside the known classes is neither an
// application nor a daemon. Read-only data: safe anywhere.
#pragma once

namespace rc {

class PgmClass {
 public:
  enum Val {
    UNKNOWN_PGM_CLASS = 0,
    DAEMON = 1,
    SINGLE_DAEMON = 2,
    CLI_APP = 3,
    GUI_APP = 4,
    SUB_PROCESS = 5
  };

  explicit PgmClass(int id) : m_id(id) {}
  explicit PgmClass(const char* symbol) : m_id(id(symbol)) {}
  PgmClass(const PgmClass&) = default;
  PgmClass& operator=(const PgmClass&) = default;

  int id() const { return m_id; }
  const char* symbol() const { return symbol(m_id); }
  const char* label() const { return label(m_id); }

  // "unknownPgmClass" / "Unknown" for an id outside the known classes.
  static const char* symbol(int id);
  static const char* label(int id);
  // The class whose symbol matches exactly (case-sensitive); UNKNOWN_PGM_CLASS otherwise.
  static int id(const char* symbol);
  // The unknown class counts as an application.
  static bool isApp(int id) { return id == UNKNOWN_PGM_CLASS || id == CLI_APP || id == GUI_APP; }
  static bool isDaemon(int id) { return id == DAEMON || id == SINGLE_DAEMON; }
  static bool isSingleDaemon(int id) { return id == SINGLE_DAEMON; }
  static bool isBackgroundProc(int id) { return isDaemon(id) || id == SUB_PROCESS; }

 private:
  int m_id;
};

}  // namespace rc
