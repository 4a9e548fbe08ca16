#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "comps/memcomps/base/memError.h"
#include "comps/memcomps/base/memHeader.h"

namespace {

std::string runtimeErrorText(const char* message, const char* file, int line,
                             const char* function) {
  try {
    mem::throwRuntimeError(message, file, line, function);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

}  // namespace

TEST(MemError, RuntimeErrorText) {
  EXPECT_EQ(runtimeErrorText("Region call unsupported by REGION_HEAP", "src/x.cpp", 42, "f"),
            "'Region call unsupported by REGION_HEAP' at src/x.cpp(42) in f");
  EXPECT_EQ(runtimeErrorText(nullptr, nullptr, -1, nullptr), "'' at (-1) in ");
  // The text is cut to fit a 256-byte buffer.
  const std::string longMessage(300, 'm');
  const std::string text = runtimeErrorText(longMessage.c_str(), "file", 1, "fn");
  EXPECT_EQ(text.size(), 255u);
  EXPECT_EQ(text.front(), '\'');
  EXPECT_EQ(text.substr(1), longMessage.substr(0, 254));
}

TEST(MemError, OutOfMemoryIsBadAlloc) {
  EXPECT_THROW(mem::throwOutOfMemory("f.cpp", 1, "allocBlock", mem::k_anonHeap, 1u << 30),
               std::bad_alloc);
}
