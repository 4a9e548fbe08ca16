#include "comps/recomps/rcLog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcHelpArgs.h"
#include "comps/recomps/rcLineTap.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcPgmAttrs.h"
#include "comps/recomps/rcPgmClass.h"
#include "comps/recomps/rcStrDb.h"

namespace rc {

Log* Log::s_log = nullptr;

namespace {

OutDevice* processStdOutDevice() { return StdOutDevice::instance(); }
void noStdErrTee(bool /*enable*/) {}

LogOutRtns s_outRtns = {&processStdOutDevice, &noStdErrTee};

}  // namespace

LogOutRtns setLogOutRtns(const LogOutRtns& rtns) {
  const LogOutRtns prev = s_outRtns;
  s_outRtns.stdOutDevice = rtns.stdOutDevice != nullptr ? rtns.stdOutDevice : &processStdOutDevice;
  s_outRtns.teeStdErrToSysLog =
      rtns.teeStdErrToSysLog != nullptr ? rtns.teeStdErrToSysLog : &noStdErrTee;
  return prev;
}

namespace {

// The local time of one second, kept because a log line needs it and the second rarely changes
// between two lines.
struct LocalSecond {
  bool valid = false;
  time_t sec = 0;
  struct tm tm = {};
  // "YYYY-MM-DD HH:MM:SS." and " ZZZ ".
  char head[40] = "";
  size_t headLen = 0;
  char zone[8] = "";
};

LocalSecond s_localSecond;
LogDevice::ClockRtn s_clockRtn = nullptr;

const LocalSecond& localSecond(time_t sec) {
  LocalSecond& cache = s_localSecond;
  if (cache.valid && cache.sec == sec) return cache;
  struct tm tm;
  if (localtime_r(&sec, &tm) == nullptr) memset(&tm, 0, sizeof tm);
  const int headLen =
      snprintf(cache.head, sizeof cache.head, "%04d-%02d-%02d %02d:%02d:%02d.", tm.tm_year + 1900,
               tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  cache.headLen = headLen > 0 ? static_cast<size_t>(headLen) : 0;
  snprintf(cache.zone, sizeof cache.zone, " %-3.3s ", tm.tm_zone != nullptr ? tm.tm_zone : "");
  cache.tm = tm;
  cache.sec = sec;
  cache.valid = true;
  return cache;
}

// The environment variables of the four controls, in field order.
struct CtrlVar {
  Env::VarType varType;
  void (LogCtrls::*set)(int);
  int (LogCtrls::*get)() const;
  const char* option;
};
constexpr CtrlVar kCtrlVars[] = {
    {Env::LOG_TO_FILE, &LogCtrls::setLogToFile, &LogCtrls::logToFile, "-logToFile"},
    {Env::LOG_TO_SYS_LOG, &LogCtrls::setLogToSysLog, &LogCtrls::logToSysLog, "-logToSysLog"},
    {Env::LOG_TO_STD_OUT, &LogCtrls::setLogToStdOut, &LogCtrls::logToStdOut, "-logToStdOut"},
    {Env::STD_ERR_TO_SYS_LOG, &LogCtrls::setStdErrToSysLog, &LogCtrls::stdErrToSysLog,
     "-stdErrToSysLog"},
};

bool isDaemon() { return PgmClass::isDaemon(Env::pgmClass()); }

// The process-wide umask, 077 for as long as the guard lives.
class OwnerOnlyUmask {
 public:
  OwnerOnlyUmask() : m_saved(umask(077)) {}
  ~OwnerOnlyUmask() { umask(m_saved); }
  OwnerOnlyUmask(const OwnerOnlyUmask&) = delete;
  OwnerOnlyUmask& operator=(const OwnerOnlyUmask&) = delete;

 private:
  mode_t m_saved;
};

String withNewLine(const std::string& text, bool addNewLine) {
  String line(text.c_str(), text.size());
  if (addNewLine) line += '\n';
  return line;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// LogCtrls

LogCtrls::LogCtrls(int initialValue)
    : m_logToFile(initialValue),
      m_logToSysLog(initialValue),
      m_logToStdOut(initialValue),
      m_stdErrToSysLog(initialValue) {}

void LogCtrls::mergeFrom(const LogCtrls& src) {
  for (const CtrlVar& var : kCtrlVars) {
    const int val = (src.*var.get)();
    if (val != RC_B_AS_IS) (this->*var.set)(val);
  }
}

bool LogCtrls::processArgs(int* argc, char** argv) {
  bool helpRequested = false;
  takeOptions(argc, argv, [&](const char* arg, const char* value) -> int {
    if (strcmp(arg, "-Lh") == 0) {
      helpRequested = true;
      return 1;
    }
    for (const CtrlVar& var : kCtrlVars) {
      if (strcmp(arg, var.option) == 0) {
        (this->*var.set)(Bool::needArg(var.option, value));
        return 2;
      }
    }
    return 0;
  });
  return !helpRequested;
}

void LogCtrls::printUsage() {
  const char* pgmName = Env::pgmName();
  printf("Usage: %s [-Lh] [<logging options>]\n",
         pgmName != nullptr && pgmName[0] != '\0' ? pgmName : "<program>");
  printf("Logging Options:\n");
  printf(" -Lh                     show this usage\n");
  printf(" -logToFile <bool>       enable/disable log file (%s)\n",
         Env::envVarName(Env::LOG_TO_FILE));
  printf(" -logToSysLog <bool>     enable/disable logging to syslog (%s)\n",
         Env::envVarName(Env::LOG_TO_SYS_LOG));
  printf(" -logToStdOut <bool>     enable/disable logging to stdout (%s)\n",
         Env::envVarName(Env::LOG_TO_STD_OUT));
  printf(" -stdErrToSysLog <bool>  enable/disable errors to syslog (%s)\n",
         Env::envVarName(Env::STD_ERR_TO_SYS_LOG));
  printf("\n");
  printf("By default: -logToFile is on for daemon processes.\n");
  printf("            -logToStdOut is on for daemons running in a terminal.\n");
  printf("\n");
}

void LogCtrls::saveOn(ByteStrm& strm) const {
  strm << m_logToFile << m_logToSysLog << m_logToStdOut << m_stdErrToSysLog;
}

void LogCtrls::restoreFrom(ByteStrm& strm) {
  static const char* const kRoutine = "recomps/LogCtrls::restoreFrom";
  strm.checkUnread(BINARY_SIZE, kRoutine);
  LogCtrls read(RC_B_AS_IS);
  strm >> read.m_logToFile >> read.m_logToSysLog >> read.m_logToStdOut >> read.m_stdErrToSysLog;
  for (const CtrlVar& var : kCtrlVars) {
    const int val = (read.*var.get)();
    if (val != RC_B_AS_IS && val != RC_B_NO && val != RC_B_YES) ByteStrm::readFailed(kRoutine);
  }
  *this = read;
}

void LogCtrls::dumpObj(int indentLvl, const char* label) const {
  dumpHeader(indentLvl, label, "LogCtrls", this, ":\n");
  dumpLine(indentLvl + 1, "logToFile      = %s\n", Bool::symbol(m_logToFile));
  dumpLine(indentLvl + 1, "logToSysLog    = %s\n", Bool::symbol(m_logToSysLog));
  dumpLine(indentLvl + 1, "logToStdOut    = %s\n", Bool::symbol(m_logToStdOut));
  dumpLine(indentLvl + 1, "stdErrToSysLog = %s\n", Bool::symbol(m_stdErrToSysLog));
}

// ---------------------------------------------------------------------------------------------
// LogDevice: time

void LogDevice::setClockRtn(ClockRtn rtn) {
  s_clockRtn = rtn;
  s_localSecond.valid = false;
}

void LogDevice::getTimeOfDay(struct timeval* now) {
  if (s_clockRtn != nullptr) {
    s_clockRtn(now);
  } else {
    gettimeofday(now, nullptr);
  }
}

size_t LogDevice::fmtTimeStamp(char* buf, const struct timeval& now) {
  const LocalSecond& local = localSecond(now.tv_sec);
  char* p = buf;
  memcpy(p, local.head, local.headLen);
  p += local.headLen;
  unsigned long usec = static_cast<unsigned long>(now.tv_usec);
  if (usec < 1000000) {
    for (int i = 5; i >= 0; --i) {
      p[i] = static_cast<char>('0' + usec % 10);
      usec /= 10;
    }
    p += 6;
  } else {
    p += snprintf(p, 16, "%06lu", usec);
  }
  memcpy(p, local.zone, 6);
  p += 5;
  return static_cast<size_t>(p - buf);
}

String LogDevice::formatTime(time_t when, const char* format) {
  char text[100];
  const struct tm tm = localSecond(when).tm;
  const size_t n = strftime(text, sizeof text, format, &tm);
  return String(text, n);
}

void LogDevice::yearAndDay(int* year, int* dayOfYear) {
  RC_ASSERT(year);
  RC_ASSERT(dayOfYear);
  struct timeval now;
  getTimeOfDay(&now);
  const struct tm& tm = localSecond(now.tv_sec).tm;
  *year = tm.tm_year;
  *dayOfYear = tm.tm_yday;
}

// ---------------------------------------------------------------------------------------------
// LogDevice: file

LogDevice::LogDevice(const char* baseFileName, OpenMode openMode, bool fileNameHasPid,
                     bool fileNameHasTime, int references)
    : OutDevice(nullptr, references),
      m_baseFileName(baseFileName != nullptr ? baseFileName : ""),
      m_openMode(openMode),
      m_fileNameHasPid(fileNameHasPid),
      m_fileNameHasTime(fileNameHasTime),
      m_file(1),
      m_mutex(nullptr),
      m_mutexCreator(0),
      m_lastOpenYear(0),
      m_lastOpenDayOfYear(0),
      m_gotNewLine(true),
      m_suppressFileRollover(false) {}

LogDevice::~LogDevice() {
  m_file.close();
  m_fd = nullptr;
  // Only the process that made the semaphore removes it: a forked child that drops its copy of
  // the device must not pull the lock from under its parent.
  if (m_mutex != nullptr && m_mutexCreator == getpid()) delete m_mutex;
}

const char* LogDevice::fileMode(OpenMode openMode) { return openMode == OM_TRUNCATE ? "w" : "a"; }

String LogDevice::logFilePath(const char* baseName, int pid, bool forToday, bool fileNameHasTime) {
  String path(Env::pathName(Env::LOG_DIR, baseName, baseName).c_str());
  if (pid == 0 && forToday) return path + ".log";
  if (pid != 0) {
    char pidText[16];
    snprintf(pidText, sizeof pidText, ".%d", pid);
    path += pidText;
  }
  struct timeval now;
  getTimeOfDay(&now);
  const time_t when = forToday ? now.tv_sec : now.tv_sec - 24 * 60 * 60;
  path += formatTime(when, fileNameHasTime ? ".%H-%M.%Y-%m-%d.log" : ".%Y-%m-%d.log");
  return path;
}

String LogDevice::logFilePath(bool forToday) const {
  return logFilePath(m_baseFileName.c_str(), m_fileNameHasPid ? static_cast<int>(getpid()) : 0,
                     forToday, m_fileNameHasTime);
}

bool LogDevice::openFile(const char* mode, Err* err) {
  const String path = logFilePath(true);
  bool opened;
  {
    OwnerOnlyUmask ownerOnly;
    opened = m_file.open(path.c_str(), mode, true, err);
  }
  if (!opened) {
    m_fd = nullptr;
    m_filePath.clear();
    return false;
  }
  m_fd = m_file.fd();
  m_filePath = path;
  m_gotNewLine = true;
  yearAndDay(&m_lastOpenYear, &m_lastOpenDayOfYear);
  return true;
}

bool LogDevice::open(Err* err) {
  LogOptionalMutexGuard guard(m_mutex);
  return openFile(fileMode(m_openMode), err);
}

void LogDevice::close() {
  LogOptionalMutexGuard guard(m_mutex);
  m_file.close();
  m_fd = nullptr;
  m_filePath.clear();
}

bool LogDevice::isOpen() const {
  LogOptionalMutexGuard guard(m_mutex);
  return m_fd != nullptr;
}

void LogDevice::flush() {
  LogOptionalMutexGuard guard(m_mutex);
  if (m_fd != nullptr) fflush(m_fd);
}

void LogDevice::enableLocking() {
  if (m_mutex != nullptr) return;
  Mutex* mutex = new Mutex();
  mutex->create();
  m_mutex = mutex;
  m_mutexCreator = getpid();
}

bool LogDevice::isNewFileNeeded() const {
  struct timeval now;
  getTimeOfDay(&now);
  return isNewFileNeeded(now.tv_sec);
}

bool LogDevice::isNewFileNeeded(time_t now) const {
  const struct tm& tm = localSecond(now).tm;
  // A clock set back to an earlier day is no new day.
  return tm.tm_year > m_lastOpenYear ||
         (tm.tm_year == m_lastOpenYear && tm.tm_yday > m_lastOpenDayOfYear);
}

bool LogDevice::prepareForWrite() {
  struct timeval now;
  getTimeOfDay(&now);
  return prepareForWrite(now.tv_sec);
}

bool LogDevice::prepareForWrite(time_t now) {
  if (!m_suppressFileRollover && isNewFileNeeded(now)) return openNewFile();
  return m_fd != nullptr;
}

void LogDevice::reportToStdErr(const Err& err) {
  const String text = withNewLine(Err::format(err, Err::FF_DEFAULT), true);
  StdErrDevice::instance()->print(text.c_str());
  StdErrDevice::instance()->flush();
}

bool LogDevice::openNewFile() {
  LogOptionalMutexGuard guard(m_mutex);
  if (m_file.isOpen()) {
    const String oldPath = m_filePath;
    m_file.close();
    m_fd = nullptr;
    m_filePath.clear();
    const String rolledPath = logFilePath(false);
    Err err;
    if (!File::exists(rolledPath.c_str()) &&
        !File::rename(oldPath.c_str(), rolledPath.c_str(), &err)) {
      reportToStdErr(err);
    }
  }
  // Always appended: when the old file could not be moved away (or another process sharing it
  // already started the new one), truncating would destroy lines.
  Err err;
  if (!openFile(fileMode(OM_APPEND), &err)) {
    reportToStdErr(err);
    return false;
  }
  return true;
}

void LogDevice::print(const char* str) { print(RC_INFO, str); }

void LogDevice::print(RcSeverity /*severity*/, const char* str) {
  RC_ASSERT(str);
  // An empty text writes nothing, not even a lone time stamp.
  const size_t len = strlen(str);
  if (len == 0) return;
  LogOptionalMutexGuard guard(m_mutex);
  struct timeval now;
  getTimeOfDay(&now);
  if (!prepareForWrite(now.tv_sec)) return;
  if (m_gotNewLine && strcmp(str, "\n") != 0) {
    char timeStamp[TIME_STAMP_BUF_SIZE];
    fwrite(timeStamp, 1, fmtTimeStamp(timeStamp, now), m_fd);
  }
  fwrite(str, 1, len, m_fd);
  m_gotNewLine = str[len - 1] == '\n';
  if (m_gotNewLine) fflush(m_fd);
}

// ---------------------------------------------------------------------------------------------
// Log

Log::Log(const char* baseFileName, LogDevice::OpenMode openMode, bool fileNameHasPid,
         bool fileNameHasTime, int references)
    : RefCnt(references),
      m_baseFileName(baseFileName != nullptr && baseFileName[0] != '\0' ? baseFileName
                                                                        : Env::pgmName()),
      m_openMode(openMode),
      m_fileNameHasPid(fileNameHasPid),
      m_fileNameHasTime(fileNameHasTime),
      m_ctrls(RC_B_NO),
      m_logDevice(nullptr),
      m_sysLogDevice(nullptr),
      m_suppressFileRollover(false) {
  if (isDaemon()) m_ctrls.setLogToFile(RC_B_YES);
  if (Os::isTty(1)) m_ctrls.setLogToStdOut(RC_B_YES);
  for (const CtrlVar& var : kCtrlVars) {
    if (Env::envVarExists(var.varType)) {
      (m_ctrls.*var.set)(Env::boolEnvVar(var.varType) ? RC_B_YES : RC_B_NO);
    }
  }
}

Log::~Log() {
  RefCnt_release(m_logDevice);
  RefCnt_release(m_sysLogDevice);
  if (s_log == this) s_log = nullptr;
}

void Log::setInstance(Log* log) {
  if (log != nullptr) log->addReference();
  RefCnt_release(s_log);
  s_log = log;
}

void Log::setLogDevice(LogDevice* device) {
  if (device != nullptr) device->addReference();
  RefCnt_release(m_logDevice);
  m_logDevice = device;
}

void Log::setCtrls(const LogCtrls& ctrls) {
  m_ctrls = ctrls;
  applyCtrls();
}

void Log::mergeCtrls(const LogCtrls& ctrls) {
  m_ctrls.mergeFrom(ctrls);
  applyCtrls();
}

void Log::setTeeToSysLog(bool enable) {
  m_ctrls.setLogToSysLog(enable ? RC_B_YES : RC_B_NO);
  updateLogSysLog();
}

void Log::suppressFileRollover(bool suppress) {
  m_suppressFileRollover = suppress;
  if (m_logDevice != nullptr) m_logDevice->suppressFileRollover(suppress);
}

void Log::applyCtrls() {
  updateLogFile();
  updateLogSysLog();
  updateStdErrSysLog();
}

void Log::updateLogFile() {
  const int val = m_ctrls.logToFile();
  RC_ASSERT(val != RC_B_AS_IS);
  if (val != RC_B_YES) {
    RefCnt_release(m_logDevice);
    return;
  }
  if (m_logDevice != nullptr) return;
  LogDevice* device =
      new LogDevice(m_baseFileName.c_str(), m_openMode, m_fileNameHasPid, m_fileNameHasTime, 1);
  device->suppressFileRollover(m_suppressFileRollover);
  try {
    device->open(nullptr);
  } catch (const Err& err) {
    delete device;
    Err_Print(err);
    return;
  }
  m_logDevice = device;
}

void Log::updateLogSysLog() {
  const int val = m_ctrls.logToSysLog();
  RC_ASSERT(val != RC_B_AS_IS);
  if (val != RC_B_YES) {
    RefCnt_release(m_sysLogDevice);
    return;
  }
  if (m_sysLogDevice != nullptr) return;
  SysLogDevice* device = SysLogDevice::instance();
  if (!device->isOpen()) device->open(Env::pgmName(), m_fileNameHasPid);
  device->addReference();
  m_sysLogDevice = device;
}

void Log::updateStdErrSysLog() {
  const int val = m_ctrls.stdErrToSysLog();
  RC_ASSERT(val != RC_B_AS_IS);
  s_outRtns.teeStdErrToSysLog(val == RC_B_YES);
}

void Log::print(RcSeverity severity, const char* str) {
  RC_ASSERT(str);
  if (str[0] == '\n') {
    pr("\n");
    ++str;
    if (str[0] == '\0') return;
  }
  // "<label>: <str>", on the stack when it fits.
  const char* label = Severity::label(severity);
  const size_t labelLen = strlen(label);
  const size_t strLen = strlen(str);
  char buf[2048];
  if (labelLen + 2 + strLen < sizeof buf) {
    memcpy(buf, label, labelLen);
    memcpy(buf + labelLen, ": ", 2);
    memcpy(buf + labelLen + 2, str, strLen + 1);
    pr(severity, buf);
    return;
  }
  String line(label);
  line += ": ";
  line += str;
  pr(severity, line.c_str());
}

void Log::print(RcSeverity severity, int strCode, bool addNewLine) {
  pr(severity, withNewLine(StrDb::format(severity, strCode, true), addNewLine).c_str());
}

void Log::print(RcSeverity severity, int strCode, const VarArgs& args, bool addNewLine) {
  pr(severity, withNewLine(StrDb::format(severity, strCode, args, true), addNewLine).c_str());
}

void Log::print(const Err& err, bool addNewLine) {
  pr(err.severity(), withNewLine(Err::format(err, Err::FF_SHOW_CODES), addNewLine).c_str());
}

void Log::print(const IntnlErr& intnlErr, bool addNewLine) {
  pr(intnlErr.err().severity(),
     withNewLine(IntnlErr::format(intnlErr, Err::FF_SHOW_CODES), addNewLine).c_str());
}

void Log::pr(RcSeverity severity, const char* str) {
  tapLine(LK_LOG, str);
  if (m_logDevice != nullptr) {
    LogOptionalMutexGuard guard(m_logDevice->mutex());
    m_logDevice->print(severity, str);
    m_logDevice->flush();
  }
  if (m_sysLogDevice != nullptr) m_sysLogDevice->print(severity, str);
  if (m_ctrls.logToStdOut() == RC_B_YES) prStdOut(true, severity, str);
}

void Log::pr(const char* str) {
  // The blank line that sets a program's start apart is not one a follower needs.
  if (str[0] != '\n' || str[1] != '\0') tapLine(LK_LOG, str);
  if (m_logDevice != nullptr) {
    LogOptionalMutexGuard guard(m_logDevice->mutex());
    m_logDevice->print(str);
    m_logDevice->flush();
  }
  if (m_sysLogDevice != nullptr) m_sysLogDevice->print(str);
  if (m_ctrls.logToStdOut() == RC_B_YES) prStdOut(false, RC_NO_SEVERITY, str);
}

void Log::prStdOut(bool hasSeverity, RcSeverity severity, const char* str) {
  OutDevice* device = s_outRtns.stdOutDevice();
  String prefixed;
  if (str[0] != '\n' && isDaemon()) {
    const char* prefix = PgmAttrs::instance()->srcPrefix();
    prefixed = prefix != nullptr ? prefix : "";
    if (prefixed.size() < PgmAttrs::STD_SRC_PREFIX_LEN) {
      prefixed.resize(PgmAttrs::STD_SRC_PREFIX_LEN, ' ');
    }
    prefixed += str;
    str = prefixed.c_str();
  }
  if (hasSeverity) {
    device->print(severity, str);
  } else {
    device->print(str);
  }
  device->flush();
}

void Log::pgmMsg(int strCode, const char* pgmName, bool blankLineFirst) {
  // Start and exit lines also show on a terminal, whatever the controls say.
  struct StdOutRestore {
    LogCtrls& ctrls;
    int saved;
    ~StdOutRestore() { ctrls.setLogToStdOut(saved); }
  } restore{m_ctrls, m_ctrls.logToStdOut()};
  if (Os::isTty(1)) m_ctrls.setLogToStdOut(RC_B_YES);
  if (blankLineFirst) pr("\n");
  print(RC_INFO, strCode, VarArgs() << pgmName << static_cast<int>(Os::getPid()) << Os::hostName(),
        true);
}

void Log::pgmStartMsg(const char* pgmName) { pgmMsg(RC_SC_PGM_STARTING, pgmName, true); }

void Log::pgmExitMsg(const char* pgmName) { pgmMsg(RC_SC_PGM_EXITING, pgmName, false); }

}  // namespace rc

void rcInitLog(int* argc, char** argv, const char* baseFileName, bool fileNameHasPid,
               bool fileNameHasTime) {
  rc::LogCtrls ctrls(RC_B_AS_IS);
  rc::Log* previous = rc::Log::instance();
  if (previous != nullptr) {
    ctrls = previous->ctrls();
  } else if (!ctrls.processArgs(argc, argv)) {
    rc::LogCtrls::printUsage();
    rc::Os::flushStdOut();
    exit(0);
  }
  rc::Log* log =
      new rc::Log(baseFileName, rc::LogDevice::OM_APPEND, fileNameHasPid, fileNameHasTime, 0);
  if (previous != nullptr) {
    log->setCtrls(ctrls);
  } else {
    log->mergeCtrls(ctrls);
  }
  rc::Log::setInstance(log);
  if (fileNameHasPid) log->suppressFileRollover(true);
}
