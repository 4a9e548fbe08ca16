// A program of the class its first argument names ("daemon", "singleDaemon", "cliApp" ...) that
// logs under its second argument (or its own name when that is "-"). run() writes a debug line
// (module ac, flag d), a line for the log only and, with "-warn", a warning through the output
// facility; any other argument left after the framework took its own is refused.
//   rcLogApp <class> <logName|-> [-warn] [framework options]
#include <cstring>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcDbg.h"
#include "comps/recomps/rcOut.h"
#include "comps/recomps/rcPgmClass.h"

namespace {

class LogApp : public ac::App {
 public:
  LogApp() : ac::App(nullptr, 0, AF_MAIN2_CATCH_ALL) {}
  void printUsage() const override { puts("usage: rcLogApp <class> <logName|-> [-warn]"); }
  void processArgs(int argc, char** argv) override {
    for (int i = 3; i < argc; ++i) {
      if (strcmp(argv[i], "-warn") == 0) {
        m_warn = true;
        continue;
      }
      rc::Err_Throw(rc::Err(RC_ERROR, RC_SC_BAD_CMD_LINE_ARG, rc::VarArgs() << argv[i],
                            "rcLogApp::processArgs"));
    }
  }
  void run() override {
    if (rc::Dbg::s_anyOn) rc::Dbg::instance()->print(DM_AC, DF_DEBUG, "run: debug line\n");
    rc::Out::instance()->printLog("run: log line\n");
    if (m_warn) rc::Out::instance()->print(RC_WARNING, "run: warning\n");
  }

 private:
  bool m_warn = false;
};

}  // namespace

int main(int argc, char** argv) {
  const int pgmClass = argc > 1 ? rc::PgmClass::id(argv[1]) : rc::PgmClass::CLI_APP;
  const char* logName = argc > 2 && strcmp(argv[2], "-") != 0 ? argv[2] : nullptr;
  const bool helpRequested = ac::App::main1(&argc, argv, pgmClass, nullptr, logName, nullptr);
  LogApp app;
  if (helpRequested) {
    app.printUsage();
    return 0;
  }
  app.main2(argc, argv);
}
