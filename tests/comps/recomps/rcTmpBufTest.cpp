#include <gtest/gtest.h>

#include <cstring>

#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcTmpBuf.h"

TEST(TmpBuf, HandsOutPiecesInOrderUntilReset) {
  char storage[16];
  memset(storage, '#', sizeof storage);
  rc::TmpBuf buf(storage, sizeof storage);
  char* a = buf.strDup("abc");
  EXPECT_EQ(a, storage);
  EXPECT_STREQ(a, "abc");
  char* b = buf.strDup("de", false);  // no terminator
  EXPECT_EQ(b, storage + 4);
  buf.putCh('!');
  EXPECT_EQ(std::string(storage, 7), std::string("abc\0de!", 7));
  EXPECT_EQ(buf.used(), 7u);
  EXPECT_EQ(buf.strDup(nullptr), nullptr);
  buf.dealloc(a);
  EXPECT_EQ(buf.used(), 7u);
  buf.reset();
  EXPECT_EQ(buf.alloc(3), storage);
}

TEST(TmpBuf, NeverWritesPastItsBuffer) {
  rc::Assert::setAbortOnFail(false);
  char storage[8 + 1];
  storage[8] = 'G';  // guard byte just past the buffer
  rc::TmpBuf buf(storage, 8);
  EXPECT_NE(buf.alloc(7), nullptr);  // leaves the one byte that is always kept
  EXPECT_THROW(buf.putCh('x'), rc::IntnlErr);
  buf.reset();
  EXPECT_THROW(buf.strDup("12345678"), rc::IntnlErr);
  try {
    buf.alloc(8);
  } catch (const rc::IntnlErr& err) {
    ASSERT_NE(err.err().args(), nullptr);
    EXPECT_STREQ((*err.err().args())[0], "hasRoom (space)");
  }
  EXPECT_EQ(storage[8], 'G');
  rc::Assert::setAbortOnFail(true);
}
