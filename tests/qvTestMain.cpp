// The unit-test binary's entry point. Every test runs in the one process when the binary is run
// directly (ctest starts one process per test), so a test that changes process-wide state would
// change what later tests see. A listener compares that state before and after each test: a test
// that leaves the working directory, the environment or the program attributes changed fails,
// and the state is put back so that the tests after it still run as they would alone.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "comps/recomps/rcEnv.h"
#include "comps/recomps/rcOs.h"
#include "comps/recomps/rcPgmAttrs.h"

extern char** environ;

namespace {

struct ProcessState {
  std::string cwd;
  std::map<std::string, std::string> environment;
  bool pgmAttrsInitialized = false;

  static ProcessState now() {
    ProcessState state;
    if (char* dir = getcwd(nullptr, 0)) {
      state.cwd = dir;
      free(dir);
    }
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      const size_t eq = text.find('=');
      state.environment[text.substr(0, eq)] = eq == std::string::npos ? "" : text.substr(eq + 1);
    }
    state.pgmAttrsInitialized = rc::PgmAttrs::isInitialized();
    return state;
  }
};

class ProcessStateCheck : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { m_before = ProcessState::now(); }

  void OnTestEnd(const ::testing::TestInfo&) override {
    const ProcessState after = ProcessState::now();
    bool restoreCwd = after.cwd != m_before.cwd;
    if (restoreCwd) {
      ADD_FAILURE() << "the test left the working directory at "
                    << (after.cwd.empty() ? "a removed directory" : after.cwd);
    } else if (!after.cwd.empty() && after.cwd != rc::Os::currentDir()) {
      ADD_FAILURE() << "the test changed the working directory behind rc::Os's back";
      restoreCwd = true;
    }
    // Through rc::Os, which also forgets the directory it caches.
    if (restoreCwd && !m_before.cwd.empty()) rc::Os::changeDir(m_before.cwd.c_str(), false);

    for (const auto& [name, value] : after.environment) {
      const auto was = m_before.environment.find(name);
      if (was == m_before.environment.end()) {
        ADD_FAILURE() << "the test left " << name << " set";
        unsetenv(name.c_str());
      } else if (was->second != value) {
        ADD_FAILURE() << "the test left " << name << " changed";
        setenv(name.c_str(), was->second.c_str(), 1);
      }
    }
    for (const auto& [name, value] : m_before.environment) {
      if (after.environment.count(name) == 0) {
        ADD_FAILURE() << "the test left " << name << " unset";
        setenv(name.c_str(), value.c_str(), 1);
      }
    }
    tzset();
    rc::Env::clearCache();

    if (after.pgmAttrsInitialized && !m_before.pgmAttrsInitialized) {
      ADD_FAILURE() << "the test left the program attributes initialised";
      rc::PgmAttrs::uninit();
    }
  }

  ProcessState m_before;
};

}  // namespace

int main(int argc, char** argv) {
  // Unit tests run from the build tree, outside the kit: point the catalog at the kit's strings
  // files unless the caller chose a folder.
  setenv("QV_STRINGS_DIR", QV_TEST_KIT_DIR "/sys/strings", 0);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new ProcessStateCheck);
  return RUN_ALL_TESTS();
}
