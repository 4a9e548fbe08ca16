// Socket utilities: static operations over the operating system's IPv4 socket interface for the
// framework's transports. Addresses are IPv4 in network byte order.
#pragma once

namespace ac {

class SockUtils {
 public:
  // The dotted address in network byte order; INADDR_NONE (all bits set) when not valid.
  static unsigned long stringToIp(const char* ip);
  // The dotted text of a network-order address, in a buffer of the calling thread that the next
  // call overwrites.
  static const char* ipToString(unsigned long ipAddr);
};

}  // namespace ac
