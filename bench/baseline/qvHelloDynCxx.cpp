#include <iostream>
int main() {
  std::cout << "Release 7.1.0.0 [Build 35553]" << std::endl;
  return 0;
}
