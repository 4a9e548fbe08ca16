// Helpers shared by the memory-layer tests: reading a block's header bytes and watching a
// verification failure end a child process.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "comps/memcomps/base/memHeader.h"
#include "qvTestUtil.h"

namespace memtest {

using Bytes = std::array<uint8_t, 8>;

// The 8 header bytes in front of a user pointer.
inline Bytes headerBytes(const void* p) {
  Bytes b;
  memcpy(b.data(), static_cast<const uint8_t*>(p) - mem::kHeaderSize, b.size());
  return b;
}

// A fake block: header bytes followed by user bytes, for queries on pointers the heap never made.
struct FakeBlock {
  alignas(8) uint8_t bytes[16] = {};
  explicit FakeBlock(const Bytes& hdr) { memcpy(bytes, hdr.data(), hdr.size()); }
  void* user() { return bytes + mem::kHeaderSize; }
};

// Runs fn in a child and expects it to end through the C library's assertion failure with the
// given condition text and function name, reported from the memory layer's sources.
inline void expectVerifyFailure(const std::function<void()>& fn, const std::string& expression,
                                const std::string& function) {
  const qvtest::ProcResult r = qvtest::runInChild([&] {
    fn();
    fputs("returned normally\n", stderr);
  });
  EXPECT_EQ(r.termSignal, SIGABRT) << r.err;
  EXPECT_NE(r.err.find("src/comps/memcomps/base/mem"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(": " + function + ": Assertion `" + expression + "' failed."),
            std::string::npos)
      << r.err;
}

}  // namespace memtest
