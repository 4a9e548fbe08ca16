#include "comps/recomps/rcPgmClass.h"

#include "comps/recomps/rcSymRows.h"

namespace rc {

namespace {
constexpr SymRec kClassRecs[] = {
    {PgmClass::UNKNOWN_PGM_CLASS, "unknown", "Unknown"},
    {PgmClass::DAEMON, "daemon", "Daemon"},
    {PgmClass::SINGLE_DAEMON, "singleDaemon", "Single Daemon"},
    {PgmClass::CLI_APP, "cliApp", "CLI Application"},
    {PgmClass::GUI_APP, "guiApp", "GUI Application"},
    {PgmClass::SUB_PROCESS, "subProcess", "Sub-process"},
};
constexpr SymRows kClasses(kClassRecs);
}  // namespace

const char* PgmClass::symbol(int id) { return kClasses.symbol(id, "unknownPgmClass"); }

const char* PgmClass::label(int id) { return kClasses.label(id, "Unknown"); }

int PgmClass::id(const char* symbol) { return kClasses.id(symbol, UNKNOWN_PGM_CLASS); }

}  // namespace rc
