#include "comps/recomps/rcFile.h"

#include <sys/stat.h>

#include <cstring>

namespace rc {

const char* File::leafName(const char* path) {
  if (path == nullptr) return nullptr;
  const char* slash = strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

bool File::exists(const char* path) {
  struct stat st;
  return path != nullptr && stat(path, &st) == 0;
}

}  // namespace rc
