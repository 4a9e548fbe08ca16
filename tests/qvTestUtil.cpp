#include "qvTestUtil.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace qvtest {

namespace {

double nowSec() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

void closeFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

ProcResult runForked(const std::function<void()>& childFn, int timeoutSec) {
  LiveProc proc(childFn);
  return proc.finish(timeoutSec);
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

LiveProc::LiveProc(const std::function<void()>& childFn) {
  int inPipe[2];
  int outPipe[2];
  int errPipe[2];
  if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0) abort();
  fflush(nullptr);
  m_pid = fork();
  if (m_pid < 0) abort();
  if (m_pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
      close(fd);
    }
    childFn();
    fflush(nullptr);
    _exit(0);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  m_inFd = inPipe[1];
  m_outFd = outPipe[0];
  m_errFd = errPipe[0];
}

LiveProc::~LiveProc() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  closeFd(&m_inFd);
  closeFd(&m_outFd);
  closeFd(&m_errFd);
}

bool LiveProc::waitForLine(const std::string& line, int timeoutSec) {
  const double deadline = nowSec() + timeoutSec;
  for (;;) {
    size_t eol;
    while ((eol = m_out.find('\n', m_consumed)) != std::string::npos) {
      const bool found = m_out.compare(m_consumed, eol - m_consumed, line) == 0;
      m_consumed = eol + 1;
      if (found) return true;
    }
    const int waitMs = static_cast<int>((deadline - nowSec()) * 1000);
    if (waitMs <= 0 || m_outFd < 0) return false;
    struct pollfd pfd = {m_outFd, POLLIN, 0};
    if (poll(&pfd, 1, waitMs) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(m_outFd, buf, sizeof buf);
    if (n <= 0) return false;
    m_out.append(buf, static_cast<size_t>(n));
  }
}

bool LiveProc::writeInput(const char* bytes, size_t n) {
  return m_inFd >= 0 && write(m_inFd, bytes, n) == static_cast<ssize_t>(n);
}

ProcResult LiveProc::finish(int timeoutSec) {
  closeFd(&m_inFd);
  struct pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
  std::string* sinks[2] = {&m_out, &m_err};
  int open = 2;
  const double deadline = nowSec() + timeoutSec;
  bool killed = false;
  while (open > 0) {
    const int waitMs = static_cast<int>((deadline - nowSec()) * 1000);
    if (waitMs <= 0) {
      kill(m_pid, SIGKILL);
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
        fds[i].fd = -1;
        --open;
      }
    }
  }
  closeFd(&m_outFd);
  closeFd(&m_errFd);
  int status = 0;
  if (!killed) {
    // The pipes closed; the child may still be finishing. Bound that wait too.
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
      if (nowSec() > deadline) {
        kill(m_pid, SIGKILL);
        break;
      }
      usleep(1000);
    }
  }
  waitpid(m_pid, &status, 0);
  m_pid = -1;
  ProcResult result;
  result.out = m_out;
  result.err = m_err;
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
  return result;
}

std::string qvrevPath() { return QV_TEST_QVREV; }

std::string testAppPath(const std::string& name) { return std::string(QV_TEST_APPS_DIR) + "/" + name; }

}  // namespace qvtest
