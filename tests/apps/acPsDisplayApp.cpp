// A program that shows a status line in the process listing through the framework's start-up
// (prefix "srv"), so that a test can read its /proc/<pid>/cmdline while it runs.
//   acPsDisplayApp <args...> <line>
// Sets the display to the last argument, then writes "env=<QV_PS_CHECK>" (read after the
// argument area was overwritten) and "ready", and waits for its standard input to close.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acPsDisplay.h"
#include "comps/recomps/rcPgmClass.h"

int main(int argc, char** argv) {
  ac::App::main1(&argc, argv, rc::PgmClass::CLI_APP, nullptr, nullptr, "srv");
  const std::string line = argc > 1 ? argv[argc - 1] : "";
  ac::PsDisplay::set(line.c_str());
  const char* check = getenv("QV_PS_CHECK");
  printf("env=%s\nready\n", check != nullptr ? check : "(unset)");
  fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  return 0;
}
