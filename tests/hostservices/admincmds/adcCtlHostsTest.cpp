// qvctl -H against real OpenSSH servers on 127.0.0.1 and 127.0.0.2, each "host" with its own
// control directory and demo daemon; and the host lists refused before anything is started.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "comps/appcomps/acCtlChannel.h"
#include "hostservices/admincmds/adcStrCodes.h"
#include "qvSshServers.h"
#include "qvTestUtil.h"

namespace {

qvtest::ProcResult qvctl(const qvtest::SshServers& servers, std::vector<std::string> args) {
  return qvtest::runProgram(qvtest::kitProgramPath("qvctl"), args, {servers.sshOptsEnv()});
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CtlHosts, ReachesTheProgramsOfEveryHost) {
  qvtest::SshServers servers({{"127.0.0.1"}, {"127.0.0.2"}});
  if (!servers.ok()) GTEST_SKIP() << servers.whyNot();
  std::string pids[2], hosts[2];
  for (size_t k = 0; k < 2; ++k) {
    const pid_t pid = servers.startProgram(k, {qvtest::kitProgramPath("qvdemod")});
    const std::string socket =
        ac::CtlChannel::socketPath(servers.runtimeDir(k) + "/qvctl", "qvdemod", pid);
    ASSERT_TRUE(qvtest::eventually([&] { return access(socket.c_str(), F_OK) == 0; }));
    pids[k] = std::to_string(pid);
    hosts[k] = "127.0.0." + std::to_string(k + 1) + ":" + std::to_string(servers.port(k));
  }
  qvtest::TempDir tmp;
  const std::string file = tmp.writeFile(
      "hosts", "# the fleet\n\n  " + hosts[0] + "   # first\n" + hosts[1] + "\n" + hosts[0] + "\n");
  const std::vector<std::string> own = {"-hosts", file, "-remote-qvctl",
                                        qvtest::kitProgramPath("qvctl")};
  const auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), own.begin(), own.end());
    return qvctl(servers, args);
  };

  auto r = run({"list"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_TRUE(has(r.out, "HOST ")) << r.out;
  for (size_t k = 0; k < 2; ++k) {
    EXPECT_TRUE(has(r.out, hosts[k] + " " + pids[k] + " qvdemod daemon ")) << r.out;
  }

  r = run({"dbg", "all", "-Dm", "adc"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  for (size_t k = 0; k < 2; ++k) {
    EXPECT_TRUE(has(r.out, hosts[k] + ": qvdemod." + pids[k] + ": debug controls of qvdemod (pid " +
                               pids[k] + "): -Dm adc"))
        << r.out;
  }

  // A status comes back as the local screen, labelled.
  r = run({"status", pids[0]});
  EXPECT_TRUE(has(r.out, hosts[0] + ": qvdemod." + pids[0] + ":        Class: daemon\n")) << r.out;
  EXPECT_TRUE(has(r.out, "Timers: ")) << r.out;

  // The name comes back through the remote shell as it was given.
  r = run({"rev", "a b'c\"$x"});
  EXPECT_EQ(r.exitStatus, ADC_SC_NO_SUCH_TARGET & 0xff) << r.err;
  EXPECT_TRUE(has(r.err, hosts[1] + ": Error: no running program with a control channel matches "
                                    "'a b'c\"$x'"))
      << r.err;

  // A host that does not answer is reported; the other still answers; the worst status wins.
  const std::string down = "127.0.0.1:1";
  r = qvctl(servers, {"-H", down + "," + hosts[1], "-remote-qvctl", own[3], "rev", pids[1]});
  EXPECT_EQ(r.exitStatus, ADC_SC_HOST_UNREACHABLE & 0xff) << r.err;
  EXPECT_TRUE(has(r.err, "host " + down + " cannot be reached: ssh: connect to host")) << r.err;
  EXPECT_TRUE(has(r.out, hosts[1] + ": qvdemod." + pids[1] + ": revision: ")) << r.out;

#if QV_HAVE_NLOHMANN_JSON
  r = run({"rev", pids[0], "-o", "json"});
  EXPECT_TRUE(has(r.out, "\"host\":\"" + hosts[0] + "\",\"command\":\"rev\",\"program\":"))
      << r.out;
  // The second host has no such pid: its error document, also labelled.
  EXPECT_TRUE(has(r.out, "\"host\":\"" + hosts[1] + "\",\"command\":\"rev\",\"target\":")) << r.out;
#endif

  // The operator's rules file is read and checked here, then sent to every host.
  r = run({"fault", "all", "-Frf", tmp.writeFile("rules", "demoTick.on = true\n")});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  for (size_t k = 0; k < 2; ++k) {
    EXPECT_TRUE(has(r.out, hosts[k] + ": qvdemod." + pids[k] + ": demoTick.on = yes")) << r.out;
  }
  r = run({"fault", "all", "-Frf", tmp.writeFile("bad", "demoTick.on true\n")});
  EXPECT_EQ(r.exitStatus, ADC_SC_BAD_RULES_LINE & 0xff) << r.err;
  EXPECT_EQ(r.out, "");

  r = qvctl(servers, {"-H", hosts[0], "-remote-qvctl", "/no/qvctl", "list"});
  EXPECT_EQ(r.exitStatus, ADC_SC_NO_REMOTE_QVCTL & 0xff) << r.err;
}

TEST(CtlHosts, RefusesBadHostListsBeforeStarting) {
  qvtest::TempDir tmp;
  const std::string file = tmp.writeFile("hosts", "# ok\nh1\n\nh2 h3\n");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } rows[] = {
      {{"-hosts", file, "list"}, ADC_SC_BAD_HOSTS, "hosts file '" + file + "', line 4: one host"},
      {{"-H", "h1,-oProxyCommand=x", "list"}, ADC_SC_BAD_HOSTS, "bad host name in '-oProxy"},
      {{"-H", "h1:99999", "list"}, ADC_SC_BAD_HOSTS, "bad port in 'h1:99999'"},
      {{"-H", "u;x@h1", "list"}, ADC_SC_BAD_HOSTS, "bad user name"},
      {{"-H", "[::1", "list"}, ADC_SC_BAD_HOSTS, "no ']'"},
      {{"-H", "h1,", "list"}, ADC_SC_BAD_HOSTS, "no host name"},
      {{"-parallel", "65", "-H", "h1", "list"}, AC_SC_OUT_OF_RANGE, "65"},
  };
  for (const auto& row : rows) {
    const auto r = qvtest::runProgram(qvtest::kitProgramPath("qvctl"), row.args,
                                      {"QV_SSH_OPTS=-F /nonexistent"});
    EXPECT_EQ(r.exitStatus, row.status & 0xff) << ::testing::PrintToString(row.args) << r.err;
    EXPECT_TRUE(has(r.err, row.err)) << r.err;
  }
}

}  // namespace
