// Support for tests of the output, log and debug facilities: output devices that remember what
// they were given, a stand-in for the system logger, scoped environment variables and a clock
// the log devices read instead of the system's.
#pragma once

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcLog.h"
#include "comps/recomps/rcOutDevice.h"
#include "comps/recomps/rcTimeval.h"

namespace qvtest {

// A device that remembers what it was given and whether the severity form was used.
template <class Base>
class RecordingDeviceOf : public Base {
 public:
  struct Line {
    int severity;  // -1 for the form without severity
    std::string text;
  };
  template <class... BaseArgs>
  explicit RecordingDeviceOf(bool* deleted, BaseArgs... baseArgs)
      : Base(baseArgs...), m_deleted(deleted) {}
  ~RecordingDeviceOf() override {
    if (m_deleted != nullptr) *m_deleted = true;
  }
  void print(const char* str) override { lines.push_back({-1, str}); }
  void print(RcSeverity severity, const char* str) override {
    if (throwBadAllocOnce) {
      throwBadAllocOnce = false;
      throw std::bad_alloc();
    }
    lines.push_back({severity, str});
  }
  bool isOpen() const override { return open; }

  std::string text() const {
    std::string all;
    for (const auto& line : lines) all += line.text;
    return all;
  }

  std::vector<Line> lines;
  bool open = true;
  bool throwBadAllocOnce = false;

 private:
  bool* m_deleted;
};

// On no stream.
struct RecordingDevice : RecordingDeviceOf<rc::OutDevice> {
  explicit RecordingDevice(int references, bool* deleted = nullptr)
      : RecordingDeviceOf(deleted, static_cast<FILE*>(nullptr), references) {}
};

// A log device that opens no file.
struct RecordingLogDevice : RecordingDeviceOf<rc::LogDevice> {
  explicit RecordingLogDevice(int references)
      : RecordingDeviceOf(nullptr, "qvtest", rc::LogDevice::OM_APPEND, false, false, references) {}
};

// Installs a log whose device a test can read, and removes it again.
struct LogInstalled {
  LogInstalled() {
    rc::Log* log = new rc::Log("qvtest", rc::LogDevice::OM_APPEND, false, false, 0);
    log->setLogDevice(&device);
    rc::Log::setInstance(log);
  }
  ~LogInstalled() { rc::Log::setInstance(nullptr); }
  RecordingLogDevice device{1};
};

// Stands in for the system logger: a datagram socket bound at /dev/log while the test runs.
class FakeSysLog {
 public:
  // Empty on success, else why the test cannot run.
  std::string start() {
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", kPath);
    struct stat st;
    if (lstat(kPath, &st) == 0) {
      if (!S_ISSOCK(st.st_mode)) return "/dev/log exists and is not a socket";
      const int probe = socket(AF_UNIX, SOCK_DGRAM, 0);
      const bool listening = connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
      close(probe);
      if (listening) return "a system logger listens on /dev/log";
      if (unlink(kPath) != 0) return "cannot remove the stale /dev/log";
    }
    m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return "no AF_UNIX datagram socket";
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      const std::string why = std::string("cannot bind /dev/log: ") + strerror(errno);
      close(m_fd);
      m_fd = -1;
      return why;
    }
    return "";
  }
  ~FakeSysLog() {
    if (m_fd >= 0) {
      rc::SysLogDevice::closeInstance();
      close(m_fd);
      unlink(kPath);
    }
  }
  // The next message, or "" when none is waiting (syslog(3) sends before it returns).
  std::string next() {
    char buf[4096];
    const ssize_t n = recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  }

 private:
  static constexpr const char* kPath = "/dev/log";
  int m_fd = -1;
};

// Makes the log devices read a clock the test sets; the system's again when it goes out of
// scope.
class TestClock {
 public:
  explicit TestClock(time_t sec, long usec = 0) {
    set(sec, usec);
    s_active = true;
    rc::LogDevice::setClockRtn(&read);
  }
  ~TestClock() {
    s_active = false;
    rc::LogDevice::setClockRtn(nullptr);
  }
  TestClock(const TestClock&) = delete;
  TestClock& operator=(const TestClock&) = delete;

  void set(time_t sec, long usec = 0) {
    s_now.tv_sec = sec;
    s_now.tv_usec = usec;
  }
  // Installing the clock again drops the local time the devices keep for the last second.
  static void refresh() { rc::LogDevice::setClockRtn(s_active ? &read : nullptr); }

 private:
  static void read(struct timeval* now) { *now = s_now; }

  static inline struct timeval s_now = {0, 0};
  static inline bool s_active = false;
};

// Makes rc::Timeval::monotonicNow read a clock the test moves; the system's again when it goes
// out of scope. Timers measure their expiries on it.
class TestMonotonicClock {
 public:
  explicit TestMonotonicClock(const rc::Timeval& start = rc::Timeval(1000, 0)) {
    s_now = start;
    rc::Timeval::setMonotonicClockRtn(&read);
  }
  ~TestMonotonicClock() { rc::Timeval::setMonotonicClockRtn(nullptr); }
  TestMonotonicClock(const TestMonotonicClock&) = delete;
  TestMonotonicClock& operator=(const TestMonotonicClock&) = delete;

  static const rc::Timeval& now() { return s_now; }
  static void advance(const rc::Timeval& by) { s_now += by; }
  static void advance(double secs) {
    rc::Timeval by;
    by.setFromDouble(secs);
    s_now += by;
  }

 private:
  static void read(struct timeval* now) { *now = s_now; }
  static inline rc::Timeval s_now;
};

// Sets and unsets environment variables and puts them back when it goes out of scope; the
// environment table forgets its cached values both times, and a change of TZ reaches the local
// time conversion. Made with kWithoutTableVars, it first unsets every variable of the table, so
// that a test sees the defaults whatever the caller's environment holds.
class ScopedEnv {
 public:
  struct WithoutTableVars {};
  static constexpr WithoutTableVars kWithoutTableVars{};

  ScopedEnv() = default;
  explicit ScopedEnv(WithoutTableVars) {
    for (const rc::EnvVarRec* rec : *rc::EnvVarTbl::instance()) unset(rec->varName());
  }
  ~ScopedEnv() {
    for (const auto& [name, value] : m_saved) {
      if (value.second) {
        setenv(name.c_str(), value.first.c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    changed();
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void set(const std::string& name, const std::string& value) {
    save(name);
    setenv(name.c_str(), value.c_str(), 1);
    changed();
  }
  void unset(const std::string& name) {
    save(name);
    unsetenv(name.c_str());
    changed();
  }

 private:
  void save(const std::string& name) {
    if (m_saved.count(name) != 0) return;
    const char* value = getenv(name.c_str());
    m_saved[name] = {value != nullptr ? value : "", value != nullptr};
  }
  static void changed() {
    tzset();
    rc::Env::clearCache();
    TestClock::refresh();
  }

  std::map<std::string, std::pair<std::string, bool>> m_saved;
};

// Whether text has the shape of pattern: '#' stands for one digit, '?' for any one character,
// '*' for any run of characters (also none); a backslash makes the next character literal.
inline bool matchesShape(const std::string& text, const std::string& pattern, size_t t = 0,
                         size_t p = 0) {
  for (; p < pattern.size(); ++p, ++t) {
    char want = pattern[p];
    if (want == '*') {
      for (size_t from = t; from <= text.size(); ++from) {
        if (matchesShape(text, pattern, from, p + 1)) return true;
      }
      return false;
    }
    if (t >= text.size()) return false;
    if (want == '\\' && p + 1 < pattern.size()) {
      want = pattern[++p];
    } else if (want == '#') {
      if (text[t] < '0' || text[t] > '9') return false;
      continue;
    } else if (want == '?') {
      continue;
    }
    if (text[t] != want) return false;
  }
  return t == text.size();
}

// The shape of a local time stamp of the log and debug lines, with its trailing blank.
inline const std::string kTimeStampShape = "####-##-## ##:##:##.###### ??? ";

// A writable argument vector built from strings.
class ArgVec {
 public:
  ArgVec(std::initializer_list<std::string> args) : m_store(args) {
    for (std::string& arg : m_store) m_ptrs.push_back(arg.data());
    m_ptrs.push_back(nullptr);
    argc = static_cast<int>(m_store.size());
  }
  ArgVec(const std::vector<std::string>& args) : m_store(args) {
    for (std::string& arg : m_store) m_ptrs.push_back(arg.data());
    m_ptrs.push_back(nullptr);
    argc = static_cast<int>(m_store.size());
  }
  char** argv() { return m_ptrs.data(); }
  // The arguments that are left; empty when argv[argc] is not null.
  std::vector<std::string> left() const {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(m_ptrs[i]);
    return args;
  }
  bool terminated() const { return m_ptrs[argc] == nullptr; }

  int argc;

 private:
  std::vector<std::string> m_store;
  std::vector<char*> m_ptrs;
};

}  // namespace qvtest
