#include "comps/recomps/rcStringUtils.h"

#include <string_view>

namespace rc {

String StringUtils::toString(int value, const char* format) {
  char buf[20];
  return Utils::formatInto(buf, sizeof buf, format, value);
}

String StringUtils::toString(unsigned value, const char* format) {
  char buf[20];
  return Utils::formatInto(buf, sizeof buf, format, value);
}

String StringUtils::toString(long value, const char* format) {
  char buf[20];
  return Utils::formatInto(buf, sizeof buf, format, value);
}

String StringUtils::toString(long long value, const char* format) {
  char buf[24];
  return Utils::formatInto(buf, sizeof buf, format, value);
}

String StringUtils::toString(float value, const char* format) {
  char buf[20];
  return Utils::formatInto(buf, sizeof buf, format, static_cast<double>(value));
}

String& StringUtils::strip(String& text, char ch, Utils::StripType type) {
  size_t first = 0;
  size_t last = 0;
  Utils::stripBounds(text, ch, false, type, &first, &last);
  return text.erase(last).erase(0, first);
}

bool StringUtils::split(const char* text, String* lhs, String* rhs, const char* splitToken) {
  std::string_view left;
  std::string_view right;
  const bool found = Utils::splitParts(text, splitToken, &left, &right);
  if (lhs != nullptr) lhs->assign(left);
  if (rhs != nullptr) rhs->assign(right);
  return found;
}

}  // namespace rc
