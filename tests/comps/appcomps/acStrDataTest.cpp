#include <gtest/gtest.h>

#include "comps/appcomps/acInfoMsgs.h"
#include "comps/appcomps/acStrData.h"
#include "qvTestUtil.h"

TEST(StrData, WritePositionFollowsTheStreamRule) {
  const struct {
    const char* initial;  // null: built empty
    const char* set;      // null: no set
    std::vector<const char*> appends;
    const char* text;
  } rows[] = {
      {nullptr, nullptr, {"ab", "cd"}, "abcd"},
      {"xyz", nullptr, {"q"}, "qyz"},
      {"xyz", "abc", {"x"}, "xbc"},
      {nullptr, nullptr, {"a", nullptr, "b"}, "ab"},  // a null append is ignored
  };
  for (const auto& row : rows) {
    ac::StrData data = row.initial != nullptr ? ac::StrData(row.initial, 1) : ac::StrData(1);
    if (row.set != nullptr) data.set(row.set);
    for (const char* piece : row.appends) data.append(piece);
    EXPECT_EQ(data.str(), row.text);
    EXPECT_STREQ(data.data(), row.text);
    EXPECT_EQ(data.size(), strlen(row.text));
  }
}

TEST(StrData, WireFormAndOwnershipInTheProgramTableReply) {
  ac::StrData data(1);
  data.append("abcd");
  rc::ByteStrm s(16);
  data.saveOn(s);
  qvtest::expectImage(qvtest::bytesOf(s), qvtest::ByteImage().str("abcd").get());
  EXPECT_EQ(data.binarySize(), 12u);
  ac::StrData back("old", 1);
  back.restoreFrom(s);
  EXPECT_EQ(back.str(), "abcd");
  qvtest::expectEveryCutRefused(qvtest::bytesOf(s),
                                [](rc::ByteStrm& in) { ac::StrData(1).restoreFrom(in); });

  // The reply holds one reference and copies the text whole.
  ac::GetPgmTblReply reply;
  ac::StrData* held = reply.allocStrData();
  EXPECT_EQ(held->references(), 1);
  held->append("tbl");
  ac::GetPgmTblReply copy(reply, false);
  EXPECT_NE(copy.strData(), held);
  EXPECT_EQ(copy.strData()->str(), "tbl");
}
