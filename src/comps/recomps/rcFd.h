// Owns one descriptor and closes it when destroyed, so that every path out of a function that
// made it, a throw included, closes it exactly once; release() hands it on. Moves, never copies.
// close() keeps errno as it was, so an error can be built from errno after the owner is gone.
// A negative value owns nothing. Not for signal handlers.
#pragma once

#include <unistd.h>

#include <cerrno>

namespace rc {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : m_fd(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return m_fd; }
  bool isOpen() const { return m_fd >= 0; }
  // Gives the descriptor up without closing it.
  int release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }
  // Closes the descriptor held, then holds fd.
  void reset(int fd = -1) {
    if (m_fd >= 0) {
      const int savedErrno = errno;
      close(m_fd);
      errno = savedErrno;
    }
    m_fd = fd;
  }

 private:
  int m_fd = -1;
};

}  // namespace rc
