// Static tables of (id, symbol, label) rows, the shape of every small enumeration of the
// framework (severities, program classes, switch values, program ids, release stages). A class
// keeps its rows in a constant array of rc::SymRec and answers its symbol/label/id questions
// through one rc::SymRows over it, with the answer it gives for a value it does not know.
// Lookups are linear: the tables hold a handful of rows. Read-only; safe anywhere, signal
// handlers included.
#pragma once

#include <climits>
#include <cstddef>

namespace rc {

// A record of a static table of entries.
struct SymRec {
  int id;
  const char* symbol;
  const char* label;
};

class SymRows {
 public:
  template <size_t N>
  constexpr SymRows(const SymRec (&rows)[N]) : m_rows(rows), m_numRows(N) {}

  // The first row with this id, or with this symbol (exactly or ignoring case); null when none.
  const SymRec* find(int id) const;
  const SymRec* find(const char* symbol, bool ignoreCase = false) const;

  // The row's symbol or label, ifNone for an id without a row.
  const char* symbol(int id, const char* ifNone) const;
  const char* label(int id, const char* ifNone) const;
  // The id of the row with this symbol when it lies in [minId, maxId]; ifNone otherwise (null
  // symbols included).
  int id(const char* symbol, int ifNone, int minId = INT_MIN, int maxId = INT_MAX,
         bool ignoreCase = false) const;

 private:
  const SymRec* m_rows;
  size_t m_numRows;
};

}  // namespace rc
