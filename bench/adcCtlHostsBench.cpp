// qvctl -H over 8 loopback "hosts" (one sshd listening on 127.0.0.1 to 127.0.0.8, one demo
// daemon), each iteration a whole `qvctl -H h1,...,h8 list`:
//   Hosts8List_Framework   the hosts reached at once (the default, -parallel 8)
//   Hosts8List_Baseline    the same hosts one after the other (-parallel 1)
// Needs OpenSSH's server (Debian openssh-server); without it both rows are skipped.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "comps/appcomps/acCtlChannel.h"
#include "qvSshServers.h"

namespace {

constexpr int kHosts = 8;
const std::string kBin = QV_BENCH_KIT_BIN;

struct Fleet {
  Fleet() {
    if (!servers.ok()) return;
    const pid_t pid = servers.startProgram(0, {kBin + "/qvdemod"});
    const std::string socket =
        ac::CtlChannel::socketPath(servers.runtimeDir(0) + "/qvctl", "qvdemod", pid);
    for (int ms = 0; access(socket.c_str(), F_OK) != 0 && ms < 10000; ms += 10) usleep(10000);
    for (int k = 1; k <= kHosts; ++k) {
      if (k > 1) hosts += ',';
      hosts.append("127.0.0.").append(std::to_string(k)).append(":");
      hosts.append(std::to_string(servers.port(0)));
    }
  }
  static std::vector<std::string> addresses() {
    std::vector<std::string> all;
    for (int k = 1; k <= kHosts; ++k) all.push_back("127.0.0." + std::to_string(k));
    return all;
  }
  qvtest::SshServers servers{{addresses()}};
  std::string hosts;
};

Fleet& fleet() {
  static Fleet instance;
  return instance;
}

// One qvctl run; its exit status.
int runQvctl(const std::vector<std::string>& args, const std::string& env) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::string envCopy = env;
  const pid_t pid = fork();
  if (pid == 0) {
    putenv(envCopy.data());
    if (freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void hostsList(benchmark::State& state, const char* parallel) {
  Fleet& f = fleet();
  if (!f.servers.ok()) return state.SkipWithError(f.servers.whyNot().c_str());
  const std::vector<std::string> args = {kBin + "/qvctl", "-H",     f.hosts,
                                         "-parallel",     parallel, "-remote-qvctl",
                                         kBin + "/qvctl", "list"};
  for (auto _ : state) {
    if (runQvctl(args, f.servers.sshOptsEnv()) != 0) return state.SkipWithError("qvctl failed");
  }
  state.counters["hosts"] = kHosts;
}

void BM_Hosts8List_Framework(benchmark::State& state) { hostsList(state, "8"); }
void BM_Hosts8List_Baseline(benchmark::State& state) { hostsList(state, "1"); }
BENCHMARK(BM_Hosts8List_Framework)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hosts8List_Baseline)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
