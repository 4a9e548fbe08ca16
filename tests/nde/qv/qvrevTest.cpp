#include <gtest/gtest.h>

#include <string>

#include "nde/qv/qvrev.h"

TEST(QvRev, TextFormsOfThisBuild) {
  // Either order of the first calls gives the same texts, each in a buffer of its own.
  EXPECT_STREQ(qvRevStamp(0), "7.1.0.0-P0-F1-Bld35553");
  EXPECT_STREQ(qvRevStamp(1), "Release 7.1.0.0 [Build 35553]");
  EXPECT_STREQ(qvRevStamp(7), "Release 7.1.0.0 [Build 35553]");
  EXPECT_EQ(qvRevStamp(1), qvRevStamp(-3));
  EXPECT_NE(qvRevStamp(0), qvRevStamp(1));
  EXPECT_STREQ(qvRevShortLabel(), "7.1.0.0");
  EXPECT_STREQ(qvRevDirSuffix(), "7.1.0.0");
  EXPECT_NE(qvRevShortLabel(), qvRevDirSuffix());
  EXPECT_STREQ(qvBldStamp(), "2014-02-06.35553.hds.rel-7.1.cm.35553");
  EXPECT_EQ(qvBldStamp(), qvBldStamp());
}

TEST(QvRev, MarkersAgreeWithTheFunctions) {
  EXPECT_EQ(std::string(QvRevStamp), std::string("QvRevStamp=") + qvRevStamp(0));
  EXPECT_EQ(std::string(QvBldStamp), std::string("QvBldStamp=") + qvBldStamp());
}

TEST(QvRev, StageSymbolsAndLabels) {
  const struct {
    int id;
    const char* symbol;
    const char* label;
  } rows[] = {
      {QV_RS_NONE, "none", "None"},      {QV_RS_BAD, "unknown", "Unknown"},
      {QV_RS_DEV, "dev", "Dev"},         {QV_RS_ALPHA, "alpha", "Alpha"},
      {QV_RS_BETA, "beta", "Beta"},      {QV_RS_FINAL, "final", "Final"},
      {QV_RS_INTERIM_FIX, "ifix", "IF"}, {7, "unknown", "Unknown"},
      {-1, "unknown", "Unknown"},        {1000, "unknown", "Unknown"},
  };
  for (const auto& row : rows) {
    EXPECT_STREQ(qvRevStageSymbol(row.id), row.symbol) << row.id;
    EXPECT_STREQ(qvRevStageLabel(row.id), row.label) << row.id;
  }
}

TEST(QvRev, StageIdFromText) {
  const struct {
    const char* text;
    int id;
  } rows[] = {
      {nullptr, 0}, {"", 0},      {"A", 3},     {"B", 4},       {"D", 2},
      {"F", 5},     {"f", 1},     {"X", 1},     {"IF", 6},      {"if", 1},
      {"ab", 1},    {"dev", 2},   {"alpha", 3}, {"beta", 4},    {"final", 5},
      {"ifix", 6},  {"Final", 1}, {"none", 1},  {"unknown", 1},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(qvRevStageId(row.text), row.id) << (row.text ? row.text : "(null)");
  }
}

TEST(QvRev, CompareLabelForms) {
  const struct {
    const char* v1;
    const char* v2;
    int expected;
  } rows[] = {
      {"Release 7.1.0.0 [Build 1]", "Release 7.0.9.9 [Build 2]", 1},
      {"Release 7.0.9.9 [Build 1]", "Release 7.1.0.0 [Build 2]", -1},
      {"Release 7.1.0.0 [Build 1]", "Release 7.1.0.0 [Build 99]", 0},
      {"Release 7.1.0.0 [Build 1]", "Release", -1},
      {"Release 7.1.0.0 [Build 1]", "Release words only", -1},
      {"Release 7", "Release 7.1", -1},  // one number read from the first text
      {"Release 7.1", "Release 7.1.0.0", 0},
      {"Release 7.2", "Release 7.1.9.9", 1},
      {"Release 10.0.0.0", "Release 9.9.9.9", 1},
      {"", "Release 7.1.0.0", -1},
      {nullptr, "Release 7.1.0.0", -1},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(qvRevCompare(row.v1, row.v2), row.expected)
        << (row.v1 ? row.v1 : "(null)") << " vs " << row.v2;
  }
}

TEST(QvRev, ComparePatchLevelsNumerically) {
  EXPECT_EQ(qvRevPatchCompare("7.1.0.0-P2-F1-Bld1", "7.1.0.0-P10-F1-Bld1"), -1);
  EXPECT_EQ(qvRevPatchCompare("7.1.0.0-P10-F1-Bld1", "7.1.0.0-P2-F1-Bld1"), 1);
  EXPECT_EQ(qvRevPatchCompare("7.1.0.0-P3-F1-Bld1", "7.1.0.0-P3-F1-Bld9"), 0);
  EXPECT_EQ(qvRevPatchCompare("no patch", "lower p1"), 0);
  EXPECT_EQ(qvRevPatchCompare("7.1.0.0-P1", "none"), 1);
  EXPECT_EQ(qvRevPatchCompare(qvRevStamp(0), "7.1.0.0-P0"), 0);
}
