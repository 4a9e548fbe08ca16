// qvdemod: a small daemon that shows a framework program at work and under live control.
//
// Every tick of a periodic timer it traces a line under the debug module "adc" (flag 'd'), passes
// the fault point "demoTick" and, every few ticks, runs the revision command as a child and logs
// what the child printed. It opens its control channel, so that qvctl can list it, ping it, read
// its revision and switch its debug and fault controls while it runs. It answers one call of its
// own, GetTickCountCall (qvdemodMsgs.h), with its tick count. SIGTERM ends it normally.
// SIGPIPE is ignored, as in every daemon whose output may go to a pipe: when the reader goes
// away, the next tick finds standard output failed and ends the program through exitProgram
// (status 11, the write error on standard error), which removes its socket.
//
//   qvdemod [-interval <ms>] [-childEvery <ticks>] [standard options]
//
// It says "ready" on standard output once its timer and its channel are set up.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/acIpcMsgProto.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcFaultApi.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcPgmClass.h"
#include "comps/recomps/rcUtils.h"
#include "qvdemodMsgs.h"
#include "sysids/siPgmIds.h"

namespace {

class DemoApp : public ac::App {
 public:
  DemoApp() : ac::App(nullptr, si::PgmIds::DEMO_DAEMON, AF_MAIN2_CATCH_ALL) {}

  void processArgs(int argc, char** argv) override {
    processAppArgs(&argc, argv);
    for (int i = 1; i < argc; ++i) {
      const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
      if (strcmp(argv[i], "-interval") == 0) {
        m_intervalMs = static_cast<int>(needIntArg(next, argv[i], 10));
        ++i;
      } else if (strcmp(argv[i], "-childEvery") == 0) {
        m_childEvery = static_cast<int>(needIntArg(next, argv[i], 10));
        ++i;
      } else {
        rc::Err_Throw(rc::Err(RC_ERROR, RC_SC_BAD_CMD_LINE_ARG, rc::VarArgs() << argv[i],
                              "examples/DemoApp::processArgs"));
      }
    }
    if (m_intervalMs < 1 || m_childEvery < 1) {
      rc::Err_Throw(rc::Err(RC_ERROR, AC_SC_OUT_OF_RANGE,
                            rc::VarArgs() << (m_intervalMs < 1 ? m_intervalMs : m_childEvery),
                            "examples/DemoApp::processArgs"));
    }
  }

  void printUsage() const override {
    printUsageSummary();
    printf("Options:\n");
    printStdArgsUsage(22);
    rc::Utils::printArgUsage("-interval <ms>", 22, "time between two ticks (1000)");
    rc::Utils::printArgUsage("-childEvery <ticks>", 22, "run a child every so many ticks (5)");
  }

  void initApp() override {
    ac::App::initApp();
    openCtlChannel();
    demo::DemoMsgs::registerMsgs();
    ac::IpcMsgHandlers<&DemoApp::getTickCountCallCb>::addTo(ipcMsgHndlrTbl(), this);
    rc::Timeval interval;
    interval.setFromDouble(m_intervalMs / 1000.0);
    m_timer = newTimer(ac::AppTimer::INTERVAL, this, tickCCb, interval, true, "demo tick");
    rc::Out::instance()->printLog(RC_INFO,
                                  "qvdemod started: a tick every %d ms, a child every %d\n",
                                  m_intervalMs, m_childEvery);
  }

  void postInitNotify() override {
    puts("ready");
    fflush(stdout);
  }

  void handleSignal(int sigNum, bool fromSignalPipe) override {
    if (sigNum != SIGTERM || !fromSignalPipe) return ac::App::handleSignal(sigNum, fromSignalPipe);
    rc::Out::instance()->printLog(RC_INFO, "qvdemod stopping on SIGTERM after %d ticks\n", m_ticks);
    exitProgram(0);
  }

  void appCleanup(bool forceExit) override {
    rc::RefCnt_release(m_timer);
    ac::App::appCleanup(forceExit);
  }

 private:
  void getTickCountCallCb(demo::GetTickCountCall* call, ac::IpcMsgProto* proto) {
    demo::GetTickCountReply reply(m_ticks);
    reply.initReplyHdr(*call);
    proto->sendReply(&reply);
  }

  static bool tickCCb(void* cbObj, ac::AppTimer*) { return static_cast<DemoApp*>(cbObj)->tick(); }

  bool tick() {
    if (ferror(stdout)) exitProgram(RC_SC_WRITE_FAILED);
    ++m_ticks;
    RC_TRACE(DM_ADC, DF_DEBUG, "tick %d\n", m_ticks);
    if (RC_FAULT_FIRES("demoTick")) {
      // A tick that fails on purpose skips its work, as a real failure would.
      rc::Out::instance()->printLog(RC_WARNING, "fault demoTick inserted at tick %d\n", m_ticks);
      return false;
    }
    if (m_ticks % m_childEvery == 0) startChild();
    return false;
  }

  void startChild() {
    const std::string cmd = rc::Env::pathName(rc::Env::BIN_DIR, "qvrev") + " -shortLabel";
    try {
      executePgm(cmd.c_str(), this, childDoneCCb, true, false);
    } catch (const rc::Err& err) {
      rc::Out::instance()->printLog(err, true);
    }
  }

  static void childDoneCCb(void*, int pid, int status, const std::string& out, const std::string&) {
    std::string said = out;
    while (!said.empty() && said.back() == '\n') said.pop_back();
    rc::Out::instance()->printLog(RC_INFO, "child %d ended with status %d, said '%s'\n", pid,
                                  status, said.c_str());
  }

  int m_intervalMs = 1000;
  int m_childEvery = 5;
  int m_ticks = 0;
  ac::AppTimer* m_timer = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  // Otherwise the first line written after the reader of a pipe has gone ends the process there
  // and then, without a word and with its socket left behind.
  rc::Os::setSigHandler(SIGPIPE, SIG_IGN);
  const bool helpRequested =
      ac::App::main1(&argc, argv, rc::PgmClass::DAEMON, nullptr, nullptr, nullptr);
  DemoApp app;
  if (helpRequested) {
    app.printUsage();
    return 0;
  }
  app.main2(argc, argv);
}
