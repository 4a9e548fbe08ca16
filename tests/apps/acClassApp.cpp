// A program of the class its first argument names ("daemon", "subProcess", "cliApp" ...) that
// logs under its second argument (or its own name when that is "-"). run() prints its working
// directory, log name and source prefix, so that tests can watch what main1 set up. With "again"
// as the third argument, a forked child runs main1 a second time with the label "again" and
// prints its prefix and process id first.
//   acClassApp <class> <logName|-> [again]
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "comps/appcomps/acApp.h"
#include "comps/recomps/rcPgmAttrs.h"
#include "comps/recomps/rcPgmClass.h"

namespace {

class ClassApp : public ac::App {
 public:
  ClassApp() : ac::App(nullptr, 0, AF_MAIN2_CATCH_ALL) {}
  void printUsage() const override { puts("usage: acClassApp <class> <logName|-> [again]"); }
  void processArgs(int, char**) override {}
  void run() override {
    char cwd[4096];
    printf("cwd=%s\nlog=%s\nprefix=%s\n", getcwd(cwd, sizeof cwd), rc::PgmAttrs::logName(),
           rc::PgmAttrs::instance()->srcPrefix());
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int pgmClass = argc > 1 ? rc::PgmClass::id(argv[1]) : rc::PgmClass::CLI_APP;
  const char* logName = argc > 2 && strcmp(argv[2], "-") != 0 ? argv[2] : nullptr;
  const bool again = argc > 3 && strcmp(argv[3], "again") == 0;
  const bool helpRequested = ac::App::main1(&argc, argv, pgmClass, nullptr, logName, nullptr);
  if (again) {
    fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      ac::App::main1(&argc, argv, pgmClass, "again", nullptr, nullptr);
      printf("child=%d prefix=%s\n", static_cast<int>(getpid()),
             rc::PgmAttrs::instance()->srcPrefix());
      fflush(stdout);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
  }
  ClassApp app;
  if (helpRequested) {
    app.printUsage();
    return 0;
  }
  app.main2(argc, argv);
}
