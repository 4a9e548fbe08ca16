// The logging facility: a file per program under the log directory
// (<QV_LOG_DIR>/<base>/<base>[.<pid>][.<date>].log), rolled over on the first write of each new
// local day, in which every line starts with a local time stamp; optionally the same lines go to
// syslog and to standard output.
//
// rc::LogCtrls holds the four RcBool controls (file, syslog, standard output, errors to syslog).
// rc::Log (the current log is rc::Log::instance(), null until rcInitLog) owns the controls and
// the devices: an rc::LogDevice while logging to a file and a reference on the syslog singleton
// while logging to syslog. Defaults come from the program class and the terminal, then the
// QV_LOG_* variables, then the command-line options. Log lines carry their severity label and,
// for catalog messages and errors, the "QV-" code. Daemons get start and exit lines.
//
// rc::LogDevice creates its file owner-only (umask 077 while opening). It has no lock unless
// enableLocking() gives it a semaphore shared with the processes forked afterwards; the lock is
// recursive within a process. The clock the devices use (time stamps, rollover, dated names) can
// be replaced by a test. Bad option values throw rc::Err (RC_ERROR) from rcInitLog; a file that
// cannot be opened is reported through rc::Out and the program goes on without it; write errors
// are ignored. Devices and logs are held by reference count. Single-threaded; not for use in
// signal handlers.
#pragma once

#include <sys/time.h>
#include <sys/types.h>

#include <ctime>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memString.h"
#include "comps/recomps/rcBool.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFile.h"
#include "comps/recomps/rcMutex.h"
#include "comps/recomps/rcOutDevice.h"
#include "comps/recomps/rcRefCnt.h"
#include "comps/recomps/rcVarArgs.h"

namespace rc {

class ByteStrm;

// What the log needs from the output facility, which copies error lines into the log and so sits
// above it; that facility installs these when it is part of the program: the device of its
// standard output, where the logToStdOut copy goes, and its switch for copying standard error to
// syslog. Until then the copy goes to the process's standard output device and the switch does
// nothing. Returns the previous routines; a null member restores its default.
struct LogOutRtns {
  OutDevice* (*stdOutDevice)();
  void (*teeStdErrToSysLog)(bool enable);
};
LogOutRtns setLogOutRtns(const LogOutRtns& rtns);

class LogCtrls : public mem::newDelete<mt_anonymous> {
 public:
  enum { BINARY_SIZE = 16 };

  explicit LogCtrls(int initialValue = RC_B_AS_IS);
  LogCtrls(const LogCtrls&) = default;
  LogCtrls& operator=(const LogCtrls&) = default;

  int logToFile() const { return m_logToFile; }
  int logToSysLog() const { return m_logToSysLog; }
  int logToStdOut() const { return m_logToStdOut; }
  int stdErrToSysLog() const { return m_stdErrToSysLog; }
  void setLogToFile(int val) { m_logToFile = val; }
  void setLogToSysLog(int val) { m_logToSysLog = val; }
  void setLogToStdOut(int val) { m_logToStdOut = val; }
  void setStdErrToSysLog(int val) { m_stdErrToSysLog = val; }

  // Each value of src that is not RC_B_AS_IS replaces the own.
  void mergeFrom(const LogCtrls& src);
  // Takes the logging options (and their values) out of argv; false when "-Lh" was among them.
  // A missing value throws RC_SC_NEED_ARG_VAL, a bad one RC_SC_NEED_BOOL; argv is then left
  // as it was.
  bool processArgs(int* argc, char** argv);
  static void printUsage();

  // The four values as 32-bit ints.
  void saveOn(ByteStrm& strm) const;
  // Too few bytes or a value that is no RcBool raise the stream's read error
  // (RC_SC_READ_FAILED) and leave the controls unchanged.
  void restoreFrom(ByteStrm& strm);
  static int binarySize() { return BINARY_SIZE; }

  void dump() const { dumpObj(0, nullptr); }
  void dumpObj(int indentLvl, const char* label) const;

 private:
  int m_logToFile;
  int m_logToSysLog;
  int m_logToStdOut;
  int m_stdErrToSysLog;
};

// Holds a device's lock for a scope when the device has one.
class LogOptionalMutexGuard {
 public:
  explicit LogOptionalMutexGuard(Mutex* mutex) : m_mutex(mutex) {
    if (m_mutex != nullptr) m_mutex->acquire();
  }
  ~LogOptionalMutexGuard() {
    if (m_mutex != nullptr) m_mutex->release();
  }
  LogOptionalMutexGuard(const LogOptionalMutexGuard&) = delete;
  LogOptionalMutexGuard& operator=(const LogOptionalMutexGuard&) = delete;

 private:
  Mutex* m_mutex;
};

class LogDevice : public OutDevice, public mem::newDelete<mt_anonymous> {
 public:
  enum OpenMode { OM_APPEND = 0, OM_TRUNCATE = 1 };
  // "YYYY-MM-DD HH:MM:SS.uuuuuu ZZZ " and room to spare.
  enum { TIME_STAMP_BUF_SIZE = 64 };
  typedef void (*ClockRtn)(struct timeval* now);

  // Not open until open() is called.
  LogDevice(const char* baseFileName, OpenMode openMode, bool fileNameHasPid, bool fileNameHasTime,
            int references);
  ~LogDevice() override;
  LogDevice(const LogDevice&) = delete;
  LogDevice& operator=(const LogDevice&) = delete;

  // "a" or "w".
  static const char* fileMode(OpenMode openMode);

  // Opens today's file, creating missing directories; the file is created owner-only. Failure
  // (RC_SC_OPEN_FAILED with the path and errno) goes into err, or is thrown when err is null.
  bool open(Err* err);
  void close();
  // A text that is not exactly "\n" gets a time stamp when it starts a line. Rolls the file over
  // first when the day changed; when the new file cannot be opened the text is dropped. A text
  // that ends a line is flushed at once, so that the file has it even if the process aborts.
  void print(const char* str) override;
  void print(RcSeverity severity, const char* str) override;
  void flush() override;
  bool isOpen() const override;

  // Gives the device a semaphore lock (if it has none) that the processes forked from now on
  // share, so that their lines and rollovers do not mix.
  void enableLocking();
  void suppressFileRollover(bool suppress) { m_suppressFileRollover = suppress; }
  bool isFileRolloverSuppressed() const { return m_suppressFileRollover; }
  Mutex* mutex() const { return m_mutex; }
  // The local tm_year and tm_yday of now (null pointers are failed assertions).
  static void yearAndDay(int* year, int* dayOfYear);
  // The day is later than the day the file was opened.
  bool isNewFileNeeded() const;
  // Rolls over when needed and rollover is not suppressed; false when there is no file to
  // write to.
  bool prepareForWrite();
  // Closes the file, moves it to its dated name (unless that exists) and opens the current name
  // again; failures are written to standard error. False when no file could be opened.
  bool openNewFile();
  // The path of the current file (forToday) or of the file being rolled over (dated 24 hours
  // back), with the process id when m_fileNameHasPid.
  String logFilePath(bool forToday) const;
  static String logFilePath(const char* baseName, int pid, bool forToday, bool fileNameHasTime);
  // The path of the open file; empty while closed.
  const String& filePath() const { return m_filePath; }

  // The clock of time stamps, rollover and dated names; null restores gettimeofday.
  static void setClockRtn(ClockRtn rtn);
  static void getTimeOfDay(struct timeval* now);
  // "YYYY-MM-DD HH:MM:SS.uuuuuu ZZZ " of a local time (the zone cut or padded to three
  // characters) into buf of TIME_STAMP_BUF_SIZE bytes; returns its length. The part that
  // changes once a second is cached.
  static size_t fmtTimeStamp(char* buf, const struct timeval& now);
  // strftime of the local time (at most 99 characters).
  static String formatTime(time_t when, const char* format);

 private:
  bool isNewFileNeeded(time_t now) const;
  bool prepareForWrite(time_t now);
  // Opens the file of logFilePath(true) with mode; holds no lock.
  bool openFile(const char* mode, Err* err);
  // Writes to stderr the text of err and a newline.
  static void reportToStdErr(const Err& err);

  String m_baseFileName;
  OpenMode m_openMode;
  bool m_fileNameHasPid;
  bool m_fileNameHasTime;
  File m_file;
  Mutex* m_mutex;
  // The process that made the semaphore, the only one that removes it.
  pid_t m_mutexCreator;
  int m_lastOpenYear;
  int m_lastOpenDayOfYear;
  bool m_gotNewLine;
  bool m_suppressFileRollover;
  String m_filePath;
};

class Log : public RefCnt, public mem::newDelete<mt_anonymous> {
 public:
  // Sets the default controls (file on for daemons, standard output on in a terminal, then the
  // QV_LOG_* variables) without applying them: setCtrls or mergeCtrls opens the devices.
  Log(const char* baseFileName, LogDevice::OpenMode openMode, bool fileNameHasPid,
      bool fileNameHasTime, int references);
  ~Log() override;
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  // The current log, or null while the program has none.
  static Log* instance() { return s_log; }
  // Releases the current log and installs log (null allowed), taking a reference on it.
  static void setInstance(Log* log);

  const LogCtrls& ctrls() const { return m_ctrls; }
  // Set or merge, then bring the log file, the syslog device and the standard-error tee in line.
  void setCtrls(const LogCtrls& ctrls);
  void mergeCtrls(const LogCtrls& ctrls);
  void setTeeToSysLog(bool enable);
  // For the log and its device.
  void suppressFileRollover(bool suppress);

  // The device log lines are written to; null while the log writes no file.
  LogDevice* logDevice() const { return m_logDevice; }
  // Releases the current device and takes a reference on device (null allowed).
  void setLogDevice(LogDevice* device);
  SysLogDevice* sysLogDevice() const { return m_sysLogDevice; }

  // "<severity label>: " and str. A str starting with "\n" has that newline routed alone first.
  // A null str is a failed assertion.
  void print(RcSeverity severity, const char* str);
  void print(const char* str) { print(RC_INFO, str); }
  // Catalog messages and errors, always with their codes.
  void print(RcSeverity severity, int strCode, bool addNewLine);
  void print(RcSeverity severity, int strCode, const VarArgs& args, bool addNewLine);
  void print(const Err& err, bool addNewLine);
  void print(const IntnlErr& intnlErr, bool addNewLine);

  // A blank line, then RC_SC_PGM_STARTING with the name, process id and host; also to standard
  // output when that is a terminal.
  void pgmStartMsg(const char* pgmName);
  // RC_SC_PGM_EXITING likewise, without the blank line.
  void pgmExitMsg(const char* pgmName);

 private:
  void pr(RcSeverity severity, const char* str);
  void pr(const char* str);
  // To the output facility's standard-output device, behind the source prefix for a daemon.
  void prStdOut(bool hasSeverity, RcSeverity severity, const char* str);
  void pgmMsg(int strCode, const char* pgmName, bool blankLineFirst);
  void applyCtrls();
  void updateLogFile();
  void updateLogSysLog();
  void updateStdErrSysLog();

  static Log* s_log;

  String m_baseFileName;
  LogDevice::OpenMode m_openMode;
  bool m_fileNameHasPid;
  bool m_fileNameHasTime;
  LogCtrls m_ctrls;
  LogDevice* m_logDevice;
  SysLogDevice* m_sysLogDevice;
  bool m_suppressFileRollover;
};

}  // namespace rc

extern "C" {
// Sets up the program's log once at start-up; see rc::Log. A second call (in a forked child)
// keeps the controls of the current log and does not read argv again. "-Lh" prints the logging
// usage and exits with status 0. Throws rc::Err for a bad option value.
void rcInitLog(int* argc, char** argv, const char* baseFileName, bool fileNameHasPid,
               bool fileNameHasTime);
}
