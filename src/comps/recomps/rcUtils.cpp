#include "comps/recomps/rcUtils.h"

#include <cstdio>
#include <cstring>

#include "comps/recomps/rcHelpArgs.h"

namespace rc {

char* Utils::copyStr(char* dst, const char* src, size_t dstSize) {
  if (dst == nullptr || dstSize == 0) return dst;
  const size_t len = src != nullptr ? strnlen(src, dstSize - 1) : 0;
  if (len != 0) memcpy(dst, src, len);
  dst[len] = '\0';
  return dst;
}

void Utils::printStdUsageHeader(const char* pgmName) {
  printf("Usage: %s %s [<options>]\n", pgmName, HelpArgs::usageArgs());
  printf("Options:\n");
}

void Utils::printArgUsage(const char* arg, int tabW, const char* description) {
  printf(" %-*s%s\n", tabW, arg, description);
}

std::string Utils::timeToString(time_t t, const char* fmt) {
  struct tm tmBuf;
  char buf[128];
  if (localtime_r(&t, &tmBuf) == nullptr || strftime(buf, sizeof buf, fmt, &tmBuf) == 0) return "";
  return buf;
}

}  // namespace rc
