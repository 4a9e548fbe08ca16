#include "comps/appcomps/acSockUtils.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>
#include <cstdio>

namespace ac {

unsigned long SockUtils::stringToIp(const char* ip) {
  return ip != nullptr ? static_cast<uint32_t>(inet_addr(ip)) : static_cast<uint32_t>(INADDR_NONE);
}

const char* SockUtils::ipToString(unsigned long ipAddr) {
  // inet_ntoa's formatting, without its process-wide buffer.
  static thread_local char text[INET_ADDRSTRLEN];
  const uint32_t net = static_cast<uint32_t>(ipAddr);
  const auto* b = reinterpret_cast<const unsigned char*>(&net);
  snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

}  // namespace ac
