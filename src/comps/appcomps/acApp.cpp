#include "comps/appcomps/acApp.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>

#include "comps/appcomps/acPsDisplay.h"
#include "comps/appcomps/acSockUtils.h"
#include "comps/appcomps/dcSQLException.h"
#include "comps/memcomps/base/memHeap.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcFaultApi.h"
#include "comps/recomps/rcFile.h"
#include "comps/recomps/rcHelpArgs.h"
#include "comps/recomps/rcLog.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcPgmAttrs.h"
#include "comps/recomps/rcPgmClass.h"
#include "comps/recomps/rcStrDb.h"
#include "comps/recomps/rcUtils.h"
#include "sysids/siPgmIds.h"

namespace ac {

App* App::s_app = nullptr;

namespace {

bool s_exitInProgress = false;
// The status _do_exit is ending the process with; 0 for every other way out (exit(0) after a
// usage or table request, a return from main).
int s_exitStatus = 0;

// Registered at start-up, so it runs after every later exit handler. Other programs read ours
// through pipes: output that could not be written must not end in status 0. The standard output
// is flushed here, and a failure is reported on standard error and becomes the exit status.
void checkStdOutAtExit() {
  const int flushed = fflush(stdout);
  if (flushed == 0 && !ferror(stdout)) return;
  int savedErrno = flushed != 0 ? errno : rc::Os::stdOutErrno();
  if (savedErrno == 0) savedErrno = EIO;
  rc::Out::instance()->print(
      rc::Err::fromErrno(RC_SC_WRITE_FAILED, rc::VarArgs() << "standard output", savedErrno,
                         "appcomps/App::main1"),
      true);
  // exit() is already running: end here, after the other streams (logs) are written out.
  fflush(nullptr);
  _exit(s_exitStatus != 0 ? s_exitStatus : RC_SC_WRITE_FAILED);
}

// A closed standard descriptor would be taken by the next descriptor opened (the signal pipe, a
// log or debug file), and what the program writes there would land in that file or pipe. Each
// closed one is held by /dev/null opened the other way round, so that using it still fails as it
// would on a closed descriptor (EBADF) and no later descriptor takes its number.
void holdClosedStdFds() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int held = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      dup2(held, fd);
      close(held);
    }
  }
}

// The error type main2's debug lines name for each kind of exception.
const char* errTypeOf(const rc::CaughtExc& caught) {
  static const char* const kNames[] = {"rc::Err", "rc::IntnlErr", "std::exception", "unhandled"};
  return kNames[caught.kind];
}

void printUnexpected(int code, const char* what) {
  rc::Out::instance()->print(rc::Err(RC_ERROR, code, rc::VarArgs() << what, nullptr), true);
}

}  // namespace

void _do_exit(int status) {
  s_exitStatus = (status != 0 && (status & 0xFF) == 0) ? 255 : status;
  exit(s_exitStatus);
}

App::App(const char* programPath, int pgmType, unsigned int appFlags)
    : m_programName(programPath != nullptr ? rc::File::leafName(programPath) : rc::Env::pgmName()),
      m_pgmType(pgmType),
      m_pgmId(0),
      m_appFlags(appFlags),
      m_tryHelpStrCode(RC_SC_TRY_PGM_HELP),
      m_abortRunLoop(false),
      m_fdSetInfoVec(nullptr),
      m_childTbl(nullptr),
      m_checkForMsgObj(nullptr),
      m_checkForMsgRtn(nullptr),
      m_ipcMsgHndlrTbl(nullptr),
      m_ctlServer(nullptr) {
  m_tryHelpSubcmd[0] = '\0';
  RC_ASSERT(s_app == 0);
  s_app = this;
}

App::~App() {
  if (s_app == this) {
    // Children outlive the object; their SIGCHLD must not reach a handler that needs it.
    if (m_childTbl != nullptr) rc::Os::setSigHandler(SIGCHLD, SIG_DFL);
    uninitSignalPipe();
    s_app = nullptr;
  }
  closeCtlChannel();
  delete m_childTbl;
  delete m_fdSetInfoVec;
  delete m_ipcMsgHndlrTbl;
}

void App::remapError(rc::Err* /*err*/) {}

bool App::isOkToExit(int /*status*/) { return true; }

void App::printAppArgsUsage(int /*tabW*/) const {}

void App::processArgs(int argc, char** argv) { processAppArgs(&argc, argv); }

void App::preInitNotify() {}

void App::initApp() {}

void App::postInitNotify() {}

void App::exitCleanup(bool /*forceExit*/) {}

void App::preInitApp() {
  preInitNotify();
  initSignalHandling();
}

void App::postInitApp() {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  postInitNotify();
}

void App::appCleanup(bool /*forceExit*/) {}

void App::assignPgmId(int pgmId) {
  m_pgmId = pgmId;
  mem::setTrackingId(mem::MEM_TRACK_PGMID, static_cast<uint32_t>(pgmId));
}

void App::setTryHelpSubcmd(const char* subcmd) {
  rc::Utils::copyStr(m_tryHelpSubcmd, subcmd, sizeof m_tryHelpSubcmd);
  m_tryHelpStrCode = RC_SC_TRY_SUBCMD_HELP;
}

bool App::exitInProgress() { return s_exitInProgress; }

bool App::main1(int* argc, char** argv, int pgmClass, const char* pgmLabel, const char* logName,
                const char* psDisplayPrefix) {
  holdClosedStdFds();
  int exitCode = 0;
  try {
    const bool isReinit = rc::Os::m_myPid != 0;
    if (isReinit) {
      rc::Os::reinit();
    } else {
      rc::Os::init();
      atexit(checkStdOutAtExit);
    }
    const bool helpRequested = rc::HelpArgs::hasHelpArg(*argc, argv);
    // Only the single-instance daemon keeps one log file; every other program has its own.
    const bool fileNameHasPid = !rc::PgmClass::isSingleDaemon(pgmClass);
    rc::PgmAttrs* pgmAttrs = rc::PgmAttrs::instance();
    if (pgmAttrs->isInitialized()) {
      pgmAttrs->reinit(pgmLabel, logName);
    } else {
      RC_ASSERT(!isReinit);
      pgmAttrs->init(*argc, argv, pgmClass, pgmLabel, logName);
    }
    // Before the environment table reads anything: the display moves the environment.
    if (psDisplayPrefix != nullptr && !isReinit) PsDisplay::init(*argc, argv, psDisplayPrefix);
    rcInitEnv(argc, argv, pgmClass);
    if (rc::PgmClass::isBackgroundProc(pgmClass)) {
      // Daemons and sub-processes run in their log directory, where their core files land too.
      rc::Os::changeDir(rc::Env::pathName(rc::Env::LOG_DIR, rc::PgmAttrs::logName()).c_str(), true);
    }

    rcInitDbg(argc, argv);
    rcInitFaultApi(argc, argv, true);

    if (rc::PgmClass::isBackgroundProc(pgmClass)) rc::Dbg::instance()->setPrSrc(true);
    const char* pgmLogName = rc::PgmAttrs::logName();
    const char* timedLogName = si::PgmIds::pgmIdSymbol(944);
    const bool fileNameHasTime = pgmLogName != nullptr && timedLogName != nullptr &&
                                 strcasecmp(pgmLogName, timedLogName) == 0;
    if (!helpRequested) {
      rcInitLog(argc, argv, pgmLogName, fileNameHasPid, fileNameHasTime);
      if (rc::PgmClass::isDaemon(pgmClass) && !pgmAttrs->isStartMsgLogged()) {
        rc::Log::instance()->pgmStartMsg(pgmAttrs->pgmLabel());
        pgmAttrs->setStartMsgLogged(true);
      }
      RC_TRACE(DM_AC, DF_INIT, "running from working directory: '%s'\n", rc::Os::currentDir());
    }
    return helpRequested;
  } catch (const rc::Err& err) {
    rc::Out::instance()->print(err, true);
    exitCode = err.code();
  }
  _do_exit(exitCode);  // after the handler, as in init
}

void App::init(int argc, char** argv) {
  RC_TRACE(DM_AC, DF_INIT, "initializing (App::init), time = %s ...\n",
           rc::Utils::timeToString(time(nullptr), "%d-%b-%y, %H:%M:%S %Z").c_str());
  if (!rc::Env::isInitialized() && argc != 0) rc::Env::init(&argc, argv, 0);
  SockUtils::loadSocketLib();
  // The exit comes after the handler: the exception object is released first, and nothing
  // reachable from it is left behind for a leak checker.
  bool badArgs = false;
  int badArgsCode = 0;
  try {
    processArgs(argc, argv);
  } catch (const rc::Err& err) {
    rc::Out* out = rc::Out::instance();
    out->print(err, true);
    printUsageSummary();
    rc::Os::flushStdOut();
    rc::VarArgs hintArgs;
    hintArgs << rc::Env::pgmName();
    if (m_tryHelpStrCode != RC_SC_TRY_PGM_HELP) hintArgs << m_tryHelpSubcmd;
    const std::string hint = rc::StrDb::format(m_tryHelpStrCode, hintArgs) + ".\n";
    out->stdErrDevice()->print(hint.c_str());
    badArgs = true;
    badArgsCode = err.code();
  }
  if (badArgs) _do_exit(badArgsCode);
  debugWait();
  preInitApp();
  initApp();
  postInitApp();
  // Read outside the environment table: asking for the channel changes no listing of it.
  const char* ctl = getenv("QV_CTL_CHANNEL");
  if (ctl != nullptr && (strcmp(ctl, "1") == 0 || strcasecmp(ctl, "yes") == 0)) openCtlChannel();
  RC_TRACE(DM_AC, DF_INIT, "initialization (App::init) complete\n");
}

void App::main2(int argc, char** argv) {
  if (!isAppFlagSet(AF_MAIN2_CATCH_ALL)) {
    init(argc, argv);
    run();
    exitProgram(0, false);
    RC_ASSERT(false);
    _do_exit(RC_SC_ASSERT);
  }

  const bool silent = isAppFlagSet(AF_SILENT_MAIN2_ERRORS);
  rc::Out* out = rc::Out::instance();
  int exitCode = 0;
  const char* errType = "unknown";
  try {
    init(argc, argv);
    run();
  } catch (...) {
    const rc::CaughtExc caught = rc::CaughtExc::classify();
    errType = errTypeOf(caught);
    switch (caught.kind) {
      case rc::CaughtExc::RC_ERR:
        remapError(caught.err);
        if (!silent) out->print(*caught.err, true);
        exitCode = caught.err->code();
        break;
      case rc::CaughtExc::INTNL_ERR:
        if (!silent) out->print(*caught.intnlErr, true);
        exitCode = caught.intnlErr->code();
        break;
      case rc::CaughtExc::STD_EXCEPTION:
        // The database client's exception has a code of its own.
        exitCode = dynamic_cast<const dc::pq::SQLException*>(caught.stdEx) != nullptr
                       ? AC_SC_UNEXPECTED_SQL_EX
                       : AC_SC_UNEXPECTED_EX;
        if (!silent) printUnexpected(exitCode, caught.stdEx->what());
        break;
      case rc::CaughtExc::OTHER:
        if (!silent) out->print(RC_FATAL, AC_SC_UNHANDLED_EXCEPTION, true);
        exitCode = AC_SC_UNHANDLED_EXCEPTION;
        break;
    }
  }
  if (silent)
    RC_TRACE(DM_AC, DF_DEBUG, "caught %s error = '%d' in ac::App::main2, exiting silently ...\n",
             errType, exitCode);
  // The exit path itself may throw: such an exception only changes the status, nothing prints.
  auto noteExitPathException = [&exitCode, &errType] {
    const rc::CaughtExc caught = rc::CaughtExc::classify();
    exitCode = caught.code(AC_SC_UNHANDLED_EXCEPTION);
    errType = errTypeOf(caught);
  };
  try {
    exitProgram(exitCode, false);
  } catch (...) {
    noteExitPathException();
  }
  for (;;) {
    RC_TRACE(DM_AC, DF_DEBUG,
             "caught %s error = '%d' in ac::App::main2 thrown from exitProgram, exiting ...\n",
             errType, exitCode);
    try {
      _do_exit(exitCode);
    } catch (...) {
      noteExitPathException();
    }
  }
}

bool App::exitProgram(int status, bool forceExit) {
  RC_TRACE(DM_AC, DF_DEBUG, "exit requested with status = %d (%d)\n", status, status % 256);
  if (s_exitInProgress) return true;
  if (!forceExit && !isOkToExit(status)) {
    RC_TRACE(DM_AC, DF_DEBUG, "exit cancelled, returning\n");
    return false;
  }
  RC_TRACE(DM_AC, DF_DEBUG, "exiting ...\n");
  s_exitInProgress = true;
  rc::Os::setSigHandler(SIGCHLD, SIG_IGN);
  rc::Os::setSigHandler(SIGINT, SIG_IGN);
  rc::fault::Api::instance()->onExit();
  exitCleanup(forceExit);
  appCleanup(forceExit);
  closeCtlChannel();
  if (rc::PgmClass::isDaemon(rc::Env::pgmClass()) && rc::Log::instance() != nullptr) {
    rc::Log::instance()->pgmExitMsg(rc::PgmAttrs::instance()->pgmLabel());
  }
  SockUtils::unloadSocketLib();
  _do_exit(status);
}

void App::debugWait() { debugWait(std::string("/tmp/") + m_programName + "-dbg"); }

void App::debugWait(const std::string& dbgFile) {
  while (rc::File::exists(dbgFile.c_str())) {
    printf("process %d waiting on file: %s ...\n", static_cast<int>(getpid()), dbgFile.c_str());
    fflush(stdout);
    rc::Os::sleep(5);
  }
}

void App::errorWait() {
  const char* path = "/tmp/spin_error";
  while (rc::File::exists(path)) {
    printf("process %s (%d) waiting on file: %s ...\n", m_programName, static_cast<int>(getpid()),
           path);
    fflush(stdout);
    rc::Os::sleep(5);
  }
}

}  // namespace ac
