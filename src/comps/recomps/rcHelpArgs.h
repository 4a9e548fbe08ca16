// The standard help and revision options, and the way every facility takes its own options off
// the command line. hasHelpArg only reads the command line: it reports a help request, and for a
// revision request prints the revision and ends the process (status 0) before any other start-up
// work.
#pragma once

#include <functional>

namespace rc {

// Takes the options a facility owns out of the command line. take(arg, next) sees each argument
// and the one after it (null at the end) and answers how many of them it used: 0 (not its
// option), 1 or 2. argv changes only once every argument was seen, so an option that throws
// leaves it as it was; otherwise *argc is lowered by the number used and, when that is not 0,
// the entry after the last kept argument becomes null.
void takeOptions(int* argc, char** argv, const std::function<int(const char*, const char*)>& take);

class HelpArgs {
 public:
  // "-h", "-help", "-?", "--help" → true. "-rev", "-V", "--version" print the revision stamp,
  // "-Rev" the label and "-bld" the build stamp, then exit(0). The second character is tested
  // exactly, the whole argument ignoring case; the first matching argument decides.
  static bool hasHelpArg(int argc, char** argv);
  // "[-h|-rev]"
  static const char* usageArgs();
  // The two standard option lines.
  static void printUsage(int tabW);
};

}  // namespace rc
