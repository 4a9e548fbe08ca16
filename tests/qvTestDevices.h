// Devices for tests: output devices that remember what they were given, and a stand-in for the
// system logger.
#pragma once

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "comps/recomps/rcLog.h"
#include "comps/recomps/rcOutDevice.h"

namespace qvtest {

// A device that remembers what it was given and whether the severity form was used.
template <class Base>
class CaptureDeviceOf : public Base {
 public:
  struct Line {
    int severity;  // -1 for the form without severity
    std::string text;
  };
  template <class... BaseArgs>
  explicit CaptureDeviceOf(bool* deleted, BaseArgs... baseArgs)
      : Base(baseArgs...), m_deleted(deleted) {}
  ~CaptureDeviceOf() override {
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
struct CaptureDevice : CaptureDeviceOf<rc::OutDevice> {
  explicit CaptureDevice(int references, bool* deleted = nullptr)
      : CaptureDeviceOf(deleted, static_cast<FILE*>(nullptr), references) {}
};

// A log device that opens no file.
struct CaptureLogDevice : CaptureDeviceOf<rc::LogDevice> {
  explicit CaptureLogDevice(int references)
      : CaptureDeviceOf(nullptr, "qvtest", rc::LogDevice::OM_APPEND, false, false, references) {}
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

}  // namespace qvtest
