#include "comps/appcomps/acPsDisplay.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace ac {

int PsDisplay::s_saveArgc = 0;
char** PsDisplay::s_saveArgv = nullptr;
char* PsDisplay::s_buffer = nullptr;
size_t PsDisplay::s_bufferSize = 0;
char* PsDisplay::s_tmpBuf = nullptr;
size_t PsDisplay::s_prefixLen = 0;

namespace {

// Extends the contiguous run ending at *end by the strings of vec (count entries, or up to the
// null entry when count is negative) that start exactly where the run ends.
void extendArea(char** vec, int count, char** end) {
  for (int i = 0; vec[i] != nullptr && (count < 0 || i < count); ++i) {
    if (vec[i] != *end) return;
    *end += strlen(vec[i]) + 1;
  }
}

// Moves the environment to copies of its own; the originals may then be overwritten. False when
// memory ran out (the environment is then left where it was).
bool copyEnvironment() {
  size_t n = 0;
  while (environ[n] != nullptr) ++n;
  char** copy = static_cast<char**>(malloc((n + 1) * sizeof(char*)));
  if (copy == nullptr) return false;
  for (size_t i = 0; i < n; ++i) {
    copy[i] = strdup(environ[i]);
    if (copy[i] == nullptr) {
      while (i > 0) free(copy[--i]);
      free(copy);
      return false;
    }
  }
  copy[n] = nullptr;
  environ = copy;
  return true;
}

}  // namespace

void PsDisplay::init(int argc, char** argv, const char* prefix) {
  s_saveArgc = argc;
  s_saveArgv = argv;
  if (argc <= 0 || argv == nullptr || argv[0] == nullptr || s_buffer != nullptr) return;

  char* end = argv[0];
  extendArea(argv, argc, &end);
  if (environ != nullptr) {
    char* argEnd = end;
    extendArea(environ, -1, &end);
    // Strings we are about to overwrite must not stay the environment.
    if (end != argEnd && !copyEnvironment()) end = argEnd;
  }
  const size_t size = static_cast<size_t>(end - argv[0]);
  if (size < 2) return;
  s_tmpBuf = static_cast<char*>(malloc(size - 1));
  if (s_tmpBuf == nullptr) return;
  s_buffer = argv[0];
  s_bufferSize = size - 1;
  s_prefixLen = 0;
  if (prefix != nullptr && *prefix != '\0') {
    s_prefixLen = strnlen(prefix, s_bufferSize);
    memcpy(s_tmpBuf, prefix, s_prefixLen);
    if (s_prefixLen < s_bufferSize) s_tmpBuf[s_prefixLen++] = ' ';
  }
}

void PsDisplay::set(const char* displayLine) {
  if (s_buffer == nullptr) return;
  if (s_tmpBuf != nullptr) {
    memcpy(s_buffer, s_tmpBuf, s_prefixLen);
    free(s_tmpBuf);
    s_tmpBuf = nullptr;
    s_saveArgv[0] = s_buffer;
    if (s_saveArgc > 1) s_saveArgv[1] = nullptr;
  }
  const size_t room = s_bufferSize - s_prefixLen;
  const size_t len = displayLine != nullptr ? strnlen(displayLine, room) : 0;
  if (len > 0) memcpy(s_buffer + s_prefixLen, displayLine, len);
  memset(s_buffer + s_prefixLen + len, 0, room - len + 1);
}

}  // namespace ac
