#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcFile.h"
#include "comps/recomps/rcLog.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcPgmAttrs.h"
#include "qvTestSupport.h"
#include "qvTestUtil.h"

namespace {

using qvtest::argsOf;
using qvtest::readFile;

using qvtest::ArgVec;

// A Dbg made the current instance for the test's duration, writing into memory.
class CurrentDbg {
 public:
  CurrentDbg() {
    m_fp = open_memstream(&m_buf, &m_len);
    m_device = new rc::OutDevice(m_fp, 1);
    dbg = new rc::Dbg(m_device, 0);
    rc::Dbg::setInstance(dbg);
  }
  ~CurrentDbg() {
    rc::Dbg::setInstance(nullptr);
    rc::RefCnt_release(m_device);
    fclose(m_fp);
    free(m_buf);
  }
  CurrentDbg(const CurrentDbg&) = delete;
  CurrentDbg& operator=(const CurrentDbg&) = delete;

  // What was written since the last call.
  std::string take() {
    fflush(m_fp);
    std::string text(m_buf + m_taken, m_len - m_taken);
    m_taken = m_len;
    return text;
  }
  void on(int module, int flags) {
    dbg->setModule(module);
    dbg->setFlags(flags);
  }

  rc::Dbg* dbg;

 private:
  FILE* m_fp;
  char* m_buf = nullptr;
  size_t m_len = 0;
  size_t m_taken = 0;
  rc::OutDevice* m_device;
};

std::vector<int> modulesOn(const rc::DbgCtrls& ctrls) {
  std::vector<int> on;
  for (int m = DM_BEGIN; m < DM_END; ++m) {
    if (ctrls.isModuleOn(m)) on.push_back(m);
  }
  return on;
}

std::vector<int> allModules() {
  std::vector<int> all;
  for (int m = DM_BEGIN; m < DM_END; ++m) all.push_back(m);
  return all;
}

struct Switches {
  int outFile, src, ts, host, log, sysLog;
  bool operator==(const Switches&) const = default;
};

Switches switchesOf(const rc::DbgCtrls& c) {
  return {c.outputToFile(), c.prSrc(),    c.prTimestamp(),
          c.teeToHost(),    c.teeToLog(), c.teeToSysLog()};
}

}  // namespace

TEST(DbgCtrls, FlagLettersAndModuleSymbols) {
  const std::string letters = "cCdDiImMpPsSzZtTfFxXrR";
  for (size_t bit = 0; bit < letters.size(); ++bit) {
    EXPECT_EQ(rc::Dbg::flagToChar(1 << bit), letters[bit]) << bit;
    EXPECT_EQ(rc::Dbg::charToFlag(letters[bit]), 1 << bit) << bit;
  }
  // Anything but a single lettered bit.
  for (int flag : {0, DF_MSG | DF_DEBUG, 1 << 22, int(DF_ALL_BUT_MEM), -1}) {
    EXPECT_EQ(rc::Dbg::flagToChar(flag), '?') << flag;
  }
  EXPECT_EQ(rc::Dbg::charToFlag('*'), DF_ALL_BUT_MEM);
  EXPECT_EQ(DF_ALL_BUT_MEM, DF_ALL & ~(DF_MEMORY | DF_MEMORY_DATA));
  for (char c : {'q', 'a', '0', ' ', '\0'}) EXPECT_EQ(rc::Dbg::charToFlag(c), 0) << c;

  const struct {
    const char* symbol;
    int module;
  } ids[] = {{"ac", DM_AC},   {"adc", DM_ADC}, {"ipc", DM_IPC},   {"rc", DM_RC},
             {"sig", DM_SIG}, {"*", DM_ALL},   {"*xyz", DM_ALL},  {"RC", DM_NONE},
             {"r", DM_NONE},  {"", DM_NONE},   {nullptr, DM_NONE}};
  for (const auto& row : ids) {
    EXPECT_EQ(rc::Dbg::moduleId(row.symbol), row.module) << (row.symbol ? row.symbol : "null");
  }
  EXPECT_STREQ(rc::Dbg::moduleSymbol(DM_SIG), "sig");
  EXPECT_STREQ(rc::Dbg::moduleLabel(DM_IPC), "Inter-process Messaging");
  for (int m : {-1, 0, 3, 69, 70}) EXPECT_EQ(rc::Dbg::moduleSymbol(m), nullptr) << m;
  for (int m : {-1, 0, 3, 70}) EXPECT_STREQ(rc::Dbg::moduleLabel(m), "Unknown") << m;
}

TEST(DbgCtrls, OptionsAreTakenOutOfTheCommandLine) {
  const Switches no{0, 0, 0, 0, 0, 0};
  const struct {
    std::vector<std::string> args;
    int flags;
    std::vector<int> modules;
    Switches switches;
    std::vector<std::string> left;
  } rows[] = {
      {{"pgm", "-x", "-Dm", "rc:ac", "-Df", "di", "y", "-Dts", "yes"},
       DF_DEBUG | DF_INIT,
       {DM_AC, DM_RC},
       {0, 0, 1, 0, 0, 0},
       {"pgm", "-x", "y"}},
      // Empty items are skipped; "*" and anything after it is every module.
      {{"pgm", "-Dm", "rc::ac:"}, 0, {DM_AC, DM_RC}, no, {"pgm"}},
      {{"pgm", "-Dm", "*all"}, 0, allModules(), no, {"pgm"}},
      {{"pgm", "-Df", "*"}, DF_ALL_BUT_MEM, {}, no, {"pgm"}},
      {{"pgm", "-Dall"}, DF_ALL_BUT_MEM, allModules(), no, {"pgm"}},
      {{"pgm", "-Dmall", "-Df", "mM"}, DF_MEMORY | DF_MEMORY_DATA, allModules(), no, {"pgm"}},
      {{"-Dfall", "pgm"}, DF_ALL_BUT_MEM, {}, no, {"pgm"}},
      {{"pgm", "-Dall", "-Doff"}, 0, {}, no, {"pgm"}},
      {{"pgm", "-DoutFile", "T", "-Dsrc", "Yes", "-Dhost", "1", "-Dlog", "asIs", "-DsysLog", "n"},
       0,
       {},
       {1, 1, 0, 1, -1, 0},
       {"pgm"}},
      // Names are exact: other letter cases and unknown -D options stay for the program.
      {{"pgm", "-dm", "rc", "-DM", "-Dx", "-Dtsyes"},
       0,
       {},
       no,
       {"pgm", "-dm", "rc", "-DM", "-Dx", "-Dtsyes"}},
  };
  for (const auto& row : rows) {
    ArgVec args(row.args);
    rc::DbgCtrls ctrls(RC_B_NO);
    ctrls.processArgs(&args.argc, args.argv());
    const std::string what = ::testing::PrintToString(row.args);
    EXPECT_EQ(ctrls.flags(), row.flags) << what;
    EXPECT_EQ(modulesOn(ctrls), row.modules) << what;
    EXPECT_TRUE(switchesOf(ctrls) == row.switches) << what;
    EXPECT_EQ(args.left(), row.left) << what;
    EXPECT_TRUE(args.terminated()) << what;
  }
}

TEST(DbgCtrls, FieldFlagsMarkWhatARecordCarries) {
  const struct {
    std::vector<std::string> args;
    int fieldFlags;
  } rows[] = {
      {{}, rc::DbgCtrls::FF_NONE},
      {{"-Df", "d"}, rc::DbgCtrls::FF_HAS_FLAGS},
      {{"-Dm", "rc"}, rc::DbgCtrls::FF_HAS_MODULES},
      {{"-Dall"}, rc::DbgCtrls::FF_ALL},
      // Switching everything off carries the flags but not the modules.
      {{"-Doff"}, rc::DbgCtrls::FF_HAS_FLAGS},
      {{"-Dts", "yes"}, rc::DbgCtrls::FF_NONE},
  };
  for (const auto& row : rows) {
    ArgVec args(row.args);
    rc::DbgCtrls ctrls(RC_B_AS_IS);
    ctrls.processArgs(&args.argc, args.argv());
    EXPECT_EQ(ctrls.fieldFlags(), row.fieldFlags) << ::testing::PrintToString(row.args);
  }
  EXPECT_EQ(rc::DbgCtrls(RC_B_NO).fieldFlags(), rc::DbgCtrls::FF_ALL);
  rc::DbgCtrls cleared(RC_B_AS_IS);
  cleared.setFlag(DF_SQL);
  cleared.setModule(DM_IPC);
  cleared.clear();
  EXPECT_EQ(cleared.fieldFlags(), rc::DbgCtrls::FF_ALL);
  EXPECT_EQ(cleared.flags(), 0);
  EXPECT_TRUE(modulesOn(cleared).empty());
  EXPECT_TRUE(switchesOf(cleared) == Switches({0, 0, 0, 0, 0, 0}));
}

TEST(DbgCtrls, BadOptionsFailWithTheirCodesAndLeaveTheCommandLine) {
  const struct {
    std::vector<std::string> args;
    int code;
    std::string errArgs;
    int flagsAfter;  // what was set before the bad item stays
  } rows[] = {
      {{"pgm", "-Df"}, RC_SC_NEED_ARG_VAL, "-Df", 0},
      {{"pgm", "-Df", ""}, RC_SC_NEED_ARG_VAL, "-Df", 0},
      {{"pgm", "-Df", "dq"}, RC_SC_NEED_DBG_FLAG, "-Df|q", DF_DEBUG},
      {{"pgm", "-Dm"}, RC_SC_NEED_ARG_VAL, "-Dm", 0},
      {{"pgm", "-Df", "i", "-Dm", ""}, RC_SC_NEED_ARG_VAL, "-Dm", DF_INIT},
      {{"pgm", "-Dm", "rc:RC"}, RC_SC_NEED_DBG_MODULE, "-Dm|RC", 0},
      {{"pgm", "-Dts"}, RC_SC_NEED_ARG_VAL, "-Dts", 0},
      {{"pgm", "-DoutFile", ""}, RC_SC_NEED_ARG_VAL, "-DoutFile", 0},
      {{"pgm", "-DsysLog", "maybe"}, RC_SC_NEED_BOOL, "-DsysLog|maybe|yes/no, true/false, 1/0", 0},
      // "asIs" is the one word whose letter case matters.
      {{"pgm", "-Dlog", "ASIS"}, RC_SC_NEED_BOOL, "-Dlog|ASIS|yes/no, true/false, 1/0", 0},
  };
  for (const auto& row : rows) {
    ArgVec args(row.args);
    rc::DbgCtrls ctrls(RC_B_NO);
    const std::string what = ::testing::PrintToString(row.args);
    const rc::Err err = qvtest::thrownErr([&] { ctrls.processArgs(&args.argc, args.argv()); });
    EXPECT_EQ(err.code(), row.code) << what;
    EXPECT_EQ(err.severity(), RC_ERROR) << what;
    EXPECT_EQ(argsOf(err), row.errArgs) << what;
    EXPECT_EQ(ctrls.flags(), row.flagsAfter) << what;
    EXPECT_EQ(args.left(), row.args) << what;
  }
  // A module list is read up to 255 characters.
  rc::DbgCtrls ctrls(RC_B_NO);
  ctrls.processModulesArg((std::string(253, ':') + "rc:zz").c_str(), false);
  EXPECT_EQ(modulesOn(ctrls), std::vector<int>{DM_RC});
  ctrls.processModulesArg(nullptr, true);
  ctrls.processFlagsArg("", true);
  EXPECT_EQ(ctrls.flags(), 0);
}

TEST(DbgCtrls, MergeTakesOnlyWhatTheSenderMarked) {
  // The receiver: flags d and i, modules rc and ac, source prefix and log tee on.
  auto receiver = [] {
    rc::DbgCtrls ctrls(RC_B_NO);
    ArgVec args{"pgm", "-Dm", "rc:ac", "-Df", "di", "-Dsrc", "yes", "-Dlog", "yes"};
    ctrls.processArgs(&args.argc, args.argv());
    return ctrls;
  };
  const struct {
    std::vector<std::string> sent;
    int flags;
    std::vector<int> modules;
    Switches switches;
  } rows[] = {
      {{}, DF_DEBUG | DF_INIT, {DM_AC, DM_RC}, {0, 1, 0, 0, 1, 0}},
      {{"-Dts", "yes"}, DF_DEBUG | DF_INIT, {DM_AC, DM_RC}, {0, 1, 1, 0, 1, 0}},
      // Modules are copied whole: those not on in the sender go off.
      {{"-Dm", "sig"}, DF_DEBUG | DF_INIT, {DM_SIG}, {0, 1, 0, 0, 1, 0}},
      // Flags are replaced, not added to.
      {{"-Df", "c"}, DF_MSG, {DM_AC, DM_RC}, {0, 1, 0, 0, 1, 0}},
      {{"-Doff"}, 0, {DM_AC, DM_RC}, {0, 1, 0, 0, 1, 0}},
      {{"-Dsrc", "no", "-Dlog", "asIs", "-DsysLog", "yes"},
       DF_DEBUG | DF_INIT,
       {DM_AC, DM_RC},
       {0, 0, 0, 0, 1, 1}},
  };
  for (const auto& row : rows) {
    ArgVec args(row.sent);
    rc::DbgCtrls sent(RC_B_AS_IS);
    sent.processArgs(&args.argc, args.argv());
    rc::DbgCtrls ctrls = receiver();
    ctrls.mergeFrom(sent);
    const std::string what = ::testing::PrintToString(row.sent);
    EXPECT_EQ(ctrls.flags(), row.flags) << what;
    EXPECT_EQ(modulesOn(ctrls), row.modules) << what;
    EXPECT_TRUE(switchesOf(ctrls) == row.switches) << what;
  }
  // A record of all "no" switches everything off.
  rc::DbgCtrls ctrls = receiver();
  ctrls.mergeFrom(rc::DbgCtrls(RC_B_NO));
  EXPECT_EQ(ctrls.flags(), 0);
  EXPECT_TRUE(modulesOn(ctrls).empty());
  EXPECT_TRUE(switchesOf(ctrls) == Switches({0, 0, 0, 0, 0, 0}));
}

TEST(DbgCtrls, ComposeArgListGivesTheOptionsBack) {
  const struct {
    std::vector<std::string> args;
    std::string composed;
  } rows[] = {
      {{"-Dm", "ac:rc", "-Df", "di", "-Dts", "yes"}, "-Dm ac:rc -Df di -Dts yes"},
      {{"-Dm", "rc:sig:ipc:adc:ac", "-Df", "Rrzc"}, "-Dm ac:adc:ipc:rc:sig -Df czrR"},
      {{"-Dall"}, "-Dmall -Df cCdDiIpPsSzZtTfFxXrR"},
      {{"-Df", "m", "-DoutFile", "yes", "-Dsrc", "asIs", "-Dhost", "y", "-Dlog", "1", "-DsysLog",
        "t"},
       "-Df m -DoutFile yes -Dsrc asIs -Dhost yes -Dlog yes -DsysLog yes"},
      {{}, ""},
  };
  for (const auto& row : rows) {
    ArgVec args(row.args);
    rc::DbgCtrls ctrls(RC_B_NO);
    ctrls.processArgs(&args.argc, args.argv());
    const String composed = ctrls.composeArgList();
    EXPECT_EQ(std::string(composed.c_str()), row.composed) << ::testing::PrintToString(row.args);

    // Read back, the options give the same controls.
    std::vector<std::string> words;
    std::istringstream in(composed.c_str());
    for (std::string word; in >> word;) words.push_back(word);
    ArgVec again(words);
    rc::DbgCtrls back(RC_B_NO);
    back.processArgs(&again.argc, again.argv());
    // Only the lettered flags can be written as options.
    EXPECT_EQ(back.flags(), ctrls.flags() & 0x3FFFFF) << composed.c_str();
    EXPECT_EQ(modulesOn(back), modulesOn(ctrls)) << composed.c_str();
    EXPECT_TRUE(switchesOf(back) == switchesOf(ctrls)) << composed.c_str();
  }
}

TEST(Dbg, VariablesAreReadBeforeTheOptions) {
  qvtest::ScopedEnv env;
  env.set("DBG_MODULES", "ipc");
  env.set("DBG_FLAGS", "cC");
  env.set("DBG_TO_HOST", "yes");
  env.set("DBG_TO_LOG", "YES");
  env.unset("DBG_TO_SYS_LOG");
  env.set("DBG_OUT_FILE", "no");
  rc::Dbg dbg(1);
  ArgVec args{"pgm", "-Df", "d", "-Dhost", "no", "rest"};
  dbg.init(&args.argc, args.argv());
  EXPECT_EQ(dbg.flags(), DF_MSG | DF_MSG_DATA | DF_DEBUG);
  EXPECT_EQ(modulesOn(dbg.ctrls()), std::vector<int>{DM_IPC});
  EXPECT_EQ(dbg.ctrls().teeToHost(), RC_B_NO);
  EXPECT_EQ(dbg.ctrls().teeToLog(), RC_B_YES);
  EXPECT_EQ(args.left(), (std::vector<std::string>{"pgm", "rest"}));

  // Empty lists mean nothing.
  env.set("DBG_MODULES", "");
  env.set("DBG_FLAGS", "");
  rc::Dbg empty(1);
  ArgVec none{"pgm"};
  empty.init(&none.argc, none.argv());
  EXPECT_EQ(empty.flags(), 0);
  EXPECT_TRUE(modulesOn(empty.ctrls()).empty());

  const struct {
    const char* name;
    const char* value;
    int code;
    std::string errArgs;
  } bad[] = {
      {"DBG_FLAGS", "dq", RC_SC_NEED_DBG_FLAG, "-Df|q"},
      {"DBG_MODULES", "rc:foo", RC_SC_NEED_DBG_MODULE, "-Dm|foo"},
      {"DBG_TO_HOST", "", RC_SC_NEED_ARG_VAL, "DBG_TO_HOST"},
      {"DBG_TO_LOG", "maybe", RC_SC_NEED_BOOL, "DBG_TO_LOG|maybe|yes/no, true/false, 1/0"},
      {"DBG_TO_SYS_LOG", "", RC_SC_NEED_ARG_VAL, "DBG_TO_SYS_LOG"},
      {"DBG_OUT_FILE", "on", RC_SC_NEED_BOOL, "DBG_OUT_FILE|on|yes/no, true/false, 1/0"},
  };
  for (const auto& row : bad) {
    qvtest::ScopedEnv one;
    for (const char* name : {"DBG_MODULES", "DBG_FLAGS", "DBG_TO_HOST", "DBG_TO_LOG",
                             "DBG_TO_SYS_LOG", "DBG_OUT_FILE"}) {
      one.unset(name);
    }
    one.set(row.name, row.value);
    rc::Dbg failing(1);
    ArgVec args1{"pgm"};
    const rc::Err err = qvtest::thrownErr([&] { failing.init(&args1.argc, args1.argv()); });
    EXPECT_EQ(err.code(), row.code) << row.name;
    EXPECT_EQ(argsOf(err), row.errArgs) << row.name;
  }
  // The variant for programs without a command line swallows the error.
  for (const char* flags : {"?", "dz"}) {
    qvtest::ScopedEnv one;
    one.set("DBG_FLAGS", flags);
    const auto r = qvtest::runInChild([] {
      const int ok = rcInitDbgPG();
      printf("%d %x\n", ok, rc::Dbg::instance()->flags());
    });
    EXPECT_EQ(r.out, flags[0] == '?' ? "0 0\n" : "1 1004\n") << flags;
  }
}

TEST(Dbg, BadDebugSettingsEndTheProgramWithTheirCodes) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> env;
    int status;
    std::string message;
  } rows[] = {
      {{"-Df", "dq"}, {}, RC_SC_NEED_DBG_FLAG, "-Df value 'q' is not a debug flag letter"},
      {{"-Dm", "rc:nope"}, {}, RC_SC_NEED_DBG_MODULE, "-Dm value 'nope' is not a debug module"},
      {{"-Dts"}, {}, RC_SC_NEED_ARG_VAL, "-Dts requires a value"},
      {{"-Dlog", "maybe"}, {}, RC_SC_NEED_BOOL, "-Dlog value 'maybe' is not a boolean"},
      {{}, {"DBG_FLAGS=z!"}, RC_SC_NEED_DBG_FLAG, "-Df value '!' is not a debug flag letter"},
      {{}, {"DBG_TO_SYS_LOG="}, RC_SC_NEED_ARG_VAL, "DBG_TO_SYS_LOG requires a value"},
      {{"-Dm", "rc", "-Df", "z", "-shortLabel"}, {}, 0, ""},
  };
  for (const auto& row : rows) {
    const auto r = qvtest::runProgram(qvtest::qvrevPath(), row.args, row.env);
    const std::string what = ::testing::PrintToString(row.args) + ::testing::PrintToString(row.env);
    EXPECT_EQ(r.exitStatus, row.status) << what << r.err;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << what << r.err;
  }
}

TEST(Dbg, UsageTextOfBothForms) {
  const std::string body =
      " -Dm <module list> turn on each module in <module list>\n"
      " -Df <flag list>   turn on each flag in <flag list>\n"
      " -Dall             turn on all modules and debug flags except 'mM'\n"
      " -Dmall            turn on all modules\n"
      " -Dfall            turn on a debug flags except 'mM'\n"
      " -Doff             turn off all modules and debug flags\n"
      " -Dsrc <bool>      display a source/program name on each line\n"
      " -Dts  <bool>      display timestamps with each debug statement\n"
      " -DoutFile <bool>  print to the output file rather than stdout\n"
      " -Dhost <bool>     tee SPU/SFI debug output to the host (or not)\n"
      " -Dlog <bool>      tee debug output to program's log file (or not)\n"
      " -DsysLog <bool>   tee debug output to syslog (or not)\n"
      "\n"
      " <module list>     <module>{:<module}\n"
      " <flag list>       aAbBcC where each letter is 1 flag\n"
      "\n"
      "Supported Debug Flags:\n"
      "\n"
      " *       All flags except 'mM'\n"
      " c       Communication messages\n"
      " C       Data with communication messages\n"
      " d       Major debug\n"
      " D       Data with major debug\n"
      " f       Fault insertion\n"
      " F       Data with fault insertion\n"
      " i       Initialization\n"
      " I       Data with initialization\n"
      " m       Memory management\n"
      " M       Data with memory management\n"
      " p       Profile\n"
      " P       Data with profile\n"
      " r       Rebalancing alrogrithm\n"
      " R       Data with rebalancing algorithm\n"
      " s       SQL\n"
      " S       Data with SQL\n"
      " t       Timing (performance measurement)\n"
      " T       Data with Timing\n"
      " z       Minor debug\n"
      " Z       Data with minor debug\n"
      "\n"
      "Supported Modules:\n"
      "\n"
      " *       All modules\n"
      " ac      App Components\n"
      " adc     Admin Commands\n"
      " ipc     Inter-process Messaging\n"
      " rc      Reusable Components\n"
      " sig     Signal Handling\n"
      "\n"
      "Recognized environment variables: DBG_MODULES, DBG_FLAGS, DBG_OUT_FILE, DBG_TO_HOST\n"
      "                                  DBG_TO_LOG, DBG_TO_SYS_LOG\n"
      "                                  SPU_DBG_MODULES, SPU_DBG_FLAGS\n"
      "\n";
  const std::string full =
      "\n"
      "Debug Facility Usage\n"
      "--------------------\n"
      "\n"
      "qvrev [-Dh] [-Dm <module list>] [-Df <flag list>]\n"
      "          [-Dall] [-Dmall] [-Dfall] [-Dsrc <bool>] [-Dts <bool>]\n"
      "          [-DoutFile <bool>] [-Dhost <bool>] [-Dlog <bool>] [-DsysLog <bool>]\n"
      "Where:\n"
      " -Dh               print this usage\n" +
      body + "For example:  <prog> -Dm rc:ac:spu -Df diIcz\n\n";
  // "-Dh" anywhere wins over the other options and the program's own arguments.
  const auto r = qvtest::runProgram(qvtest::qvrevPath(), {"-shortLabel", "-Df", "d", "-Dh"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, full);

  const auto cli = qvtest::runInChild([] { rc::Dbg::printUsage(true); });
  EXPECT_EQ(cli.out, "Standard Debug Options:\n\n" + body);
}

TEST(Dbg, LinePrefixLayout) {
  CurrentDbg cur;
  cur.on(DM_RC, DF_DEBUG | DF_MSG);
  cur.dbg->setModule(DM_SIG);
  cur.dbg->setModule(DM_IPC);
  cur.dbg->setModule(37);
  const struct {
    int module, flag, indent;
    std::string line;
  } rows[] = {
      {DM_RC, DF_DEBUG, 0, "[d,rc  ] text 7\n"},
      {DM_SIG, DF_MSG, 0, "[c,sig ] text 7\n"},
      {DM_IPC, DF_DEBUG, 1, "[d,ipc ]   text 7\n"},
      {DM_RC, DF_DEBUG, 100, "[d,rc  ]" + std::string(161, ' ') + "text 7\n"},
      {DM_RC, DF_DEBUG, -4, "[d,rc  ] text 7\n"},
      // A flag of several bits shares a bit with those on and shows as '?'.
      {DM_RC, DF_MSG | DF_DEBUG, 0, "[?,rc  ] text 7\n"},
      // A module of another program is named by its number.
      {37, DF_DEBUG, 0, "[d,37  ] text 7\n"},
  };
  for (const auto& row : rows) {
    EXPECT_TRUE(cur.dbg->print(row.module, row.flag, row.indent, "text %d\n", 7));
    EXPECT_EQ(cur.take(), row.line) << row.module << " " << row.flag << " " << row.indent;
  }
  EXPECT_TRUE(cur.dbg->print(DM_RC, DF_DEBUG, "no newline"));
  EXPECT_EQ(cur.take(), "[d,rc  ] no newline");

  // The source prefix of the program attributes leads the line.
  cur.dbg->setPrSrc(true);
  cur.dbg->print(DM_RC, DF_DEBUG, "x\n");
  EXPECT_EQ(cur.take(), std::string(rc::PgmAttrs::instance()->srcPrefix()) + "[d,rc  ] x\n");
  cur.dbg->setPrSrc(false);

  // Off: the module, the flag, or every flag.
  EXPECT_FALSE(cur.dbg->print(DM_AC, DF_DEBUG, "module off\n"));
  EXPECT_FALSE(cur.dbg->print(DM_RC, DF_INIT, "flag off\n"));
  EXPECT_FALSE(cur.dbg->print(0, DF_DEBUG, "no module\n"));
  EXPECT_FALSE(cur.dbg->print(70, DF_DEBUG, "no module\n"));
  cur.dbg->clearFlag(DF_DEBUG | DF_MSG);
  EXPECT_FALSE(rc::Dbg::s_anyOn);
  EXPECT_FALSE(cur.dbg->print(DM_RC, DF_DEBUG, "all off\n"));
  EXPECT_EQ(cur.take(), "");

  // A line is cut to the 20479 bytes of its buffer.
  cur.dbg->setFlag(DF_DEBUG);
  EXPECT_TRUE(rc::Dbg::s_anyOn);
  const std::string big(30000, 'x');
  cur.dbg->print(DM_RC, DF_DEBUG, "%s", big.c_str());
  EXPECT_EQ(cur.take(), "[d,rc  ] " + big.substr(0, 20479 - 9));
}

TEST(Dbg, UnprefixedTextIsIndentedTwoBlanksALevel) {
  CurrentDbg cur;
  const struct {
    int indent;
    size_t blanks;
  } rows[] = {{0, 0}, {1, 2}, {3, 6}, {80, 160}, {81, 160}, {100, 160}, {-1, 0}};
  for (const auto& row : rows) {
    cur.dbg->print(row.indent, "%s=%d\n", "lvl", row.indent);
    EXPECT_EQ(cur.take(),
              std::string(row.blanks, ' ') + "lvl=" + std::to_string(row.indent) + "\n");
  }
  cur.dbg->print("plain", true);
  cur.dbg->print("and", false);
  EXPECT_EQ(cur.take(), "plain\nand");
  const std::string big(30000, 'y');
  cur.dbg->print(2, "%s", big.c_str());
  EXPECT_EQ(cur.take(), "    " + big.substr(0, 20479 - 4));
}

TEST(Dbg, TimeStampsLeadTheLine) {
  qvtest::ScopedEnv env;
  env.set("TZ", "UTC");
  CurrentDbg cur;
  cur.on(DM_AC, DF_INIT);
  ArgVec args{"pgm", "-Dts", "yes"};
  rc::DbgCtrls ctrls = cur.dbg->ctrls();
  ctrls.processArgs(&args.argc, args.argv());
  cur.dbg->setCtrls(ctrls);
  {
    qvtest::TestClock clock(1614643198, 42);
    cur.dbg->print(DM_AC, DF_INIT, "at %s\n", "night");
    EXPECT_EQ(cur.take(), "2021-03-01 23:59:58.000042 UTC [i,ac  ] at night\n");
    // A zone name longer than three letters is cut.
    env.set("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    clock.set(1626264000, 999999);
    cur.dbg->print(DM_AC, DF_INIT, "summer\n");
    EXPECT_EQ(cur.take(), "2021-07-14 14:00:00.999999 CES [i,ac  ] summer\n");
  }
  // The system's clock: the date, the time with microseconds and a three-letter zone.
  cur.dbg->print(DM_AC, DF_INIT, "now\n");
  const std::string line = cur.take();
  EXPECT_TRUE(qvtest::matchesShape(line, qvtest::kTimeStampShape + "[i,ac  ] now\n")) << line;
}

TEST(Dbg, CurrentInstanceDecidesWhetherAnythingIsOn) {
  {
    CurrentDbg cur;
    EXPECT_FALSE(rc::Dbg::s_anyOn);
    // Modules alone do not switch tracing on.
    cur.dbg->setModule(DM_RC);
    EXPECT_FALSE(rc::Dbg::isAnyOn());
    cur.dbg->setFlags(DF_SQL);
    EXPECT_TRUE(rc::Dbg::isAnyOn());
    EXPECT_TRUE(cur.dbg->isOn(DM_RC, DF_SQL | DF_MSG));
    EXPECT_FALSE(cur.dbg->isOn(DM_AC, DF_SQL));
    // A record in use elsewhere.
    rc::DbgCtrls other(RC_B_NO);
    cur.dbg->setCtrlsPtr(&other);
    EXPECT_EQ(cur.dbg->ctrlsPtr(), &other);
    EXPECT_FALSE(rc::Dbg::s_anyOn);
    other.setFlag(DF_DEBUG);
    other.setModule(DM_AC);
    cur.dbg->setCtrlsPtr(&other);
    EXPECT_TRUE(rc::Dbg::s_anyOn);
    EXPECT_TRUE(cur.dbg->isOn(DM_AC, DF_DEBUG));
    cur.dbg->setCtrlsPtr(nullptr);
    EXPECT_TRUE(rc::Dbg::s_anyOn);
    EXPECT_EQ(cur.dbg->flags(), DF_SQL);
  }
  // Back on the default instance, whose flags are off.
  EXPECT_EQ(rc::Dbg::instance(), rc::Dbg::defaultInstance(false));
  EXPECT_FALSE(rc::Dbg::s_anyOn);
}

TEST(Dbg, ScopeGuardsPutTheControlsAndTheStreamBack) {
  CurrentDbg cur;
  cur.on(DM_AC, DF_INIT);
  {
    rc::DbgCtrlsStack saved(DM_RC, DF_DEBUG);
    EXPECT_EQ(cur.dbg->flags(), DF_DEBUG);
    EXPECT_TRUE(cur.dbg->isOn(DM_RC, DF_DEBUG));
    EXPECT_TRUE(cur.dbg->isOn(DM_AC, DF_DEBUG));
  }
  EXPECT_EQ(cur.dbg->flags(), DF_INIT);
  EXPECT_FALSE(cur.dbg->isOn(DM_RC, DF_INIT));
  {
    rc::DbgCtrlsStack saved(cur.dbg);
    cur.dbg->setFlags(DF_NONE);
    EXPECT_FALSE(rc::Dbg::s_anyOn);
  }
  EXPECT_TRUE(rc::Dbg::s_anyOn);

  cur.dbg->setTeeToLog(true);
  char* buf = nullptr;
  size_t len = 0;
  FILE* aside = open_memstream(&buf, &len);
  {
    rc::DbgFdStack redirected(aside);
    EXPECT_EQ(cur.dbg->ctrls().teeToLog(), RC_B_NO);
    cur.dbg->print(DM_AC, DF_INIT, "aside\n");
  }
  EXPECT_EQ(cur.dbg->ctrls().teeToLog(), RC_B_YES);
  cur.dbg->print(DM_AC, DF_INIT, "back\n");
  fclose(aside);
  EXPECT_EQ(std::string(buf, len), "[i,ac  ] aside\n");
  free(buf);
  EXPECT_EQ(cur.take(), "[i,ac  ] back\n");
  {
    rc::DbgFdStack unchanged(nullptr);
    EXPECT_EQ(cur.dbg->ctrls().teeToLog(), RC_B_YES);
  }
}

TEST(Dbg, DumpsShowTheControls) {
  CurrentDbg cur;
  ArgVec args{"pgm", "-Dm", "rc:sig", "-Df", "dS", "-Dts", "asIs", "-Dlog", "yes"};
  rc::DbgCtrls ctrls(RC_B_NO);
  ctrls.processArgs(&args.argc, args.argv());
  cur.dbg->setCtrls(ctrls);
  cur.dbg->dumpObj(1, "Dbg: ");
  const std::string dump =
      "  Dbg: dbg [0x*]: any on = T\n"
      "    DbgCtrls [0x*]:\n"
      "      field flags = 0x3\n"
      "      flags = dS, modules = rc:sig\n"
      "      use file = no, pr src = no, pr ts = asIs, tee to host = no, tee to log = yes, "
      "tee to sysLog = no\n";
  const std::string text = cur.take();
  EXPECT_TRUE(qvtest::matchesShape(text, dump)) << text;

  rc::DbgCtrls all(RC_B_AS_IS);
  all.setModule(DM_ALL);
  all.dump();
  rc::DbgCtrls none(RC_B_AS_IS);
  none.dumpObj(0, "none ");
  const std::string both = cur.take();
  EXPECT_NE(both.find("  flags = none, modules = all\n"), std::string::npos) << both;
  EXPECT_NE(both.find("none DbgCtrls [0x"), std::string::npos) << both;
  EXPECT_NE(both.find("  field flags = 0x0\n  flags = none, modules = none\n"), std::string::npos)
      << both;
}

TEST(Dbg, TeesCopyLinesToTheLogAndToSyslog) {
  qvtest::TempDir tmp("dbgtee");
  qvtest::ScopedEnv env;
  env.set("QV_LOG_DIR", tmp.path());
  env.set("TZ", "UTC");
  qvtest::TestClock clock(1614643198, 5);
  CurrentDbg cur;
  cur.on(DM_RC, DF_DEBUG);
  cur.dbg->setTeeToLog(true);
  cur.dbg->print(DM_RC, DF_DEBUG, "without a log\n");

  rc::Log* log = new rc::Log("teelog", rc::LogDevice::OM_APPEND, false, false, 0);
  rc::LogCtrls fileOnly(RC_B_NO);
  fileOnly.setLogToFile(RC_B_YES);
  log->setCtrls(fileOnly);
  rc::Log::setInstance(log);
  ArgVec ts{"pgm", "-Dts", "yes"};
  rc::DbgCtrls ctrls = cur.dbg->ctrls();
  ctrls.processArgs(&ts.argc, ts.argv());
  cur.dbg->setCtrls(ctrls);
  cur.dbg->print(DM_RC, DF_DEBUG, "to the log\n");
  cur.dbg->print(1, "dump %d\n", 1);
  cur.dbg->print("two", false);
  cur.dbg->print(" pieces", true);
  cur.dbg->setTeeToLog(false);
  cur.dbg->print(DM_RC, DF_DEBUG, "not to the log\n");
  rc::Log::setInstance(nullptr);

  // The log puts its own time stamp on the prefixed line, without the debug one.
  const std::string stamp = "2021-03-01 23:59:58.000005 UTC ";
  EXPECT_EQ(readFile(tmp.path() + "/teelog/teelog.log"),
            stamp + "[d,rc  ] to the log\n" + stamp + "  dump 1\n" + stamp + "two pieces\n");
  EXPECT_EQ(cur.take(), "[d,rc  ] without a log\n" + stamp + "[d,rc  ] to the log\n  dump 1\n" +
                            "two pieces\n" + stamp + "[d,rc  ] not to the log\n");

  qvtest::FakeSysLog sysLog;
  const std::string why = sysLog.start();
  if (!why.empty()) GTEST_SKIP() << "syslog cannot be intercepted here: " << why;
  cur.dbg->setTeeToSysLog(true);
  ASSERT_NE(cur.dbg->sysLogDevice(), nullptr);
  EXPECT_TRUE(cur.dbg->sysLogDevice()->isOpen());
  cur.dbg->print(DM_RC, DF_DEBUG, "to syslog\n");
  const std::string msg = sysLog.next();
  // LOG_USER with LOG_DEBUG; the text keeps the debug time stamp.
  EXPECT_EQ(msg.rfind("<15>", 0), 0u) << msg;
  EXPECT_NE(msg.find(stamp + "[d,rc  ] to syslog"), std::string::npos) << msg;
  cur.dbg->print(0, "dump line\n");
  EXPECT_NE(sysLog.next().find("dump line"), std::string::npos);
  cur.dbg->setTeeToSysLog(false);
  EXPECT_EQ(cur.dbg->sysLogDevice(), nullptr);
  cur.dbg->print(DM_RC, DF_DEBUG, "not to syslog\n");
  EXPECT_EQ(sysLog.next(), "");
}

TEST(Dbg, OutputFileLivesUnderTheLogDirectory) {
  qvtest::TempDir tmp("dbgfile");
  qvtest::ScopedEnv env;
  env.set("QV_LOG_DIR", tmp.path());
  env.set("TZ", "UTC");
  qvtest::TestClock clock(1614643198);
  // The test program may run without program attributes; it then needs a log name of its own.
  const bool hadLogName = rc::PgmAttrs::logName() != nullptr;
  if (!hadLogName) rc::PgmAttrs::setLogName("qvtests");
  struct Restore {
    bool had;
    ~Restore() {
      if (!had) rc::PgmAttrs::setLogName("");
    }
  } restore{hadLogName};
  const char* logName = rc::PgmAttrs::logName();
  const int identity = rc::PgmAttrs::instance()->identity();
  std::string expected = tmp.path() + "/" + logName + "/" + logName;
  if (identity != 0) expected.append(".").append(std::to_string(identity));
  expected += ".2021-03-01.dbg";
  CurrentDbg cur;
  cur.on(DM_AC, DF_DEBUG);
  EXPECT_EQ(std::string(cur.dbg->outFilePath().c_str()), expected);

  rc::DbgCtrls ctrls = cur.dbg->ctrls();
  ctrls.setOutputToFile(RC_B_YES);
  cur.dbg->setCtrls(ctrls);
  ASSERT_TRUE(cur.dbg->usingFile());
  cur.dbg->print(DM_AC, DF_DEBUG, "in the file\n");
  // Once open, the file stays, even on a new day.
  clock.set(1614643198 + 24 * 3600);
  cur.dbg->setCtrls(ctrls);
  cur.dbg->print(DM_AC, DF_DEBUG, "still the file\n");
  // "asIs" leaves output where it is.
  ctrls.setOutputToFile(RC_B_AS_IS);
  cur.dbg->setCtrls(ctrls);
  EXPECT_TRUE(cur.dbg->usingFile());
  ctrls.setOutputToFile(RC_B_NO);
  cur.dbg->setCtrls(ctrls);
  EXPECT_FALSE(cur.dbg->usingFile());
  EXPECT_EQ(cur.dbg->stdOutDevice(), rc::StdOutDevice::instance());
  EXPECT_EQ(readFile(expected), "[d,ac  ] in the file\n[d,ac  ] still the file\n");
  EXPECT_EQ(cur.take(), "");
}

TEST(Dbg, OutputFileThatCannotBeOpenedIsReported) {
  qvtest::TempDir tmp("dbgnofile");
  qvtest::ScopedEnv env;
  // A plain file where the directory should be.
  env.set("QV_LOG_DIR", tmp.writeFile("plain", ""));
  const auto r = qvtest::runInChild([] {
    rc::PgmAttrs::setLogName("qvtests");
    rc::Dbg dbg(1);
    rc::DbgCtrls ctrls(RC_B_NO);
    ctrls.setOutputToFile(RC_B_YES);
    dbg.setCtrls(ctrls);
    printf("using file = %d, device = %s\n", dbg.usingFile(),
           dbg.stdOutDevice() == rc::StdOutDevice::instance() ? "stdout" : "other");
  });
  EXPECT_EQ(r.out, "using file = 0, device = stdout\n");
  EXPECT_NE(r.err.find("unable to open '" + tmp.path() + "/plain/qvtests/qvtests"),
            std::string::npos)
      << r.err;
}

TEST(Dbg, OutputFileIsStartedAfreshOnEachStart) {
  qvtest::TempDir tmp("dbgrestart");
  const std::string app = qvtest::testAppPath("rcLogApp");
  // A single daemon has no identity, so both starts write the same dated file.
  for (int start = 0; start < 2; ++start) {
    const auto r = qvtest::runProgram(
        app, {"singleDaemon", "svc", "-Dm", "ac", "-Df", "d", "-DoutFile", "yes"},
        {"QV_LOG_DIR=" + tmp.path(), "DBG_TO_LOG=no"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    // The debug lines went to the file, not to standard output.
    EXPECT_EQ(r.out, "");
  }
  std::vector<std::string> dbgFiles;
  DIR* dir = opendir((tmp.path() + "/svc").c_str());
  ASSERT_NE(dir, nullptr);
  while (struct dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dbg") == 0) dbgFiles.push_back(name);
  }
  closedir(dir);
  ASSERT_EQ(dbgFiles.size(), 1u);
  EXPECT_TRUE(qvtest::matchesShape(dbgFiles[0], "svc.####-##-##.dbg")) << dbgFiles[0];
  // Daemons show their source prefix; the second start truncated the first one's lines.
  EXPECT_EQ(readFile(tmp.path() + "/svc/" + dbgFiles[0]),
            "(rcLogApp) [d,ac  ] run: debug line\n"
            "(rcLogApp) [d,ac  ] exit requested with status = 0 (0)\n"
            "(rcLogApp) [d,ac  ] exiting ...\n");
}

TEST(DbgCtrls, BinaryFormIsEightIntsAndThePaddedModuleBytes) {
  rc::DbgCtrls sent(RC_B_AS_IS);
  ArgVec args{"-Dm", "rc:sig", "-Df", "dR", "-Dts", "yes", "-DsysLog", "no"};
  sent.processArgs(&args.argc, args.argv());
  rc::ByteStrm strm(16);
  strm << 'x';
  sent.saveOn(strm);
  ASSERT_EQ(strm.size(), 1u + 104u);
  EXPECT_EQ(rc::DbgCtrls::binarySize(), 112);
  std::vector<unsigned char> expected(104, 0);
  const int ints[] = {3, DF_DEBUG | DF_RB_DATA, -1, -1, 1, -1, -1, 0};
  for (int i = 0; i < 8; ++i) memcpy(&expected[4 * i], &ints[i], 4);
  expected[32 + DM_RC] = 1;
  expected[32 + DM_SIG] = 1;
  EXPECT_EQ(std::vector<unsigned char>(strm.buffer() + 1, strm.buffer() + strm.size()), expected);

  char c = 0;
  strm >> c;
  rc::DbgCtrls back(RC_B_NO);
  back.restoreFrom(strm);
  EXPECT_EQ(back.fieldFlags(), sent.fieldFlags());
  EXPECT_EQ(back.flags(), sent.flags());
  EXPECT_EQ(modulesOn(back), (std::vector<int>{DM_RC, DM_SIG}));
  EXPECT_TRUE(switchesOf(back) == switchesOf(sent));
  EXPECT_EQ(strm.unreadBytes(), 0u);

  // Short or inconsistent records are refused and change nothing.
  const struct {
    size_t offset;  // of the int to spoil; 104 cuts the record one byte short
    int value;
  } bad[] = {{0, 4}, {0, -1}, {8, 2}, {28, -2}, {12, 100}, {104, 0}};
  for (const auto& row : bad) {
    std::vector<unsigned char> bytes = expected;
    if (row.offset < 104) {
      memcpy(&bytes[row.offset], &row.value, 4);
    } else {
      bytes.pop_back();
    }
    rc::ByteStrm in(bytes.data(), bytes.size());
    in.adjustWritePos(static_cast<int>(bytes.size()));
    rc::DbgCtrls target(RC_B_NO);
    target.setFlag(DF_SQL);
    const rc::Err err = qvtest::thrownErr([&] { target.restoreFrom(in); });
    EXPECT_EQ(err.code(), RC_SC_READ_FAILED) << row.offset;
    EXPECT_EQ(target.flags(), DF_SQL) << row.offset;
    EXPECT_TRUE(modulesOn(target).empty()) << row.offset;
  }
}
