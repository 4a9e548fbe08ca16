#include "hostservices/admincmds/adcRevApp.h"

#include <strings.h>

#include <cstdio>

#include "comps/recomps/rcUtils.h"
#include "nde/qv/qvrev.h"
#include "sysids/siPgmIds.h"

namespace adc {

RevApp::RevApp() : ac::App(nullptr, si::PgmIds::REV_CMD, AF_MAIN2_CATCH_ALL), m_prFmt(PF_LABEL) {}

RevApp::~RevApp() = default;

void RevApp::processArgs(int argc, char** argv) {
  processAppArgs(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strcasecmp(arg, "-dirSuffix") == 0) {
      m_prFmt = PF_DIR_SUFFIX;
    } else if (strcasecmp(arg, "-shortLabel") == 0) {
      m_prFmt = PF_SHORT_LABEL;
    } else if (strcasecmp(arg, "-buildType") == 0) {
      m_prFmt = PF_BUILD_TYPE;
    } else {
      rc::Err_Throw(rc::Err(RC_ERROR, RC_SC_BAD_CMD_LINE_ARG, rc::VarArgs() << arg, nullptr));
    }
  }
}

void RevApp::run() {
  switch (m_prFmt) {
    case PF_SHORT_LABEL: puts(qvRevShortLabel()); break;
    case PF_DIR_SUFFIX: puts(qvRevDirSuffix()); break;
    case PF_BUILD_TYPE: puts(qvRevBuildType()); break;
    default: puts(qvRevStamp(1)); break;
  }
}

void RevApp::initApp() { ac::App::initApp(); }

void RevApp::printUsage() const {
  rc::Utils::printStdUsageHeader(programName());
  printStdArgsUsage(15);
  putchar('\n');
  rc::Utils::printArgUsage("-dirSuffix", 15, "display directory suffix form");
  rc::Utils::printArgUsage("-shortLabel", 15, "display a shorter version of the full form");
  rc::Utils::printArgUsage("-buildType", 15, "display the type of build (dbg or opt)");
  putchar('\n');
}

}  // namespace adc
