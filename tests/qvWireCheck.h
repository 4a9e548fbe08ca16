// Checks of binary images: a little-endian builder for the bytes a test expects, a byte-for-byte
// comparison that names the first differing offset, and the check that every proper prefix of a
// valid image is refused with RC_SC_READ_FAILED (never read past, never accepted).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "comps/recomps/rcByteStrm.h"
#include "qvTestUtil.h"

namespace qvtest {

using Bytes = std::vector<unsigned char>;

// Expected images, written value by value in the wire's byte order.
struct Wire {
  Bytes bytes;
  Wire& le(unsigned long long v, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<unsigned char>(v >> (8 * i)));
    return *this;
  }
  Wire& i16(int v) { return le(static_cast<unsigned long long>(v), 2); }
  Wire& i32(long long v) { return le(static_cast<unsigned long long>(v), 4); }
  Wire& i64(unsigned long long v) { return le(v, 8); }
  // Length, bytes, zero padding to 4.
  Wire& str(const std::string& s) {
    i32(static_cast<long long>(s.size()));
    for (char c : s) bytes.push_back(static_cast<unsigned char>(c));
    return fill(0, (4 - s.size() % 4) % 4);
  }
  Wire& fill(unsigned char c, size_t n) {
    bytes.resize(bytes.size() + n, c);
    return *this;
  }
  Wire& raw(const Bytes& b) {
    for (unsigned char c : b) bytes.push_back(c);
    return *this;
  }
};

inline Bytes imageOf(const rc::ByteStrm& s) { return Bytes(s.buffer(), s.buffer() + s.size()); }

// The image and the expectation agree byte for byte.
inline void expectImage(const Bytes& got, const Bytes& want, const std::string& what = "") {
  EXPECT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < got.size() && i < want.size(); ++i) {
    if (got[i] != want[i]) {
      ADD_FAILURE() << what << ": first difference at byte " << i << ": "
                    << static_cast<int>(got[i]) << " instead of " << static_cast<int>(want[i]);
      return;
    }
  }
}

// restore must refuse every proper prefix of image with RC_SC_READ_FAILED.
inline void expectEveryCutRefused(const Bytes& image,
                                  const std::function<void(rc::ByteStrm&)>& restore,
                                  const std::string& what = "") {
  for (size_t cut = 0; cut < image.size(); ++cut) {
    rc::ByteStrm in(cut + 1);
    in.writeBytes(image.data(), cut);
    EXPECT_EQ(thrownErr([&] { restore(in); }).code(), RC_SC_READ_FAILED)
        << what << ": cut at " << cut << " of " << image.size();
  }
}

}  // namespace qvtest
