// General utilities: bounded string copies, usage-line printers and time formatting.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

namespace rc {

class Utils {
 public:
  // Copies at most dstSize - 1 characters and always terminates dst (when dstSize > 0).
  static char* copyStr(char* dst, const char* src, size_t dstSize);
  // "Usage: <pgmName> [-h|-rev] [<options>]" and the line "Options:" on standard output.
  static void printStdUsageHeader(const char* pgmName);
  // One option line: a blank, arg padded to tabW columns, the description.
  static void printArgUsage(const char* arg, int tabW, const char* description);
  // strftime of a local time.
  static std::string timeToString(time_t t, const char* fmt);
};

}  // namespace rc
