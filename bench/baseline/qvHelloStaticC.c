#include <stdio.h>
int main(void) {
  puts("Release 7.1.0.0 [Build 35553]");
  return 0;
}
