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

// A fresh directory (canonical path, under /tmp), removed with all it holds on destruction.
// Paths given to its members are relative to it; each member returns the full path.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "qvtest");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_path; }
  // The directory and its missing parents.
  std::string mkdirs(const std::string& rel) const;
  // A file with the content and mode given; missing parent directories are created.
  std::string writeFile(const std::string& rel, const std::string& content,
                        unsigned mode = 0644) const;
  // A copy of the file from, with its permission bits.
  std::string copyFile(const std::string& from, const std::string& rel) const;

 private:
  std::string m_path;
};

}  // namespace qvtest
