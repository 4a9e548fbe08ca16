// Failure routines of the memory layer, also available to the rest of the framework.
//
// The memory layer sits below the coded-error facility, so it reports with the standard library
// only: exhaustion is std::bad_alloc, an unsupported request is std::runtime_error, and a violated
// internal condition (freeing a foreign or already freed block, a wrong region) ends the process
// through the C library's assertion failure, which prints the condition and aborts. These
// conditions are programming errors of this program, never reactions to outside input.
#pragma once

#include <cstddef>

namespace mem {

class AllocContext;

// Throws std::bad_alloc; the arguments describe the failed request for a debugger.
[[noreturn]] void throwOutOfMemory(const char* file, int line, const char* function,
                                   const AllocContext& context, size_t requestBytes);

// Prints "<program>: <file>:<line>: <function>: Assertion `<expression>' failed." and aborts.
[[noreturn]] void throwFailedVerify(const char* expression, const char* file, int line,
                                    const char* function);

// Throws std::runtime_error with "'<message>' at <file>(<line>) in <function>", cut to 255
// characters.
[[noreturn]] void throwRuntimeError(const char* message, const char* file, int line,
                                    const char* function);

}  // namespace mem

// Verifies an internal condition in every build type; the condition's source text is what the
// failure prints, so write it as a reader should see it.
#define MEM_VERIFY(cond, file, function)        \
  (__builtin_expect(static_cast<bool>(cond), 1) \
       ? static_cast<void>(0)                   \
       : ::mem::throwFailedVerify(#cond, file, __LINE__, function))
