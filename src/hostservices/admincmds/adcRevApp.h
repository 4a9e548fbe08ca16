// The revision command: prints the release this program belongs to in one of four forms chosen
// by an option (the last one given wins). Other programs run it to learn the installed release.
#pragma once

#include "comps/appcomps/acApp.h"

namespace adc {

class RevApp : public ac::App {
 public:
  enum PrFmt { PF_LABEL = 1, PF_SHORT_LABEL = 2, PF_DIR_SUFFIX = 3, PF_BUILD_TYPE = 4 };

  RevApp();
  ~RevApp() override;

  // Writes the selected form and a newline to standard output.
  void run() override;
  void printUsage() const override;
  // Standard options first, then "-dirSuffix", "-shortLabel", "-buildType" (case ignored); any
  // other argument raises RC_SC_BAD_CMD_LINE_ARG with the argument.
  void processArgs(int argc, char** argv) override;
  void initApp() override;

  PrFmt prFmt() const { return m_prFmt; }

 private:
  PrFmt m_prFmt;
};

}  // namespace adc
