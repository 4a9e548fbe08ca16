// The general utilities of rc::Utils for the framework's own string type: number formatting,
// trimming and splitting, and the room a string takes in a byte stream. Stateless.
#pragma once

#include <cstddef>
#include <string>

#include "comps/memcomps/base/memString.h"
#include "comps/recomps/rcUtils.h"

namespace rc {

class StringUtils {
 public:
  // The value through a printf format; cut at 19 characters (23 for long long).
  static String toString(int value, const char* format = "%d");
  static String toString(unsigned value, const char* format = "%u");
  static String toString(long value, const char* format = "%ld");
  static String toString(long long value, const char* format = "%lld");
  static String toString(float value, const char* format = "%g");

  static String& strip(String& text, char ch = ' ', Utils::StripType type = Utils::ST_BOTH);
  // As rc::Utils::split.
  static bool split(const char* text, String* lhs, String* rhs, const char* splitToken);

  // The most a string takes in a byte stream: a 32-bit length and the bytes padded to 4.
  static size_t binarySize(const String& s) { return s.length() + 7; }
};

}  // namespace rc
