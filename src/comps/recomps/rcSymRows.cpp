#include "comps/recomps/rcSymRows.h"

#include <strings.h>

#include <cstring>

namespace rc {

const SymRec* SymRows::find(int id) const {
  for (size_t i = 0; i < m_numRows; ++i) {
    if (m_rows[i].id == id) return &m_rows[i];
  }
  return nullptr;
}

const SymRec* SymRows::find(const char* symbol, bool ignoreCase) const {
  if (symbol == nullptr) return nullptr;
  for (size_t i = 0; i < m_numRows; ++i) {
    const char* rowSymbol = m_rows[i].symbol;
    if ((ignoreCase ? strcasecmp(rowSymbol, symbol) : strcmp(rowSymbol, symbol)) == 0) {
      return &m_rows[i];
    }
  }
  return nullptr;
}

const char* SymRows::symbol(int id, const char* ifNone) const {
  const SymRec* row = find(id);
  return row != nullptr ? row->symbol : ifNone;
}

const char* SymRows::label(int id, const char* ifNone) const {
  const SymRec* row = find(id);
  return row != nullptr ? row->label : ifNone;
}

int SymRows::id(const char* symbol, int ifNone, int minId, int maxId, bool ignoreCase) const {
  const SymRec* row = find(symbol, ignoreCase);
  return row != nullptr && row->id >= minId && row->id <= maxId ? row->id : ifNone;
}

}  // namespace rc
