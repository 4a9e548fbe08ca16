// Operating-system services: process identity and start-up hooks, the cached host name and
// working directory, sleeping, time, memory statistics, address parsing, terminal queries, signal
// masks and child reaping, plus the job-interrupt state that decides whether an interrupt is
// honoured at once or held back.
//
// Everything is process-wide and static. init() runs once at start-up; reinit() replaces it in a
// process created by fork (new process id, reseeded random numbers). Host name and working
// directory are read once and cached; changeDir() refreshes the directory. Errors: changeDir
// raises rc::Err; broken preconditions and failing system calls that cannot fail in a sound
// program are internal assertions. Single-threaded; only _errno_exit, getPid and the signal-mask
// functions are meant for a freshly forked child or a signal context.
#pragma once

#include <sys/time.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "comps/recomps/rcRandom.h"

// The appliance's real-time notification signals.
enum QvSigNum {
  QV_MSG_Q_SIGNUM = 40,
  QV_UPDATE_DBG_SIGNUM = 41,
  QV_STATE_CHANGE_SIGNUM = 42,
  QV_AIO_SIGNUM = 43,
  QV_UPDATE_FAULT_SIGNUM = 45
};

namespace rc {

class Err;

class Os {
 public:
  typedef void (*SigHandler)(int);

  struct memUsageRecord {
    uint64_t memTotalKB;
    uint64_t memUsedKB;
    uint64_t memCachedKB;
  };
  struct WinSize {
    int32_t width;
    int32_t height;
  };
  enum { INVOKE_NEWPGRP = 1 };

  // Records the process id and, once per process, installs the framework's terminate handler,
  // which reports an exception that escaped before handing over to the previous handler.
  static void init();
  // In a newly forked process: refreshes the process id and reseeds the random numbers with the
  // time and the new id.
  static void reinit();
  // What the terminate handler runs to report the exception in flight. The output facility
  // installs its report (the program's log and error output); the default writes a line and the
  // error's text to standard error. Returns the previous routine; null restores the default.
  using UnexpectedRtn = void (*)();
  static UnexpectedRtn setUnexpectedRtn(UnexpectedRtn rtn);
  // How changeDir makes a missing directory with its parents (mode 0700), storing a failure in
  // *err. Defined with rc::File (rcFile.cpp), which sits above this layer and does the work.
  static bool makeDirPath(const char* path, Err* err);

  static pid_t getPid();
  // fflush(stdout), remembering the errno of a failure for the report made at exit (by then the
  // stream only knows that it failed, not why). False on failure.
  static bool flushStdOut();
  // The errno of the last failed flushStdOut, 0 when none failed.
  static int stdOutErrno() { return s_stdOutErrno; }
  // Writes all of buf to the descriptor, going on after interruptions and partial writes; gives
  // up silently on any other failure. Safe in a signal handler.
  static void writeAll(int fd, const void* buf, size_t len);
  // Seconds since the epoch.
  static time_t systime();
  static void getTimeOfDay(struct timeval* tv);
  static long random(long limit) { return s_rand.random(limit); }
  static void srandom(unsigned int seed1, unsigned int seed2) { s_rand.srandom(seed1, seed2); }

  static const char* hostName();
  static const char* currentDir();
  // chdir; when that fails and createIfNeeded, creates the directory (all missing parts, mode
  // 0700) and tries again. Raises RC_SC_CHDIR_FAILED with the path and errno.
  static void changeDir(const char* path, bool createIfNeeded);

  // Sleeps the whole time even when signals interrupt it; nothing for ms <= 0.
  static void sleepms(long ms);
  static void sleep(unsigned int secs);

  // Memory totals in kB from /proc/meminfo: 0 on success, -1 when they cannot be read.
  static int getMem(memUsageRecord* record);
  // The same from another file in the meminfo format.
  static int getMem(memUsageRecord* record, const char* meminfoPath);

  // A dotted IPv4 address to its network-order value; address is written only on success.
  static bool ipAddr(const char* text, uint32_t* address);
  // "host:port" → the host text and the port (decimal, 0..65535); without ':' the whole text is
  // the host and port is left alone. False when the port part is not such a number.
  static bool splitIpAddr(const char* text, std::string* address, int* port);
  static uint32_t getPeerIp(int socket);

  static bool isTty(FILE* file);
  static bool isTty(int fd);
  // Columns and rows of the stream's terminal; 0 and 0 when it has none.
  static WinSize getTtySize(FILE* file);

  static bool signalPending(int sigNum);
  // Add the signal to / take it out of the blocked set. Both return true when sigprocmask failed.
  static bool blockSignal(int sigNum);
  static bool unblockSignal(int sigNum);
  // Non-blocking waitpid. Returns true while the child runs. *status: the exit code, the signal
  // that ended (or stopped) it, or -1 when nothing was reaped.
  static bool reapChild(pid_t pid, int* status);
  // Blocking waitpid, repeated on interruption. *status: the exit code or -1; *signal: the signal
  // that ended the child or 0. Returns the raw wait status (-1 when waitpid failed).
  static int waitChild(pid_t pid, int* status, int* signal);
  // For a forked child that cannot go on: waits while /tmp/spin_error exists (so a debugger can
  // be attached), writes errno as 4 bytes to fd, closes it and ends the process with _exit(1).
  // Allocates nothing and uses no stdio, so it also serves a child that shares the parent's
  // memory until it executes its program.
  [[noreturn]] static void _errno_exit(int fd);

  // Child processes (rcOsProc.cpp). Both start the child with an empty signal mask, default
  // dispositions and every descriptor from 3 up except fdToKeep marked close-on-exec, and block
  // the caller on a status pipe until the child has set itself up (forkPgm) or executed its
  // program (invokePgm). Failures throw rc::Err (RC_ERROR) with the child's own errno when it
  // reported one; a child that failed has been reaped before the throw.
  //
  // fork; returns the child's pid in the parent and 0 in the child. The child keeps the debug-
  // and fault-update signal handlers and changes to childDir when given. RC_SC_FORK_FAILED.
  static pid_t forkPgm(int fdToKeep, const char* childDir);
  // Starts argv[0] (searched in PATH) with argv; stdOutFd / stdErrFd / stdInFd (unless -1)
  // become its descriptors 1, 2 and 0; INVOKE_NEWPGRP puts it in a process group of its own.
  // Returns the pid. RC_SC_PIPE_FAILED / RC_SC_FORK_FAILED / RC_SC_EXEC_FAILED, with argv[0].
  static pid_t invokePgm(const char* const* argv, int fdToKeep, const char* childDir, int stdOutFd,
                         int stdErrFd, unsigned flags, int stdInFd = -1);
  // The parent's side of the status pipe: end of file means success; 4 bytes are the child's
  // errno (thrown as errCode with errArg); anything else is RC_SC_READ_FAILED "(pipe)". Closes
  // fd; on failure reaps the child (killing it first when it has not reported).
  static void _read_child_status(pid_t pid, int fd, int errCode, const char* errArg);
  // A raw wait status as text: "Killed (signal 9)", "... (core dumped)", "exit 3", "done",
  // "status <n>". Returns buf. The one-argument form uses a static buffer.
  static const char* decodeExitStatus(char* buf, unsigned len, int status);
  static const char* decodeExitStatus(int status);
  // Whether the system names the signal (1-64); cached per signal.
  static bool validSignal(int sig);

  // Sets a signal's disposition. SIG_DFL and SIG_IGN are installed as they are; any other
  // handler is called with the signal number by one common SA_SIGINFO | SA_RESTART dispatcher.
  // Returns the previous handler (for the dispatcher, the handler it called); SIGKILL is left
  // alone and gives null; a failed sigaction is reported and gives INVALID_HANDLER, as does a
  // previous three-argument handler that is not the dispatcher.
  static SigHandler setSigHandler(int sigNum, SigHandler handler);
  // "SIGTERM/15 (termination)"; a number without a name gives "SIG <n>" in a static buffer that
  // the next such call overwrites.
  static const char* sigName(int sigNum);
  static const SigHandler INVALID_HANDLER;

  static pid_t m_myPid;
  static Random s_rand;
  static int s_stdOutErrno;
};

// Job interrupts: with sigint_enabled an interrupt is honoured at once; otherwise, or inside a
// critical section (critsec_count > 0), a handler outside the framework records it in
// deferred_sig to be processed later.
struct JobIntrState {
  bool sigint_enabled;
  int32_t critsec_count;
  int deferred_sig;
};
extern volatile JobIntrState _s_jobintr_state;

// Stores the setting and returns the previous one; switching it on with a signal deferred and no
// critical section open processes that signal at once.
bool jobintr_enable_immed_sigint(bool enable);
// Ends the process by the deferred signal (default action, unblocked, raised). Returns only when
// no signal is deferred.
void _jobintr_process_interrupt();

}  // namespace rc

extern "C" {
void rcOsInit();
void rcOsReinit();
long rcOsRandom(long limit);
void rcOsSrandom(unsigned int seed1, unsigned int seed2);
}
