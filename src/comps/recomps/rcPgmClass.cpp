#include "comps/recomps/rcPgmClass.h"

#include <cstring>

namespace rc {

namespace {
struct ClassRow {
  const char* symbol;
  const char* label;
};
constexpr ClassRow kClasses[] = {
    {"unknown", "Unknown"},        {"daemon", "Daemon"},          {"singleDaemon", "Single Daemon"},
    {"cliApp", "CLI Application"}, {"guiApp", "GUI Application"}, {"subProcess", "Sub-process"},
};
constexpr int kNumClasses = sizeof kClasses / sizeof kClasses[0];
bool known(int id) { return id >= 0 && id < kNumClasses; }
}  // namespace

const char* PgmClass::symbol(int id) { return known(id) ? kClasses[id].symbol : "unknownPgmClass"; }

const char* PgmClass::label(int id) { return known(id) ? kClasses[id].label : "Unknown"; }

int PgmClass::id(const char* symbol) {
  if (symbol == nullptr) return UNKNOWN_PGM_CLASS;
  for (int id = 0; id < kNumClasses; ++id) {
    if (strcmp(symbol, kClasses[id].symbol) == 0) return id;
  }
  return UNKNOWN_PGM_CLASS;
}

}  // namespace rc
