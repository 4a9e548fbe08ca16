#include "sysids/siPgmIds.h"

#include <strings.h>

namespace si {

namespace {

struct PgmIdRow {
  int id;
  const char* symbol;
  const char* label;
};

constexpr PgmIdRow kRows[] = {
    {PgmIds::CLIENT_MGR, "clientmgr", "Client Manager"},
    {PgmIds::REV_CMD, "qvrev", "qvrev Cmd"},
    {PgmIds::LOAD_CMD, "qvload", "qvload Cmd"},
};

const PgmIdRow* row(int id) {
  for (const PgmIdRow& r : kRows) {
    if (r.id == id) return &r;
  }
  return nullptr;
}

// The first id in [begin, end) whose symbol matches, skipping `skip`.
int findId(const char* symbol, int begin, int end, int skip) {
  if (symbol == nullptr || symbol[0] == '\0') return PgmIds::NONE;
  for (int id = begin; id < end; ++id) {
    if (id != skip && strcasecmp(PgmIds::pgmIdSymbol(id), symbol) == 0) return id;
  }
  return PgmIds::BAD_PGM_ID;
}

}  // namespace

const char* PgmIds::pgmIdSymbol(int id) {
  const PgmIdRow* r = row(id);
  return r != nullptr ? r->symbol : "unknown";
}

const char* PgmIds::pgmIdLabel(int id) {
  const PgmIdRow* r = row(id);
  return r != nullptr ? r->label : "Unknown";
}

int PgmIds::getPgmId(const char* symbol) {
  return findId(symbol, FIXED_ID_BEGIN, PGM_TYPE_END, NONE);
}

int PgmIds::fixedPgmId(const char* symbol) {
  return findId(symbol, FIXED_ID_BEGIN, FIXED_ID_END, RETIRED_FIXED_ID);
}

}  // namespace si
