// Starting programs and collecting their output, the framework beside the system's and libuv's
// ways, in one binary:
//   Spawn/Qv/<raised>       invokePgm of /bin/true until its "child died" callback has run in the
//                           application's loop
//   Spawn/PosixSpawn/<raised>  posix_spawn + waitpid
//   Spawn/Libuv/<raised>    uv_spawn until its exit callback has run in uv_run
//   <raised> 1: the descriptor limit raised to 1,048,576 (or the hard limit when lower).
//   Capture/Qv              executePgm capturing 10 MB of standard output
//   Capture/Popen           popen + fread of the same command
// libuv is a peer for comparison only: without it installed its rows are not built.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "comps/appcomps/acApp.h"

#ifdef QV_HAVE_LIBUV
#include <uv.h>
#endif

extern char** environ;

namespace {

constexpr const char* kCaptureCmd = "head -c 10485760 /dev/zero";
constexpr size_t kCaptureBytes = 10485760;

class BenchApp : public ac::App {
 public:
  BenchApp() : ac::App("childBench", 0, AF_DEFAULT) {}
  void printUsage() const override {}
  void stop() { m_abortRunLoop = true; }
};

BenchApp& app() {
  static BenchApp* theApp = new BenchApp;
  return *theApp;
}

// Sets the descriptor limit for one benchmark and puts it back afterwards.
class FdLimit {
 public:
  explicit FdLimit(bool raise) {
    getrlimit(RLIMIT_NOFILE, &m_saved);
    if (!raise) return;
    rlimit raised = m_saved;
    raised.rlim_cur = raised.rlim_max < 1048576 ? raised.rlim_max : 1048576;
    setrlimit(RLIMIT_NOFILE, &raised);
  }
  ~FdLimit() { setrlimit(RLIMIT_NOFILE, &m_saved); }
  rlim_t current() const {
    rlimit now;
    getrlimit(RLIMIT_NOFILE, &now);
    return now.rlim_cur;
  }

 private:
  rlimit m_saved;
};

void diedCCb(void* obj, int, int status) {
  if (status != 0) abort();
  static_cast<BenchApp*>(obj)->stop();
}

void BM_Spawn_Qv(benchmark::State& state) {
  FdLimit limit(state.range(0) != 0);
  const char* argv[] = {"/bin/true", nullptr};
  for (auto _ : state) {
    app().invokePgm(argv, &app(), diedCCb, -1, -1);
    app().run();
  }
  state.counters["fdLimit"] = static_cast<double>(limit.current());
}
BENCHMARK(BM_Spawn_Qv)->Arg(0)->Arg(1)->UseRealTime();

void BM_Spawn_PosixSpawn(benchmark::State& state) {
  FdLimit limit(state.range(0) != 0);
  char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
  for (auto _ : state) {
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) abort();
    int status;
    if (waitpid(pid, &status, 0) != pid || status != 0) abort();
  }
  state.counters["fdLimit"] = static_cast<double>(limit.current());
}
BENCHMARK(BM_Spawn_PosixSpawn)->Arg(0)->Arg(1)->UseRealTime();

void BM_Capture_Qv(benchmark::State& state) {
  struct Ctx {
    size_t bytes = 0;
    static void doneCCb(void* obj, int, int, const std::string& out, const std::string&) {
      static_cast<Ctx*>(obj)->bytes = out.size();
      app().stop();
    }
  } ctx;
  for (auto _ : state) {
    if (app().executePgm(kCaptureCmd, &ctx, Ctx::doneCCb, true, false) < 0) abort();
    app().run();
    if (ctx.bytes != kCaptureBytes) abort();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCaptureBytes));
}
BENCHMARK(BM_Capture_Qv)->UseRealTime();

void BM_Capture_Popen(benchmark::State& state) {
  for (auto _ : state) {
    FILE* pipe = popen(kCaptureCmd, "r");
    if (pipe == nullptr) abort();
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    if (pclose(pipe) != 0 || out.size() != kCaptureBytes) abort();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCaptureBytes));
}
BENCHMARK(BM_Capture_Popen)->UseRealTime();

// Last: libuv takes SIGCHLD over for the rest of the process.
#ifdef QV_HAVE_LIBUV
void BM_Spawn_Libuv(benchmark::State& state) {
  FdLimit limit(state.range(0) != 0);
  uv_loop_t* loop = uv_default_loop();
  char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
  uv_process_options_t options = {};
  options.file = argv[0];
  options.args = argv;
  options.exit_cb = [](uv_process_t* proc, int64_t status, int) {
    if (status != 0) abort();
    uv_close(reinterpret_cast<uv_handle_t*>(proc), nullptr);
  };
  for (auto _ : state) {
    uv_process_t proc;
    if (uv_spawn(loop, &proc, &options) != 0) abort();
    uv_run(loop, UV_RUN_DEFAULT);
  }
  state.counters["fdLimit"] = static_cast<double>(limit.current());
}
BENCHMARK(BM_Spawn_Libuv)->Arg(0)->Arg(1)->UseRealTime();
#endif

}  // namespace
BENCHMARK_MAIN();
