// Uses only errors and files, never the message catalog, and prints the text of code 6 and the
// error of a failed open: the built-in texts must be there whatever the program references.
#include <cstdio>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFile.h"

int main() {
  printf("%s\n", rc::Err::lookupString(RC_SC_OPEN_FAILED));
  rc::File file;
  rc::Err err;
  if (!file.open("/nonexistent/qverrconsumer", "r", &err))
    printf("%s\n", rc::Err::format(err).c_str());
  return 0;
}
