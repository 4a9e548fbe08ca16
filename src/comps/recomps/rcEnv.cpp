#include "comps/recomps/rcEnv.h"

#include <cstdio>
#include <cstdlib>

#include "comps/recomps/rcFile.h"
#include "comps/recomps/rcPgmClass.h"

namespace rc {

bool Env::s_initialized = false;
int Env::s_pgmClass = PgmClass::UNKNOWN_PGM_CLASS;
char Env::s_pgmName[256] = "";

void Env::init(int* argc, char** argv, int pgmClass) {
  const char* arg0 = (argc != nullptr && *argc > 0 && argv != nullptr) ? argv[0] : nullptr;
  snprintf(s_pgmName, sizeof s_pgmName, "%s", arg0 != nullptr ? File::leafName(arg0) : "");
  s_pgmClass = pgmClass;
  s_initialized = true;
}

const char* Env::strEnvVar(const char* name, const char* defaultIfNone) {
  const char* value = name != nullptr ? getenv(name) : nullptr;
  return value != nullptr ? value : defaultIfNone;
}

}  // namespace rc

void rcInitEnv(int* argc, char** argv, int pgmClass) { rc::Env::init(argc, argv, pgmClass); }
