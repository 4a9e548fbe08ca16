// The environment facility: the program's name and class as seen by every other facility.
// Initialised once by rcInitEnv during start-up. Single-threaded.
#pragma once

namespace rc {

class Env {
 public:
  // Records the program name (leaf of argv[0]) and class.
  static void init(int* argc, char** argv, int pgmClass);
  static bool isInitialized() { return s_initialized; }
  // The program's leaf name; "" before init.
  static const char* pgmName() { return s_pgmName; }
  static int pgmClass() { return s_pgmClass; }
  // The variable's value (empty when set to empty), or defaultIfNone when it is not set.
  static const char* strEnvVar(const char* name, const char* defaultIfNone);

 private:
  static bool s_initialized;
  static int s_pgmClass;
  static char s_pgmName[256];
};

}  // namespace rc

void rcInitEnv(int* argc, char** argv, int pgmClass);
