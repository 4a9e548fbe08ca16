#include "comps/recomps/rcOutDevice.h"

#include <syslog.h>

namespace rc {

OutDevice::OutDevice(int references) : RefCnt(references), m_fd(stdout) {}

OutDevice::OutDevice(FILE* fd, int references) : RefCnt(references), m_fd(fd) {}

void OutDevice::print(const char* str) {
  if (m_fd != nullptr && str != nullptr) fputs(str, m_fd);
}

void OutDevice::print(RcSeverity /*severity*/, const char* str) { print(str); }

void OutDevice::flush() {
  // Through Os, which keeps the error of standard output for the check at exit.
  if (m_fd == stdout) {
    Os::flushStdOut();
  } else if (m_fd != nullptr) {
    fflush(m_fd);
  }
}

bool OutDevice::isTty() const { return m_fd != nullptr && Os::isTty(m_fd); }

Os::WinSize OutDevice::getTtySize() const {
  if (m_fd == nullptr) return Os::WinSize{0, 0};
  return Os::getTtySize(m_fd);
}

namespace {

// The singleton slots of the two standard devices: the current device and the default one each
// hold a reference.
template <class Device>
Device* defaultDevice(Device*& dflt, bool allocIfNull) {
  if (dflt == nullptr && allocIfNull) dflt = new Device(1);
  return dflt;
}

template <class Device>
void installDevice(Device*& current, Device*& dflt, Device* dev) {
  RefCnt_release(current);
  current = dev != nullptr ? dev : defaultDevice(dflt, true);
  current->addReference();
}

template <class Device>
Device* currentDevice(Device*& current, Device*& dflt) {
  if (current == nullptr) installDevice<Device>(current, dflt, nullptr);
  return current;
}

}  // namespace

StdOutDevice* StdOutDevice::s_stdOut = nullptr;
StdOutDevice* StdOutDevice::s_defaultStdOut = nullptr;

StdOutDevice* StdOutDevice::instance() { return currentDevice(s_stdOut, s_defaultStdOut); }

StdOutDevice* StdOutDevice::defaultInstance(bool allocIfNull) {
  return defaultDevice(s_defaultStdOut, allocIfNull);
}

void StdOutDevice::setInstance(StdOutDevice* dev) { installDevice(s_stdOut, s_defaultStdOut, dev); }

StdErrDevice* StdErrDevice::s_stdErr = nullptr;
StdErrDevice* StdErrDevice::s_defaultStdErr = nullptr;

StdErrDevice* StdErrDevice::instance() { return currentDevice(s_stdErr, s_defaultStdErr); }

StdErrDevice* StdErrDevice::defaultInstance(bool allocIfNull) {
  return defaultDevice(s_defaultStdErr, allocIfNull);
}

void StdErrDevice::setInstance(StdErrDevice* dev) { installDevice(s_stdErr, s_defaultStdErr, dev); }

SysLogDevice* SysLogDevice::s_sysLogDevice = nullptr;

SysLogDevice::SysLogDevice(int references)
    : OutDevice(nullptr, references), m_showPid(false), m_isOpen(false) {}

SysLogDevice::~SysLogDevice() {
  if (m_isOpen) closelog();
  if (s_sysLogDevice == this) s_sysLogDevice = nullptr;
}

void SysLogDevice::open(const char* identity, bool showPid) {
  close();
  // openlog keeps the pointer it is given: hand it the copy this device owns.
  m_identity = identity != nullptr ? identity : "";
  m_showPid = showPid;
  openlog(m_identity.empty() ? nullptr : m_identity.c_str(), showPid ? LOG_PID : 0, LOG_USER);
  m_isOpen = true;
}

void SysLogDevice::close() {
  if (m_isOpen) closelog();
  m_identity.clear();
  m_showPid = false;
  m_isOpen = false;
}

void SysLogDevice::print(const char* str) { print(RC_INFO, str); }

void SysLogDevice::print(RcSeverity severity, const char* str) {
  if (m_isOpen && str != nullptr) syslog(sysLogPriority(severity), "%s", str);
}

int SysLogDevice::sysLogPriority(int severity) {
  switch (severity) {
    case RC_DEBUG: return LOG_DEBUG;
    case RC_WARNING: return LOG_WARNING;
    case RC_ERROR:
    case RC_NON_FATAL: return LOG_ERR;
    case RC_FATAL: return LOG_CRIT;
    default: return LOG_INFO;
  }
}

SysLogDevice* SysLogDevice::instance() {
  if (s_sysLogDevice == nullptr) s_sysLogDevice = new SysLogDevice(1);
  return s_sysLogDevice;
}

SysLogDevice* SysLogDevice::openInstance(const char* identity, bool showPid) {
  SysLogDevice* dev = instance();
  dev->open(identity, showPid);
  return dev;
}

void SysLogDevice::closeInstance() {
  if (s_sysLogDevice != nullptr) s_sysLogDevice->close();
}

}  // namespace rc
