#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "comps/memcomps/base/memHeap.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcFile.h"
#include "qvTestSupport.h"
#include "qvTestUtil.h"

namespace {

using rc::Env;

// Every variable of the table unset for the test's duration.
constexpr auto kNoTableVars = qvtest::ScopedEnv::kWithoutTableVars;

using qvtest::failedAssertion;

std::string str(const char* text) { return text != nullptr ? text : "(null)"; }

// The members addVarVals and addTagsForHelp use of a symbol table and a text table.
struct FakeSymTbl {
  std::vector<std::tuple<int, std::string, std::string>> entries;
  int maxId() const {
    int id = -1;
    for (const auto& e : entries) id = std::max(id, std::get<0>(e));
    return id;
  }
  void add(int id, const char* symbol, const char* label, bool copyStrings) {
    EXPECT_TRUE(copyStrings);
    entries.emplace_back(id, symbol, label);
  }
};

struct FakeTxtTbl {
  std::vector<std::vector<std::string>> rows;
  unsigned int numRows() const { return static_cast<unsigned int>(rows.size()); }
  void append(unsigned int rowNum, const char* value) {
    if (rows.size() < rowNum) rows.resize(rowNum);
    rows[rowNum - 1].push_back(value);
  }
};

std::string hostName() {
  char buf[256] = "";
  gethostname(buf, sizeof buf - 1);
  return buf;
}

}  // namespace

TEST(EnvVarTbl, HoldsEveryVariableInTypeOrder) {
  struct Row {
    Env::VarType type;
    const char* name;
    Env::DataType dataType;
    bool tag;
  };
  const Row rows[] = {
      {Env::QV_DIR, "QV_DIR", Env::DT_STR, true},
      {Env::BIN_DIR, "QV_BIN_DIR", Env::DT_STR, true},
      {Env::DATA_DIR, "QV_DATA_DIR", Env::DT_STR, true},
      {Env::KIT_DIR, "QV_KIT_DIR", Env::DT_STR, true},
      {Env::LOG_DIR, "QV_LOG_DIR", Env::DT_STR, true},
      {Env::SBIN_DIR, "QV_SBIN_DIR", Env::DT_STR, true},
      {Env::SYS_DIR, "QV_SYS_DIR", Env::DT_STR, true},
      {Env::STRINGS_DIR, "QV_STRINGS_DIR", Env::DT_STR, false},
      {Env::TMP_DIR, "QV_TMP_DIR", Env::DT_STR, true},
      {Env::REPL_DIR, "QV_REPL_DIR", Env::DT_STR, true},
      {Env::DATABASE, "QV_DATABASE", Env::DT_STR, false},
      {Env::HOST, "QV_HOST", Env::DT_STR, false},
      {Env::PASSWORD, "QV_PASSWORD", Env::DT_STR, false},
      {Env::USER, "QV_USER", Env::DT_STR, false},
      {Env::MIBS_DIR, "QV_MIBS_DIR", Env::DT_STR, true},
      {Env::THIS_IS_HOST, "QV_THIS_IS_HOST", Env::DT_BOOL, true},
      {Env::SIM, "QV_SIM", Env::DT_BOOL, false},
      {Env::PG_MAXBACKENDS, "PG_MAXBACKENDS", Env::DT_STR, false},
      {Env::KEEP_LOGS_ON_HOST, "QV_KEEP_LOGS_ON_HOST", Env::DT_BOOL, false},
      {Env::ARCV_NODENAME, "QV_ARCV_NODENAME", Env::DT_STR, false},
      {Env::ARCV_NODEOWNER, "QV_ARCV_NODEOWNER", Env::DT_STR, false},
      {Env::ARCV_PASSWORD, "QV_ARCV_PASSWORD", Env::DT_STR, false},
      {Env::LOG_TO_FILE, "QV_LOG_TO_FILE", Env::DT_BOOL, false},
      {Env::LOG_TO_SYS_LOG, "QV_LOG_TO_SYS_LOG", Env::DT_BOOL, false},
      {Env::LOG_TO_STD_OUT, "QV_LOG_TO_STD_OUT", Env::DT_BOOL, false},
      {Env::STD_ERR_TO_SYS_LOG, "QV_STD_ERR_TO_SYS_LOG", Env::DT_BOOL, false},
      {Env::CLIENT_MGR_PORT, "QV_CLIENT_MGR_PORT", Env::DT_INT, false},
      {Env::MSG_SVR_PORT, "QV_MSG_SVR_PORT", Env::DT_INT, false},
      {Env::NO_SPS_RESTART, "QV_NO_SPS_RESTART", Env::DT_BOOL, false},
      {Env::BNR_MGR_PORT, "QV_BNR_MGR_PORT", Env::DT_INT, false},
      {Env::VAC_MGR_PORT, "QV_RECLAIM_MGR_PORT", Env::DT_INT, false},
      {Env::CA_CERT_FILE, "QV_CA_CERT_FILE", Env::DT_STR, false},
      {Env::SECURITY_LEVEL, "QV_SECURITY_LEVEL", Env::DT_STR, false},
      {Env::SCHEMA, "QV_SCHEMA", Env::DT_STR, false},
  };
  const rc::EnvVarTbl* tbl = rc::EnvVarTbl::instance();
  ASSERT_EQ(tbl->entries(), 34u);
  size_t i = 0;
  for (const rc::EnvVarRec* rec : *tbl) {
    const Row& row = rows[i++];
    EXPECT_EQ(rec->varType(), row.type) << row.name;
    EXPECT_STREQ(rec->varName(), row.name);
    EXPECT_EQ(rec->dataType(), row.dataType) << row.name;
    EXPECT_EQ(rec->isSyntaxTag(), row.tag) << row.name;
    EXPECT_EQ(tbl->find(row.type), rec) << row.name;
    EXPECT_STREQ(Env::envVarName(row.type), row.name);
  }

  // Types without a record answer "UNKNOWN", 0 or false.
  qvtest::ScopedEnv guard(kNoTableVars);
  guard.set("QV_IPC_SVR_PORT", "7");
  for (Env::VarType type : {Env::EXEC_DIR, Env::IPC_SVR_PORT, Env::VarType(0), Env::VarType(99)}) {
    EXPECT_STREQ(Env::strEnvVar(type), "UNKNOWN") << type;
    EXPECT_STREQ(Env::envVarName(type), "UNKNOWN") << type;
    EXPECT_EQ(Env::intEnvVar(type), 0) << type;
    EXPECT_EQ(Env::int64EnvVar(type), 0) << type;
    EXPECT_FALSE(Env::boolEnvVar(type)) << type;
    EXPECT_FALSE(Env::envVarExists(type)) << type;
  }
  std::string buf;
  EXPECT_STREQ(Env::defaultVal(Env::IPC_SVR_PORT, &buf), "5485");
  EXPECT_STREQ(Env::defaultVal(Env::VarType(99), &buf), "UNKNOWN");
}

TEST(Env, KitAndRootDeriveFromTheExecutableDirectory) {
  qvtest::ScopedEnv guard(kNoTableVars);
  qvtest::TempDir tmp("envkit");
  const std::string t = tmp.path();
  tmp.mkdirs("a/kit/bin/adm");
  tmp.mkdirs("a/kit/bin/other");
  tmp.mkdirs("a/kit/sys");
  tmp.mkdirs("b/kit/bin");
  tmp.mkdirs("b/kit/sys");
  tmp.mkdirs("b/kit/tmp");
  tmp.mkdirs("c/bin");
  tmp.mkdirs("d/adm");

  struct Case {
    std::string execDir;
    std::string kitFromEnv;
    std::string kit;
    std::string root;
  };
  const Case cases[] = {
      {t + "/a/kit/bin", "", t + "/a/kit", t + "/a"},
      {t + "/a/kit/bin/", "", t + "/a/kit", t + "/a"},
      {t + "/a/kit/bin/adm", "", t + "/a/kit", t + "/a"},
      {t + "/a/kit/bin/adm/", "", t + "/a/kit", t + "/a"},
      // Only a directory named adm looks one level further up.
      {t + "/a/kit/bin/other", "", "", ""},
      // A kit with its own tmp is its own root.
      {t + "/b/kit/bin", "", t + "/b/kit", t + "/b/kit"},
      // bin without sys is no kit.
      {t + "/c/bin", "", "", ""},
      {t + "/d/adm", "", "", ""},
      // The file-system root holds bin and sys but is no kit.
      {"/bin", "", "", ""},
      {"", "", "", ""},
      // A kit named in the environment decides the root.
      {"", t + "/b/kit", "", t + "/b/kit"},
      {t + "/b/kit/bin", t + "/a/kit/", t + "/b/kit", t + "/a"},
  };
  for (const Case& c : cases) {
    if (c.kitFromEnv.empty()) {
      guard.unset("QV_KIT_DIR");
    } else {
      guard.set("QV_KIT_DIR", c.kitFromEnv);
    }
    Env::clearCache();
    EXPECT_EQ(Env::extractKitDir(c.execDir.c_str()), c.kit) << c.execDir;
    EXPECT_EQ(Env::extractQvDir(c.execDir.c_str()), c.root) << c.execDir << " " << c.kitFromEnv;
  }
}

TEST(Env, DirectoryDefaultsFollowTheDirectoriesTheyBuildOn) {
  qvtest::TempDir tmp("envroot");
  tmp.mkdirs("withkit/kit");
  tmp.mkdirs("nokit");
  const std::string scratchTmp = rc::File::exists("/qvscratch/tmp") ? "/qvscratch/tmp" : "";
  struct Case {
    std::vector<std::pair<std::string, std::string>> env;
    std::vector<std::pair<Env::VarType, std::string>> expected;
  };
  const Case cases[] = {
      {{{"QV_KIT_DIR", "/k"}, {"QV_DIR", "/r"}},
       {{Env::BIN_DIR, "/k/bin"},
        {Env::LOG_DIR, "/k/log"},
        {Env::SBIN_DIR, "/k/sbin"},
        {Env::SYS_DIR, "/k/sys"},
        {Env::STRINGS_DIR, "/k/sys/strings"},
        {Env::MIBS_DIR, "/k/sys/mibs"},
        {Env::DATA_DIR, "/r/data"},
        {Env::TMP_DIR, scratchTmp.empty() ? "/r/tmp" : scratchTmp},
        {Env::REPL_DIR, "/var/qvrepl"},
        {Env::PG_MAXBACKENDS, "120"},
        {Env::DATABASE, ""},
        {Env::CA_CERT_FILE, ""}}},
      {{{"QV_KIT_DIR", "/k/"}, {"QV_DIR", "/r/"}, {"QV_SIM", "on"}},
       {{Env::LOG_DIR, "/k/log"}, {Env::DATA_DIR, "/r/simdata"}}},
      {{{"QV_SYS_DIR", "/s"}, {"QV_KIT_DIR", "/k"}},
       {{Env::STRINGS_DIR, "/s/strings"}, {Env::MIBS_DIR, "/s/mibs"}, {Env::LOG_DIR, "/k/log"}}},
      {{{"QV_STRINGS_DIR", "/own/strings"}}, {{Env::STRINGS_DIR, "/own/strings"}}},
      // Without a kit of its own the root's kit directory, else the root itself.
      {{{"QV_DIR", tmp.path() + "/withkit"}},
       {{Env::KIT_DIR, tmp.path() + "/withkit/kit"},
        {Env::LOG_DIR, tmp.path() + "/withkit/kit/log"}}},
      {{{"QV_DIR", tmp.path() + "/nokit"}}, {{Env::KIT_DIR, tmp.path() + "/nokit"}}},
  };
  for (const Case& c : cases) {
    qvtest::ScopedEnv guard(kNoTableVars);
    for (const auto& [name, value] : c.env) guard.set(name, value);
    for (const auto& [type, value] : c.expected) {
      EXPECT_EQ(Env::strEnvVar(type), value) << Env::envVarName(type);
    }
  }
}

TEST(Env, UnusableNumbersAndSwitchesFallBackButCountAsSet) {
  struct Case {
    Env::VarType type;
    const char* value;  // null: not set
    long long expected;
    bool exists;
  };
  const Case cases[] = {
      {Env::CLIENT_MGR_PORT, "12x", 5481, true},
      {Env::CLIENT_MGR_PORT, "6000", 6000, true},
      {Env::CLIENT_MGR_PORT, "", 5481, true},
      {Env::CLIENT_MGR_PORT, nullptr, 5481, false},
      {Env::MSG_SVR_PORT, "99999999999999999999", 5485, true},
      {Env::MSG_SVR_PORT, "-12", -12, true},
      {Env::BNR_MGR_PORT, nullptr, 5483, false},
      {Env::VAC_MGR_PORT, "7000", 7000, true},
      {Env::SIM, "on", 1, true},
      {Env::SIM, "OFF", 0, true},
      {Env::SIM, "Yes", 1, true},
      {Env::SIM, "1", 1, true},
      {Env::SIM, "maybe", 0, true},
      {Env::SIM, nullptr, 0, false},
      {Env::THIS_IS_HOST, "t", 1, true},
      {Env::THIS_IS_HOST, "2", 0, true},
      {Env::THIS_IS_HOST, nullptr, 0, false},
      {Env::LOG_TO_FILE, "TRUE", 1, true},
  };
  for (const Case& c : cases) {
    qvtest::ScopedEnv guard(kNoTableVars);
    if (c.value != nullptr) guard.set(Env::envVarName(c.type), c.value);
    const std::string what = std::string(Env::envVarName(c.type)) + "=" + str(c.value);
    rc::EnvVarRec* rec = rc::EnvVarTbl::instance()->find(c.type);
    if (rec->dataType() == Env::DT_INT) {
      EXPECT_EQ(Env::intEnvVar(c.type), c.expected) << what;
      EXPECT_EQ(Env::int64EnvVar(c.type), c.expected) << what;
      EXPECT_EQ(rec->valText(), std::to_string(c.expected)) << what;
    } else {
      EXPECT_EQ(Env::boolEnvVar(c.type), c.expected != 0) << what;
      EXPECT_EQ(rec->valText(), c.expected != 0 ? "yes" : "no") << what;
    }
    EXPECT_EQ(Env::envVarExists(c.type), c.exists) << what;
  }

  // A value beyond int still serves the 64-bit read.
  qvtest::ScopedEnv guard(kNoTableVars);
  guard.set("QV_CLIENT_MGR_PORT", "9000000000");
  EXPECT_EQ(Env::intEnvVar(Env::CLIENT_MGR_PORT), 5481);
  EXPECT_EQ(Env::int64EnvVar(Env::CLIENT_MGR_PORT), 9000000000LL);

  // The line "-prEnv" prints for it.
  guard.set("QV_CLIENT_MGR_PORT", "12x");
  const qvtest::ProcResult result = qvtest::runInChild([] {
    rc::EnvVarTbl::instance()->find(Env::CLIENT_MGR_PORT)->prEnv();
    rc::EnvVarTbl::instance()->find(Env::BNR_MGR_PORT)->prEnv();
  });
  EXPECT_EQ(result.out,
            "QV_CLIENT_MGR_PORT    = 5481 (set)\n"
            "QV_BNR_MGR_PORT       = 5483\n");
}

TEST(Env, SetOperationsUpdateTheCacheAndOptionallyTheEnvironment) {
  struct Case {
    Env::VarType type;
    const char* value;
    bool updateEnviron;
    const char* strVal;
  };
  const Case cases[] = {
      {Env::DATABASE, "sales", false, "sales"},
      {Env::DATABASE, "sales", true, "sales"},
      {Env::LOG_DIR, nullptr, true, ""},
      {Env::CLIENT_MGR_PORT, "6001", true, "6001"},
      {Env::MSG_SVR_PORT, "-1", false, "-1"},
      {Env::LOG_TO_FILE, "1", true, "true"},
      {Env::SIM, "0", false, "false"},
      // "-prEnv" masks a password, the table does not.
      {Env::PASSWORD, "hunter2", true, "hunter2"},
  };
  for (const Case& c : cases) {
    qvtest::ScopedEnv guard(kNoTableVars);
    const char* name = Env::envVarName(c.type);
    switch (rc::EnvVarTbl::instance()->find(c.type)->dataType()) {
      case Env::DT_STR: Env::setEnvVar(c.type, c.value, c.updateEnviron); break;
      case Env::DT_INT: Env::setIntEnvVar(c.type, atoi(c.value), c.updateEnviron); break;
      case Env::DT_BOOL: Env::setBoolEnvVar(c.type, c.value[0] == '1', c.updateEnviron); break;
    }
    EXPECT_TRUE(Env::envVarExists(c.type)) << name;
    EXPECT_STREQ(Env::strEnvVar(c.type), c.strVal) << name;
    EXPECT_EQ(str(getenv(name)), c.updateEnviron ? c.strVal : "(null)") << name;
    if (c.type == Env::CLIENT_MGR_PORT) {
      EXPECT_EQ(Env::intEnvVar(c.type), 6001);
    } else if (c.type == Env::LOG_TO_FILE) {
      EXPECT_TRUE(Env::boolEnvVar(c.type));
    } else if (c.type == Env::SIM) {
      EXPECT_FALSE(Env::boolEnvVar(c.type));
    }

    // Dropping the cache goes back to the environment (or the default).
    Env::clearCache();
    EXPECT_EQ(Env::envVarExists(c.type), c.updateEnviron) << name;
  }

  // Switching a number through the table and reading it back typed.
  qvtest::ScopedEnv guard(kNoTableVars);
  guard.set("QV_MSG_SVR_PORT", "17");
  Env::setIntEnvVar(Env::MSG_SVR_PORT, 18, false);
  EXPECT_EQ(Env::int64EnvVar(Env::MSG_SVR_PORT), 18);
  Env::setBoolEnvVar(Env::SIM, true, false);
  EXPECT_FALSE(Env::isRealHw());
}

TEST(Env, ReadsAreCachedUntilClearedOrSetByName) {
  qvtest::ScopedEnv guard(kNoTableVars);
  guard.set("QV_HOST", "first");
  EXPECT_STREQ(Env::strEnvVar(Env::HOST), "first");
  setenv("QV_HOST", "second", 1);
  EXPECT_STREQ(Env::strEnvVar(Env::HOST), "first");
  guard.set("QV_SIM", "yes");
  EXPECT_TRUE(Env::boolEnvVar(Env::SIM));
  setenv("QV_SIM", "no", 1);
  EXPECT_TRUE(Env::boolEnvVar(Env::SIM));

  Env::clearCache();
  EXPECT_STREQ(Env::strEnvVar(Env::HOST), "second");
  EXPECT_FALSE(Env::boolEnvVar(Env::SIM));

  // Setting by name reaches the table's next read.
  Env::setEnvVar("QV_HOST", "third");
  EXPECT_STREQ(Env::strEnvVar(Env::HOST), "third");
  EXPECT_STREQ(getenv("QV_HOST"), "third");
}

TEST(Env, ProgrammingErrorsAreAssertions) {
  qvtest::ScopedEnv guard(kNoTableVars);
  struct Case {
    std::function<void()> fn;
    const char* condition;
  };
  const Case cases[] = {
      {[] { Env::setEnvVar(Env::SIM, "x", false); }, "rec->dataType () == DT_STR"},
      {[] { Env::setIntEnvVar(Env::DATABASE, 1, false); }, "rec->dataType () == DT_INT"},
      {[] { Env::setBoolEnvVar(Env::CLIENT_MGR_PORT, true, false); },
       "rec->dataType () == DT_BOOL"},
      {[] { Env::setEnvVar(Env::IPC_SVR_PORT, "1", false); }, "rec"},
      {[] { Env::setBoolEnvVar(Env::VarType(0), true, false); }, "rec"},
      {[] {
         rc::EnvVarTbl::instance()->insert(
             new rc::EnvVarRec(Env::HOST, "QV_HOST", Env::DT_STR, &Env::defaultToBlank, false));
       },
       "result.second"},
      {[] {
         rc::EnvVarRec rec(Env::HOST, "QV_NO_DEFAULT_FOR_TEST", Env::DT_STR, nullptr, false);
         rec.strVal();
       },
       "m_defaultValRtn"},
      {[] {
         rc::EnvVarRec rec(Env::HOST, "QV_NO_DEFAULT_FOR_TEST", Env::DT_INT, &Env::defaultToFalse,
                           false);
         rec.intVal();
       },
       "*sts == EOS"},
      {[] {
         rc::EnvVarRec rec(Env::HOST, "QV_NO_DEFAULT_FOR_TEST", Env::DT_BOOL, &Env::defaultToBlank,
                           false);
         rec.boolVal();
       },
       "val != -1"},
      {[] { Env::addVarVals(static_cast<FakeSymTbl*>(nullptr), true); }, "varTbl"},
      {[] { Env::addTagsForHelp(static_cast<FakeTxtTbl*>(nullptr)); }, "txtTbl"},
  };
  for (const Case& c : cases) EXPECT_EQ(failedAssertion(c.fn), c.condition);
  EXPECT_EQ(rc::EnvVarTbl::instance()->entries(), 34u);
}

TEST(Env, DirectAccessByName) {
  struct Case {
    const char* value;  // null: not set
    int intVal;
    long long int64Val;
    double dblVal;
    bool boolVal;
  };
  const Case cases[] = {
      {"42", 42, 42, 42.0, false},
      {"-7", -7, -7, -7.0, false},
      {"12x", -1, -1, -1.0, false},
      {"", -1, -1, -1.0, false},
      {"2.5", -1, -1, 2.5, false},
      {"9000000000", -1, 9000000000LL, 9e9, false},
      {"99999999999999999999", -1, -1, 1e20, false},
      {"1e400", -1, -1, -1.0, false},
      {"1e-400", -1, -1, 0.0, false},
      {"1", 1, 1, 1.0, true},
      {"on", -1, -1, -1.0, true},
      {"No", -1, -1, -1.0, false},
      {nullptr, -1, -1, -1.0, false},
  };
  const char* name = "QV_TEST_DIRECT_VALUE";
  for (const Case& c : cases) {
    qvtest::ScopedEnv guard(kNoTableVars);
    if (c.value != nullptr) guard.set(name, c.value);
    const std::string what = str(c.value);
    EXPECT_EQ(Env::intEnvVar(name, -1), c.intVal) << what;
    EXPECT_EQ(Env::int64EnvVar(name, -1), c.int64Val) << what;
    EXPECT_DOUBLE_EQ(Env::dblEnvVar(name, -1.0), c.dblVal) << what;
    EXPECT_EQ(Env::boolEnvVar(name, false), c.boolVal) << what;
    EXPECT_STREQ(Env::strEnvVar(name, "dflt"), c.value != nullptr ? c.value : "dflt");
  }
  EXPECT_TRUE(Env::boolEnvVar("QV_TEST_DIRECT_VALUE", true));
  EXPECT_STREQ(Env::strEnvVar(nullptr, "dflt"), "dflt");

  // Names the environment cannot hold are reported.
  for (const char* badName : {"", "A=B"}) {
    const rc::Err err = qvtest::thrownErr([&] { Env::setEnvVar(badName, "x"); });
    EXPECT_EQ(err.code(), RC_SC_BAD_ARG_VAL);
    EXPECT_EQ(err.code2(), EINVAL | rc::Err::UNIX_ERRNO);
    EXPECT_STREQ(err.routine(), "recomps/Env::setEnvVar");
  }
}

TEST(Env, PathNamesJoinTheDirectoryValue) {
  struct Case {
    const char* logDir;
    const char* sub;
    const char* file;
    const char* expected;
  };
  const Case cases[] = {
      {"/var/log/qv", nullptr, "f", "/var/log/qv/f"},
      {"/var/log/qv/", nullptr, "f", "/var/log/qv/f"},
      {"C:\\logs\\", nullptr, "f", "C:\\logs\\f"},
      {"/var/log/qv", "sub", "f", "/var/log/qv/sub/f"},
      {"/var/log/qv", "sub", nullptr, "/var/log/qv/sub"},
      {"/var/log/qv", nullptr, nullptr, "/var/log/qv"},
      {"", nullptr, "f", "f"},
  };
  for (const Case& c : cases) {
    qvtest::ScopedEnv guard(kNoTableVars);
    guard.set("QV_LOG_DIR", c.logDir);
    const std::string path = c.sub != nullptr ? Env::pathName(Env::LOG_DIR, c.sub, c.file)
                                              : Env::pathName(Env::LOG_DIR, c.file);
    EXPECT_EQ(path, c.expected);
  }
}

TEST(Env, IsHostFromTheSwitchElseTheStartupServer) {
  qvtest::TempDir tmp("envhost");
  struct Case {
    const char* thisIsHost;  // null: not set
    bool startupSvr;
    bool expected;
  };
  const Case cases[] = {
      {"yes", false, true},    {"no", true, false},  {nullptr, true, true},
      {nullptr, false, false}, {"bad", true, false},
  };
  for (const Case& c : cases) {
    qvtest::ScopedEnv guard(kNoTableVars);
    const std::string sbin = tmp.mkdirs(c.startupSvr ? "with" : "without");
    if (c.startupSvr) tmp.writeFile("with/startupsvr", "");
    guard.set("QV_SBIN_DIR", sbin);
    if (c.thisIsHost != nullptr) guard.set("QV_THIS_IS_HOST", c.thisIsHost);
    EXPECT_EQ(Env::isHost(), c.expected) << str(c.thisIsHost) << " " << c.startupSvr;
  }
}

TEST(Env, UserComesFromThePasswordDatabase) {
  qvtest::ScopedEnv guard(kNoTableVars);
  const struct passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_STREQ(Env::lookupUser(), pw->pw_name);
  EXPECT_STREQ(Env::userHomeDir(), pw->pw_dir);
  EXPECT_STREQ(Env::userName(), pw->pw_name);
  guard.set("QV_USER", "someone");
  Env::clearCache();
  EXPECT_STREQ(Env::userName(), "someone");

  // A user id the database does not know still gets a name instead of ending the program.
  const uid_t strangerUid = 54321;
  if (geteuid() != 0 || getpwuid(strangerUid) != nullptr) GTEST_SKIP() << "needs root";
  const qvtest::ProcResult result = qvtest::runInChild([&] {
    setenv("HOME", "/home/nobody-here", 1);
    Env::clearCache();
    if (setuid(strangerUid) != 0) return;
    printf("%s|%s|%s", Env::lookupUser(), Env::userHomeDir(), Env::defaultVal(Env::USER));
  });
  EXPECT_EQ(result.out, "54321|/home/nobody-here|54321");
}

TEST(Env, VarValsAndHelpTagsListTheTaggedDirectories) {
  qvtest::ScopedEnv guard(kNoTableVars);
  guard.set("QV_KIT_DIR", "/k/");
  guard.set("QV_DIR", "/r");
  guard.set("QV_LOG_DIR", "/var/log/qv/");
  guard.set("QV_TMP_DIR", "/t\\");
  guard.set("QV_DATABASE", "sales");

  FakeSymTbl symTbl;
  symTbl.add(5, "EXISTING", "x", true);
  Env::addVarVals(&symTbl, true);
  const std::vector<std::tuple<int, std::string, std::string>> expected = {
      {5, "EXISTING", "x"},
      {6, "QV_DIR", "/r"},
      {7, "QV_BIN_DIR", "/k/bin"},
      {8, "QV_DATA_DIR", "/r/data"},
      {9, "QV_KIT_DIR", "/k"},
      {10, "QV_LOG_DIR", "/var/log/qv"},
      {11, "QV_SBIN_DIR", "/k/sbin"},
      {12, "QV_SYS_DIR", "/k/sys"},
      {13, "QV_TMP_DIR", "/t"},
      {14, "QV_REPL_DIR", "/var/qvrepl"},
      {15, "QV_MIBS_DIR", "/k/sys/mibs"},
      {16, "HOST", hostName()},
  };
  EXPECT_EQ(symTbl.entries, expected);

  // Without the tag filter every text variable comes, the untagged ones included.
  FakeSymTbl all;
  Env::addVarVals(&all, false);
  ASSERT_EQ(all.entries.size(), 23u);
  EXPECT_EQ(std::get<0>(all.entries.front()), 0);
  EXPECT_EQ(all.entries[7],
            std::make_tuple(7, std::string("QV_STRINGS_DIR"), std::string("/k/sys/strings")));
  EXPECT_EQ(all.entries[10], std::make_tuple(10, std::string("QV_DATABASE"), std::string("sales")));

  FakeTxtTbl txtTbl;
  txtTbl.append(1, "Tag");
  txtTbl.append(1, "Meaning");
  Env::addTagsForHelp(&txtTbl);
  const std::vector<std::vector<std::string>> rows = {
      {"Tag", "Meaning"},  {"Environment", "HOST"}, {"", "QV_DIR"},      {"", "QV_BIN_DIR"},
      {"", "QV_DATA_DIR"}, {"", "QV_KIT_DIR"},      {"", "QV_LOG_DIR"},  {"", "QV_SBIN_DIR"},
      {"", "QV_SYS_DIR"},  {"", "QV_TMP_DIR"},      {"", "QV_REPL_DIR"}, {"", "QV_MIBS_DIR"},
  };
  EXPECT_EQ(txtTbl.rows, rows);
}

TEST(Env, DumpListsEveryRecord) {
  qvtest::ScopedEnv guard(kNoTableVars);
  guard.set("QV_CLIENT_MGR_PORT", "6100");
  guard.set("QV_PASSWORD", "hunter2");
  guard.set("QV_ARCV_PASSWORD", "hunter2");
  const qvtest::ProcResult result = qvtest::runInChild([] {
    rc::EnvVarTbl::instance()->dumpObj(1, "Env: ");
    // Tracing is off: the message and the table stay away.
    Env::dumpEnvVarTbl(DM_RC, DF_DEBUG, "not shown");
  });
  std::istringstream lines(result.out);
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  const auto hasShape = [](const std::string& text, const std::string& head,
                           const std::string& tail) {
    if (text.rfind(head, 0) != 0 || text.size() < head.size() + tail.size()) return false;
    if (text.compare(text.size() - tail.size(), tail.size(), tail) != 0) return false;
    const std::string addr = text.substr(head.size(), text.find(']') - head.size());
    return !addr.empty() && addr.find_first_not_of("0123456789abcdef") == std::string::npos;
  };
  EXPECT_TRUE(hasShape(line, "  Env: Var Tbl [0x", "], entries = 34, contents:")) << line;
  int n = 0;
  for (rc::EnvVarRec* rec : *rc::EnvVarTbl::instance()) {
    ASSERT_TRUE(std::getline(lines, line));
    ++n;
    // Dumps mask passwords as "-prEnv" does.
    const std::string value = rec->varType() == Env::CLIENT_MGR_PORT ? "6100"
                              : rec->isSecret()                      ? "********"
                                                                     : rec->valText();
    const std::string tail = std::string("]: ") + rec->varName() + " (# " +
                             std::to_string(rec->varType()) + ") = " + value +
                             ", DT = " + std::to_string(rec->dataType());
    EXPECT_TRUE(hasShape(line, "    " + std::to_string(n) + ". Rec [0x", tail)) << line;
  }
  EXPECT_FALSE(std::getline(lines, line)) << line;
  EXPECT_EQ(n, 34);
  EXPECT_EQ(result.out.find("hunter2"), std::string::npos);
}

// --- The environment of a program in a kit, seen through "-prEnv" of a copied qvrev ----------

namespace {

std::vector<std::string> tableVarNames() {
  std::vector<std::string> names;
  for (const rc::EnvVarRec* rec : *rc::EnvVarTbl::instance()) names.push_back(rec->varName());
  return names;
}

// Runs the program with every table variable unset except those given.
qvtest::ProcResult runWithEnv(const std::string& program, const std::vector<std::string>& args,
                              const std::vector<std::string>& env) {
  return qvtest::runProgram(program, args, env, tableVarNames());
}

std::map<std::string, std::string> envLines(const std::string& out) {
  std::map<std::string, std::string> vars;
  std::istringstream lines(out.substr(out.find("\n\n") + 2));
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find(" = ");
    if (eq != std::string::npos) vars[line.substr(0, line.find(' '))] = line.substr(eq + 3);
  }
  return vars;
}

}  // namespace

TEST(EnvKit, CopiedKitsFindTheirOwnDirectories) {
  qvtest::TempDir tmp("envcopy");
  const std::string t = tmp.path();
  tmp.mkdirs("opt/x/kit/sys/strings");
  tmp.mkdirs("opt/y/kit/sys");
  tmp.mkdirs("opt/z/kit/sys");
  tmp.mkdirs("opt/z/kit/tmp");
  const std::string inBin = tmp.copyFile(qvtest::qvrevPath(), "opt/x/kit/bin/qvrev");
  const std::string inAdm = tmp.copyFile(qvtest::qvrevPath(), "opt/y/kit/bin/adm/qvrev");
  const std::string withTmp = tmp.copyFile(qvtest::qvrevPath(), "opt/z/kit/bin/qvrev");
  const std::string solo = tmp.copyFile(qvtest::qvrevPath(), "solo/qvrev");
  const bool qvKitExists = rc::File::exists("/qv/kit");

  struct Case {
    std::string program;
    std::vector<std::string> env;
    std::map<std::string, std::string> expected;
  };
  const Case cases[] = {
      {inBin,
       {},
       {{"QV_KIT_DIR", t + "/opt/x/kit"},
        {"QV_DIR", t + "/opt/x"},
        {"QV_BIN_DIR", t + "/opt/x/kit/bin"},
        {"QV_LOG_DIR", t + "/opt/x/kit/log"},
        {"QV_SYS_DIR", t + "/opt/x/kit/sys"},
        {"QV_STRINGS_DIR", t + "/opt/x/kit/sys/strings"},
        {"QV_DATA_DIR", t + "/opt/x/data"}}},
      {inAdm, {}, {{"QV_KIT_DIR", t + "/opt/y/kit"}, {"QV_DIR", t + "/opt/y"}}},
      {withTmp,
       {},
       {{"QV_KIT_DIR", t + "/opt/z/kit"},
        {"QV_DIR", t + "/opt/z/kit"},
        {"QV_DATA_DIR", t + "/opt/z/kit/data"}}},
      {solo,
       {},
       {{"QV_DIR", "/qv"},
        {"QV_KIT_DIR", qvKitExists ? "/qv/kit" : "/qv"},
        {"QV_LOG_DIR", qvKitExists ? "/qv/kit/log" : "/qv/log"}}},
      // A kit named in the environment beats the one the program lies in.
      {inBin,
       {"QV_KIT_DIR=" + t + "/opt/z/kit"},
       {{"QV_KIT_DIR", t + "/opt/z/kit (set)"},
        {"QV_DIR", t + "/opt/z/kit"},
        {"QV_STRINGS_DIR", t + "/opt/z/kit/sys/strings"}}},
      {solo,
       {"QV_DIR=" + t + "/opt/x"},
       {{"QV_DIR", t + "/opt/x (set)"}, {"QV_KIT_DIR", t + "/opt/x/kit"}}},
  };
  for (const Case& c : cases) {
    const qvtest::ProcResult result = runWithEnv(c.program, {"-prEnv"}, c.env);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::map<std::string, std::string> vars = envLines(result.out);
    EXPECT_EQ(vars.size(), 34u);
    for (const auto& [name, value] : c.expected) {
      const auto it = vars.find(name);
      EXPECT_EQ(it != vars.end() ? it->second : "(missing)", value) << c.program << " " << name;
    }
  }
}

TEST(EnvKit, PrEnvPrintsTheAttributesAndEveryVariable) {
  qvtest::TempDir tmp("envpr");
  const std::string kit = tmp.path() + "/qv/kit";
  tmp.mkdirs("qv/kit/sys");
  const std::string program = tmp.copyFile(qvtest::qvrevPath(), "qv/kit/bin/qvrev");
  const std::string root = tmp.path() + "/qv";
  const std::string tmpDir = rc::File::exists("/qvscratch/tmp") ? "/qvscratch/tmp" : root + "/tmp";
  const struct passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);

  const qvtest::ProcResult result = runWithEnv(
      program, {"-shortLabel", "-PRENV", "extra"},
      {"QV_CLIENT_MGR_PORT=12x", "QV_SIM=on", "QV_LOG_DIR=/var/log/qv/", "QV_DATABASE=sales",
       "QV_NO_SPS_RESTART=maybe", "QV_PASSWORD=hunter2", "QV_ARCV_PASSWORD="});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, "");
  const size_t pidPos = result.out.find("\nPID          = ");
  ASSERT_NE(pidPos, std::string::npos) << result.out;
  const std::string pid =
      result.out.substr(pidPos + 16, result.out.find('\n', pidPos + 1) - pidPos - 16);
  const std::string expected = "arg0         = '" + program +
                               "'\n"
                               "Pgm name     = 'qvrev'\n"
                               "Pgm exec dir = '" +
                               kit +
                               "/bin'\n"
                               "Pgm class    = cliApp\n"
                               "HW ID        = 0\n"
                               "Log name     = 'qvrev'\n"
                               "PID          = " +
                               pid +
                               "\n"
                               "Identity     = " +
                               pid +
                               "\n"
                               "Pgm label    = 'qvrev'\n"
                               "Src prefix   = '(qvrev." +
                               pid +
                               ") '\n"
                               "Start Msg Logged = 'no'\n"
                               "\n"
                               "QV_DIR                = " +
                               root +
                               "\n"
                               "QV_BIN_DIR            = " +
                               kit +
                               "/bin\n"
                               "QV_DATA_DIR           = " +
                               root +
                               "/simdata\n"
                               "QV_KIT_DIR            = " +
                               kit +
                               "\n"
                               "QV_LOG_DIR            = /var/log/qv/ (set)\n"
                               "QV_SBIN_DIR           = " +
                               kit +
                               "/sbin\n"
                               "QV_SYS_DIR            = " +
                               kit +
                               "/sys\n"
                               "QV_STRINGS_DIR        = " +
                               kit +
                               "/sys/strings\n"
                               "QV_TMP_DIR            = " +
                               tmpDir +
                               "\n"
                               "QV_REPL_DIR           = /var/qvrepl\n"
                               "QV_DATABASE           = sales (set)\n"
                               "QV_HOST               = \n"
                               "QV_PASSWORD           = ******** (set)\n"
                               "QV_USER               = " +
                               pw->pw_name +
                               "\n"
                               "QV_MIBS_DIR           = " +
                               kit +
                               "/sys/mibs\n"
                               "QV_THIS_IS_HOST       = no\n"
                               "QV_SIM                = yes (set)\n"
                               "PG_MAXBACKENDS        = 120\n"
                               "QV_KEEP_LOGS_ON_HOST  = no\n"
                               "QV_ARCV_NODENAME      = \n"
                               "QV_ARCV_NODEOWNER     = \n"
                               "QV_ARCV_PASSWORD      =  (set)\n"
                               "QV_LOG_TO_FILE        = no\n"
                               "QV_LOG_TO_SYS_LOG     = no\n"
                               "QV_LOG_TO_STD_OUT     = no\n"
                               "QV_STD_ERR_TO_SYS_LOG = no\n"
                               "QV_CLIENT_MGR_PORT    = 5481 (set)\n"
                               "QV_MSG_SVR_PORT       = 5485\n"
                               "QV_NO_SPS_RESTART     = no (set)\n"
                               "QV_BNR_MGR_PORT       = 5483\n"
                               "QV_RECLAIM_MGR_PORT   = 5484\n"
                               "QV_CA_CERT_FILE       = \n"
                               "QV_SECURITY_LEVEL     = \n"
                               "QV_SCHEMA             = \n";
  EXPECT_EQ(result.out, expected);

  // Without the option the program does its ordinary work.
  const qvtest::ProcResult plain = runWithEnv(program, {"-shortLabel"}, {});
  EXPECT_EQ(plain.exitStatus, 0);
  EXPECT_EQ(plain.out.find("QV_DIR"), std::string::npos);
}

TEST(EnvVarTbl, TableRecordsAndCachedTextsLiveOnTheTypedHeap) {
  qvtest::ScopedEnv guard(kNoTableVars);
  rc::EnvVarTbl* tbl = rc::EnvVarTbl::instance();
  EXPECT_TRUE(mem::validateBlock(tbl, mt_env_var_tbl));
  for (const rc::EnvVarRec* rec : *tbl) {
    EXPECT_TRUE(mem::validateBlock(rec, mt_env_var_tbl)) << rec->varName();
  }
  const std::string longDir = "/a/directory/name/longer/than/any/short/string";
  Env::setEnvVar(Env::TMP_DIR, longDir.c_str(), false);
  const char* cached = Env::strEnvVar(Env::TMP_DIR);
  EXPECT_EQ(cached, longDir);
  EXPECT_TRUE(mem::validateBlock(cached, mt_rc_string));
  EXPECT_EQ(Env::strEnvVar(Env::TMP_DIR), cached);  // read from the cache, not copied again
}
