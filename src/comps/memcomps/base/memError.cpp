#include "comps/memcomps/base/memError.h"

#include <cstdio>
#include <new>
#include <stdexcept>

// The C library's assertion routine. <assert.h> hides its declaration in release builds, and the
// verifications of this layer stay on in every build.
extern "C" [[noreturn]] void __assert_fail(const char* assertion, const char* file,
                                           unsigned int line, const char* function) noexcept;

namespace mem {

namespace {

const char* orEmpty(const char* s) { return s != nullptr ? s : ""; }

}  // namespace

void throwOutOfMemory(const char* /*file*/, int /*line*/, const char* /*function*/,
                      const AllocContext& /*context*/, size_t /*requestBytes*/) {
  throw std::bad_alloc();
}

void throwFailedVerify(const char* expression, const char* file, int line, const char* function) {
  __assert_fail(orEmpty(expression), orEmpty(file), static_cast<unsigned int>(line),
                orEmpty(function));
}

void throwRuntimeError(const char* message, const char* file, int line, const char* function) {
  char text[256];
  snprintf(text, sizeof text, "'%s' at %s(%d) in %s", orEmpty(message), orEmpty(file), line,
           orEmpty(function));
  throw std::runtime_error(text);
}

}  // namespace mem
