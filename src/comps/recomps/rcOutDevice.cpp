#include "comps/recomps/rcOutDevice.h"

namespace rc {

void OutDevice::print(const char* str) {
  if (m_fd != nullptr && str != nullptr) fputs(str, m_fd);
}

void OutDevice::print(RcSeverity /*severity*/, const char* str) { print(str); }

void OutDevice::flush() {
  if (m_fd != nullptr) fflush(m_fd);
}

bool OutDevice::isTty() const { return m_fd != nullptr && Os::isTty(m_fd); }

Os::WinSize OutDevice::getTtySize() const {
  return m_fd != nullptr ? Os::getTtySize(m_fd) : Os::WinSize{0, 0};
}

}  // namespace rc
