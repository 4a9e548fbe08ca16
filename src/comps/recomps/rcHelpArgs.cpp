#include "comps/recomps/rcHelpArgs.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "comps/memcomps/base/memStlAlloc.h"
#include "comps/recomps/rcAssert.h"
#include "comps/recomps/rcUtils.h"
#include "nde/qv/qvrev.h"

namespace rc {

namespace {
[[noreturn]] void printAndExit(const char* text) {
  fputs(text, stdout);
  fputc('\n', stdout);
  exit(0);
}
bool is(const char* arg, const char* option) { return strcasecmp(arg, option) == 0; }
}  // namespace

bool HelpArgs::hasHelpArg(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr || arg[0] == '\0') continue;
    switch (arg[1]) {
      case '-':
        if (is(arg, "--help")) return true;
        if (is(arg, "--version")) printAndExit(qvRevStamp(0));
        break;
      case '?':
        if (is(arg, "-?")) return true;
        break;
      case 'R':
        if (is(arg, "-Rev")) printAndExit(qvRevStamp(1));
        break;
      case 'V':
        if (is(arg, "-V")) printAndExit(qvRevStamp(0));
        break;
      case 'b':
        if (is(arg, "-bld")) printAndExit(qvBldStamp());
        break;
      case 'h':
        if (is(arg, "-h") || is(arg, "-help")) return true;
        break;
      case 'r':
        if (is(arg, "-rev")) printAndExit(qvRevStamp(0));
        break;
      default: break;
    }
  }
  return false;
}

const char* HelpArgs::usageArgs() { return "[-h|-rev]"; }

void HelpArgs::printUsage(int tabW) {
  Utils::printArgUsage("-h or -? or --help   ", tabW, "display this help");
  Utils::printArgUsage("-[rR]ev or -V        ", tabW,
                       "print the software revision of this program");
}

// Utils' usage line names the standard options, so it is defined with them.
void Utils::printUsageSummary(const char* pgmName) {
  printf("Usage: %s %s [<options>]\n", pgmName, HelpArgs::usageArgs());
}

void takeOptions(int* argc, char** argv, const std::function<int(const char*, const char*)>& take) {
  RC_ASSERT(argc);
  const int n = *argc;
  std::vector<char*, mem::stlAlloc<char*, mt_anonymous>> kept;
  kept.reserve(static_cast<size_t>(n > 0 ? n : 0));
  for (int i = 0; i < n;) {
    const int used = argv[i] != nullptr ? take(argv[i], i + 1 < n ? argv[i + 1] : nullptr) : 0;
    if (used == 0) {
      kept.push_back(argv[i++]);
    } else {
      i += used;
    }
  }
  if (static_cast<int>(kept.size()) == n) return;
  for (size_t i = 0; i < kept.size(); ++i) argv[i] = kept[i];
  argv[kept.size()] = nullptr;
  *argc = static_cast<int>(kept.size());
}

}  // namespace rc
