// An application that sits in the framework's base event loop so that tests can signal it from
// outside. It reports on standard output, with single write() calls (some reports come from
// inside signal handlers):
//   "ready"                      once the handlers are installed and signals unblocked
//   "handleSignal <n> <piped|direct>"  on every handleSignal call
//   "exitCleanup <force>" / "appCleanup <force>"  from the clean-up hooks
//   "blocked", "woke"            from the blocking callback (block=N)
//   "handled <n>"                when count mode ends (exit status 0)
//   "catalog <shared|own>"       after "exitCleanup" with shm: the catalog texts come from
//
//   acLoopApp cli|sub [nopipe] [refuse] [count] [block=N] [hold] [shm]
//     sub       program class SUB_PROCESS instead of CLI_APP
//     nopipe    AF_NO_SIGNAL_PIPE: signals are handled inside the handler
//     refuse    isOkToExit answers false
//     count     termination signals are counted instead of ending the program; once the loop
//               has read every pending signal record, print "handled <n>" and exit 0
//     block=N   the first loop iteration runs a callback that holds the termination signals
//               back except while it waits for N signal deliveries, printing "woke" after each
//     hold      the same callback first waits for a byte on standard input with the termination
//               signals held back, so that every signal sent meanwhile is delivered at once
//     shm       a shared message catalog (deleted with its semaphore by the clean-up hook)
#include <signal.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcPgmClass.h"
#include "comps/recomps/rcStrDb.h"

namespace {

rc::StrDb* s_shmCatalog = nullptr;

void say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void say(const char* fmt, ...) {
  char line[128];
  va_list ap;
  va_start(ap, fmt);
  const int len = vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  if (len > 0 && write(1, line, static_cast<size_t>(len)) < 0) _exit(3);
}

bool hasArg(int argc, char** argv, const char* arg) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], arg) == 0) return true;
  }
  return false;
}

int blockCount(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], "block=", 6) == 0) return atoi(argv[i] + 6);
  }
  return 0;
}

class LoopApp : public ac::App {
 public:
  LoopApp(unsigned flags, bool refuse, bool count, int blocks, bool hold)
      : ac::App(nullptr, 0, flags),
        m_refuse(refuse),
        m_count(count),
        m_blocks(blocks),
        m_hold(hold) {}

  void printUsage() const override { puts("usage: acLoopApp cli|sub [options]"); }
  void processArgs(int, char**) override {}

  void postInitNotify() override {
    if (m_blocks > 0 || m_hold) {
      if (pipe(m_blockPipe) != 0 || write(m_blockPipe[1], "x", 1) != 1) _exit(4);
      m_blockSet.add(rc::FdSet::FDT_READ, m_blockPipe[0], this, blockCCb, nullptr);
      addToEventLoop(m_blockSet);
    }
    say("ready\n");
  }

  bool isOkToExit(int) override { return !m_refuse; }
  void exitCleanup(bool forceExit) override {
    say("exitCleanup %d\n", forceExit ? 1 : 0);
    if (s_shmCatalog != nullptr) {
      say("catalog %s\n", rc::StrDb::instance() == s_shmCatalog ? "shared" : "own");
      rc::StrDb::setShmInstance(nullptr);
      delete s_shmCatalog;
    }
  }
  void appCleanup(bool forceExit) override { say("appCleanup %d\n", forceExit ? 1 : 0); }

  void handleSignal(int sigNum, bool fromSignalPipe) override {
    say("handleSignal %d %s\n", sigNum, fromSignalPipe ? "piped" : "direct");
    const bool term =
        sigNum == SIGHUP || sigNum == SIGINT || sigNum == SIGQUIT || sigNum == SIGTERM;
    if (m_count && term) {
      if (m_handled++ == 0) {
        // A 1 us timeout: select sees any record still in the pipe before it expires.
        m_doneSet.set(rc::Timeval::ONE_MICROSEC_TIMEVAL, this, doneCCb, nullptr);
        addToEventLoop(this, doneSetCCb);
      }
      return;
    }
    ac::App::handleSignal(sigNum, fromSignalPipe);
  }

 private:
  static void blockCCb(void* obj, rc::FdSet::CbType, int, void*) {
    static_cast<LoopApp*>(obj)->blockCb();
  }
  void blockCb() {
    sigset_t term, old;
    sigemptyset(&term);
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) sigaddset(&term, sig);
    sigprocmask(SIG_BLOCK, &term, &old);
    say("blocked\n");
    char go;
    if (m_hold && read(0, &go, 1) != 1) _exit(5);
    for (int i = 0; i < m_blocks; ++i) {
      sigsuspend(&old);
      say("woke\n");
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    removeFromEventLoop(m_blockSet);
    close(m_blockPipe[0]);
    close(m_blockPipe[1]);
  }
  static const rc::FdSet& doneSetCCb(void* obj) { return static_cast<LoopApp*>(obj)->m_doneSet; }
  static void doneCCb(void* obj, rc::FdSet::CbType, int, void*) {
    say("handled %d\n", static_cast<LoopApp*>(obj)->m_handled);
    ac::_do_exit(0);
  }

  bool m_refuse;
  bool m_count;
  int m_blocks;
  bool m_hold;
  int m_handled = 0;
  int m_blockPipe[2] = {-1, -1};
  rc::FdSet m_blockSet;
  rc::FdSet m_doneSet;
};

}  // namespace

int main(int argc, char** argv) {
  const bool sub = argc > 1 && strcmp(argv[1], "sub") == 0;
  const bool helpRequested =
      ac::App::main1(&argc, argv, sub ? rc::PgmClass::SUB_PROCESS : rc::PgmClass::CLI_APP, nullptr,
                     nullptr, nullptr);
  unsigned flags = ac::App::AF_MAIN2_CATCH_ALL;
  if (hasArg(argc, argv, "nopipe")) flags |= ac::App::AF_NO_SIGNAL_PIPE;
  LoopApp app(flags, hasArg(argc, argv, "refuse"), hasArg(argc, argv, "count"),
              blockCount(argc, argv), hasArg(argc, argv, "hold"));
  if (helpRequested) {
    app.printUsage();
    return 0;
  }
  if (hasArg(argc, argv, "shm")) s_shmCatalog = rc::StrDb::instance(mem::REGION_GLOBAL);
  app.main2(argc, argv);
}
