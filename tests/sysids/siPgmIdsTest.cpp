#include <gtest/gtest.h>

#include "sysids/siPgmIds.h"

TEST(PgmIds, BlocksOfTheNumbering) {
  EXPECT_EQ(si::PgmIds::NONE, 0);
  EXPECT_EQ(si::PgmIds::BAD_PGM_ID, -1);
  EXPECT_EQ(si::PgmIds::NUM_FIXED_IDS, 31);
  EXPECT_EQ(si::PgmIds::FIXED_ID_END, 32);
  EXPECT_EQ(si::PgmIds::NUM_PGM_TYPES, 75);
  EXPECT_EQ(si::PgmIds::PGM_TYPE_BEGIN, 901);
  EXPECT_EQ(si::PgmIds::PGM_TYPE_END, 976);
  EXPECT_EQ(si::PgmIds::TASK_ID_BEGIN, 501);
  EXPECT_EQ(si::PgmIds::NUM_TASK_IDS, 24);
  EXPECT_EQ(si::PgmIds::ASSIGNED_BEGIN, 1001);
}

TEST(PgmIds, SymbolsAndLabels) {
  struct Case {
    int id;
    const char* symbol;
    const char* label;
  };
  const Case cases[] = {
      {si::PgmIds::REV_CMD, "qvrev", "qvrev Cmd"},
      {922, "qvrev", "qvrev Cmd"},
      {si::PgmIds::CLIENT_MGR, "clientmgr", "Client Manager"},
      {944, "qvload", "qvload Cmd"},
      {930, "qvctl", "qvctl Cmd"},
      {si::PgmIds::DEMO_DAEMON, "qvdemod", "Demo Daemon"},
      {0, "unknown", "Unknown"},
      {-1, "unknown", "Unknown"},
      {1, "unknown", "Unknown"},
      {923, "unknown", "Unknown"},
      {1001, "unknown", "Unknown"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(si::PgmIds::pgmIdSymbol(c.id), c.symbol) << c.id;
    EXPECT_STREQ(si::PgmIds::pgmIdLabel(c.id), c.label) << c.id;
  }
}

TEST(PgmIds, LookupBySymbolIgnoresCase) {
  struct Case {
    const char* symbol;
    int id;
    int fixedId;
  };
  const Case cases[] = {
      {"qvrev", 922, si::PgmIds::BAD_PGM_ID},
      {"QVREV", 922, si::PgmIds::BAD_PGM_ID},
      {"ClientMgr", 7, 7},
      {"qvload", 944, si::PgmIds::BAD_PGM_ID},
      {"nosuchprogram", si::PgmIds::BAD_PGM_ID, si::PgmIds::BAD_PGM_ID},
      {"", si::PgmIds::NONE, si::PgmIds::NONE},
      {nullptr, si::PgmIds::NONE, si::PgmIds::NONE},
      // Ids without a row answer "unknown": the lowest of them is found.
      {"unknown", 1, 1},
      {"UNKNOWN", 1, 1},
  };
  for (const Case& c : cases) {
    const char* shown = c.symbol != nullptr ? c.symbol : "(null)";
    EXPECT_EQ(si::PgmIds::getPgmId(c.symbol), c.id) << shown;
    EXPECT_EQ(si::PgmIds::fixedPgmId(c.symbol), c.fixedId) << shown;
  }
}
