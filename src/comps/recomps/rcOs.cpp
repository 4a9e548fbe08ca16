#include "comps/recomps/rcOs.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcHook.h"

namespace rc {

pid_t Os::m_myPid = 0;
int Os::s_stdOutErrno = 0;

bool Os::flushStdOut() {
  if (fflush(stdout) == 0) return true;
  s_stdOutErrno = errno;
  return false;
}
Random Os::s_rand;

volatile JobIntrState _s_jobintr_state = {false, 0, 0};

namespace {

constexpr size_t kHostNameBufSize = 2047;
constexpr const char* kSpinErrorFile = "/tmp/spin_error";

std::terminate_handler s_prevTerminate = nullptr;
bool s_handlersInstalled = false;

char s_hostName[kHostNameBufSize + 1] = "";
std::string s_curDir;

bool changeMask(int how, int sigNum) {
  sigset_t set;
  sigemptyset(&set);
  return sigaddset(&set, sigNum) != 0 || sigprocmask(how, &set, nullptr) != 0;
}

// The code a wait status reports: exit code, terminating or stopping signal; -1 for none.
int decodedStatus(int rawStatus) {
  if (WIFEXITED(rawStatus)) return WEXITSTATUS(rawStatus);
  if (WIFSIGNALED(rawStatus)) return WTERMSIG(rawStatus);
  if (WIFSTOPPED(rawStatus)) return WSTOPSIG(rawStatus);
  return -1;
}

// An exception that nobody caught (or that left a noexcept function), when no facility reports
// it better: the default handler's one line is easily lost and says nothing of an rc::Err.
void reportToStdErr() {
  static const char kHeader[] = "Unexpected exception:\n";
  Os::writeAll(2, kHeader, sizeof kHeader - 1);
  const CaughtExc caught = CaughtExc::classify();
  if (caught.err != nullptr) Err_Print(*caught.err);
  if (caught.intnlErr != nullptr) Err_Print(*caught.intnlErr);
  if (caught.stdEx != nullptr) fprintf(stderr, "%s\n", caught.stdEx->what());
}

Os::UnexpectedRtn s_unexpectedRtn = &reportToStdErr;

[[noreturn]] void rc_os_terminate() {
  if (std::current_exception() != nullptr) {
    try {
      s_unexpectedRtn();
    } catch (...) {
      // Reporting must not stop the process from ending.
    }
  }
  if (s_prevTerminate != nullptr) s_prevTerminate();
  abort();
}

}  // namespace

void Os::init() {
  m_myPid = getpid();
  if (!s_handlersInstalled) {
    s_prevTerminate = std::set_terminate(rc_os_terminate);
    s_handlersInstalled = true;
  }
}

void Os::writeAll(int fd, const void* buf, size_t len) {
  const char* p = static_cast<const char*>(buf);
  while (len > 0) {
    const ssize_t n = write(fd, p, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += n;
    len -= static_cast<size_t>(n);
  }
}

Os::UnexpectedRtn Os::setUnexpectedRtn(UnexpectedRtn rtn) {
  return installHook(s_unexpectedRtn, rtn, &reportToStdErr);
}

void Os::reinit() {
  m_myPid = getpid();
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  s_rand.srandom(static_cast<unsigned int>(tv.tv_sec) ^ static_cast<unsigned int>(tv.tv_usec),
                 static_cast<unsigned int>(m_myPid));
}

pid_t Os::getPid() { return getpid(); }

time_t Os::systime() { return time(nullptr); }

void Os::getTimeOfDay(struct timeval* tv) { gettimeofday(tv, nullptr); }

const char* Os::hostName() {
  if (s_hostName[0] == '\0') {
    if (gethostname(s_hostName, kHostNameBufSize) != 0) {
      s_hostName[0] = '\0';
      RC_ASSERT_MSG(false, "gethostname ()");
    }
    // gethostname need not terminate a name it had to cut.
    s_hostName[kHostNameBufSize] = '\0';
  }
  return s_hostName;
}

const char* Os::currentDir() {
  if (s_curDir.empty()) {
    char* dir = getcwd(nullptr, 0);
    if (dir == nullptr) {
      RC_ASSERT_MSG(false, "getcwd ()");
      return "";
    }
    s_curDir = dir;
    free(dir);
  }
  return s_curDir.c_str();
}

void Os::changeDir(const char* path, bool createIfNeeded) {
  static const char kRoutine[] = "recomps/Os::changeDir";
  RC_ASSERT(path);
  if (chdir(path) != 0) {
    int chdirErrno = errno;
    if (!createIfNeeded)
      Err_ThrowErrno(RC_SC_CHDIR_FAILED, VarArgs() << path, chdirErrno, kRoutine);
    // Report why the directory could not be made, which says more than chdir's ENOENT.
    Err mkdirErr;
    if (!makeDirPath(path, &mkdirErr)) {
      const int code2 = mkdirErr.code2();
      Err_ThrowErrno(RC_SC_CHDIR_FAILED, VarArgs() << path,
                     (code2 & Err::UNIX_ERRNO) ? code2 & ~Err::UNIX_ERRNO : chdirErrno, kRoutine);
    }
    if (chdir(path) != 0) Err_ThrowErrno(RC_SC_CHDIR_FAILED, VarArgs() << path, errno, kRoutine);
  }
  // Relative paths resolved through currentDir() must see the new directory.
  s_curDir.clear();
  trace(DM_RC, DF_DEBUG, "changed working directory to '%s'\n", path);
}

void Os::sleepms(long ms) {
  if (ms <= 0) return;
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(ms / 1000);
  ts.tv_nsec = (ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0) {
    if (errno == EINVAL) {
      RC_ASSERT(ts.tv_sec >= 0);
      RC_ASSERT(ts.tv_nsec >= 0 && ts.tv_nsec < 1000000000L);
      continue;
    }
    RC_ASSERT(errno == EINTR);
  }
}

void Os::sleep(unsigned int secs) { sleepms(static_cast<long>(secs) * 1000); }

int Os::getMem(memUsageRecord* record) { return getMem(record, "/proc/meminfo"); }

int Os::getMem(memUsageRecord* record, const char* meminfoPath) {
  RC_ASSERT(record);
  FILE* file = fopen(meminfoPath, "r");
  if (file == nullptr) return -1;
  // Looked up by name: newer kernels put MemAvailable between MemFree and Buffers.
  struct Field {
    const char* name;
    unsigned long long value;
    bool found;
  } fields[] = {{"MemTotal:", 0, false},
                {"MemFree:", 0, false},
                {"Buffers:", 0, false},
                {"Cached:", 0, false}};
  char line[256];
  while (fgets(line, sizeof line, file) != nullptr) {
    char name[64];
    unsigned long long value;
    if (sscanf(line, "%63s %llu", name, &value) != 2) continue;
    for (Field& field : fields) {
      if (!field.found && strcmp(name, field.name) == 0) {
        field.value = value;
        field.found = true;
      }
    }
  }
  fclose(file);
  for (const Field& field : fields) {
    if (!field.found) return -1;
  }
  record->memTotalKB = fields[0].value;
  record->memUsedKB = fields[0].value - fields[1].value;
  record->memCachedKB = fields[2].value + fields[3].value;
  return 0;
}

bool Os::ipAddr(const char* text, uint32_t* address) {
  RC_ASSERT_MSG(address, "ip");
  struct in_addr addr;
  if (text == nullptr || inet_aton(text, &addr) == 0) return false;
  *address = addr.s_addr;
  return true;
}

bool Os::splitIpAddr(const char* text, std::string* address, int* port) {
  RC_ASSERT(text);
  const char* colon = strrchr(text, ':');
  if (colon == nullptr) {
    if (address != nullptr) *address = text;
    return true;
  }
  RC_ASSERT(port);
  const char* digits = colon + 1;
  long value = 0;
  if (*digits == '\0') return false;
  for (const char* p = digits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > 65535) return false;
  }
  if (address != nullptr) address->assign(text, static_cast<size_t>(colon - text));
  *port = static_cast<int>(value);
  return true;
}

uint32_t Os::getPeerIp(int /*socket*/) { return 0; }

bool Os::isTty(FILE* file) {
  RC_ASSERT(file);
  return isTty(fileno(file));
}

bool Os::isTty(int fd) { return fd >= 0 && isatty(fd) != 0; }

Os::WinSize Os::getTtySize(FILE* file) {
  WinSize size = {0, 0};
  struct winsize ws;
  if (file != nullptr && isTty(file) && ioctl(fileno(file), TIOCGWINSZ, &ws) == 0) {
    size.width = ws.ws_col;
    size.height = ws.ws_row;
  }
  return size;
}

bool Os::signalPending(int sigNum) {
  sigset_t pending;
  return sigpending(&pending) == 0 && sigismember(&pending, sigNum) == 1;
}

bool Os::blockSignal(int sigNum) { return changeMask(SIG_BLOCK, sigNum); }

bool Os::unblockSignal(int sigNum) { return changeMask(SIG_UNBLOCK, sigNum); }

bool Os::reapChild(pid_t pid, int* status) {
  int rawStatus = 0;
  const pid_t reaped = waitpid(pid, &rawStatus, WNOHANG);
  if (status != nullptr) *status = reaped > 0 ? decodedStatus(rawStatus) : -1;
  return reaped == 0;
}

int Os::waitChild(pid_t pid, int* status, int* signal) {
  int rawStatus = 0;
  pid_t reaped;
  do {
    reaped = waitpid(pid, &rawStatus, 0);
  } while (reaped < 0 && errno == EINTR);
  if (reaped < 0) rawStatus = -1;
  const bool exited = reaped > 0 && WIFEXITED(rawStatus);
  const bool killed = reaped > 0 && WIFSIGNALED(rawStatus);
  if (status != nullptr) *status = exited ? WEXITSTATUS(rawStatus) : -1;
  if (signal != nullptr) *signal = killed ? WTERMSIG(rawStatus) : 0;
  return rawStatus;
}

void Os::_errno_exit(int fd) {
  const int32_t savedErrno = errno;
  struct stat st;
  while (stat(kSpinErrorFile, &st) == 0) {
    // Straight to the descriptor: the child may share the parent's stdio buffers.
    char line[128];
    const int len = snprintf(line, sizeof line, "process %d waiting on file: %s ...\n",
                             static_cast<int>(getpid()), kSpinErrorFile);
    if (len > 0) writeAll(1, line, static_cast<size_t>(len) < sizeof line ? len : sizeof line - 1);
    sleep(5);
  }
  Os::writeAll(fd, &savedErrno, sizeof savedErrno);
  // Linux releases the descriptor even when close reports EINTR, so it is not retried.
  close(fd);
  _exit(1);
}

bool jobintr_enable_immed_sigint(bool enable) {
  const bool previous = _s_jobintr_state.sigint_enabled;
  if (enable && !previous && _s_jobintr_state.deferred_sig != 0 &&
      _s_jobintr_state.critsec_count == 0) {
    _jobintr_process_interrupt();
  }
  _s_jobintr_state.sigint_enabled = enable;
  return previous;
}

void _jobintr_process_interrupt() {
  const int sigNum = _s_jobintr_state.deferred_sig;
  // Without a deferred signal there is nothing to end the process with; pausing would hang it.
  if (sigNum == 0) return;
  _s_jobintr_state.sigint_enabled = false;
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(sigNum, &action, nullptr);
  changeMask(SIG_UNBLOCK, sigNum);
  raise(sigNum);
  for (;;) pause();
}

}  // namespace rc

void rcOsInit() { rc::Os::init(); }
void rcOsReinit() { rc::Os::reinit(); }
long rcOsRandom(long limit) { return rc::Os::random(limit); }
void rcOsSrandom(unsigned int seed1, unsigned int seed2) { rc::Os::srandom(seed1, seed2); }
