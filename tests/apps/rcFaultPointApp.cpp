// A program with one fault point, "writeFails", on the path of a simulated record write. run()
// writes the number of records given as the first argument (default 7) and prints the numbers of
// the writes that failed on one line, "failed: 3 6". A "delayMs" attribute of the rule, when
// present, is printed as "delayMs=<n>" at the first failure, to show how the code at a fault
// point reads the rule's values through its handle.
//   rcFaultPointApp [count] [-Frf <rules file>] [-Fpr] [-Fv]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcFaultApi.h"
#include "comps/recomps/rcPgmClass.h"

namespace {

bool s_delayShown = false;

// The write that tests make fail. The fault point costs one test of a global while no rule can
// fire.
bool writeRecord() {
  static constinit rc::fault::FaultPoint s_writeFails("writeFails");
  if (RC_FAULT_FIRES("writeFails")) {
    rc::fault::Api* api = rc::fault::Api::instance();
    if (!s_delayShown && api->attrExists(s_writeFails.id(), "delayMs")) {
      printf("delayMs=%d\n", api->intVal(s_writeFails.id(), "delayMs", 0));
      s_delayShown = true;
    }
    return false;
  }
  return true;
}

class FaultPointApp : public ac::App {
 public:
  FaultPointApp() : ac::App(nullptr, 0, AF_MAIN2_CATCH_ALL) {}
  void printUsage() const override { puts("usage: rcFaultPointApp [count]"); }
  void processArgs(int argc, char** argv) override {
    if (argc > 1) m_count = atoi(argv[1]);
  }
  void run() override {
    std::string failed;
    for (int i = 1; i <= m_count; ++i) {
      if (!writeRecord()) failed.append(" ").append(std::to_string(i));
    }
    printf("failed:%s\n", failed.c_str());
  }

 private:
  int m_count = 7;
};

}  // namespace

int main(int argc, char** argv) {
  const bool helpRequested =
      ac::App::main1(&argc, argv, rc::PgmClass::CLI_APP, nullptr, nullptr, nullptr);
  FaultPointApp app;
  if (helpRequested) {
    app.printUsage();
    return 0;
  }
  app.main2(argc, argv);
}
