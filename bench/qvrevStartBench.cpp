// Whole-process cost of the revision command, which other programs run through popen to learn
// the release: qvrev beside a static C program and a dynamic C++ program that print one line,
// and qvrev given a wrong option (a script's typing error pays for one thrown error and its
// usage lines, status 17).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

extern char** environ;

namespace {

void spawnAndWait(benchmark::State& state, const std::string& path, const char* arg = nullptr,
                  int expectedStatus = 0) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(arg), nullptr};
  for (auto _ : state) {
    pid_t pid;
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ) != 0) {
      state.SkipWithError("spawn failed");
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != expectedStatus) {
      state.SkipWithError("child failed");
      break;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
}

void BM_Qvrev(benchmark::State& state) { spawnAndWait(state, QV_BENCH_QVREV); }
void BM_QvrevBadArg(benchmark::State& state) { spawnAndWait(state, QV_BENCH_QVREV, "-x", 17); }
void BM_StaticCHello(benchmark::State& state) {
  spawnAndWait(state, std::string(QV_BENCH_DIR) + "/qvHelloStaticC");
}
void BM_DynamicCxxHello(benchmark::State& state) {
  spawnAndWait(state, std::string(QV_BENCH_DIR) + "/qvHelloDynCxx");
}

}  // namespace

BENCHMARK(BM_StaticCHello)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_Qvrev)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_QvrevBadArg)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_DynamicCxxHello)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK_MAIN();
