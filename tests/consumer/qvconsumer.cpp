// Prints the framework's release through its public headers and exits with the code of a
// framework error raised for its first argument, if any.
#include <cstdio>

#include "comps/appcomps/acApp.h"
#include "nde/qv/qvrev.h"

int main(int argc, char** argv) {
  printf("%s\n", qvRevStamp(1));
  if (argc > 1) {
    try {
      ac::App::needIntArg(argv[1], "-n", 10);
    } catch (const rc::Err& err) {
      return err.code() % 256;
    }
  }
  return 0;
}
