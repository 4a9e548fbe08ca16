// Line reading: rc::File::readLine over a 10 MB file of 80-character lines beside std::getline
// on an std::ifstream, the baseline it has to keep up with. Both read the whole file per
// iteration and touch every line's length so that neither can skip work.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "comps/recomps/rcFile.h"

namespace {

constexpr size_t kFileBytes = 10 * 1024 * 1024;
constexpr size_t kLineChars = 80;

// The test file, written once and removed when the program ends.
class LineFile {
 public:
  LineFile() {
    char name[] = "/tmp/rcFileBench.XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return;
    m_path = name;
    FILE* out = fdopen(fd, "w");
    std::string line;
    for (size_t written = 0; written < kFileBytes; written += kLineChars + 1) {
      line.clear();
      for (size_t i = 0; i < kLineChars; ++i) line += static_cast<char>('a' + (written + i) % 26);
      line += '\n';
      fputs(line.c_str(), out);
    }
    fclose(out);
  }
  ~LineFile() {
    if (!m_path.empty()) unlink(m_path.c_str());
  }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

const LineFile& lineFile() {
  static const LineFile file;
  return file;
}

void BM_RcFileReadLine(benchmark::State& state) {
  const std::string& path = lineFile().path();
  size_t chars = 0;
  for (auto _ : state) {
    rc::File file;
    if (!file.open(path.c_str(), "r")) {
      state.SkipWithError("open failed");
      break;
    }
    char buf[256];
    while (file.readLine(buf, sizeof buf) != nullptr) chars += strlen(buf);
    benchmark::DoNotOptimize(chars);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileBytes);
}

void BM_IfstreamGetline(benchmark::State& state) {
  const std::string& path = lineFile().path();
  size_t chars = 0;
  for (auto _ : state) {
    std::ifstream in(path);
    if (!in) {
      state.SkipWithError("open failed");
      break;
    }
    std::string line;
    while (std::getline(in, line)) chars += line.size();
    benchmark::DoNotOptimize(chars);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileBytes);
}

}  // namespace

BENCHMARK(BM_RcFileReadLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IfstreamGetline)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
