// The revision command run as a process: standard output, standard error and exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qvTestUtil.h"

namespace {

using qvtest::runProgram;

const char* const kLabel = "Release 7.1.0.0 [Build 35553]\n";
const char* const kStamp = "7.1.0.0-P0-F1-Bld35553\n";
const char* const kBld = "2014-02-06.35553.hds.rel-7.1.cm.35553\n";
const char* const kUsage =
    "Usage: qvrev [-h|-rev] [<options>]\n"
    "Options:\n"
    " -h or -? or --help   display this help\n"
    " -[rR]ev or -V        print the software revision of this program\n"
    "\n"
    " -dirSuffix     display directory suffix form\n"
    " -shortLabel    display a shorter version of the full form\n"
    " -buildType     display the type of build (dbg or opt)\n"
    "\n";

qvtest::ProcResult qvrev(const std::vector<std::string>& args) {
  return runProgram(qvtest::qvrevPath(), args);
}

}  // namespace

TEST(RevApp, PrintsEachForm) {
  const struct {
    std::vector<std::string> args;
    const char* out;
  } rows[] = {
      {{}, kLabel},
      {{"-shortLabel"}, "7.1.0.0\n"},
      {{"-SHORTLABEL"}, "7.1.0.0\n"},
      {{"-sHoRtLaBeL"}, "7.1.0.0\n"},
      {{"-dirSuffix"}, "7.1.0.0\n"},
      {{"-buildType"}, "opt\n"},
      {{"-BuildType"}, "opt\n"},
      {{"-shortLabel", "-buildType"}, "opt\n"},
      {{"-buildType", "-shortLabel"}, "7.1.0.0\n"},
      {{"-shortLabel", "-dirSuffix"}, "7.1.0.0\n"},
  };
  for (const auto& row : rows) {
    const auto r = qvrev(row.args);
    EXPECT_EQ(r.out, row.out) << ::testing::PrintToString(row.args);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
  }
}

TEST(RevApp, RevisionOptionsPrintAndExitBeforeInit) {
  const struct {
    std::vector<std::string> args;
    const char* out;
  } rows[] = {
      {{"-rev"}, kStamp},
      {{"-REV"}, kLabel},  // second character 'R': the label request, whatever the rest
      {{"-Rev"}, kLabel},
      {{"-V"}, kStamp},
      {{"--version"}, kStamp},
      {{"--VERSION"}, kStamp},
      {{"-bld"}, kBld},
      {{"-bLD"}, kBld},  // second character exact, the rest ignoring case
      // Revision options end the process before the bad argument is ever seen.
      {{"-bogus", "-rev"}, kStamp},
      {{"-shortLabel", "-bld"}, kBld},
      // The first matching option decides.
      {{"-rev", "-h"}, kStamp},
  };
  for (const auto& row : rows) {
    const auto r = qvrev(row.args);
    EXPECT_EQ(r.out, row.out) << ::testing::PrintToString(row.args);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitStatus, 0);
  }
}

TEST(RevApp, HelpPrintsUsage) {
  for (const char* opt : {"-h", "-help", "-hELP", "-?", "--help", "--HELP"}) {
    const auto r = qvrev({opt});
    EXPECT_EQ(r.out, kUsage) << opt;
    EXPECT_EQ(r.err, "") << opt;
    EXPECT_EQ(r.exitStatus, 0) << opt;
  }
  // Help before a revision option wins, and a later bad argument is never read.
  const auto r = qvrev({"-h", "-rev", "-bogus"});
  EXPECT_EQ(r.out, kUsage);
  EXPECT_EQ(r.exitStatus, 0);
}

TEST(RevApp, NonRequestsAreBadArguments) {
  // The second character is compared exactly: "-v" is no revision request, "-BLD" no build
  // stamp request and "-H" no help request; all are bad arguments.
  for (const char* opt :
       {"-v", "-BLD", "-H", "-HELP", "-x", "shortLabel", "-shortLabelx", "-", "--"}) {
    const auto r = qvrev({opt});
    EXPECT_EQ(r.exitStatus, 17) << opt;
    EXPECT_EQ(r.out, "Usage: qvrev [-h|-rev] [<options>]\n") << opt;
    EXPECT_EQ(r.err.rfind(
                  std::string("Error: command line arg '") + opt + "' is unknown or invalid.\n", 0),
              0u)
        << r.err;
  }
}

TEST(RevApp, BadArgumentAfterAValidOne) {
  const auto r = qvrev({"-dirSuffix", "extra"});
  EXPECT_EQ(r.exitStatus, 17);
  EXPECT_EQ(r.out, "Usage: qvrev [-h|-rev] [<options>]\n");
  EXPECT_EQ(r.err,
            "Error: command line arg 'extra' is unknown or invalid.\n"
            "try 'qvrev -h' for more information.\n");
}

TEST(RevApp, HintWithoutStringsFiles) {
  // Without strings files the hint's code has no text: the open failure is reported and the
  // catalog's answer stands in for the hint.
  const auto r = runProgram(qvtest::qvrevPath(), {"-x"}, {"QV_STRINGS_DIR=/nonexistent/strings"});
  EXPECT_EQ(r.exitStatus, 17);
  EXPECT_EQ(r.err,
            "Error: command line arg '-x' is unknown or invalid.\n"
            "Error: unable to open '/nonexistent/strings/rcStrings.C.txt' - No such file or "
            "directory.\n"
            "<rc::StrVec index too big>.\n");
}

TEST(RevApp, StringsFileProblemsAreLoggedNotShown) {
  // A copy of the kit's strings file with a line the reader cannot hold before the hint's code
  // and a malformed line at the end: both are logged, standard error keeps its two lines.
  qvtest::TempDir tmp("revstrings");
  std::ifstream in(QV_TEST_KIT_DIR "/sys/strings/rcStrings.C.txt");
  const std::string kit((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string path =
      tmp.writeFile("rcStrings.C.txt", std::string(10000, '#') + "\n" + kit + "99x 'bad'\n");
  const auto r = runProgram(qvtest::qvrevPath(), {"-x", "-logToStdOut", "yes"},
                            {"QV_STRINGS_DIR=" + tmp.path()});
  EXPECT_EQ(r.exitStatus, 17);
  EXPECT_EQ(r.err,
            "Error: command line arg '-x' is unknown or invalid.\n"
            "try 'qvrev -h' for more information.\n");
  const std::string lastLine = std::to_string(2 + std::count(kit.begin(), kit.end(), '\n'));
  for (const std::string& what :
       {std::string("1,line longer than 2047 characters, skipped"),
        lastLine + ",line not in format \"<id><white space><quoted message>\""}) {
    EXPECT_NE(r.out.find("Info: Parsing error caught in strings file " + path + " at line number " +
                         what),
              std::string::npos)
        << r.out;
  }
}

TEST(RevApp, HostileArgumentsNeverCrash) {
  const std::string huge(100000, 'q');
  const struct {
    std::string arg;
  } rows[] = {{""}, {huge}, {"-\xff\xfe\x80"}, {"\xc3\xa9t\xc3\xa9"}, {"%s%s%n{1}{2}"}};
  for (const auto& row : rows) {
    const auto r = qvrev({row.arg});
    EXPECT_EQ(r.termSignal, 0);
    EXPECT_EQ(r.exitStatus, 17);
    EXPECT_NE(r.err.find("command line arg '" + row.arg + "' is unknown or invalid"),
              std::string::npos);
  }
}

TEST(RevApp, LostStandardOutputIsAFailure) {
  // Readers of a pipe must not take a lost revision line for success: the write error is
  // reported and becomes the status, and an error status that was already set stays. A closed
  // standard descriptor stays unusable: the signal pipe or a log file opened later never takes
  // its number (else the label lands there, or a large output blocks on the program's own pipe).
  qvtest::TempDir dir("qvrevout");
  std::string rules;
  for (int i = 0; i < 2000; ++i) rules.append("x").append(std::to_string(i)).append(".on = no\n");
  rules = dir.writeFile("rules", rules);
  enum { FULL = 0, OUT = 2, IN_OUT = 3 };  // the closed standard descriptors, as bits
  const struct {
    std::vector<std::string> args;
    int closed;
    int status;
    const char* reason;
  } rows[] = {
      {{}, FULL, 11, "No space left on device"},
      {{"-prEnv"}, FULL, 11, "No space left on device"},
      {{"-h"}, FULL, 11, "No space left on device"},
      {{"-Frf", rules, "-Fpr"}, FULL, 11, "No space left on device"},
      {{}, OUT, 11, "Bad file descriptor"},
      {{"-x"}, FULL, 17, "No space left on device"},
      {{}, IN_OUT, 11, "Bad file descriptor"},
      {{"-Frf", rules, "-Fpr", "-Fv"}, IN_OUT, 11, "Bad file descriptor"},
      {{"-logToFile", "yes"}, OUT, 11, "Bad file descriptor"},
  };
  const std::string path = qvtest::qvrevPath();
  const std::string logDir = dir.mkdirs("log");
  for (const auto& row : rows) {
    const auto r = qvtest::runInChild(
        [&] {
          setenv("QV_LOG_DIR", logDir.c_str(), 1);
          if (row.closed == FULL) dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
          for (int fd = 0; fd < 2; ++fd) {
            if (row.closed & (1 << fd)) close(fd);
          }
          std::vector<char*> argv{const_cast<char*>(path.c_str())};
          for (const std::string& a : row.args) argv.push_back(const_cast<char*>(a.c_str()));
          argv.push_back(nullptr);
          execv(argv[0], argv.data());
          _exit(127);
        },
        10);
    EXPECT_EQ(r.exitStatus, row.status) << row.args.size();
    EXPECT_NE(r.err.find(std::string("Error: unable to write to 'standard output' - ") +
                         row.reason + ".\n"),
              std::string::npos)
        << r.err;
  }
  EXPECT_EQ(qvtest::runProgram("/bin/grep", {"-r", "Release", logDir}).out, "");
}
