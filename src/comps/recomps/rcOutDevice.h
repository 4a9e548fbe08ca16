// Output devices: the interchangeable destinations of the output, log and debug facilities.
// A device writes to a stdio stream it does not own (it never closes it) and is shared by
// reference count (rc::RefCnt): whoever keeps a pointer holds a reference.
//
// StdOutDevice and StdErrDevice are the process-wide devices on stdout and stderr. Each keeps a
// current instance and a default one; instance() builds the default on first use. A program or
// test may install its own device with setInstance().
//
// SysLogDevice writes through syslog(3) with facility LOG_USER and the priority of each line's
// severity; it has no stream and writes nothing while it is closed. There is one, created by
// instance(). syslog keeps a pointer to the identity, so the device keeps its own copy alive
// while it is open.
//
// Output errors are ignored here; the error of a flush of standard output is kept by
// Os::flushStdOut for the program's exit status. Single-threaded; nothing here is safe in a signal
// handler.
#pragma once

#include <cstdio>
#include <string>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcRefCnt.h"

namespace rc {

class OutDevice : public RefCnt {
 public:
  // On standard output.
  explicit OutDevice(int references);
  OutDevice(FILE* fd, int references);
  ~OutDevice() override = default;

  // Both forms write the string unchanged; the severity is for devices that route by it.
  virtual void print(const char* str);
  virtual void print(RcSeverity severity, const char* str);
  virtual void flush();
  virtual bool isOpen() const { return m_fd != nullptr; }
  virtual bool isTty() const;
  // The terminal's width and height; 0 and 0 when the stream is no terminal.
  virtual Os::WinSize getTtySize() const;

  FILE* fd() const { return m_fd; }
  void setFd(FILE* fd) { m_fd = fd; }

 protected:
  FILE* m_fd;
};

class StdOutDevice : public OutDevice {
 public:
  explicit StdOutDevice(int references) : OutDevice(stdout, references) {}
  ~StdOutDevice() override = default;

  // The current device; the default one, created on first use, until another is installed.
  static StdOutDevice* instance();
  static StdOutDevice* defaultInstance(bool allocIfNull);
  // Releases the current device and installs dev, or the default one when dev is null.
  static void setInstance(StdOutDevice* dev);

 private:
  static StdOutDevice* s_stdOut;
  static StdOutDevice* s_defaultStdOut;
};

class StdErrDevice : public OutDevice {
 public:
  explicit StdErrDevice(int references) : OutDevice(stderr, references) {}
  ~StdErrDevice() override = default;

  static StdErrDevice* instance();
  static StdErrDevice* defaultInstance(bool allocIfNull);
  static void setInstance(StdErrDevice* dev);

 private:
  static StdErrDevice* s_stdErr;
  static StdErrDevice* s_defaultStdErr;
};

class SysLogDevice : public OutDevice {
 public:
  explicit SysLogDevice(int references);
  // Closes the connection to syslog when open.
  ~SysLogDevice() override;

  // openlog with LOG_PID when showPid; an empty identity lets syslog use the program's name.
  // Reopens when already open.
  void open(const char* identity, bool showPid);
  void close();

  void print(const char* str) override;
  void print(RcSeverity severity, const char* str) override;
  void flush() override {}
  bool isOpen() const override { return m_isOpen; }

  const char* identity() const { return m_identity.c_str(); }
  bool showPid() const { return m_showPid; }

  // The syslog priority of a severity: LOG_INFO for everything that is not debug, warning or an
  // error severity.
  static int sysLogPriority(int severity);

  static SysLogDevice* instance();
  static SysLogDevice* openInstance(const char* identity, bool showPid);
  static void closeInstance();

 private:
  std::string m_identity;
  bool m_showPid;
  bool m_isOpen;

  static SysLogDevice* s_sysLogDevice;
};

}  // namespace rc
