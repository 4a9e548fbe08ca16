#include "qvTestUtil.h"

#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcOut.h"

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

std::string printedInChild(const std::function<void()>& fn) {
  return runForked(
             [&] {
               fn();
               fflush(stdout);
               _exit(0);
             },
             30)
      .out;
}

bool eventually(const std::function<bool()>& cond, int timeoutSec) {
  const double deadline = nowSec() + timeoutSec;
  while (!cond()) {
    if (nowSec() > deadline) return false;
    usleep(1000);
  }
  return true;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string argsOf(const rc::Err& err) {
  std::string text;
  for (size_t i = 0; err.args() != nullptr && i < err.args()->size(); ++i) {
    text += std::string(i != 0 ? "|" : "") + (*err.args())[i];
  }
  return text;
}

StdStreamsCapture::StdStreamsCapture(bool stdOutToo) : m_stdOutToo(stdOutToo) {
  rc::Out::instance()->setStdErrDevice(&err);
  if (stdOutToo) rc::Out::instance()->setStdOutDevice(&out);
}

StdStreamsCapture::StdStreamsCapture(rc::OutDevice* errDevice) : m_stdOutToo(false) {
  rc::Out::instance()->setStdErrDevice(errDevice);
}

StdStreamsCapture::~StdStreamsCapture() {
  rc::Out::instance()->setStdErrDevice(nullptr);
  if (m_stdOutToo) rc::Out::instance()->setStdOutDevice(nullptr);
}

ByteImage& ByteImage::words(std::initializer_list<uint32_t> values) {
  for (uint32_t v : values) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&v);
    m_bytes.insert(m_bytes.end(), p, p + sizeof v);
  }
  return *this;
}

ByteImage& ByteImage::i16(int value) {
  const int16_t v = static_cast<int16_t>(value);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(&v);
  m_bytes.insert(m_bytes.end(), p, p + sizeof v);
  return *this;
}

ByteImage& ByteImage::i64(unsigned long long value) {
  const uint64_t v = value;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(&v);
  m_bytes.insert(m_bytes.end(), p, p + sizeof v);
  return *this;
}

ByteImage& ByteImage::str(const std::string& chars) {
  i32(static_cast<long long>(chars.size()));
  text(chars);
  return fill(0, (4 - chars.size() % 4) % 4);
}

ByteImage& ByteImage::fill(unsigned char c, size_t n) {
  m_bytes.resize(m_bytes.size() + n, c);
  return *this;
}

ByteImage& ByteImage::bytes(const Bytes& more) {
  m_bytes.insert(m_bytes.end(), more.begin(), more.end());
  return *this;
}

ByteImage& ByteImage::text(const std::string& chars) {
  m_bytes.insert(m_bytes.end(), chars.begin(), chars.end());
  return *this;
}

Bytes bytesOf(const rc::ByteStrm& strm) {
  return Bytes(strm.buffer(), strm.buffer() + strm.size());
}

void writeImage(rc::ByteStrm& strm, const Bytes& bytes) {
  if (!bytes.empty()) strm.writeBytes(bytes.data(), bytes.size());
}

void expectImage(const Bytes& got, const Bytes& want, const std::string& what) {
  EXPECT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < got.size() && i < want.size(); ++i) {
    if (got[i] != want[i]) {
      ADD_FAILURE() << what << ": first difference at byte " << i << ": "
                    << static_cast<int>(got[i]) << " instead of " << static_cast<int>(want[i]);
      return;
    }
  }
}

void expectEveryCutRefused(const Bytes& image, const std::function<void(rc::ByteStrm&)>& restore,
                           const std::string& what, size_t firstCut) {
  for (size_t cut = firstCut; cut < image.size(); ++cut) {
    rc::ByteStrm part(cut + 1);
    part.writeBytes(image.data(), cut);
    EXPECT_EQ(thrownErr([&] { restore(part); }).code(), RC_SC_READ_FAILED)
        << what << ": cut after " << cut << " of " << image.size() << " bytes";
  }
}

ScopedCwd::ScopedCwd(const std::string& dir) {
  if (char* saved = getcwd(nullptr, 0)) {
    m_saved = saved;
    free(saved);
  }
  rc::Os::changeDir(dir.c_str(), false);
}

ScopedCwd::~ScopedCwd() {
  if (!m_saved.empty()) rc::Os::changeDir(m_saved.c_str(), false);
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
  return waitForMatch([&line](const std::string& got) { return got == line; }, timeoutSec);
}

bool LiveProc::waitForLineWith(const std::string& text, int timeoutSec) {
  return waitForMatch(
      [&text](const std::string& got) { return got.find(text) != std::string::npos; }, timeoutSec);
}

bool LiveProc::waitForMatch(const std::function<bool(const std::string&)>& matches,
                            int timeoutSec) {
  const double deadline = nowSec() + timeoutSec;
  for (;;) {
    size_t eol;
    while ((eol = m_out.find('\n', m_consumed)) != std::string::npos) {
      const bool found = matches(m_out.substr(m_consumed, eol - m_consumed));
      m_consumed = eol + 1;
      if (found) return true;
    }
    const int waitMs = std::max(0, static_cast<int>((deadline - nowSec()) * 1000));
    if (m_outFd < 0) return false;
    struct pollfd pfd = {m_outFd, POLLIN, 0};
    const int ready = poll(&pfd, 1, waitMs);
    if (ready == 0 && waitMs == 0) return false;
    if (ready <= 0) continue;
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

std::string kitProgramPath(const std::string& name) { return QV_TEST_KIT_DIR "/bin/" + name; }

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
  struct stat st;
  if (stat(from.c_str(), &st) != 0) throw std::runtime_error("cannot read " + from);
  return writeFile(rel, readFile(from), st.st_mode & 07777);
}

}  // namespace qvtest
