#include <gtest/gtest.h>

#include <climits>

#include "comps/recomps/rcSymRows.h"

namespace {

constexpr rc::SymRec kRecs[] = {{-2, "neg", "Negative"}, {0, "zero", "Zero"}, {5, "Five", "5"}};
constexpr rc::SymRows kRows(kRecs);

}  // namespace

TEST(SymRows, SymbolAndLabelOfAnIdOrTheFallback) {
  const struct {
    int id;
    const char* symbol;
    const char* label;
  } cases[] = {{-2, "neg", "Negative"}, {5, "Five", "5"}, {1, "?", "??"}, {INT_MIN, "?", "??"}};
  for (const auto& c : cases) {
    EXPECT_STREQ(kRows.symbol(c.id, "?"), c.symbol) << c.id;
    EXPECT_STREQ(kRows.label(c.id, "??"), c.label) << c.id;
  }
}

TEST(SymRows, IdOfASymbolWithinARange) {
  const struct {
    const char* symbol;
    bool ignoreCase;
    int minId;
    int maxId;
    int id;
  } cases[] = {
      {"zero", false, INT_MIN, INT_MAX, 0},
      {"Five", false, INT_MIN, INT_MAX, 5},
      {"five", false, INT_MIN, INT_MAX, 99},
      {"FIVE", true, INT_MIN, INT_MAX, 5},
      {"neg", false, 0, 5, 99},
      {"zero", false, 0, 0, 0},
      {nullptr, true, INT_MIN, INT_MAX, 99},
      {"", false, INT_MIN, INT_MAX, 99},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kRows.id(c.symbol, 99, c.minId, c.maxId, c.ignoreCase), c.id)
        << (c.symbol != nullptr ? c.symbol : "(null)") << " " << c.minId << ".." << c.maxId;
  }
}
