// ac::App's child processes: starting programs, the table of children and their "child died"
// callbacks, reaping on SIGCHLD, and executePgm's capture of a child's output.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcFd.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcOut.h"

namespace ac {

namespace {

constexpr int kMaxCmdLineChars = 4096;
constexpr int kMaxCmdLineArgs = 256;
// Enough slots for any line of kMaxCmdLineChars, so that a long line is refused with an error
// rather than by buildArgv's internal check.
constexpr int kCmdLineArgSlots = kMaxCmdLineChars / 2 + 2;
constexpr size_t kReadChunk = 65536;

// The bookkeeping of one executePgm call, from the call until its done callback has run.
class DeferredExec : public mem::newDelete<mt_anonymous> {
 public:
  enum { STD_OUT = 0, STD_ERR = 1 };

  DeferredExec(App* app, void* cbObj, App::ExecDoneRtn doneCCb)
      : m_app(app), m_cbObj(cbObj), m_doneCCb(doneCCb), m_fds{-1, -1} {}
  ~DeferredExec() {
    rc::poison(m_app);
    rc::poison(m_cbObj);
  }
  DeferredExec(const DeferredExec&) = delete;
  DeferredExec& operator=(const DeferredExec&) = delete;

  // Takes the read end of a capture pipe and watches it from the loop.
  void watch(int buff, int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_fds[buff] = fd;
    m_fdSet.add(rc::FdSet::FDT_READ, fd, this, readyCCb, reinterpret_cast<void*>(buff));
  }
  void addToLoop() { m_app->addToEventLoop(m_fdSet); }
  // Unregisters, closes and deletes: what is left of a call whose child is gone or never ran.
  void release() {
    for (int buff : {STD_OUT, STD_ERR}) closeFd(buff);
    delete this;
  }

  static void readyCCb(void* obj, rc::FdSet::CbType cbType, int fd, void* userData);
  static void doneCCb(void* obj, int pid, int status);

 private:
  // Reads what the pipe holds now; false once it is at end of file or failed (and closed).
  bool readAvailable(int buff);
  // Takes the descriptor out of the loop before closing it: a pipe at end of file stays
  // readable and would make the loop spin. The loop does not call back a descriptor removed
  // while it serves others, so the object may go right after.
  void closeFd(int buff);

  App* m_app;
  void* m_cbObj;
  App::ExecDoneRtn m_doneCCb;
  rc::FdSet m_fdSet;
  std::string m_buffs[2];
  int m_fds[2];
};

void DeferredExec::readyCCb(void* obj, rc::FdSet::CbType cbType, int fd, void* userData) {
  auto* de = static_cast<DeferredExec*>(obj);
  if (cbType == rc::FdSet::CBT_FD_CLOSE) {
    RC_TRACE(DM_AC, DF_DEBUG, "Cannot read from %d: received EPOLLHUP.\n", fd);
    return;
  }
  if (cbType != rc::FdSet::CBT_FD_READY) return;
  const intptr_t buff = reinterpret_cast<intptr_t>(userData);
  RC_ASSERT_MSG(
      buff >= 0 && buff < static_cast<intptr_t>(sizeof(de->m_buffs) / sizeof(de->m_buffs[0])),
      "buff >= 0 && buff < (sizeof(m_buffs)/sizeof(m_buffs[0]))");
  if (de->m_fds[buff] == fd) de->readAvailable(static_cast<int>(buff));
}

bool DeferredExec::readAvailable(int buff) {
  std::string& text = m_buffs[buff];
  for (;;) {
    const size_t used = text.size();
    text.resize(used + kReadChunk);
    const ssize_t n = read(m_fds[buff], &text[used], kReadChunk);
    text.resize(used + (n > 0 ? static_cast<size_t>(n) : 0));
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n < 0) {
      rc::Out::instance()->printLog("Unable to read from %d : %s\n", m_fds[buff], strerror(errno));
    }
    closeFd(buff);
    return false;
  }
}

void DeferredExec::closeFd(int buff) {
  const int fd = m_fds[buff];
  if (fd < 0) return;
  m_fds[buff] = -1;
  rc::FdSet gone(m_fdSet);
  if (m_fds[1 - buff] >= 0) gone.remove(rc::FdSet::FDT_READ, m_fds[1 - buff]);
  m_app->removeFromEventLoop(gone);
  m_fdSet.remove(rc::FdSet::FDT_READ, fd);
  close(fd);
}

void DeferredExec::doneCCb(void* obj, int pid, int status) {
  RC_ASSERT(obj);
  auto* de = static_cast<DeferredExec*>(obj);
  // The child is gone, so whatever it wrote is in the pipes: read them to end of file (or to
  // what is there now, when a process it started still holds one open).
  for (int buff : {STD_OUT, STD_ERR}) {
    if (de->m_fds[buff] >= 0) de->readAvailable(buff);
  }
  struct Release {
    DeferredExec* de;
    ~Release() { de->release(); }
  } releaseAfter{de};
  de->m_doneCCb(de->m_cbObj, pid, status, de->m_buffs[STD_OUT], de->m_buffs[STD_ERR]);
}

}  // namespace

void App::initSigChildHandling() {
  if (isAppFlagSet(AF_NO_SIGNALS) || m_childTbl != nullptr) return;
  RC_TRACE(DM_SIG, DF_INIT, "initializing sig child handling ...\n");
  const bool useSignalPipe = !isAppFlagSet(AF_NO_SIGNAL_PIPE);
  RC_ASSERT(useSignalPipe);
  // An application that starts children before its signal set-up still hears of their end.
  if (m_signalPipeFdSet.isEmpty()) initSignalPipe();
  m_childTbl = new ChildTbl;
  const rc::Os::SigHandler prevHandler = rc::Os::setSigHandler(SIGCHLD, pipedSignalCCb);
  // An earlier application object of this process leaves its own handler behind.
  RC_ASSERT_MSG(prevHandler == SIG_DFL || prevHandler == pipedSignalCCb, "prevHandler == SIG_DFL");
}

int App::forkPgm(int fdToKeep, void* cbObj, SigChildCbRtn cbRtn) {
  RC_TRACE(DM_AC, DF_DEBUG, "forking program ...\n");
  initSigChildHandling();
  const int pid = rc::Os::forkPgm(fdToKeep, nullptr);
  if (pid != 0) addSigChildCb(pid, cbObj, cbRtn);
  RC_TRACE(DM_AC, DF_DEBUG, "forked, pid = %d\n", pid);
  return pid;
}

int App::invokePgm(const char** argv, int fdToKeep, void* cbObj, SigChildCbRtn cbRtn, int stdOutFd,
                   int stdErrFd) {
  RC_ASSERT(argv && argv[0]);
  RC_TRACE(DM_AC, DF_DEBUG, "invoking program '%s' ...\n", argv[0]);
  initSigChildHandling();
  const int pid = rc::Os::invokePgm(argv, fdToKeep, nullptr, stdOutFd, stdErrFd, 0);
  addSigChildCb(pid, cbObj, cbRtn);
  RC_TRACE(DM_AC, DF_DEBUG, "invoked '%s', pid = %d\n", argv[0], pid);
  return pid;
}

int App::invokePgm(const char** argv, void* cbObj, SigChildCbRtn cbRtn, int stdOutFd,
                   int stdErrFd) {
  return invokePgm(argv, -1, cbObj, cbRtn, stdOutFd, stdErrFd);
}

int App::invokePgm(const char* cmdLine, void* cbObj, SigChildCbRtn cbRtn, int stdOutFd,
                   int stdErrFd) {
  RC_ASSERT(cmdLine);
  char buf[kMaxCmdLineChars + 1];
  strncpy(buf, cmdLine, kMaxCmdLineChars);
  buf[kMaxCmdLineChars] = '\0';
  const char* argv[kCmdLineArgSlots];
  const int argc = buildArgv(buf, argv, kCmdLineArgSlots, ' ');
  if (argc == 0 || argc > kMaxCmdLineArgs) {
    rc::Err_ThrowErrno(RC_SC_EXEC_FAILED, rc::VarArgs() << cmdLine, argc == 0 ? ENOENT : E2BIG,
                       "appcomps/App::invokePgm");
  }
  return invokePgm(argv, -1, cbObj, cbRtn, stdOutFd, stdErrFd);
}

int App::buildArgv(char* cmdLineBuf, const char** argv, int maxArgs, char separator) {
  RC_ASSERT(cmdLineBuf && argv && maxArgs >= 1);
  enum { BETWEEN, PLAIN, QUOTED } state = BETWEEN;
  int argc = 0;
  char quote = '\0';
  auto startArg = [&](char* at) {
    if (!(argc < (maxArgs - 1))) {
      argv[argc] = nullptr;
      rc::Assert_throwAssert("argc < (maxArgs-1)", nullptr, false, __FILE__, __LINE__);
    }
    argv[argc++] = at;
  };
  for (char* p = cmdLineBuf; *p != '\0'; ++p) {
    const char c = *p;
    const bool isQuote = c == '"' || c == '\'';
    switch (state) {
      case BETWEEN:
        if (isQuote) {
          quote = c;
          startArg(p + 1);
          state = QUOTED;
        } else if (!isspace(static_cast<unsigned char>(c))) {
          startArg(p);
          state = PLAIN;
        }
        break;
      case PLAIN:
        if (c == separator) {
          *p = '\0';
          state = BETWEEN;
        } else if (isQuote) {
          *p = '\0';
          quote = c;
          startArg(p + 1);
          state = QUOTED;
        }
        break;
      case QUOTED:
        if (c == quote) {
          *p = '\0';
          state = BETWEEN;
        }
        break;
    }
  }
  argv[argc] = nullptr;
  return argc;
}

int App::executePgm(const char* cmdLine, void* cbObj, ExecDoneRtn doneCCb, bool captureStdout,
                    bool captureStderr) {
  RC_ASSERT(cmdLine && doneCCb);
  // Per output: the read end (the DeferredExec's once watched) and the child's write end, which
  // the parent closes once the child has it.
  rc::Fd rd[2];
  rc::Fd wr[2];
  const bool capture[2] = {captureStdout, captureStderr};
  for (int buff : {0, 1}) {
    if (!capture[buff]) continue;
    int fds[2];
    // Close-on-exec: no other child may hold a write end, or the reader would never see the end.
    if (pipe2(fds, O_CLOEXEC) != 0) {
      rc::Out::instance()->printLog("Unable to create pipe to stdout for '%s' : %s\n", cmdLine,
                                    strerror(errno));
      return -1;
    }
    rd[buff].reset(fds[0]);
    wr[buff].reset(fds[1]);
  }
  auto* de = new DeferredExec(this, cbObj, doneCCb);
  try {
    for (int buff : {0, 1}) {
      if (rd[buff].isOpen()) de->watch(buff, rd[buff].release());
    }
    de->addToLoop();
    return invokePgm(cmdLine, de, DeferredExec::doneCCb, wr[0].get(), wr[1].get());
  } catch (...) {
    de->release();
    throw;
  }
}

bool App::killPgm(int pid, int sig, bool preClearSigChildCb) {
  if (preClearSigChildCb) {
    // The record stays without its callback, so that the child is still reaped.
    ChildInfo* info = m_childTbl != nullptr ? m_childTbl->lookup(pid) : nullptr;
    if (info != nullptr) {
      info->clearCb();
    } else {
      removeSigChildCb(pid);
    }
  }
  RC_TRACE(DM_AC, DF_DEBUG, "sending signal = %d to pid = %d\n", sig, pid);
  return kill(pid, sig) == 0;
}

void App::addSigChildCb(int pid, void* cbObj, SigChildCbRtn cbRtn) {
  initSigChildHandling();
  RC_ASSERT(m_childTbl);
  m_childTbl->insert(pid, cbObj, cbRtn);
}

void App::removeSigChildCb(int pid) {
  if (m_childTbl == nullptr) m_childTbl = new ChildTbl;
  m_childTbl->remove(pid);
}

void App::invokeSigChildCb(ChildInfo* info) {
  RC_ASSERT(m_childTbl);
  RC_ASSERT(info);
  m_childTbl->remove(*info, false);
  struct Release {
    ChildInfo* info;
    ~Release() { rc::RefCnt_release(info); }
  } releaseAfter{info};
  info->invokeCb();
}

void App::handleSigChild() {
  if (m_childTbl == nullptr) return;
  // Pids first: callbacks may start, forget or kill children while we walk.
  std::vector<int, mem::stlAlloc<int>> pids;
  pids.reserve(m_childTbl->size());
  for (const ChildInfo* info : m_childTbl->infos()) pids.push_back(info->pid());
  for (int pid : pids) {
    ChildInfo* info = m_childTbl->lookup(pid);
    if (info == nullptr) {
      // Forgotten by a callback of this walk: reaped, but there is nobody to tell.
      RC_TRACE(DM_SIG, DF_DEBUG, "didn't find childInfo for pid %d, reaping anyway\n", pid);
    }
    int status = -1;
    if (rc::Os::reapChild(pid, &status) || status < 0) continue;
    if (info == nullptr) continue;
    info->setStatus(status);
    RC_TRACE(DM_SIG, DF_DEBUG, "child died, pid = %d, status = %d\n", pid, status);
    info->setDead(true);
    if (info->hasCb()) {
      invokeSigChildCb(info);
    } else {
      m_childTbl->remove(*info, true);
    }
  }
}

}  // namespace ac
