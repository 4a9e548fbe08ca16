// One log line — time stamp, severity label, text, flush — through rc::Log to its file device,
// beside fprintf + fflush of the same line with a time stamp made the usual way (gettimeofday,
// localtime_r and the format of the stamp). Both files are emptied every 64k lines so that they
// stay small.
#include <benchmark/benchmark.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcLog.h"

namespace {

constexpr const char* kText = "value 12345 of the bench line\n";

// A fresh directory, removed at exit (each benchmark removes what it wrote into it).
std::string benchDir() {
  static char dir[] = "/tmp/qvlogbenchXXXXXX";
  static const bool made = [] {
    if (mkdtemp(dir) == nullptr) abort();
    atexit([] { rmdir(dir); });
    return true;
  }();
  (void)made;
  return dir;
}

void emptyNow(FILE* fp, size_t i) {
  if ((i & 0xFFFF) == 0 && ftruncate(fileno(fp), 0) != 0) abort();
}

void BM_FprintfFflush(benchmark::State& state) {
  const std::string path = benchDir() + "/baseline.log";
  FILE* fp = fopen(path.c_str(), "a");
  size_t i = 0;
  for (auto _ : state) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct tm tm;
    localtime_r(&now.tv_sec, &tm);
    fprintf(fp, "%04d-%02d-%02d %02d:%02d:%02d.%06lu %-3.3s Info: %s", tm.tm_year + 1900,
            tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
            static_cast<unsigned long>(now.tv_usec), tm.tm_zone, kText);
    fflush(fp);
    emptyNow(fp, ++i);
  }
  fclose(fp);
  unlink(path.c_str());
}

void BM_LogLine(benchmark::State& state) {
  setenv("QV_LOG_DIR", benchDir().c_str(), 1);
  rc::Env::clearCache();
  rc::Log log("bench", rc::LogDevice::OM_TRUNCATE, false, false, 1);
  rc::LogCtrls fileOnly(RC_B_NO);
  fileOnly.setLogToFile(RC_B_YES);
  log.setCtrls(fileOnly);
  FILE* fp = log.logDevice()->fd();
  size_t i = 0;
  for (auto _ : state) {
    log.print(RC_INFO, kText);
    emptyNow(fp, ++i);
  }
  const std::string path = log.logDevice()->filePath().c_str();
  log.setCtrls(rc::LogCtrls(RC_B_NO));
  unlink(path.c_str());
  rmdir((benchDir() + "/bench").c_str());
}

}  // namespace

BENCHMARK(BM_FprintfFflush);
BENCHMARK(BM_LogLine);
BENCHMARK_MAIN();
