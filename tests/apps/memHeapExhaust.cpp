// Exhausts the underlying allocator through each allocation call of the heap and prints what
// each call did, one line per call. Run with an environment in which the allocator answers null
// rather than aborting (under the address sanitizer: allocator_may_return_null=1).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "comps/memcomps/base/memHeap.h"

namespace {

// Larger than any allocation the C library grants (above PTRDIFF_MAX), small enough that adding
// the header does not wrap. Volatile, so that the compiler does not refuse the request itself.
volatile size_t kHuge = SIZE_MAX / 2 + 1;

template <typename Fn>
void expectBadAlloc(const char* call, Fn fn) {
  try {
    fn();
    printf("%s: succeeded\n", call);
  } catch (const std::bad_alloc&) {
    printf("%s: bad_alloc\n", call);
  }
}

}  // namespace

int main() {
  void* p = mem::allocBlockNothrow(kHuge);
  printf("allocBlockNothrow: %s\n", p == nullptr ? "null" : "block");
  mem::freeBlock(p);
  expectBadAlloc("allocBlock", [] { mem::allocBlock(kHuge); });
  expectBadAlloc("callocBlock", [] { mem::callocBlock(kHuge); });

  const mem::AllocContext ctx(mt_strbuf);
  char* old = static_cast<char*>(mem::allocBlock(6, ctx));
  memcpy(old, "hello", 6);
  try {
    mem::reallocBlock(old, kHuge, ctx);
    printf("reallocBlock: succeeded\n");
  } catch (const std::bad_alloc&) {
    const bool intact = mem::validateBlock(old, mt_strbuf) && strcmp(old, "hello") == 0;
    printf("reallocBlock: bad_alloc, old block %s\n", intact ? "valid and intact" : "damaged");
  }
  mem::freeBlock(old);
  return 0;
}
