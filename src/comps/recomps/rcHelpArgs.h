// The standard help and revision options. hasHelpArg only reads the command line: it reports a
// help request, and for a revision request prints the revision and ends the process (status 0)
// before any other start-up work.
#pragma once

namespace rc {

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
