// Entry point of the live-control command.
#include <vector>

#include "comps/recomps/rcPgmClass.h"
#include "hostservices/admincmds/adcCtlApp.h"

int main(int argc, char** argv) {
  // The -D and -F options after the sub-command are for the program it addresses, so main1
  // (which would apply them to this command) sees only the arguments before it.
  int ownArgc = adc::CtlApp::ownArgCount(argc, argv);
  const int subCmdAt = ownArgc;
  std::vector<char*> args(argv, argv + ownArgc);
  args.push_back(nullptr);
  const bool helpRequested =
      ac::App::main1(&ownArgc, args.data(), rc::PgmClass::CLI_APP, nullptr, nullptr, nullptr);
  adc::CtlApp app;
  if (helpRequested) {
    app.printUsage();
    return 0;
  }
  args.resize(static_cast<size_t>(ownArgc));
  args.insert(args.end(), argv + subCmdAt, argv + argc);
  const int allArgc = static_cast<int>(args.size());
  args.push_back(nullptr);
  app.main2(allArgc, args.data());
}
