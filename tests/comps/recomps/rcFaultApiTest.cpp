#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcFaultApi.h"
#include "comps/recomps/rcFaultRulesFile.h"
#include "comps/recomps/rcStrVec.h"
#include "qvTestUtil.h"

namespace {

using qvtest::failedAssertion;

// The rules these rules-file lines describe.
rc::fault::Rules rulesOf(const std::vector<const char*>& lines) {
  rc::StrVec vec;
  for (const char* line : lines) vec.append(line);
  rc::fault::RulesFile file;
  file.setLines(&vec);
  file.read();
  return file.rules();
}

using rc::fault::Api;
using rc::fault::Ctrls;
using rc::fault::FaultId;
using rc::fault::FaultPoint;
using rc::fault::Rules;

// Every test starts from a fresh instance and no FT_ variables, and leaves a fresh default.
class FaultApi : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kVars) unsetenv(name);
    Api::setInstance(new Api());
    api = Api::instance();
  }
  void TearDown() override {
    for (const char* name : kVars) unsetenv(name);
    Api::maskFaults(false);
    Api::setInstance(nullptr);
  }

  // The arguments processArgs leaves, or the error it raises.
  std::vector<std::string> process(std::vector<std::string> args, rc::Err* err = nullptr) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());
    try {
      api->initFaultApi(&argc, argv.data());
    } catch (const rc::Err& e) {
      if (err != nullptr) *err = e;
      return {"<error>"};
    }
    std::vector<std::string> kept(argv.data(), argv.data() + argc);
    EXPECT_EQ(argv[argc], nullptr);
    return kept;
  }

  static constexpr const char* kVars[] = {"FT_RULES_FILE", "FT_PRINT", "FT_VERBOSE"};
  Api* api = nullptr;
};

bool fireWriteFault() { return RC_FAULT_FIRES("writeFault"); }
// Two points of one name, which the registry lists as one.
bool fireReadFault() { return RC_FAULT_FIRES("readFault"); }
bool fireReadFaultElsewhere() { return RC_FAULT_FIRES("readFault"); }

TEST_F(FaultApi, OptionsAreTakenInAnyCaseAndRemoved) {
  using V = std::vector<std::string>;
  EXPECT_EQ(process({"pgm", "a", "-fpr", "b", "-FV", "-Fx"}), (V{"pgm", "a", "b", "-Fx"}));
  EXPECT_TRUE(api->prOnExit());
  EXPECT_TRUE(api->verbose());
  EXPECT_TRUE(api->rulesFileName().empty());

  // The file name is taken whatever it looks like (here it cannot be opened).
  rc::Err err;
  EXPECT_EQ(process({"pgm", "-FRF", "-Fpr", "x"}, &err), (V{"<error>"}));
  EXPECT_EQ(api->rulesFileName(), "-Fpr");
  EXPECT_EQ(err.code(), RC_SC_OPEN_FAILED);

  for (const V& args : {V{"pgm", "-Frf"}, V{"pgm", "-Frf", ""}}) {
    rc::Err missing;
    EXPECT_EQ(process(args, &missing), (V{"<error>"}));
    EXPECT_EQ(missing.code(), RC_SC_NEED_ARG_VAL);
    ASSERT_NE(missing.args(), nullptr);
    EXPECT_STREQ((*missing.args())[0], "-Frf");
  }
}

TEST_F(FaultApi, EnvironmentIsReadBeforeTheOptions) {
  struct Row {
    const char* var;
    const char* value;
    std::vector<std::string> args;
    int code;
    bool prOnExit;
    bool verbose;
  } rows[] = {
      {"FT_PRINT", "on", {"pgm"}, 0, true, false},
      {"FT_PRINT", "No", {"pgm", "-Fpr"}, 0, true, false},
      {"FT_VERBOSE", "TRUE", {"pgm"}, 0, false, true},
      {"FT_VERBOSE", "0", {"pgm"}, 0, false, false},
      {"FT_PRINT", "maybe", {"pgm"}, RC_SC_NEED_BOOL, false, false},
      {"FT_VERBOSE", "2", {"pgm"}, RC_SC_NEED_BOOL, false, false},
      {"FT_PRINT", "", {"pgm"}, RC_SC_NEED_ARG_VAL, false, false},
      {"FT_RULES_FILE", "", {"pgm"}, RC_SC_NEED_ARG_VAL, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.var) + "=" + r.value);
    Api::setInstance(new Api());
    api = Api::instance();
    setenv(r.var, r.value, 1);
    rc::Err err;
    process(r.args, &err);
    unsetenv(r.var);
    EXPECT_EQ(err.code(), r.code);
    if (r.code != 0) {
      ASSERT_NE(err.args(), nullptr);
      EXPECT_STREQ((*err.args())[0], r.var);
      if (r.code == RC_SC_NEED_BOOL) {
        EXPECT_STREQ((*err.args())[1], r.value);
      }
    }
    EXPECT_EQ(api->prOnExit(), r.prOnExit);
    EXPECT_EQ(api->verbose(), r.verbose);
  }

  qvtest::TempDir dir("qvfault");
  const std::string path = dir.writeFile("rules", "fromEnv.on = yes\n");
  setenv("FT_RULES_FILE", path.c_str(), 1);
  const std::string other = dir.writeFile("other", "fromOption.v = 1\n");
  process({"pgm", "-Frf", other});
  EXPECT_EQ(api->ctrls()->lookupRule("fromEnv"), nullptr);
  EXPECT_NE(api->ctrls()->lookupRule("fromOption"), nullptr);
}

TEST_F(FaultApi, StartsWithTheSwitchOnAndNothingToFire) {
  process({"pgm"});
  EXPECT_TRUE(api->ctrls()->isOn());
  EXPECT_EQ(api->ctrls()->rules(), nullptr);
  EXPECT_FALSE(Api::isAnyOn());
  EXPECT_EQ(api->faultId("x"), Api::noFaultId());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(api->faultId("x")), ~uintptr_t{0});
  EXPECT_FALSE(fireWriteFault());

  // A rules file whose rules are all off leaves nothing to fire.
  qvtest::TempDir dir("qvfault");
  const std::string path = dir.writeFile("rules", "a.on = no\nb.on = 0\n");
  process({"pgm", "-Frf", path});
  EXPECT_TRUE(api->ctrls()->isOn());
  EXPECT_EQ(api->ctrls()->rules()->entries(), 2);
  EXPECT_FALSE(Api::isAnyOn());
}

TEST_F(FaultApi, EveryChangeIsANewGeneration) {
  const int seq = Api::faultSeq();
  api->setRules(rulesOf({"x.v = 1"}));
  EXPECT_EQ(Api::faultSeq(), seq + 1);
  EXPECT_TRUE(Api::isAnyOn());
  const FaultId before = api->faultId("x");
  ASSERT_TRUE(Api::isRule(before));

  api->setRules(rulesOf({"x.v = 2"}));
  EXPECT_EQ(Api::faultSeq(), seq + 2);
  // The old handle still reads its rule, now in the prior controls.
  EXPECT_EQ(api->intVal(before, "v", 0), 1);
  EXPECT_EQ(api->priorCtrls()->lookupRule("x"), before);
  EXPECT_EQ(api->intVal(api->faultId("x"), "v", 0), 2);

  api->clearCtrls();
  EXPECT_EQ(Api::faultSeq(), seq + 3);
  EXPECT_EQ(api->ctrls()->rules(), nullptr);
  EXPECT_FALSE(Api::isAnyOn());
  EXPECT_EQ(api->priorCtrls()->lookupRule("x")->intVal("v", 0), 2);
  // Two changes on, the handle is stale: still safe to ask, it answers as no rule.
  api->setRules(rulesOf({"x.v = 3"}));
  EXPECT_FALSE(api->isOn(before, 0));
  EXPECT_EQ(api->intVal(before, "v", -1), -1);
  EXPECT_TRUE(api->isOn(api->faultId("x"), 0));
}

TEST_F(FaultApi, MergesKeepOrChangeTheSwitch) {
  api->setRules(rulesOf({"a.v = 1", "b.v = 2"}));
  Ctrls asIs(RC_B_AS_IS);
  asIs.setRules(rulesOf({"b.v = 3", "c.v = 4"}));
  api->mergeCtrls(asIs, false, true);
  EXPECT_TRUE(api->ctrls()->isOn());
  EXPECT_EQ(api->ctrls()->rules()->entries(), 3);
  EXPECT_EQ(api->ctrls()->lookupRule("b")->intVal("v", 0), 3);

  // Without adding, the named rules go.
  api->mergeCtrls(asIs, false, false);
  EXPECT_EQ(api->ctrls()->rules()->entries(), 1);
  EXPECT_NE(api->ctrls()->lookupRule("a"), nullptr);

  // Switching off stops everything; clearing keeps the switch as it is.
  Ctrls off(RC_B_NO);
  api->mergeCtrls(off, false, true);
  EXPECT_FALSE(api->ctrls()->isOn());
  EXPECT_FALSE(Api::isAnyOn());
  api->mergeCtrls(asIs, true, true);
  EXPECT_FALSE(api->ctrls()->isOn());
  EXPECT_EQ(api->ctrls()->rules()->entries(), 2);
  EXPECT_EQ(api->ctrls()->lookupRule("a"), nullptr);

  Ctrls on(RC_B_YES);
  api->setCtrls(on);
  EXPECT_TRUE(api->ctrls()->isOn());
  EXPECT_EQ(api->ctrls()->rules(), nullptr);
}

TEST_F(FaultApi, IsOnEvaluatesTheRule) {
  api->setRules(rulesOf({"writeFault.c.interval = 3", "x.v = 1"}));
  std::string fired;
  for (int i = 1; i <= 7; ++i) fired += fireWriteFault() ? 'X' : '.';
  EXPECT_EQ(fired, "..X..X.");
  const FaultId id = api->faultId("writeFault");
  EXPECT_EQ(api->intVal(id, "numOns", -1), 2);
  EXPECT_EQ(api->intVal(id, "numInsertions", -1), 2);

  const FaultId x = api->faultId("x");
  EXPECT_FALSE(api->isOn(nullptr, 0));
  EXPECT_FALSE(api->isOn(Api::noFaultId(), 0));
  EXPECT_TRUE(api->isOn(x, 0));
  EXPECT_FALSE(Api::maskFaults(true));
  EXPECT_TRUE(Api::faultsAreMasked());
  EXPECT_FALSE(api->isOn(x, 0));
  EXPECT_TRUE(Api::maskFaults(false));
  EXPECT_EQ(api->intVal(x, "numOns", -1), 1);  // masked queries count nothing

  // A fault point looks its rule up again after a change.
  Ctrls off(RC_B_NO);
  api->mergeCtrls(off, false, true);
  EXPECT_FALSE(fireWriteFault());
  api->setRules(rulesOf({"writeFault.on = yes"}));
  Ctrls on(RC_B_YES);
  api->mergeCtrls(on, false, true);
  EXPECT_TRUE(fireWriteFault());
  FaultPoint point("writeFault");
  EXPECT_TRUE(point.isOn());
  EXPECT_EQ(api->intVal(point.id(), "numOns", -1), 2);
  EXPECT_EQ(api->intVal(point.id(), "numInsertions", -1), 1);
  EXPECT_EQ(api->faultName(point.id()), "writeFault");
}

TEST_F(FaultApi, AttributesThroughHandles) {
  api->setRules(rulesOf({"r.n = 5", "r.c.interval = 4", "r.s = 'text'"}));
  const FaultId id = api->faultId("r");
  EXPECT_TRUE(api->attrExists(id, "n"));
  EXPECT_TRUE(api->attrExists(id, "c.interval"));
  EXPECT_FALSE(api->attrExists(id, "m"));
  EXPECT_EQ(api->intVal(id, "c.interval", 0), 4);
  EXPECT_EQ(api->incrInt(id, "n", 2), 5);
  EXPECT_EQ(api->decrLong(id, "n", 1), 7);
  EXPECT_EQ(api->longVal(id, "n", 0), 6);
  api->setFltVal(id, "f", 0.5f);
  EXPECT_FLOAT_EQ(api->incrFlt(id, "f", 1.0f), 0.5f);
  EXPECT_FLOAT_EQ(api->decrFlt(id, "f", 0.25f), 1.5f);
  EXPECT_FLOAT_EQ(api->fltVal(id, "f", 0), 1.25f);
  api->setBoolVal(id, "b", true);
  EXPECT_TRUE(api->boolVal(id, "b", false));
  api->setStringVal(id, "t", String("'kept'"));
  EXPECT_STREQ(api->strVal(id, "t", ""), "'kept'");
  EXPECT_EQ(api->stringVal(id, "s", ""), "text");
  api->setIntVal(id, "i", 3);
  api->setLongVal(id, "l", 4);
  api->setStrVal(id, "u", "w");
  EXPECT_EQ(api->incrLong(id, "l", 1) + api->decrInt(id, "i", 1), 7);
  EXPECT_EQ(api->ruleMutex(id), nullptr);

  // No rule of that name: defaults, and writes are ignored.
  const FaultId none = api->faultId("none");
  EXPECT_FALSE(api->attrExists(none, "n"));
  EXPECT_EQ(api->intVal(none, "n", 9), 9);
  EXPECT_STREQ(api->strVal(none, "n", "d"), "d");
  api->setIntVal(none, "n", 1);
  EXPECT_EQ(api->incrInt(none, "n", 1), 0);
  api->incrNumInsertions(none);
  EXPECT_EQ(api->faultName(none), "");
  EXPECT_EQ(failedAssertion([&] { api->intVal(nullptr, "n", 0); }, true), "id");
  EXPECT_EQ(failedAssertion([&] { api->setIntVal(nullptr, "n", 0); }, true), "id");
}

TEST_F(FaultApi, CallbacksSeeChangesAndReadsInOrder) {
  std::vector<std::string> events;
  auto record = [](void* param, Api::FaultCtrlsEvent ev) {
    auto* p = static_cast<std::pair<std::vector<std::string>*, const char*>*>(param);
    p->first->push_back(std::string(p->second) + (ev == Api::EV_SET_CTRLS ? ":set" : ":get"));
  };
  std::pair<std::vector<std::string>*, const char*> first{&events, "first"};
  std::pair<std::vector<std::string>*, const char*> second{&events, "second"};
  api->registerFaultCtrlsEventCb(&first, record);
  api->registerFaultCtrlsEventCb(&second, record);
  api->clearCtrls();
  api->ctrls();
  EXPECT_EQ(events,
            (std::vector<std::string>{"first:set", "second:set", "first:get", "second:get"}));

  // A copy reads the source's controls through it and registers its callbacks again.
  events.clear();
  api->setRules(rulesOf({"x.v = 1"}));
  events.clear();
  Api* copy = new Api(*api);
  EXPECT_EQ(events, (std::vector<std::string>{"first:get", "second:get"}));
  Api::setInstance(copy);
  EXPECT_EQ(Api::instance(), copy);
  EXPECT_NE(copy->faultId("x"), Api::noFaultId());
  events.clear();
  copy->clearCtrls();
  EXPECT_EQ(events, (std::vector<std::string>{"first:set", "second:set"}));
}

TEST_F(FaultApi, InstancesLiveOnTheHeapOnly) {
  EXPECT_EQ(failedAssertion([] { Api::defaultInstance(true, mem::REGION_GLOBAL); }, true),
            "memType == mem::REGION_HEAP");
  Api::setInstance(nullptr);
  EXPECT_EQ(Api::instance(), Api::defaultInstance(false));
  int argc = 1;
  char pgm[] = "pgm";
  char* argv[] = {pgm, nullptr};
  EXPECT_EQ(failedAssertion([&] { rcInitFaultApi(&argc, argv, false); }, true),
            "Api::defaultInstance (false) == NULL");
  // Replacing the default deletes it; the next default is a new one.
  Api* mine = new Api();
  Api::setInstance(mine);
  EXPECT_EQ(Api::defaultInstance(false), nullptr);
  Api::setInstance(nullptr);
  EXPECT_NE(Api::instance(), nullptr);
  EXPECT_EQ(Api::instance(), Api::defaultInstance(false));
}

TEST_F(FaultApi, ControlsBinaryFormRoundTrips) {
  Ctrls ctrls(RC_B_AS_IS);
  rc::fault::Rules given = rulesOf({"x.c.interval = 2", "y.s = 'a b'"});
  ctrls.setRules(std::move(given));
  // A rules file's set is handed over, not copied.
  EXPECT_EQ(given.entries(), 0);
  ASSERT_EQ(ctrls.rules()->entries(), 2);
  ctrls.rules()->lookup("x")->isOn(true);
  rc::ByteStrm strm(0);
  ctrls.saveOn(strm);
  EXPECT_LE(strm.size(), ctrls.binarySize());
  Ctrls back(RC_B_NO);
  back.restoreFrom(strm);
  EXPECT_EQ(back.on(), RC_B_AS_IS);
  EXPECT_EQ(qvtest::printedInChild([&] { back.displayContents(true); }),
            qvtest::printedInChild([&] { ctrls.displayContents(true); }));

  Ctrls none(RC_B_YES);
  rc::ByteStrm empty(0);
  none.saveOn(empty);
  EXPECT_EQ(empty.size(), 8u);
  EXPECT_EQ(none.binarySize(), 8u);
  back.restoreFrom(empty);
  EXPECT_EQ(back.rules(), nullptr);
  EXPECT_TRUE(back.isOn());
}

TEST_F(FaultApi, PrintsItsControlsAtExitWhenAsked) {
  api->setRules(rulesOf({"x.c.interval = 3", "y.s = two"}));
  EXPECT_EQ(qvtest::printedInChild([&] { api->onExit(); }), "");
  int argc = 2;
  char pgm[] = "pgm";
  char pr[] = "-Fpr";
  char* argv[] = {pgm, pr, nullptr};
  api->processArgs(&argc, argv);
  EXPECT_EQ(qvtest::printedInChild([&] { api->onExit(); }),
            "global on/off = yes\n"
            "x.c.interval = 3\nx.c.repeat = 0\nx.c.limit = 0\n"
            "x.numInsertions = 0\nx.numOns = 0\nx.on = yes\n"
            "y.numInsertions = 0\ny.numOns = 0\ny.on = yes\ny.s = \"two\"\n");
  const std::string dump = qvtest::printedInChild([&] { api->dump(); });
  EXPECT_EQ(dump.rfind("Fault Api [", 0), 0u) << dump;
  EXPECT_NE(dump.find("]: any on = yes\n   Ctrls ["), std::string::npos) << dump;
  EXPECT_NE(dump.find("]:\n    on = yes\n    rules:\n      Rules ["), std::string::npos) << dump;
}

TEST_F(FaultApi, UsageText) {
  const char* pgm = rc::Env::pgmName() != nullptr ? rc::Env::pgmName() : "";
  EXPECT_EQ(qvtest::printedInChild([&] { api->printUsage(); }),
            std::string("\nFault Insertion Facility Usage\n------------------------------\n") +
                pgm +
                " [-Fh] [-Frf <rules file>] [-Fpr] [-Fv]\n"
                "Where:\n"
                " -Fh          print this usage\n"
                " -Frf <file>  read rules for this program from <file> [FT_RULES_FILE]\n"
                " -Fpr         print fault ctrls/rules on program exit [FT_PRINT]\n"
                " -Fv          print using verbose output [FT_VERBOSE]\n"
                "\n");
}

// --- Through the programs.

TEST(FaultApiProgram, RevisionCommandPrintsTheControlsAtExit) {
  qvtest::TempDir dir("qvfault");
  const std::string rules = dir.writeFile("rules", "x.c.interval = 3\nx.on = no\n");
  const qvtest::ProcResult plain = qvtest::runProgram(qvtest::qvrevPath(), {});
  ASSERT_EQ(plain.exitStatus, 0);
  const qvtest::ProcResult r = qvtest::runProgram(qvtest::qvrevPath(), {"-Frf", rules, "-Fpr"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, plain.out +
                       "global on/off = yes\n"
                       "x.c.interval = 3\nx.c.repeat = 0\nx.c.limit = 0\n"
                       "x.numInsertions = 0\nx.numOns = 0\nx.on = no\n");
  // From the environment, verbosely, options in other letter cases.
  const qvtest::ProcResult v =
      qvtest::runProgram(qvtest::qvrevPath(), {"-fV"}, {"FT_RULES_FILE=" + rules, "FT_PRINT=y"});
  EXPECT_EQ(v.exitStatus, 0) << v.err;
  EXPECT_NE(v.out.find("x.c.type = autoCounter\n"), std::string::npos) << v.out;
  EXPECT_NE(v.out.find("x.c.evalState = interval\nx.numInsertions.type = integer\n"),
            std::string::npos)
      << v.out;
}

TEST(FaultApiProgram, BadSettingsEndTheProgram) {
  const qvtest::ProcResult maybe = qvtest::runProgram(qvtest::qvrevPath(), {}, {"FT_PRINT=maybe"});
  EXPECT_EQ(maybe.exitStatus, 43);
  EXPECT_EQ(maybe.out, "");
  EXPECT_NE(maybe.err.find("Error: FT_PRINT value 'maybe' is not a boolean (yes/no, true/false, "
                           "on/off, 1/0)."),
            std::string::npos)
      << maybe.err;

  const std::string missing = "/nonexistent/qvfault/rules";
  const qvtest::ProcResult noFile = qvtest::runProgram(qvtest::qvrevPath(), {"-Frf", missing});
  EXPECT_EQ(noFile.exitStatus, 6);
  EXPECT_EQ(noFile.err, "Error: unable to open '" + missing + "' - No such file or directory.\n");

  const qvtest::ProcResult noValue = qvtest::runProgram(qvtest::qvrevPath(), {"-Frf"});
  EXPECT_EQ(noValue.exitStatus, RC_SC_NEED_ARG_VAL);

  qvtest::TempDir dir("qvfault");
  const std::string bad = dir.writeFile("rules", "x.c.interval = 3\nx.c = 1\n");
  const qvtest::ProcResult badLine = qvtest::runProgram(qvtest::qvrevPath(), {"-Frf", bad});
  EXPECT_EQ(badLine.exitStatus, RC_SC_BAD_VALUE);
  EXPECT_EQ(badLine.err,
            "File " + bad + ", Line 2: Error: value '1' of 'x.c' is unknown or invalid.\n");

  const qvtest::ProcResult help = qvtest::runProgram(qvtest::qvrevPath(), {"-fH"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_EQ(help.out.rfind("\nFault Insertion Facility Usage\n", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("\nqvrev [-Fh] [-Frf <rules file>] [-Fpr] [-Fv]\n"), std::string::npos);
}

TEST(FaultApiProgram, FaultPointFiresOnTheRuleSchedule) {
  const std::string app = qvtest::testAppPath("rcFaultPointApp");
  const std::vector<std::string> env = {qvtest::kitStringsEnv()};
  qvtest::TempDir dir("qvfault");
  struct Row {
    const char* rules;
    const char* count;
    const char* out;
  } rows[] = {
      {"writeFails.c.interval = 3\n", "7", "failed: 3 6\n"},
      {"writeFails.c.interval = 3\nwriteFails.c.limit = 1\n", "7", "failed: 3\n"},
      {"writeFails.c.interval = 2\nwriteFails.c.repeat = 2\n", "9", "failed: 2 3 4 6 7 8\n"},
      {"writeFails.on = no\nwriteFails.c.interval = 1\n", "3", "failed:\n"},
      {"otherFault.v = 1\n", "3", "failed:\n"},
      {"writeFails.delayMs = 250\n", "2", "delayMs=250\nfailed: 1 2\n"},
  };
  for (const Row& r : rows) {
    const std::string rules = dir.writeFile("rules", r.rules);
    const qvtest::ProcResult res = qvtest::runProgram(app, {r.count, "-Frf", rules}, env);
    EXPECT_EQ(res.exitStatus, 0) << res.err;
    EXPECT_EQ(res.out, r.out) << r.rules;
  }
  const qvtest::ProcResult none = qvtest::runProgram(app, {"4"}, env);
  EXPECT_EQ(none.out, "failed:\n");

  const std::string rules = dir.writeFile("rules", "writeFails.c.interval = 3\n");
  const qvtest::ProcResult counted = qvtest::runProgram(app, {"7", "-Frf", rules, "-Fpr"}, env);
  EXPECT_NE(counted.out.find("writeFails.numInsertions = 2\nwriteFails.numOns = 2\n"),
            std::string::npos)
      << counted.out;
}

}  // namespace

TEST_F(FaultApi, PointsRegisterAtTheirFirstPassAndCountWhileRulesAreOn) {
  // The counts of "readFault"; the registry is process-wide, so the test works on differences.
  const auto counts = [] {
    const rc::fault::PointStatsVec points = Api::points();
    EXPECT_TRUE(std::is_sorted(points.begin(), points.end(),
                               [](const auto& a, const auto& b) { return a.name <= b.name; }));
    for (const auto& p : points) {
      if (p.name == "readFault") return std::pair{p.evaluated, p.fired};
    }
    return std::pair{~uint64_t{0}, ~uint64_t{0}};
  };
  const struct Row {
    std::vector<const char*> rules;  // none: no rule set at all
    uint64_t evaluated;              // by 4 passes through each of the two points
    uint64_t fired;
  } rows[] = {
      {{}, 0, 0},                            // registers, counts nothing
      {{"otherFault.on = yes"}, 8, 0},       // asks, has no rule
      {{"readFault.c.interval = 2"}, 8, 4},  // each point's passes go through one rule
      {{"readFault.on = no"}, 0, 0},         // no rule can fire: the gates are shut again
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.rules.empty() ? "no rules" : r.rules[0]);
    if (!r.rules.empty()) api->setRules(rulesOf(r.rules));
    fireReadFault();
    fireReadFaultElsewhere();
    const auto before = counts();
    ASSERT_NE(before.first, ~uint64_t{0});
    for (int i = 0; i < 4; ++i) {
      fireReadFault();
      fireReadFaultElsewhere();
    }
    const auto after = counts();
    EXPECT_EQ(after.first - before.first, r.evaluated);
    EXPECT_EQ(after.second - before.second, r.fired);
  }

  // Rules no passed point carries are the ones a sender is warned about.
  const rc::fault::NameVec unknown = Api::unknownNames(
      rulesOf({"readFault.on = yes", "zNowhere.on = yes", "aNowhere.on = yes"}), Api::points());
  EXPECT_EQ(std::vector<String>(unknown.begin(), unknown.end()),
            (std::vector<String>{"aNowhere", "zNowhere"}));
}
