#include "sysids/siPgmIds.h"

#include <strings.h>

#include "comps/recomps/rcSymRows.h"

namespace si {

namespace {

constexpr rc::SymRec kRecs[] = {
    {PgmIds::CLIENT_MGR, "clientmgr", "Client Manager"},
    {PgmIds::REV_CMD, "qvrev", "qvrev Cmd"},
    {PgmIds::CTL_CMD, "qvctl", "qvctl Cmd"},
    {PgmIds::DEMO_DAEMON, "qvdemod", "Demo Daemon"},
    {PgmIds::LOAD_CMD, "qvload", "qvload Cmd"},
};
constexpr rc::SymRows kRows(kRecs);

// The first id in [begin, end) whose symbol matches, skipping `skip`.
int findId(const char* symbol, int begin, int end, int skip) {
  if (symbol == nullptr || symbol[0] == '\0') return PgmIds::NONE;
  for (int id = begin; id < end; ++id) {
    if (id != skip && strcasecmp(PgmIds::pgmIdSymbol(id), symbol) == 0) return id;
  }
  return PgmIds::BAD_PGM_ID;
}

}  // namespace

const char* PgmIds::pgmIdSymbol(int id) { return kRows.symbol(id, "unknown"); }

const char* PgmIds::pgmIdLabel(int id) { return kRows.label(id, "Unknown"); }

int PgmIds::getPgmId(const char* symbol) {
  return findId(symbol, FIXED_ID_BEGIN, PGM_TYPE_END, NONE);
}

int PgmIds::fixedPgmId(const char* symbol) {
  return findId(symbol, FIXED_ID_BEGIN, FIXED_ID_END, RETIRED_FIXED_ID);
}

}  // namespace si
