// Symbol tables: entries that tie an integer id, a symbol (a short name) and a label (a display
// text) together. The entries are kept in two arrays, one ordered by id and one by symbol, and
// id -> symbol, id -> label, symbol -> id and symbol -> label are answered through hash indexes
// over them. Symbols compare exactly or case-blind, per table. substituteVars expands $NAME,
// $(NAME) and ${NAME} in a text with the labels of the named symbols.
//
// Entries are reference counted: a table takes one reference per add and gives it back when it is
// cleared or destroyed; the entry is freed by whoever sees its count fall below 1, so one entry can
// be shared by several tables. Sorting and indexing wait for the first lookup after a change
// (with auto-sort on, every add sorts), so even const lookups change internal state. Nothing here
// throws except on memory exhaustion. Not thread-safe; not for signal handlers.
//
// Everything lives on the typed heap: entries are mt_sym blocks, a table's arrays and indexes
// mt_sym_buf blocks, the table mt_sym_tbl, and the strings copied by newSym an rc::StrVec. Only
// the process heap exists in this program, so the constructors' region is accepted and ignored.
#pragma once

#include <cstdint>
#include <string>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memString.h"
#include "comps/recomps/rcSymRows.h"

namespace rc {

class StrVec;

class Sym : public mem::newDelete<mt_sym> {
 public:
  explicit Sym(int references = 0);
  // A null symbol or label is stored as the empty string.
  Sym(int id, const char* symbol, const char* label, int references = 0);
  explicit Sym(const SymRec& rec, int references = 0);

  int id() const { return m_id; }
  const char* symbol() const { return m_symbol.c_str(); }
  const char* label() const { return m_label.c_str(); }
  void setId(int id) { m_id = id; }
  void setSymbol(const char* symbol) { m_symbol = symbol != nullptr ? symbol : ""; }
  void setLabel(const char* label) { m_label = label != nullptr ? label : ""; }

  int references() const { return m_references; }
  int addReference() const { return ++m_references; }
  // Returns the new count; the caller frees the entry when it is below 1.
  int removeReference() const { return --m_references; }

  int compareById(const Sym& other) const;
  int compareBySymbol(const Sym& other) const;
  int compareBySymbolNc(const Sym& other) const;
  // qsort/bsearch forms over arrays of entry pointers: each argument points to a const Sym*.
  static int compareSymsById(const void* a, const void* b);
  static int compareSymsBySymbol(const void* a, const void* b);
  static int compareSymsBySymbolNc(const void* a, const void* b);

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

 private:
  // Tables holding a const entry still count their references on it.
  mutable int m_references;
  int m_id;
  String m_symbol;
  String m_label;
};

// The two arrays of a table. Owns one reference on every entry it holds. Both arrays share one
// heap block, both indexes another, allocated with the buffer's own attributes.
class SymBuf : public mem::newDelete<mt_sym_buf> {
 public:
  typedef int (*CmpRtn)(const void*, const void*);

  SymBuf(unsigned int capacity, bool exactCase);
  ~SymBuf();
  SymBuf(const SymBuf&) = delete;
  SymBuf& operator=(const SymBuf&) = delete;

  unsigned int entries() const { return m_entries; }
  unsigned int capacity() const { return m_capacity; }
  Sym* const* byId() const { return m_byId; }
  Sym* const* bySymbol() const { return m_bySymbol; }
  bool exactCase() const { return m_symbolCmpRtn == Sym::compareSymsBySymbol; }

  // Doubles the capacity when full, then appends to both arrays.
  void add(const Sym* sym);
  void setExactCase(bool exactCase);
  // Sorts both arrays unless they are sorted already.
  void sort();
  // Gives back every entry's reference; the capacity stays.
  void clear();
  // New arrays of newCapacity (at least the entry count) holding the same entries.
  void expandContents(unsigned int newCapacity);
  // Empty arrays of the given capacity.
  void rebuild(unsigned int capacity);

  // Builds the lookup indexes unless they are current.
  void index();
  // Through the indexes (index() first); null when absent.
  const Sym* findId(int id) const;
  const Sym* findSymbol(const char* symbol) const;

 private:
  // Open-addressing hash indexes over the entries, rebuilt on the first lookup after a change:
  // they keep lookups close to a hash map's cost while the sorted arrays stay the table's order.
  struct IdSlot {
    const Sym* sym;  // null: empty slot
    int id;
  };
  struct SymbolSlot {
    const Sym* sym;  // null: empty slot
    uint32_t hash;
  };
  // Hash of the symbol as the current comparison sees it (folded when case-blind).
  uint32_t symbolHash(const char* symbol) const;
  void invalidate();
  // Points m_byId and m_bySymbol at a new block of capacity entries each (the old one is the
  // caller's to free).
  void allocArrays(unsigned int capacity);
  void* allocMem(size_t nBytes);

  unsigned int m_entries;
  unsigned int m_capacity;
  Sym** m_byId;
  Sym** m_bySymbol;
  CmpRtn m_symbolCmpRtn;
  // Cleared by every change that can break either array's order.
  bool m_sorted;
  bool m_indexed;
  uint32_t m_indexMask;
  // m_indexMask + 1 slots each once built; m_symbolIndex lies in m_idIndex's block.
  IdSlot* m_idIndex;
  SymbolSlot* m_symbolIndex;
};

class SymTbl : public mem::newDelete<mt_sym_tbl> {
 public:
  enum { DEFAULT_CAPACITY = 64 };
  // substituteVars stops replacing after this many replacements, and makes no replacement that
  // would take the result past MAX_SUBST_LEN bytes, so a label that refers to its own symbol
  // still gives a finished text; references left over stay as they are.
  enum { MAX_SUBST_COUNT = 1024, MAX_SUBST_LEN = 65536 };
  // The id reported for a symbol that is not in the table.
  static constexpr int NPOS = static_cast<int>(0x80000000u);

  // Exact case, DEFAULT_CAPACITY entries.
  SymTbl();
  explicit SymTbl(mem::regionName_t region);
  explicit SymTbl(bool exactCase, unsigned int capacity = DEFAULT_CAPACITY);
  SymTbl(bool exactCase, mem::regionName_t region);
  SymTbl(bool exactCase, unsigned int capacity, mem::regionName_t region);
  ~SymTbl();
  SymTbl(const SymTbl&) = delete;
  SymTbl& operator=(const SymTbl&) = delete;

  // Takes a reference on sym.
  void add(const Sym* sym);
  // A new entry with count 0; copyStrings first copies symbol and label into the table's strings.
  Sym* newSym(int id, const char* symbol, const char* label, bool copyStrings);
  void add(int id, const char* symbol, const char* label, bool copyStrings);
  void add(const SymRec* recs, unsigned int nRecs, bool copyStrings);

  // With several entries of one id or symbol, which one is found is not defined.
  const Sym* lookup(const char* symbol) const;
  const Sym* lookup(int id) const;
  // NPOS when absent.
  int symbolToId(const char* symbol) const;
  // Null when absent.
  const char* symbolToLabel(const char* symbol) const;
  const char* idToLabel(int id) const;
  const char* idToSymbol(int id) const;
  // -1 for an empty table.
  int maxId() const;

  unsigned int entries() const { return m_entries; }
  bool exactCase() const { return m_exactCase; }
  bool autoSort() const { return m_autoSort; }
  void setExactCase(bool exactCase);
  // When on, both arrays are sorted after every add.
  void setAutoSort(bool autoSort);
  // Gives back all entries and empties the copied strings; the capacity stays.
  void clear();
  // Empties the table; the arrays are rebuilt when they are smaller than capacity.
  void setCapacity(unsigned int capacity);
  // Keeps the entries in arrays of the new capacity.
  void expand(unsigned int newCapacity);
  unsigned int capacity() const { return m_buf->capacity(); }
  const SymBuf* buf() const { return m_buf; }
  // Null until newSym first copies strings.
  const StrVec* strings() const { return m_strings; }

  // str with every reference to a symbol of the table replaced by the symbol's label. Inserted
  // text is scanned again from its second character on.
  std::string substituteVars(const char* str) const;

  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }

 private:
  void updateCache();
  void clearStrings();
  // The buffer, sorted and indexed.
  const SymBuf& prepared() const;

  bool m_autoSort;
  bool m_exactCase;
  SymBuf* m_buf;
  // Copies made for newSym, created on first need; its strings never move.
  StrVec* m_strings;
  unsigned int m_entries;
  Sym* const* m_byId;
};

}  // namespace rc
