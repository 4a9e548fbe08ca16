// The demo daemon under live control: a real qvdemod, driven by qvctl command by command, and
// clients of other users turned away.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "comps/appcomps/acCtlChannel.h"
#include "comps/appcomps/acIpcClient.h"
#include "comps/appcomps/acPingMsgs.h"
#include "hostservices/admincmds/adcCtlClient.h"
#include "qvTestUtil.h"
#include "qvdemodMsgs.h"

namespace {

constexpr uid_t kNobody = 65534;

// qvdemod ticking every 50 ms (a child every second tick), its log on standard output, its
// channel in a private directory; qvctl run against the same directory.
struct Demo {
  qvtest::TempDir tmp{"qvdemod"};
  std::string dir = tmp.path() + "/qvctl";
  qvtest::LiveProc proc{[this] {
    setenv("XDG_RUNTIME_DIR", tmp.path().c_str(), 1);
    const std::string path = qvtest::kitProgramPath("qvdemod");
    execl(path.c_str(), "qvdemod", "-interval", "50", "-childEvery", "2", "-logToStdOut", "yes",
          nullptr);
    _exit(127);
  }};
  std::string pid = std::to_string(proc.pid());
  std::string socket = ac::CtlChannel::socketPath(dir, "qvdemod", proc.pid());

  qvtest::ProcResult qvctl(std::vector<std::string> args) const {
    return qvtest::runProgram(qvtest::kitProgramPath("qvctl"), args,
                              {"XDG_RUNTIME_DIR=" + tmp.path()});
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
  EXPECT_TRUE(d.proc.waitForLineWith("[d,adc ] tick "));
  // As on a command line, nothing stays on: neither flags nor modules.
  r = d.qvctl({"dbg", "qvdemod", "-Doff"});
  for (const char* part : {"-Dm", "-Df"}) EXPECT_EQ(r.out.find(part), std::string::npos) << r.out;

  // A rule loaded into the running daemon makes its fault point fire.
  const std::string rules = d.tmp.writeFile("rules", "demoTick.on = true\n");
  r = d.qvctl({"fault", "qvdemod", "-Frf", rules});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("demoTick"), std::string::npos) << r.out;
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

}  // namespace
