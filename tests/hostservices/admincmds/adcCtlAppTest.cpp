// qvctl run as a process against channel directories the test sets up: its argument errors,
// target resolution and failure statuses. (Talking to a live program: tests/examples.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "comps/appcomps/acCtlChannel.h"
#include "hostservices/admincmds/adcStrCodes.h"
#include "qvTestUtil.h"

namespace {

using ac::CtlChannel;

// A private channel directory (XDG_RUNTIME_DIR/qvctl) and qvctl run against it.
struct CtlDir {
  qvtest::TempDir tmp{"qvctl"};
  std::string dir = tmp.mkdirs("qvctl");
  CtlDir() { chmod(dir.c_str(), 0700); }
  qvtest::ProcResult qvctl(const std::vector<std::string>& args) const {
    return qvtest::runProgram(qvtest::kitProgramPath("qvctl"), args,
                              {"XDG_RUNTIME_DIR=" + tmp.path()});
  }
  // A channel that is listened on but never served.
  int listen(const char* program, pid_t pid) const {
    return CtlChannel::listenAt(CtlChannel::socketPath(dir, program, pid));
  }
};

pid_t deadPid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

TEST(CtlApp, ArgumentsAndTargetsFailWithTheirOwnStatus) {
  CtlDir d;
  const int mine = d.listen("dup", getpid());
  const int parents = d.listen("dup", getppid());
  const std::string dead = std::to_string(deadPid());
  const std::string self = std::to_string(getpid());
  // A child that has exited but is not reaped yet.
  const pid_t undeadPid = fork();
  if (undeadPid == 0) _exit(0);
  siginfo_t info;
  waitid(P_PID, undeadPid, &info, WEXITED | WNOWAIT);
  const std::string zombie = std::to_string(undeadPid);
  const int undead = d.listen("undead", undeadPid);
  const struct {
    std::vector<std::string> args;
    int status;
    std::string errStart;
  } rows[] = {
      {{}, 29, "Error: a sub-command is required: list, ping, rev, dbg or fault.\n"},
      {{"ping"}, 20, "Error: sub-command 'ping' requires a program name or a pid.\n"},
      {{"dbg", "-Dm", "ac"}, 20, "Error: sub-command 'dbg' requires"},
      {{"stop", "dup"}, 17, "Error: command line arg 'stop' is unknown or invalid.\n"},
      {{"rev", "dup", "-count", "2"}, 17, "Error: command line arg '-count'"},
      {{"fault", "dup", "-add"}, 17, "Error: command line arg '-add'"},
      {{"dbg", "dup", "-Dm", "nosuch"}, 58, "Error: -Dm value 'nosuch' is not a debug module"},
      {{"dbg", "dup", "m+ac:nosuch"}, 58, "Error: -Dm value 'nosuch' is not a debug module"},
      {{"dbg", "dup", "f-q"}, 57, "Error: "},
      {{"rev", "dup", "-o", "xml"}, 17, "Error: command line arg 'xml'"},
      {{"help", "stop"}, 17, "Error: command line arg 'stop'"},
      {{"ping", "dup", "-count", "0"}, 218 & 0xff, "Error: value '0' is out of range"},
      {{"ping", "nosuch"}, 21, "Error: no running program with a control channel matches 'nosuch'"},
      {{"ping", "1"}, 21, "Error: no running program with a control channel matches '1'"},
      {{"fault", "dup", "-Frf", d.tmp.path() + "/none"}, RC_SC_OPEN_FAILED, "Error: "},
      {{"fault", "dup", "-Frf", d.tmp.writeFile("typo", "# ok\n\nx.on = yes\nx.on yes\n")},
       ADC_SC_BAD_RULES_LINE & 0xff,
       "Error: rules file '" + d.tmp.path() + "/typo', line 4: not '<name> = <value>'; nothing"},
      {{"fault", "dup", "-Frf", d.tmp.writeFile("long", "x.on = " + std::string(3000, 'y'))},
       ADC_SC_BAD_RULES_LINE & 0xff,
       "Error: rules file '" + d.tmp.path() + "/long', line 1: l"},
      {{"rev", dead}, 22, "Error: process " + dead + " is not running.\n"},
      {{"rev", zombie}, 22, "Error: process " + zombie + " is not running.\n"},
      {{"ping", "undead"}, 21, "Error: no running program with a control channel matches"},
      {{"rev", "dup"}, 23, "Error: 'dup' matches 2 running programs (pids "},
      {{"rev", self, "-timeout", "1"}, 25, "Error: no reply from dup (pid " + self + ") within 1"},
  };
  for (const auto& row : rows) {
    const auto r = d.qvctl(row.args);
    EXPECT_EQ(r.exitStatus, row.status) << ::testing::PrintToString(row.args) << r.err;
    EXPECT_EQ(r.err.rfind(row.errStart, 0), 0u) << r.err;
  }
  close(mine);
  close(parents);
  close(undead);
  waitpid(undeadPid, nullptr, 0);
}

TEST(CtlApp, HelpPrintsEachSubCommandsUsage) {
  CtlDir d;
  for (const std::string sc : {"list", "ping", "rev", "dbg", "fault", "status", "help"}) {
    const auto help = d.qvctl({"help", sc});
    EXPECT_EQ(help.exitStatus, 0) << help.err;
    EXPECT_EQ(help.out.rfind("Usage: qvctl [<options>] " + sc, 0), 0u) << help.out;
    EXPECT_EQ(d.qvctl({sc, "-h"}).out, help.out);
  }
}

// A program that closes the connection, and a directory others may write to.
TEST(CtlApp, LostConnectionsAndUnsafeDirectoriesAreReported) {
  CtlDir d;
  const int fd = d.listen("quitter", getpid());
  const pid_t server = fork();
  if (server == 0) {
    fcntl(fd, F_SETFL, 0);
    for (;;) close(accept(fd, nullptr, nullptr));
  }
  auto r = d.qvctl({"ping", "quitter"});
  EXPECT_EQ(r.exitStatus, 26) << r.err;
  EXPECT_EQ(r.err, "Error: quitter (pid " + std::to_string(getpid()) +
                       ") closed the connection without a reply.\n");
  kill(server, SIGKILL);
  waitpid(server, nullptr, 0);
  close(fd);

  chmod(d.dir.c_str(), 0777);
  r = d.qvctl({"list"});
  EXPECT_EQ(r.exitStatus, AC_SC_CTL_DIR_REFUSED & 0xff) << r.err;
  EXPECT_NE(r.err.find("open to other users"), std::string::npos) << r.err;
}

// Programs that do not answer are still listed; stale sockets are dropped.
TEST(CtlApp, ListShowsEveryLiveChannel) {
  CtlDir d;
  const int fd = d.listen("silent", getpid());
  close(d.listen("gone", deadPid()));
  const auto r = d.qvctl({"list", "-timeout", "1"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find(" PROGRAM CLASS STARTED REVISION\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(std::to_string(getpid()) + " silent  ?     ?       ?"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("gone"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("no reply from silent"), std::string::npos) << r.err;
  close(fd);
}

}  // namespace
