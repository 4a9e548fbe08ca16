// Entry point of the revision command.
#include "comps/recomps/rcPgmClass.h"
#include "hostservices/admincmds/adcRevApp.h"

int main(int argc, char** argv) {
  const bool helpRequested =
      ac::App::main1(&argc, argv, rc::PgmClass::CLI_APP, nullptr, nullptr, nullptr);
  adc::RevApp app;
  if (helpRequested) {
    app.printUsage();
    return 0;
  }
  app.main2(argc, argv);
}
