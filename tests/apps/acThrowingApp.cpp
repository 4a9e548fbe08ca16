// A command-line application whose run() throws what its first argument names, so that tests can
// watch main2's catch-all handlers and exit statuses from outside.
//   acThrowingApp std|sql|err|remap|big|intnl|other|none [silent]
#include <cstring>
#include <stdexcept>

#include "comps/appcomps/acApp.h"
#include "comps/appcomps/dcSQLException.h"
#include "comps/recomps/rcPgmClass.h"

namespace {

class ThrowingApp : public ac::App {
 public:
  ThrowingApp(unsigned flags, const char* what) : ac::App(nullptr, 0, flags), m_what(what) {}
  void printUsage() const override { puts("usage: acThrowingApp <what>"); }
  // "remap" turns the open failure into a bad status with the same argument.
  void remapError(rc::Err* err) override {
    if (strcmp(m_what, "remap") == 0) err->addCode(RC_SC_BAD_STATUS);
  }
  void processArgs(int, char**) override {}
  void run() override {
    if (strcmp(m_what, "std") == 0) throw std::runtime_error("boom from run");
    if (strcmp(m_what, "sql") == 0) throw dc::pq::SQLException("relation does not exist");
    if (strcmp(m_what, "err") == 0 || strcmp(m_what, "remap") == 0) {
      rc::Err_Throw(rc::Err(RC_ERROR, RC_SC_OPEN_FAILED, rc::VarArgs() << "/x", nullptr));
    }
    if (strcmp(m_what, "big") == 0) rc::Err_Throw(rc::Err(RC_ERROR, 512, nullptr));
    if (strcmp(m_what, "intnl") == 0) {
      throw rc::IntnlErr(RC_FATAL, "broken invariant", RC_SC_INTERNAL_ERROR, rc::VarArgs(),
                         nullptr);
    }
    if (strcmp(m_what, "other") == 0) throw 42;
  }

 private:
  const char* m_what;
};

}  // namespace

int main(int argc, char** argv) {
  const bool helpRequested =
      ac::App::main1(&argc, argv, rc::PgmClass::CLI_APP, nullptr, nullptr, nullptr);
  unsigned flags = ac::App::AF_MAIN2_CATCH_ALL;
  if (argc > 2 && strcmp(argv[2], "silent") == 0) flags |= ac::App::AF_SILENT_MAIN2_ERRORS;
  ThrowingApp app(flags, argc > 1 ? argv[1] : "none");
  if (helpRequested) {
    app.printUsage();
    return 0;
  }
  app.main2(argc, argv);
}
