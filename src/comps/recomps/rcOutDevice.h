// An output destination: a stdio stream that lines are written to. The output facility writes to
// one device for standard output and one for standard error; tests may install their own.
#pragma once

#include <cstdio>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOs.h"

namespace rc {

class OutDevice {
 public:
  explicit OutDevice(FILE* fd) : m_fd(fd) {}
  virtual ~OutDevice() = default;

  // Both forms write the string unchanged; the severity is for devices that route by it.
  virtual void print(const char* str);
  virtual void print(RcSeverity severity, const char* str);
  virtual void flush();
  virtual bool isOpen() const { return m_fd != nullptr; }
  // Terminal queries about the stream; a device without a stream is no terminal.
  virtual bool isTty() const;
  virtual Os::WinSize getTtySize() const;

  void setFd(FILE* fd) { m_fd = fd; }

 protected:
  FILE* m_fd;
};

}  // namespace rc
