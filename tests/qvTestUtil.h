// Helpers for tests that cross a process boundary: run a program or a function in a child
// process, collect its standard output, standard error and exit status, with a bounded wait.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qvtest {

struct ProcResult {
  std::string out;
  std::string err;
  int exitStatus = -1;  // the exit status, or -1 when the child did not exit normally
  int termSignal = 0;   // the signal that ended the child, 0 when it exited
};

// Runs path with args (argv[0] is path); extraEnv entries ("NAME=value") are added to the
// environment and unsetEnv names removed. The child is killed after timeoutSec.
ProcResult runProgram(const std::string& path, const std::vector<std::string>& args,
                      const std::vector<std::string>& extraEnv = {},
                      const std::vector<std::string>& unsetEnv = {}, int timeoutSec = 30);

// Runs fn in a forked child whose output is captured; fn normally ends the process itself.
ProcResult runInChild(const std::function<void()>& fn, int timeoutSec = 30);

// The built revision command and the folder of the test applications.
std::string qvrevPath();
std::string testAppPath(const std::string& name);
// "QV_STRINGS_DIR=<the build's kit strings folder>", for programs that do not live in the kit.
std::string kitStringsEnv();

}  // namespace qvtest
