// File access and path queries.
#pragma once

namespace rc {

class File {
 public:
  // The last path component: the text after the last '/', or path itself.
  static const char* leafName(const char* path);
  static bool exists(const char* path);
};

}  // namespace rc
