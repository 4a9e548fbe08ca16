// The process display: a status line shown in the process listing ("ps", /proc/<pid>/cmdline)
// in place of the program's arguments, written into the process's own argument area.
//
// init() runs once at start-up, before anything keeps pointers into the argument or environment
// strings: it measures the area (the argument strings lying end to end from the first one on,
// extended by the environment strings that directly follow), moves the environment to newly
// allocated copies (so getenv keeps working after the area is overwritten) and remembers an
// optional prefix. set() then rewrites the area: prefix, a blank, the line, NUL bytes to the end.
// The first set() also points argv[0] at the area and ends the argument vector after it, so the
// original argument strings must not be used afterwards. Without arguments, or when no area is
// found, set() does nothing. The state is process-wide; main thread only, not signal-safe.
#pragma once

#include <cstddef>

namespace ac {

class PsDisplay {
 public:
  static void init(int argc, char** argv, const char* prefix);
  static void set(const char* displayLine);
  // The writable area and its size (the area less its final NUL byte); null and 0 when none.
  static const char* buffer() { return s_buffer; }
  static size_t bufferSize() { return s_bufferSize; }

 private:
  static int s_saveArgc;
  static char** s_saveArgv;
  static char* s_buffer;
  static size_t s_bufferSize;
  static char* s_tmpBuf;
  static size_t s_prefixLen;
};

}  // namespace ac
