// ac::App is the base of every program of the framework. It fixes how a program starts, reads its
// arguments, runs and exits, and turns every error that escapes the program into a printed
// message and an exit status.
//
// A program's main calls the static first stage main1() before the application object exists
// (it initialises the runtime facilities from the raw command line and reports a help request),
// constructs its one App subclass, and then either prints the usage (help) or calls main2(),
// which runs init() → run() → exitProgram() and never returns. Exactly one App exists at a time
// (s_app); the process ends only through exitProgram / _do_exit, never by returning from main2.
//
// The base run() is the event loop: descriptor sets registered statically (addToEventLoop with a
// set) or through providers asked at every iteration, and an optional check-for-message routine.
// Signals reach the loop as one-byte records on a pipe whose read end is in the static set;
// handleSignal() then runs in normal context. Only the core signals (SIGBUS, SIGFPE, SIGSEGV),
// a fourth termination signal within 5 seconds, and every signal under AF_NO_SIGNAL_PIPE are
// handled inside the signal handler. The signal pipe and its per-signal pending flags are
// process-wide. Single-threaded.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "comps/appcomps/acAppTimer.h"
#include "comps/appcomps/acChildTbl.h"
#include "comps/appcomps/acFdSetInfo.h"
#include "comps/appcomps/acIpcMsgHndlrTbl.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFdSet.h"

namespace ac {

class CtlServer;
class FollowCall;
class GetDbgCtrlsCall;
class GetFaultCtrlsCall;
class GetFaultPointsCall;
class GetPgmInfoCall;
class GetRevDataCall;
class GetStatusCall;
class IpcMsgHdr;
class IpcMsgProto;
class PingCall;
class PingMsg;
class SetDbgCtrlsCall;
class SetFaultCtrlsCall;

class App {
 public:
  enum AppFlags : unsigned int {
    AF_DEFAULT = 0,
    AF_NO_SIGNAL_PIPE = 1,
    AF_NO_SHM_ATTACH = 2,
    AF_NO_LOCAL_SOCKET = 4,
    AF_FORWARDS_MSGS = 8,
    AF_STANDALONE_HOST_APP = 16,
    AF_unused5 = 32,
    AF_unused6 = 64,
    AF_NO_HOST_APP_INIT = 128,
    AF_HAS_STATE_CTRL = 256,
    AF_NO_SIGNALS = 512,
    AF_NO_SIGNAL_FOR_MSGS = 1024,
    AF_SILENT_MAIN2_ERRORS = 2048,
    AF_HAS_MSG_SIG_ONLY = 4096,
    AF_MAIN2_CATCH_ALL = 8192
  };
  enum { USAGE_TAB_W = 8, SUBCMD_BUF_SIZE = 32 };

  // A null programPath makes the program name the environment facility's program name.
  App(const char* programPath, int pgmType, unsigned int appFlags);
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // Virtual hooks, in slot order.
  virtual ~App();
  // May change an error caught by main2 before it is printed.
  virtual void remapError(rc::Err* err);
  // Repeats runOnce(true) until something sets m_abortRunLoop.
  virtual void run();
  // Runs the exit steps and ends the process. Returns true at once when an exit is already in
  // progress, false when isOkToExit refused (unless forceExit).
  virtual bool exitProgram(int status, bool forceExit = false);
  virtual bool isOkToExit(int status);
  virtual void printUsage() const = 0;
  // "Usage: <program> [-h|-rev] [<options>]"
  virtual void printUsageSummary() const;
  virtual void printStdArgsUsage(int tabW) const;
  virtual void printAppArgsUsage(int tabW) const;
  virtual void processAppArgs(int* argc, char** argv);
  virtual void processArgs(int argc, char** argv);
  virtual void preInitNotify();
  virtual void initApp();
  virtual void postInitNotify();
  virtual void uninitApp();
  virtual void exitCleanup(bool forceExit);
  // Installs the signal handlers the application flags ask for; called from preInitApp.
  virtual void initSignalHandling();
  // Termination signals print AC_SC_TERMINATED (not for SIGTERM to a sub-process) and exit with
  // 237, forcing the exit when not called from the loop; core signals abort.
  virtual void handleSignal(int sigNum, bool fromSignalPipe);
  virtual void preInitApp();
  virtual void postInitApp();
  virtual void appCleanup(bool forceExit);

  // Inter-process messages. A program with a transport overrides the sending operations (the
  // base ones are failed assertions): sendIpcMsg sends msg (deleting it afterwards when
  // deleteMsg); ipcMsgRpc sends a call and registers handler, auto-removed, for its reply
  // (reply type and interaction id); forwardMsg passes on a message meant for another program.
  virtual void sendIpcMsg(IpcMsgHdr* msg, bool deleteMsg);
  // The owning form for new code: sends msg and deletes it.
  void sendIpcMsg(IpcMsgPtr msg) { sendIpcMsg(msg.release(), true); }
  virtual void ipcMsgRpc(IpcMsgHdr* msg, void* handlerObj, IpcMsgHndlrCCb handler);
  // Makes this program the source of msg (when it has a program id).
  virtual void prepareForSend(IpcMsgHdr* msg);
  // The entry point of every received and restored message: handled here when proto's delivery
  // test says so (through the handler table), else forwarded.
  virtual void handleIpcMsgCb(IpcMsgHdr* msg, IpcMsgProto* proto);
  virtual void forwardMsg(IpcMsgHdr* msg, IpcMsgProto* proto);
  // The message transport. openCtlChannel listens on this program's control channel socket
  // (CtlChannel: "<program>.<pid>" in the user's channel directory) and serves it from the event
  // loop; App::init does it by itself when the environment variable QV_CTL_CHANNEL is "1" or
  // "yes". connectIpc makes a connection to another program's channel; sendIpcMsg, ipcMsgRpc
  // and forwardMsg send on the first such connection. Both register the standard messages and
  // their handlers when the program has not. closeCtlChannel closes every connection and
  // removes the socket file; exitProgram calls it. Failures raise the CtlChannel errors, except
  // that a channel that cannot be opened (its directory refused, typically) is one warning
  // (AC_SC_CTL_CHANNEL_OFF) and the program runs without it, unless it asks for mustOpen;
  // openCtlChannel tells whether the channel is open.
  bool openCtlChannel(bool mustOpen = false);
  void connectIpc(const std::string& path);
  void closeCtlChannel();
  CtlServer* ctlServer() const { return m_ctlServer; }

  // The standard calls; each answers through proto.
  virtual void getDbgCtrlsCallCb(GetDbgCtrlsCall* msg, IpcMsgProto* proto);
  virtual void setDbgCtrlsCallCb(SetDbgCtrlsCall* msg, IpcMsgProto* proto);
  virtual void getFaultCtrlsCallCb(GetFaultCtrlsCall* msg, IpcMsgProto* proto);
  virtual void setFaultCtrlsCallCb(SetFaultCtrlsCall* msg, IpcMsgProto* proto);

  static App* instance() { return s_app; }

  const char* programName() const { return m_programName; }
  int pgmType() const { return m_pgmType; }
  int pgmId() const { return m_pgmId; }
  unsigned int appFlags() const { return m_appFlags; }
  bool isAppFlagSet(unsigned int flag) const { return (m_appFlags & flag) != 0; }
  void setAppFlag(unsigned int flag) { m_appFlags |= flag; }
  void clrAppFlag(unsigned int flag) { m_appFlags &= ~flag; }
  void setAppFlags(unsigned int flags) { m_appFlags = flags; }
  void assignPgmId(int pgmId);
  // Makes the bad-argument hint name a sub-command (at most 31 characters kept).
  void setTryHelpSubcmd(const char* subcmd);
  int tryHelpStrCode() const { return m_tryHelpStrCode; }
  const char* tryHelpSubcmd() const { return m_tryHelpSubcmd; }

  // First start-up stage; returns whether a help option was given. Revision options and
  // start-up errors end the process here.
  static bool main1(int* argc, char** argv, int pgmClass, const char* pgmLabel, const char* logName,
                    const char* psDisplayPrefix);
  // Second stage: init, run, exitProgram. Never returns.
  [[noreturn]] void main2(int argc, char** argv);
  // Reads the arguments (a bad one prints the error, the usage summary and the try-help hint
  // and ends the process with the error's code), then runs the initialisation hooks.
  void init(int argc, char** argv);

  // While "/tmp/<program>-dbg" exists, waits (for a debugger to attach), printing every 5 s.
  void debugWait();
  void debugWait(const std::string& dbgFile);
  // The same on "/tmp/spin_error"; called when a core signal is handled.
  void errorWait();

  // Removes "-h" / "-?" (exact) by printing the usage and exiting with status 0.
  void processStdArgs(int* argc, char** argv);

  // Event loop registration. A static set is merged into the loop's static set and removed by
  // subtraction; a provider is asked for its set at every iteration and identified by cbObj, and
  // a provider with an empty set costs the loop nothing more than the call. Timers
  // (AppTimer::getFdSetCCb) join the application's timer queue instead, which asks only the
  // earliest of them. A descriptor of a static set removed while the loop serves others is not
  // called back in that iteration, so its owner may be deleted at once; a provider must itself
  // ignore a readiness collected before it let go of a descriptor.
  void addToEventLoop(const rc::FdSet& fdSet);
  void removeFromEventLoop(const rc::FdSet& fdSet);
  void addToEventLoop(void* cbObj, FdSetInfo::CbRtn cbRtn);
  // An unknown cbObj is reported ("ignoring error") and changes nothing.
  void removeFromEventLoop(void* cbObj);
  // One loop iteration: polls the check-for-message routine, waits (when wait and no message is
  // pending; else at most 1 microsecond) and calls back what is ready or due.
  void runOnce(bool wait);
  // Fills fdSet with what the next iteration waits on: the static set, every provider's set and
  // the earliest timer's (its minTimeout is the nearest timeout).
  void loopFdSet(rc::FdSet* fdSet);
  AppTimerQueue& timerQueue() { return m_timerQueue; }
  rc::FdSet staticFdSet() const { return m_staticFdSet; }
  // The one routine the loop polls before each wait (at most 5 calls in a row while it answers
  // true; the wait then lasts at most 1 microsecond).
  void addCheckForMsgRtn(void* cbObj, bool (*cbRtn)(void*));
  void removeCheckForMsgRtn();

  // The signal pipe: created and registered with the loop / unregistered and closed.
  void initSignalPipe();
  void uninitSignalPipe();
  // Signal handlers: direct (handleSignal inside the handler) and piped (one byte per signal
  // written to the pipe, repeated signals coalesced until the loop reads it).
  static void stdSignalCCb(int sigNum);
  static void pipedSignalCCb(int sigNum);
  static void sendPipedSignal(int sigNum);
  // Handles the fourth SIGHUP/SIGINT/SIGQUIT/SIGTERM of a series within 5 seconds at once.
  static void checkForTermSignal(int sigNum);
  static void signalPipeFdCCb(void* cbObj, rc::FdSet::CbType cbType, int fd, void* data);
  // The pipe's read end, -1 without a pipe: a wait outside the loop that watches it and calls
  // signalPipeFdCCb when it is readable acts on signals as the loop does.
  static int signalPipeFd();
  // Reports the signal on standard error, waits on "/tmp/spin_error", runs the clean-up hooks
  // and aborts.
  [[noreturn]] void handleCoreSignal(int sigNum);

  // Child processes (acAppChildren.cpp). A started child is registered in m_childTbl with its
  // "child died" callback, which runs from the loop once SIGCHLD has come through the signal
  // pipe and the child has been reaped: status is the exit code, or the number of the signal
  // that ended it. Start failures throw rc::Err (RC_SC_PIPE_FAILED, RC_SC_FORK_FAILED,
  // RC_SC_EXEC_FAILED with the program name and the child's errno) and leave no child behind.
  // Children need the signal pipe: under AF_NO_SIGNAL_PIPE starting one is an internal error.
  typedef void (*SigChildCbRtn)(void* cbObj, int pid, int status);
  typedef void (*ExecDoneRtn)(void* cbObj, int pid, int status, const std::string& stdOut,
                              const std::string& stdErr);
  // Returns the child's pid in the parent and 0 in the child.
  int forkPgm(int fdToKeep, void* cbObj, SigChildCbRtn cbRtn);
  // Executes argv[0] (searched in PATH); stdOutFd / stdErrFd unless -1 become the child's
  // standard output and error. Returns the pid.
  int invokePgm(const char** argv, int fdToKeep, void* cbObj, SigChildCbRtn cbRtn, int stdOutFd,
                int stdErrFd);
  int invokePgm(const char** argv, void* cbObj, SigChildCbRtn cbRtn, int stdOutFd, int stdErrFd);
  // Splits at most 4096 characters of cmdLine with buildArgv (blank-separated); an empty line or
  // one of more than 256 arguments is RC_SC_EXEC_FAILED (ENOENT / E2BIG).
  int invokePgm(const char* cmdLine, void* cbObj, SigChildCbRtn cbRtn, int stdOutFd, int stdErrFd);
  // Splits cmdLineBuf in place into argv and returns the count; argv[count] is null. Arguments
  // are separated by `separator` and led by white space; "..." and '...' quote (the other quote
  // character is ordinary inside), a quote right after text starts a new argument, there are no
  // escapes. A quote left open runs to the end of the buffer, so a buffer ending right after an
  // opening quote gives a last argument that is empty. More than maxArgs - 1 arguments is the
  // internal error "argc < (maxArgs-1)".
  static int buildArgv(char* cmdLineBuf, const char** argv, int maxArgs, char separator);
  // Runs cmdLine and calls doneCCb once the child has been reaped, with everything it wrote to
  // the captured outputs (read to end of file; to what is there at that moment when another
  // process still holds a pipe open). Returns the pid, or -1 (logged) when a capture pipe cannot
  // be made; a program that cannot be run throws as invokePgm does.
  int executePgm(const char* cmdLine, void* cbObj, ExecDoneRtn doneCCb, bool captureStdout,
                 bool captureStderr);
  // Sends sig; true when kill succeeded. With preClearSigChildCb the child's end is not
  // reported, but it is still reaped.
  bool killPgm(int pid, int sig, bool preClearSigChildCb);
  void addSigChildCb(int pid, void* cbObj, SigChildCbRtn cbRtn);
  void removeSigChildCb(int pid);
  void invokeSigChildCb(ChildInfo* info);
  // Reaps every registered child that has ended and runs its callback; callbacks may start,
  // kill or forget other children meanwhile.
  void handleSigChild();
  // Creates the child table and routes SIGCHLD through the signal pipe; once per application.
  virtual void initSigChildHandling();
  ChildTbl* childTbl() const { return m_childTbl; }

  // A timer of this application's loop; the caller owns the returned reference.
  AppTimer* newTimer(AppTimer::TimerType timerType, void* cbObj, AppTimer::CbRtn cbRtn,
                     const rc::Timeval& timerValue, bool startTimer, std::string name);

  static std::ostream& printArgUsage(std::ostream& os, const char* arg, int tabW,
                                     const char* description);

  // Value readers for option values; each throws rc::Err (RC_ERROR): AC_SC_NEED_ARG_VAL naming
  // argTxt when argVal is null, AC_SC_NEED_INT / AC_SC_NEED_FLOAT when characters follow the
  // number, AC_SC_OUT_OF_RANGE on overflow.
  static long needIntArg(const char* argVal, const char* argTxt, int strToLBase);
  static int64_t needInt64Arg(const char* argVal, const char* argTxt, int strToLBase);
  static double needFloatArg(const char* argVal, const char* argTxt);
  static std::string needStringArg(const char* argVal, const char* argTxt);

  // True once an exit has started.
  static bool exitInProgress();

  // handleIpcMsgCb on the application cbObj, for a transport that takes a routine and an object.
  static void handleIpcMsgCCb(void* cbObj, IpcMsgHdr* msg, IpcMsgProto* proto);
  // The handler table, created first when absent and allocIfNull.
  IpcMsgHndlrTbl* ipcMsgHndlrTbl(bool allocIfNull = true);
  void addIpcMsgHandler(int msgType, void* handlerObj, IpcMsgHndlrCCb handler);
  void addIpcMsgHandler(int replyType, int interactId, void* handlerObj, IpcMsgHndlrCCb handler,
                        bool autoRemove);
  void removeIpcMsgHandler(int replyType, int interactId);
  // Registers the standard message classes with the message factory.
  static void registerAppIpcMsgs();
  // Registers the handlers below for the standard one-way messages and calls (typed handlers,
  // see IpcMsgHndlrTbl).
  void initAppIpcMsgHandlers();
  // Dispatches the standard messages by type to the same handlers, for a program that
  // registers it itself. An unknown type, or a message whose class is not its type's, is
  // reported as a non-fatal internal error and, for a call, answered with that error;
  // processing goes on.
  static void callCCb(void* cbObj, IpcMsgHdr* msg, IpcMsgProto* proto);
  void pingMsgCb(PingMsg* msg);
  void pingCallCb(PingCall* msg, IpcMsgProto* proto);
  void getRevDataCallCb(GetRevDataCall* msg, IpcMsgProto* proto);
  // This program's class, type and start time (the time its image was loaded).
  void getPgmInfoCallCb(GetPgmInfoCall* msg, IpcMsgProto* proto);
  // What qvctl status shows; gathered from what the program already keeps, at no cost while
  // nobody asks.
  void getStatusCallCb(GetStatusCall* msg, IpcMsgProto* proto);
  // The fault points passed so far, with their counts.
  void getFaultPointsCallCb(GetFaultPointsCall* msg, IpcMsgProto* proto);
  // Makes the connection of the call a follower of the program's output (see AppFollowers).
  void followCallCb(FollowCall* msg, IpcMsgProto* proto);

 protected:
  const char* m_programName;
  int m_pgmType;
  int m_pgmId;
  unsigned int m_appFlags;
  int m_tryHelpStrCode;
  char m_tryHelpSubcmd[SUBCMD_BUF_SIZE];
  bool m_abortRunLoop;
  rc::FdSet m_staticFdSet;
  FdSetInfoVec* m_fdSetInfoVec;
  ChildTbl* m_childTbl;
  rc::FdSet m_signalPipeFdSet;
  void* m_checkForMsgObj;
  bool (*m_checkForMsgRtn)(void*);
  IpcMsgHndlrTbl* m_ipcMsgHndlrTbl;
  CtlServer* m_ctlServer;
  AppTimerQueue m_timerQueue;

  static App* s_app;

 private:
  void runOnce(rc::FdSet* loopSet, bool wait);
  // The set of the iteration being dispatched (null outside one): removals reach it too.
  rc::FdSet* m_dispatchSet = nullptr;
};

// The one place the framework ends the process: a non-zero status whose low eight bits are zero
// becomes 255, so that a failure is never seen as success.
[[noreturn]] void _do_exit(int status);

}  // namespace ac
