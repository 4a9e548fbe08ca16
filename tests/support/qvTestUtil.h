// The helpers every test shares (the qvtestsupport library): run a program or a function in a
// child process and collect its output and exit status with a bounded wait; make failed
// assertions throw and catch the error a statement throws; capture what the output object
// prints on standard error; build byte images and check that every cut of a stored form is
// refused; scratch directories and a working-directory guard. Each guard puts back what it
// changed, also when the test fails or throws.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcOutDevice.h"

namespace qvtest {

// Switches abort-on-failure off for its lifetime, so failed assertions throw rc::IntnlErr.
class AssertsThrow {
 public:
  AssertsThrow() { rc::Assert::setAbortOnFail(false); }
  ~AssertsThrow() { rc::Assert::setAbortOnFail(true); }
  AssertsThrow(const AssertsThrow&) = delete;
  AssertsThrow& operator=(const AssertsThrow&) = delete;
};

// Runs fn with failed assertions throwing instead of aborting; returns the failed condition's
// text (followed by ": " and the assertion's message when withMessage and it has one), or "" when
// nothing failed. Anything else fn throws passes through, with abort-on-failure restored.
inline std::string failedAssertion(const std::function<void()>& fn, bool withMessage = false) {
  AssertsThrow guard;
  std::string text;
  try {
    fn();
  } catch (const rc::IntnlErr& err) {
    const rc::VarArgs* args = err.err().args();
    text = args != nullptr ? (*args)[0] : "?";
    if (withMessage && args != nullptr && args->size() > 1) text = text + ": " + (*args)[1];
  }
  return text;
}

// Runs fn and returns the rc::Err it threw; an error with code 0 when it threw none.
inline rc::Err thrownErr(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const rc::Err& err) {
    return err;
  }
  return rc::Err();
}

// What the file holds, "" when it cannot be read.
std::string readFile(const std::string& path);

// The arguments of an error joined by '|', "" when it has none.
std::string argsOf(const rc::Err& err);

// An output device that keeps what it is given, for tests that read what the framework prints.
// It starts with a reference of its own, so that a facility releasing it never deletes it.
class CaptureDevice : public rc::OutDevice {
 public:
  CaptureDevice() : rc::OutDevice(nullptr, 1) {}
  void print(const char* str) override { text += str; }
  void print(RcSeverity, const char* str) override { text += str; }
  std::string text;
};

// Routes the current output object's standard error (and, when asked, standard output) to
// capture devices for its lifetime, then back to the standard streams.
class StdStreamsCapture {
 public:
  explicit StdStreamsCapture(bool stdOutToo = false);
  // Standard error goes to the device given instead, which the caller keeps alive.
  explicit StdStreamsCapture(rc::OutDevice* errDevice);
  ~StdStreamsCapture();
  StdStreamsCapture(const StdStreamsCapture&) = delete;
  StdStreamsCapture& operator=(const StdStreamsCapture&) = delete;

  CaptureDevice err;
  CaptureDevice out;

 private:
  bool m_stdOutToo;
};

// A byte image, as streams write them: built piece by piece in host byte order, 32-bit words
// (the width every stream gives an int or a length), 16- and 64-bit values, strings as streams
// write them (length, bytes, zero padding to 4), raw bytes and the characters of texts.
using Bytes = std::vector<unsigned char>;
class ByteImage {
 public:
  ByteImage() = default;
  ByteImage(std::initializer_list<unsigned char> bytes) : m_bytes(bytes) {}
  ByteImage& words(std::initializer_list<uint32_t> values);
  ByteImage& i16(int value);
  ByteImage& i32(long long value) { return words({static_cast<uint32_t>(value)}); }
  ByteImage& i64(unsigned long long value);
  ByteImage& str(const std::string& chars);
  ByteImage& fill(unsigned char c, size_t n);
  ByteImage& bytes(const Bytes& more);
  ByteImage& text(const std::string& chars);
  operator Bytes() const { return m_bytes; }
  const Bytes& get() const { return m_bytes; }

 private:
  Bytes m_bytes;
};
// The bytes a stream holds, up to its write position.
Bytes bytesOf(const rc::ByteStrm& strm);
// Appends the bytes to the stream, as if another process had sent them.
void writeImage(rc::ByteStrm& strm, const Bytes& bytes);
// The image and the expectation agree byte for byte (else the first differing offset is named).
void expectImage(const Bytes& got, const Bytes& want, const std::string& what = "");
// Gives restore a stream holding each proper prefix of image (from firstCut bytes on) and
// expects every one to be refused with RC_SC_READ_FAILED, never read past or accepted.
void expectEveryCutRefused(const Bytes& image, const std::function<void(rc::ByteStrm&)>& restore,
                           const std::string& what = "", size_t firstCut = 0);

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
// What fn prints on standard output, run in a child process.
std::string printedInChild(const std::function<void()>& fn);

// A forked child (running childFn, which normally execs or ends the process) whose standard
// input, output and error are pipes: the test can wait for a line of its output while it runs,
// feed its input, signal it, then collect the rest. The destructor kills and reaps a child that
// finish() did not.
class LiveProc {
 public:
  explicit LiveProc(const std::function<void()>& childFn);
  ~LiveProc();
  LiveProc(const LiveProc&) = delete;
  LiveProc& operator=(const LiveProc&) = delete;

  pid_t pid() const { return m_pid; }
  // Waits until standard output has a line equal to `line` after the lines already consumed;
  // consumes up to it. False when the output ends or timeoutSec passes first (0: only what
  // has arrived already).
  bool waitForLine(const std::string& line, int timeoutSec = 20);
  // The same for a line that holds text (a log or trace line with its prefix).
  bool waitForLineWith(const std::string& text, int timeoutSec = 20);
  bool writeInput(const char* bytes, size_t n);
  // Closes the child's input, collects the rest of its output and its exit; a child still
  // running after timeoutSec is killed. Returns everything it wrote.
  ProcResult finish(int timeoutSec = 20);

 private:
  bool waitForMatch(const std::function<bool(const std::string&)>& matches, int timeoutSec);

  pid_t m_pid = -1;
  int m_inFd = -1;
  int m_outFd = -1;
  int m_errFd = -1;
  std::string m_out;
  std::string m_err;
  size_t m_consumed = 0;
};

// A pipe both ends of which are closed with the object.
struct Pipe {
  int rd = -1;
  int wr = -1;
  Pipe() {
    int fds[2];
    if (pipe(fds) == 0) {
      rd = fds[0];
      wr = fds[1];
    }
  }
  ~Pipe() {
    close(rd);
    close(wr);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  // One byte in / out; false when it could not be moved.
  bool put() const { return write(wr, "x", 1) == 1; }
  bool drain() const {
    char c;
    return read(rd, &c, 1) == 1;
  }
};

// Changes the working directory through rc::Os (which caches it) and changes it back when it
// goes out of scope.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir);
  ~ScopedCwd();
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::string m_saved;
};

// Polls cond (every millisecond) until it holds or timeoutSec pass; whether it came to hold.
// For states another process reaches that no pipe announces (a process blocked on a lock).
bool eventually(const std::function<bool()>& cond, int timeoutSec = 10);

// The built revision command and the folder of the test applications.
std::string qvrevPath();
// A program of the build's kit (kit/bin/<name>).
std::string kitProgramPath(const std::string& name);
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

// Expects stmt to throw an rc::Err with this code.
#define EXPECT_THROWS_CODE(stmt, expectedCode) \
  EXPECT_EQ(qvtest::thrownErr([&] { stmt; }).code(), (expectedCode)) << #stmt
