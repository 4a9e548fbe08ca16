// The demo daemon under live control: a real qvdemod, driven by qvctl command by command, and
// clients of other users turned away.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#if QV_HAVE_NLOHMANN_JSON
#include <nlohmann/json.hpp>
#endif

#include "comps/appcomps/acCtlChannel.h"
#include "comps/appcomps/acIpcClient.h"
#include "comps/appcomps/acMsgTypes.h"
#include "comps/appcomps/acPingMsgs.h"
#include "hostservices/admincmds/adcCtlClient.h"
#include "qvTestUtil.h"
#include "qvdemodMsgs.h"

namespace {

constexpr uid_t kNobody = 65534;

// qvdemod ticking every 50 ms (a child every second tick), its log on standard output, its
// channel in a private directory (XDG_RUNTIME_DIR, or QV_CTL_DIR=ctlDir); qvctl run against the
// same directory.
// With nofile, the daemon runs under that descriptor limit; more are further arguments.
struct Demo {
  explicit Demo(const std::string& ctlDir = "", rlim_t nofile = 0,
                std::vector<std::string> more = {})
      : dir(ctlDir.empty() ? tmp.path() + "/qvctl" : ctlDir),
        env(ctlDir.empty() ? "XDG_RUNTIME_DIR=" + tmp.path() : "QV_CTL_DIR=" + ctlDir),
        nofile(nofile),
        moreArgs(std::move(more)) {}
  qvtest::TempDir tmp{"qvdemod"};
  std::string dir;
  std::string env;
  rlim_t nofile;
  std::vector<std::string> moreArgs;
  qvtest::LiveProc proc{[this] {
    putenv(env.data());
    const rlimit rl = {nofile, nofile};
    if (nofile > 0) setrlimit(RLIMIT_NOFILE, &rl);
    std::vector<const char*> argv = {"qvdemod", "-interval",    "50", "-childEvery",
                                     "2",       "-logToStdOut", "yes"};
    for (const std::string& arg : moreArgs) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    execv(qvtest::kitProgramPath("qvdemod").c_str(), const_cast<char**>(argv.data()));
    _exit(127);
  }};
  std::string pid = std::to_string(proc.pid());
  std::string socket = ac::CtlChannel::socketPath(dir, "qvdemod", proc.pid());

  qvtest::ProcResult qvctl(std::vector<std::string> args) const {
    return qvtest::runProgram(qvtest::kitProgramPath("qvctl"), args, {env});
  }
  // The text of its debug controls, as qvctl dbg shows them.
  std::string dbg() const { return qvctl({"dbg", pid}).out; }
  // qvctl running with args (standard input a pipe the test holds) until the test ends it.
  std::unique_ptr<qvtest::LiveProc> follow(std::vector<std::string> args) const {
    return std::make_unique<qvtest::LiveProc>([this, args] {
      putenv(const_cast<char*>(env.c_str()));
      const std::string path = qvtest::kitProgramPath("qvctl");
      std::vector<char*> argv = {const_cast<char*>("qvctl")};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(path.c_str(), argv.data());
      _exit(127);
    });
  }
};

TEST(Qvdemod, RunsUnderLiveControl) {
  Demo d;
  ASSERT_TRUE(d.proc.waitForLine("ready"));
  ASSERT_TRUE(d.proc.waitForLineWith("ended with status 0, said '7.1.0.0'"));

  auto r = d.qvctl({"list"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find(d.pid + " qvdemod daemon "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" 7.1.0.0-P0-F1-Bld35553\n"), std::string::npos) << r.out;

  // The daemon's own call, through a client of the library.
  demo::DemoMsgs::registerMsgs();
  ac::IpcMsgPtr reply = ac::IpcClient(d.socket).call(demo::GetTickCountCall(), 10000);
  ac::IpcMsgFactory::cleanupInstance();
  const auto* ticks = ac::msgCast<demo::GetTickCountReply>(reply.get());
  ASSERT_NE(ticks, nullptr);
  EXPECT_GE(ticks->ticks(), 2);

  r = d.qvctl({"rev", "qvdemod"});
  EXPECT_EQ(r.out, "program:  qvdemod (pid " + d.pid +
                       ")\nlabel:    Release 7.1.0.0 [Build 35553]\n"
                       "revision: 7.1.0.0-P0-F1-Bld35553\n"
                       "build:    2014-02-06.35553.hds.rel-7.1.cm.35553\n");

  r = d.qvctl({"ping", d.pid, "-count", "3"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("reply from qvdemod (pid " + d.pid + "): seq=3 time="), std::string::npos);
  EXPECT_NE(r.out.find("3 calls, round trip min/avg/max = "), std::string::npos) << r.out;

  // Tracing goes on in the running daemon, and its trace lines follow.
  r = d.qvctl({"dbg", d.pid, "-Dm", "adc", "-Df", "d"});
  EXPECT_EQ(r.out.rfind("debug controls of qvdemod (pid " + d.pid + "): -Dm adc -Df d", 0), 0u)
      << r.out << r.err;
  // Logged with the client that asked.
  EXPECT_TRUE(d.proc.waitForLineWith("Info: QV-00282: control channel client pid "));
  EXPECT_TRUE(d.proc.waitForLineWith("[d,adc ] tick "));
  // As on a command line, nothing stays on: neither flags nor modules.
  r = d.qvctl({"dbg", "qvdemod", "-Doff"});
  for (const char* part : {"-Dm", "-Df"}) EXPECT_EQ(r.out.find(part), std::string::npos) << r.out;

  // A rule loaded into the running daemon makes its fault point fire.
  const std::string rules = d.tmp.writeFile("rules", "demoTick.on = true\n");
  r = d.qvctl({"fault", "qvdemod", "-Frf", rules});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("demoTick"), std::string::npos) << r.out;
  EXPECT_TRUE(d.proc.waitForLineWith("changed the fault controls: -Frf demoTick"));
  EXPECT_TRUE(d.proc.waitForLineWith("fault demoTick inserted at tick "));
  r = d.qvctl({"fault", "qvdemod", "-clear"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "fault controls of qvdemod (pid " + d.pid + "):\nglobal on/off = yes\n");

  ASSERT_EQ(kill(d.proc.pid(), SIGTERM), 0);
  const qvtest::ProcResult end = d.proc.finish();
  EXPECT_EQ(end.exitStatus, 0) << end.err;
  EXPECT_NE(end.out.find("qvdemod stopping on SIGTERM"), std::string::npos);
  EXPECT_NE(access(d.socket.c_str(), F_OK), 0);
  EXPECT_EQ(d.qvctl({"ping", d.pid}).exitStatus, 22);
}

// A stopped daemon holds qvctl no longer than its time-out, however large the call (over the
// socket's buffer; over the frame limit, which nothing is sent for); a termination signal ends
// a waiting qvctl at once.
TEST(Qvdemod, QvctlWaitsNoLongerThanItsTimeOut) {
  Demo d;
  ASSERT_TRUE(d.proc.waitForLine("ready"));
  std::string rules;
  for (int i = 0; i < 10000; ++i) rules += "demoTick" + std::to_string(i) + ".on = true\n";
  const std::string big =
      d.tmp.writeFile("big", rules.substr(0, rules.rfind('\n', rules.size() / 3) + 1));
  const std::string huge = d.tmp.writeFile("huge", rules);
  ASSERT_EQ(kill(d.proc.pid(), SIGSTOP), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"", "within 1 seconds"}, {big, "within 1 seconds"}, {huge, "over the limit of 1048576"}};
  for (const auto& [file, says] : cases) {
    std::vector<std::string> args = {"fault", d.pid, "-timeout", "1"};
    if (!file.empty()) args.insert(args.end(), {"-Frf", file});
    const auto start = std::chrono::steady_clock::now();
    const auto r = d.qvctl(args);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(r.exitStatus, (file == huge ? ADC_SC_REQUEST_TOO_LARGE : ADC_SC_TIMED_OUT) & 0xff);
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
  }
  qvtest::LiveProc waiting([&] {
    const std::string qvctl = qvtest::kitProgramPath("qvctl");
    putenv(d.env.data());
    execl(qvctl.c_str(), "qvctl", "fault", d.pid.c_str(), "-Frf", big.c_str(), nullptr);
    _exit(127);
  });
  // Signalled while it waits, as far as the kernel shows it.
  const std::string wchan = "/proc/" + std::to_string(waiting.pid()) + "/wchan";
  qvtest::eventually([&] { return qvtest::readFile(wchan).find("poll") != std::string::npos; });
  kill(waiting.pid(), SIGTERM);
  EXPECT_EQ(waiting.finish(4).exitStatus, AC_SC_TERMINATED);
  kill(d.proc.pid(), SIGCONT);
}

// Started with a rule, the daemon's status shows its timer, the rule with its counts and its
// heap by type; -points lists the point; a rule no point has is warned about and still sent.
TEST(Qvdemod, ShowsItsStatusAndFaultPoints) {
  qvtest::TempDir rulesDir;
  const std::string rules = rulesDir.writeFile("rules", "demoTick.on = true\n");
  Demo d("", 0, {"-Frf", rules});
  ASSERT_TRUE(d.proc.waitForLine("ready"));
  ASSERT_TRUE(d.proc.waitForLineWith("fault demoTick inserted at tick "));
  auto r = d.qvctl({"status", d.pid});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  for (const std::string& part :
       {"qvdemod (pid " + d.pid + ")\n", std::string("       Class: daemon\n"),
        std::string("; up 00:00:0"), std::string("    Revision: 7.1.0.0-P0-F1-Bld35553 (build "),
        std::string("\n              demo tick: interval, "),
        std::string("\n      Faults: global on/off = yes, 1 rule\n"),
        std::string("\n        Heap: "), std::string("\n              mt_anonymous ")}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  }
  unsigned long long evaluated = 0, fired = 0;
  const size_t at = r.out.find("demoTick: evaluated ");
  ASSERT_NE(at, std::string::npos) << r.out;
  ASSERT_EQ(sscanf(r.out.c_str() + at, "demoTick: evaluated %llu, fired %llu", &evaluated, &fired),
            2);
  EXPECT_GE(fired, 1u);
  EXPECT_EQ(evaluated, fired);
  EXPECT_NE(r.out.find(", on = yes)\n"), std::string::npos) << r.out;

  r = d.qvctl({"fault", d.pid, "-points"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("\ndemoTick "), std::string::npos) << r.out;

  const std::string unknown = rulesDir.writeFile("unknown", "demoTick.on = false\nnoSuch.on = 1\n");
  r = d.qvctl({"fault", d.pid, "-Frf", unknown});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err,
            "Warning: qvdemod (pid " + d.pid +
                ") has passed no fault point 'noSuch' yet; the rule is sent all the same.\n");
  EXPECT_NE(r.out.find("noSuch.on = 1"), std::string::npos) << r.out;

  // A call newer than the program is answered that nothing there handles it.
  ac::MsgTypes::registerMsgs();
  ac::PingCall newer(0, new ac::PingData("x", 0));
  newer.setMsgType(1999);
  const ac::IpcMsgPtr answer = ac::IpcClient(d.socket).call(newer, 10000);
  ac::IpcMsgFactory::cleanupInstance();
  const auto* sts = dynamic_cast<const ac::IpcStsMsgHdr*>(answer.get());
  ASSERT_NE(sts, nullptr);
  EXPECT_EQ(sts->status().code(), AC_SC_NO_MSG_HANDLER);
}

// Two daemons at once: all, a pattern and a list reach both with labelled results, a failing
// target does not stop the others, and debug controls change step by step.
TEST(Qvdemod, ServesManyTargets) {
  qvtest::TempDir tmp;
  Demo a(tmp.path() + "/ctl"), b(tmp.path() + "/ctl");
  ASSERT_TRUE(a.proc.waitForLine("ready"));
  ASSERT_TRUE(b.proc.waitForLine("ready"));
  for (const std::string& target : {std::string("all"), std::string("qvde*"), b.pid + ",qvd*"}) {
    const auto r = a.qvctl({"rev", target});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    for (const Demo* d : {&a, &b}) {
      const std::string line = "qvdemod." + d->pid + ": revision: 7.1.0.0-P0-F1-Bld35553\n";
      EXPECT_NE(r.out.find(line), std::string::npos) << target << r.out;
    }
  }
  auto r = a.qvctl({"ping", "nosuch," + a.pid + ",1"});
  EXPECT_EQ(r.exitStatus, ADC_SC_NO_SUCH_TARGET & 0xff) << r.err;
  EXPECT_NE(r.out.find("qvdemod." + a.pid + ": 1 calls"), std::string::npos) << r.out;
  EXPECT_EQ(a.qvctl({"ping", "qvdemod"}).exitStatus, ADC_SC_AMBIGUOUS_TARGET & 0xff);

  a.qvctl({"dbg", a.pid, "-Dm", "adc:ipc", "-Df", "di"});
  r = a.qvctl({"dbg", a.pid, "m-ipc", "m+sig", "f+z", "f-i"});
  EXPECT_EQ(r.out, "debug controls of qvdemod (pid " + a.pid + "): -Dm adc:sig -Df dz -Dsrc yes\n")
      << r.err;
}

// trace prints the daemon's lines while it follows; whoever leaves, however, the daemon switches
// off what it switched on for them alone, and a change made meanwhile by someone else stands.
TEST(Qvdemod, FollowersSeeItsLinesAndLeaveItsControlsAsTheyWere) {
  Demo d;
  ASSERT_TRUE(d.proc.waitForLine("ready"));
  const std::string before = d.dbg();
  auto r = d.qvctl({"trace", d.pid, "m+adc", "-Df", "d", "-for", "2"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("[d,adc ] tick "), std::string::npos) << r.out;
  EXPECT_EQ(d.dbg(), before);
  EXPECT_TRUE(d.proc.waitForLineWith("stopped following; switched back off: m-adc f-d"));

  // Killed outright, and with -stdin-ends ended by the end of its input.
  for (const bool kill9 : {true, false}) {
    auto follower = d.follow({"-stdin-ends", "trace", d.pid, "m+adc", "f+d"});
    ASSERT_TRUE(follower->waitForLineWith("[d,adc ] tick "));
    if (kill9) kill(follower->pid(), SIGKILL);
    const qvtest::ProcResult end = follower->finish();
    EXPECT_EQ(end.exitStatus, kill9 ? -1 : 0) << end.err;
    EXPECT_TRUE(qvtest::eventually([&] { return d.dbg() == before; })) << d.dbg();
  }

  // Two follow; the one that stays keeps its modules on until it goes too.
  auto first = d.follow({"trace", d.pid, "m+adc", "f+d"});
  ASSERT_TRUE(first->waitForLineWith("[d,adc ] tick "));
  r = d.qvctl({"trace", d.pid, "m+adc:ipc", "f+d", "-for", "1"});
  EXPECT_NE(r.out.find("[d,adc ] tick "), std::string::npos) << r.out;
  EXPECT_TRUE(qvtest::eventually([&] {
    return d.dbg().find("-Dm adc -Df d") != std::string::npos;
  })) << d.dbg();
  // Someone else's change stands.
  d.qvctl({"dbg", d.pid, "m+sig"});
  kill(first->pid(), SIGTERM);
  EXPECT_EQ(first->finish().exitStatus, 0);
  EXPECT_TRUE(qvtest::eventually([&] { return d.dbg().find("adc:sig") != std::string::npos; }))
      << d.dbg();
}

// A stopped follower holds nothing up: the daemon answers meanwhile, drops the lines that do not
// fit and tells the follower how many once it reads again.
TEST(Qvdemod, StoppedFollowerLosesLinesNotTheDaemon) {
  Demo d;
  ASSERT_TRUE(d.proc.waitForLine("ready"));
  auto follower = d.follow({"trace", d.pid, "m+ipc:ac", "f+c"});
  ASSERT_TRUE(follower->waitForLineWith("trace m+ac:ipc f+c"));
  kill(follower->pid(), SIGSTOP);
  // The daemon's own copy of its trace is read meanwhile, or its output pipe would stop it.
  auto pinged = std::async(std::launch::async, [&] {
    return d.qvctl({"ping", d.pid, "-count", "10000"});
  });
  while (pinged.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    d.proc.waitForLineWith("not a line it writes", 1);
  }
  const auto r = pinged.get();
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  kill(follower->pid(), SIGCONT);
  EXPECT_TRUE(follower->waitForLineWith(" lines dropped)"));
  kill(follower->pid(), SIGINT);
  EXPECT_EQ(follower->finish().exitStatus, 0);
}

// Every sub-command's -o json output: JSON documents, one a line, of format 1.
TEST(Qvdemod, PrintsJsonDocuments) {
#if QV_HAVE_NLOHMANN_JSON
  qvtest::TempDir tmp;
  Demo a(tmp.path() + "/ctl"), b(tmp.path() + "/ctl");
  ASSERT_TRUE(a.proc.waitForLine("ready"));
  ASSERT_TRUE(b.proc.waitForLine("ready"));
  const std::string rules = a.tmp.writeFile("rules", "demoTick.interval = 1000\n");
  const struct {
    std::vector<std::string> args;
    int status;
    // The documents printed, and one that must be among them.
    size_t docs;
    nlohmann::json expected;
  } rows[] = {
      {{"list"}, 0, 1, {{"command", "list"}}},
      {{"ping", "all", "-count", "2"}, 0, 6, {{"pid", std::stoi(b.pid)}, {"calls", 2}}},
      {{"rev", a.pid}, 0, 1, {{"revision", "7.1.0.0-P0-F1-Bld35553"}}},
      {{"dbg", a.pid, "-Dm", "adc", "f+d"}, 0, 1, {{"modules", {"adc"}}, {"flags", "d"}}},
      {{"fault", a.pid, "-Frf", rules}, 0, 1, {{"rules", {{"demoTick.interval", "1000"}}}}},
      {{"fault", a.pid, "-points"}, 0, 1, {{"command", "fault"}}},
      {{"status", "all"}, 0, 2, {{"pid", std::stoi(b.pid)}, {"class", "daemon"}}},
      {{"rev", "nosuch," + a.pid}, 21, 2, {{"target", "nosuch"}}},
      {{"rev", "qvdemod"}, 23, 1, {{"error", {{"status", 23}}}}},
      {{"trace", "all", "m+adc", "f+d", "-for", "1"}, 0, 0, {{"kind", "trace"}}},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = row.args;
    args.insert(args.end(), {"-o", "json"});
    const auto r = a.qvctl(args);
    EXPECT_EQ(r.exitStatus, row.status) << r.err;
    std::istringstream lines(r.out);
    size_t docs = 0, matching = 0;
    for (std::string line; std::getline(lines, line); ++docs) {
      const nlohmann::json doc = nlohmann::json::parse(line, nullptr, false);
      ASSERT_FALSE(doc.is_discarded()) << line;
      EXPECT_EQ(doc.value("qvctl_format", 0), 1) << line;
      EXPECT_EQ(doc.value("command", ""), args[0]) << line;
      const nlohmann::json flat = doc.flatten(), wanted = row.expected.flatten();
      bool all = true;
      for (const auto& [path, value] : wanted.items()) {
        all = all && flat.value(path, nlohmann::json()) == value;
      }
      matching += all ? 1 : 0;
    }
    // A row of no count prints as many as come.
    if (row.docs != 0) {
      EXPECT_EQ(docs, row.docs) << r.out;
    }
    EXPECT_GE(matching, 1u) << ::testing::PrintToString(args) << r.out;
  }
#else
  GTEST_SKIP() << "built without nlohmann-json";
#endif
}

// Under a low descriptor limit with its connections taken, the daemon tells a further client it
// is busy rather than closing on it, and serves again once they go.
TEST(Qvdemod, TellsClientsBeyondItsConnectionCapItIsBusy) {
  Demo d("", 40);
  ASSERT_TRUE(d.proc.waitForLine("ready"));
  std::vector<rc::Fd> held;
  for (int i = 0; i < 30; ++i) held.emplace_back(ac::CtlChannel::connectTo(d.socket));
  auto r = d.qvctl({"ping", d.pid});
  EXPECT_EQ(r.exitStatus, ADC_SC_BUSY & 0xff) << r.err;
  EXPECT_NE(r.err.find("(pid " + d.pid + ") is busy and turned the connection away: connection " +
                       "limit of 24 exceeded"),
            std::string::npos)
      << r.err;
  held.clear();
  EXPECT_TRUE(qvtest::eventually([&] { return d.qvctl({"ping", d.pid}).exitStatus == 0; }));
}

// Another user is turned away: by the directory, and by the daemon when the directory lets it
// through.
TEST(Qvdemod, RefusesClientsOfOtherUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  Demo d;
  ASSERT_TRUE(d.proc.waitForLine("ready"));
  const auto asNobody = [](const std::function<void()>& fn) {
    return qvtest::runInChild([&] {
      if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(3);
      fn();
    });
  };
  auto r = asNobody([&] {
    const std::string qvctl = qvtest::kitProgramPath("qvctl");
    setenv("XDG_RUNTIME_DIR", d.tmp.path().c_str(), 1);
    execl(qvctl.c_str(), "qvctl", "ping", d.pid.c_str(), nullptr);
  });
  EXPECT_EQ(r.exitStatus, AC_SC_CTL_DIR_REFUSED & 0xff) << r.err;
  EXPECT_NE(r.err.find("qvctl' refused: "), std::string::npos) << r.err;
  r = asNobody([&] {
    const std::string qvctl = qvtest::kitProgramPath("qvctl");
    execl(qvctl.c_str(), "qvctl", "-user", "root", "list", nullptr);
  });
  EXPECT_EQ(r.exitStatus, ADC_SC_NEED_ROOT & 0xff) << r.err;

  chmod(d.tmp.path().c_str(), 0755);
  chmod(d.dir.c_str(), 0755);
  chmod(d.socket.c_str(), 0666);
  r = asNobody([&] {
    adc::CtlClient client({"qvdemod", d.proc.pid(), d.socket}, 5);
    const rc::Err err =
        qvtest::thrownErr([&] { client.call(ac::PingCall(0, new ac::PingData("x", 0))); });
    _exit(err.code() & 0xff);
  });
  EXPECT_EQ(r.exitStatus, ADC_SC_REFUSED & 0xff) << r.err;
  // The daemon goes on serving its own user.
  chmod(d.dir.c_str(), 0700);
  EXPECT_EQ(d.qvctl({"ping", d.pid}).exitStatus, 0);
}

// A socket left on a pid now used by another process: skipped and removed in our own directory,
// left alone in another user's, never taken for the process being gone. QV_CTL_DIR names the
// directory for the daemon and qvctl alike.
TEST(Qvdemod, SocketsOnReusedPidsAreStale) {
  qvtest::TempDir tmp;
  Demo d(tmp.path() + "/ctl");
  ASSERT_TRUE(d.proc.waitForLine("ready"));
  const std::string self = std::to_string(getpid());
  const std::string reused = d.dir + "/qvdemod." + self;
  close(ac::CtlChannel::listenAt(reused));
  if (geteuid() == 0) {
    const auto r = d.qvctl({"-user", "root", "list"});
    EXPECT_NE(r.out.find(d.pid + " qvdemod daemon "), std::string::npos) << r.out << r.err;
    EXPECT_EQ(r.out.find(self + " qvdemod"), std::string::npos) << r.out;
    EXPECT_EQ(access(reused.c_str(), F_OK), 0);
  }
  auto r = d.qvctl({"ping", self});
  EXPECT_EQ(r.exitStatus, ADC_SC_NO_SUCH_TARGET & 0xff) << r.err;
  EXPECT_NE(access(reused.c_str(), F_OK), 0);
  close(ac::CtlChannel::listenAt(reused));
  EXPECT_EQ(d.qvctl({"ping", "qvdemod"}).exitStatus, 0);
  EXPECT_NE(access(reused.c_str(), F_OK), 0);
}

// A channel directory squatted by another user (or, not as root, open to others): the daemon
// runs without a channel and says why once.
TEST(Qvdemod, RunsWithoutChannelInUnusableDirectory) {
  qvtest::TempDir tmp;
  const std::string dir = tmp.mkdirs("squatted");
  const bool asRoot = geteuid() == 0 && chown(dir.c_str(), kNobody, kNobody) == 0;
  chmod(dir.c_str(), asRoot ? 0700 : 0755);
  Demo d(dir);
  ASSERT_TRUE(d.proc.waitForLine("ready"));
  kill(d.proc.pid(), SIGTERM);
  const qvtest::ProcResult end = d.proc.finish();
  EXPECT_EQ(end.exitStatus, 0) << end.err;
  const std::string reason = asRoot ? "owned by user id 65534" : "open to other users";
  EXPECT_EQ(end.err, "(qvdemod." + d.pid + ") Warning: QV-00278: running without a control " +
                         "channel: control channel directory '" + dir + "' refused: " + reason +
                         ".\n");
}

// Its output pipe closing ends it through the normal exit path, socket removed.
TEST(Qvdemod, EndsNormallyWhenItsOutputPipeCloses) {
  qvtest::TempDir tmp;
  const std::string dir = tmp.path() + "/ctl";
  const auto r = qvtest::runProgram(
      "/bin/bash",
      {"-c", qvtest::kitProgramPath("qvdemod") +
                 " -interval 20 -childEvery 1 -logToStdOut yes | head -3; exit ${PIPESTATUS[0]}"},
      {"QV_CTL_DIR=" + dir});
  EXPECT_EQ(r.exitStatus, RC_SC_WRITE_FAILED) << r.err;
  EXPECT_NE(r.err.find("unable to write to 'standard output' - Broken pipe"), std::string::npos)
      << r.err;
  EXPECT_EQ(rmdir(dir.c_str()), 0) << "a socket was left behind";
}

}  // namespace
