#include <gtest/gtest.h>

#include "comps/recomps/rcPgmClass.h"

TEST(PgmClass, SymbolsLabelsAndClassTests) {
  struct Case {
    int id;
    const char* symbol;
    const char* label;
    bool isApp, isDaemon, isSingleDaemon, isBackgroundProc;
  };
  const Case cases[] = {
      {rc::PgmClass::UNKNOWN_PGM_CLASS, "unknown", "Unknown", true, false, false, false},
      {rc::PgmClass::DAEMON, "daemon", "Daemon", false, true, false, true},
      {rc::PgmClass::SINGLE_DAEMON, "singleDaemon", "Single Daemon", false, true, true, true},
      {rc::PgmClass::CLI_APP, "cliApp", "CLI Application", true, false, false, false},
      {rc::PgmClass::GUI_APP, "guiApp", "GUI Application", true, false, false, false},
      {rc::PgmClass::SUB_PROCESS, "subProcess", "Sub-process", false, false, false, true},
      {6, "unknownPgmClass", "Unknown", false, false, false, false},
      {-1, "unknownPgmClass", "Unknown", false, false, false, false},
  };
  for (const Case& c : cases) {
    const rc::PgmClass pgmClass(c.id);
    EXPECT_STREQ(pgmClass.symbol(), c.symbol) << c.id;
    EXPECT_STREQ(pgmClass.label(), c.label) << c.id;
    EXPECT_EQ(rc::PgmClass::isApp(c.id), c.isApp) << c.id;
    EXPECT_EQ(rc::PgmClass::isDaemon(c.id), c.isDaemon) << c.id;
    EXPECT_EQ(rc::PgmClass::isSingleDaemon(c.id), c.isSingleDaemon) << c.id;
    EXPECT_EQ(rc::PgmClass::isBackgroundProc(c.id), c.isBackgroundProc) << c.id;
  }
}

TEST(PgmClass, IdFromSymbolIsCaseSensitive) {
  struct Case {
    const char* symbol;
    int id;
  };
  const Case cases[] = {
      {"daemon", rc::PgmClass::DAEMON},
      {"singleDaemon", rc::PgmClass::SINGLE_DAEMON},
      {"cliApp", rc::PgmClass::CLI_APP},
      {"guiApp", rc::PgmClass::GUI_APP},
      {"subProcess", rc::PgmClass::SUB_PROCESS},
      {"Daemon", rc::PgmClass::UNKNOWN_PGM_CLASS},
      {"unknown", rc::PgmClass::UNKNOWN_PGM_CLASS},
      {"", rc::PgmClass::UNKNOWN_PGM_CLASS},
      {nullptr, rc::PgmClass::UNKNOWN_PGM_CLASS},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rc::PgmClass::id(c.symbol), c.id) << (c.symbol != nullptr ? c.symbol : "(null)");
    EXPECT_EQ(rc::PgmClass(c.symbol).id(), c.id);
  }
  rc::PgmClass copy(rc::PgmClass::DAEMON);
  copy = rc::PgmClass("guiApp");
  EXPECT_EQ(copy.id(), rc::PgmClass::GUI_APP);
}
