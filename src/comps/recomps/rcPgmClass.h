// Program classes: what kind of program a process is (daemon, command-line application ...),
// which decides logging defaults, code display and the working directory.
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

  int id() const { return m_id; }
  const char* symbol() const { return symbol(m_id); }
  const char* label() const { return label(m_id); }

  static const char* symbol(int id);
  static const char* label(int id);
  // The class whose symbol matches exactly; UNKNOWN_PGM_CLASS otherwise.
  static int id(const char* symbol);
  static bool isApp(int id) { return id == UNKNOWN_PGM_CLASS || id == CLI_APP || id == GUI_APP; }
  static bool isDaemon(int id) { return id == DAEMON || id == SINGLE_DAEMON; }
  static bool isSingleDaemon(int id) { return id == SINGLE_DAEMON; }
  static bool isBackgroundProc(int id) { return isDaemon(id) || id == SUB_PROCESS; }

 private:
  int m_id;
};

}  // namespace rc
