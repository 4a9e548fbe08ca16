#include "qvTestUtil.h"

#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qvtest {

namespace {

double nowSec() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Forks; the child runs childFn with stdout/stderr on pipes; the parent collects both.
ProcResult runForked(const std::function<void()>& childFn, int timeoutSec) {
  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) abort();
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) abort();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(outPipe[1]);
    close(errPipe[0]);
    close(errPipe[1]);
    childFn();
    fflush(nullptr);
    _exit(0);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  ProcResult result;
  struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  const double deadline = nowSec() + timeoutSec;
  bool killed = false;
  while (open > 0) {
    const int waitMs = static_cast<int>((deadline - nowSec()) * 1000);
    if (waitMs <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (poll(fds, 2, waitMs) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int status = 0;
  if (!killed) {
    // The pipes closed; the child may still be finishing. Bound that wait too.
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (nowSec() > deadline) {
        kill(pid, SIGKILL);
        break;
      }
      usleep(1000);
    }
  }
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
  return result;
}

}  // namespace

ProcResult runProgram(const std::string& path, const std::vector<std::string>& args,
                      const std::vector<std::string>& extraEnv,
                      const std::vector<std::string>& unsetEnv, int timeoutSec) {
  return runForked(
      [&] {
        for (const auto& name : unsetEnv) unsetenv(name.c_str());
        for (const auto& entry : extraEnv) putenv(strdup(entry.c_str()));
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
      },
      timeoutSec);
}

ProcResult runInChild(const std::function<void()>& fn, int timeoutSec) {
  return runForked(fn, timeoutSec);
}

std::string qvrevPath() { return QV_TEST_QVREV; }

std::string kitStringsEnv() { return "QV_STRINGS_DIR=" QV_TEST_KIT_DIR "/sys/strings"; }

std::string testAppPath(const std::string& name) {
  return std::string(QV_TEST_APPS_DIR) + "/" + name;
}

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void mkdirAll(const std::string& dir) {
  for (size_t sep = dir.find('/', 1);; sep = dir.find('/', sep + 1)) {
    const std::string part = dir.substr(0, sep);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      throw std::runtime_error("mkdir " + part + ": " + strerror(errno));
    }
    if (sep == std::string::npos) break;
  }
}

}  // namespace

TempDir::TempDir(const std::string& prefix) {
  std::string tmpl = "/tmp/" + prefix + ".XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  char resolved[PATH_MAX];
  m_path = realpath(tmpl.c_str(), resolved) != nullptr ? resolved : tmpl;
}

TempDir::~TempDir() { nftw(m_path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

std::string TempDir::mkdirs(const std::string& rel) const {
  const std::string dir = m_path + "/" + rel;
  mkdirAll(dir);
  return dir;
}

std::string TempDir::writeFile(const std::string& rel, const std::string& content,
                               unsigned mode) const {
  const std::string file = m_path + "/" + rel;
  mkdirAll(file.substr(0, file.rfind('/')));
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + file);
  }
  chmod(file.c_str(), mode);
  return file;
}

std::string TempDir::copyFile(const std::string& from, const std::string& rel) const {
  std::ifstream in(from, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  struct stat st;
  if (!in || stat(from.c_str(), &st) != 0) throw std::runtime_error("cannot read " + from);
  return writeFile(rel, content.str(), st.st_mode & 07777);
}

}  // namespace qvtest

namespace {
// Unit tests run from the build tree, outside the kit: point the catalog at the kit's strings
// files unless the caller chose a folder.
const bool s_stringsDirSet = setenv("QV_STRINGS_DIR", QV_TEST_KIT_DIR "/sys/strings", 0) == 0;
}  // namespace
