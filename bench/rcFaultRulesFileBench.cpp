// Reading a 10 MB fault rules file beside reading the same file with std::ifstream + getline,
// for three shapes of file:
//   DistinctRules  every line a rule of its own with an auto-counter ("fN.c.interval = N");
//   OneRuleAttrs   every line another attribute of one rule ("oneFault.attrN = N");
//   RepeatedLine   the same line over and over.
// Each row also runs the read once in a forked child and reports the child's peak resident size
// (peakMB, getrusage ru_maxrss) and how far it is above that of a child that reads nothing
// (grownMB): the memory the read itself takes.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "comps/recomps/rcFaultRulesFile.h"

namespace {

constexpr long kFileBytes = 10L << 20;

enum Shape { DISTINCT_RULES, ONE_RULE_ATTRS, REPEATED_LINE };

// Writes the file of that shape once per run and returns its name.
const std::string& rulesFile(Shape shape) {
  static std::string names[3];
  std::string& name = names[shape];
  if (!name.empty()) return name;
  name = std::string(QV_BENCH_DIR) + "/rulesFileBench" + std::to_string(shape) + ".txt";
  FILE* out = fopen(name.c_str(), "w");
  if (out == nullptr) abort();
  for (long written = 0, i = 0; written < kFileBytes; ++i) {
    int n = 0;
    switch (shape) {
      case DISTINCT_RULES:
        n = fprintf(out, "faultPoint%06ld.c.interval = %ld   # fire now and then\n", i, 1000 + i);
        break;
      case ONE_RULE_ATTRS: n = fprintf(out, "oneFault.attr%06ld = %ld   # a value\n", i, i); break;
      case REPEATED_LINE: n = fprintf(out, "oneFault.c.interval = 1000   # fire now and then\n");
    }
    written += n;
  }
  fclose(out);
  return name;
}

long readWithGetline(const std::string& name) {
  std::ifstream in(name);
  std::string line;
  long lines = 0;
  while (std::getline(in, line)) ++lines;
  return lines;
}

long readRules(const std::string& name) {
  rc::fault::RulesFile file;
  file.open(name.c_str());
  file.read();
  return file.rules().entries();
}

long readNothing(const std::string& /*name*/) { return 0; }

// The peak resident size, in MB, of a child that reads the file once.
double peakMbOfOneRead(long (*read)(const std::string&), const std::string& name) {
  // Memory that earlier rows freed would otherwise be resident in the child already.
  malloc_trim(0);
  const pid_t pid = fork();
  if (pid == 0) {
    benchmark::DoNotOptimize(read(name));
    _exit(0);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || status != 0) return -1;
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void run(benchmark::State& state, long (*read)(const std::string&)) {
  const std::string& name = rulesFile(static_cast<Shape>(state.range(0)));
  const double peak = peakMbOfOneRead(read, name);
  state.counters["peakMB"] = peak;
  state.counters["grownMB"] = peak - peakMbOfOneRead(readNothing, name);
  for (auto _ : state) benchmark::DoNotOptimize(read(name));
  state.SetBytesProcessed(state.iterations() * kFileBytes);
}

void BM_IfstreamGetline(benchmark::State& state) { run(state, readWithGetline); }
void BM_RulesFileRead(benchmark::State& state) { run(state, readRules); }

}  // namespace

BENCHMARK(BM_IfstreamGetline)
    ->ArgName("shape")
    ->Arg(DISTINCT_RULES)
    ->Arg(ONE_RULE_ATTRS)
    ->Arg(REPEATED_LINE)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RulesFileRead)
    ->ArgName("shape")
    ->Arg(DISTINCT_RULES)
    ->Arg(ONE_RULE_ATTRS)
    ->Arg(REPEATED_LINE)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
