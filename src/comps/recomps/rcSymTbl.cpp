#include "comps/recomps/rcSymTbl.h"

#include <strings.h>
#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcRefCnt.h"
#include "comps/recomps/rcStrVec.h"

namespace rc {

// ---------------------------------------------------------------------------------------------
// Sym

Sym::Sym(int references) : m_references(references), m_id(-1) {}

Sym::Sym(int id, const char* symbol, const char* label, int references)
    : m_references(references),
      m_id(id),
      m_symbol(symbol != nullptr ? symbol : ""),
      m_label(label != nullptr ? label : "") {}

Sym::Sym(const SymRec& rec, int references) : Sym(rec.id, rec.symbol, rec.label, references) {}

int Sym::compareById(const Sym& other) const { return (m_id > other.m_id) - (m_id < other.m_id); }

int Sym::compareBySymbol(const Sym& other) const {
  return strcmp(m_symbol.c_str(), other.m_symbol.c_str());
}

int Sym::compareBySymbolNc(const Sym& other) const {
  return strcasecmp(m_symbol.c_str(), other.m_symbol.c_str());
}

int Sym::compareSymsById(const void* a, const void* b) {
  return (*static_cast<const Sym* const*>(a))->compareById(**static_cast<const Sym* const*>(b));
}

int Sym::compareSymsBySymbol(const void* a, const void* b) {
  return (*static_cast<const Sym* const*>(a))->compareBySymbol(**static_cast<const Sym* const*>(b));
}

int Sym::compareSymsBySymbolNc(const void* a, const void* b) {
  return (*static_cast<const Sym* const*>(a))
      ->compareBySymbolNc(**static_cast<const Sym* const*>(b));
}

void Sym::dumpObj(int indentLvl, const char* label) const {
  dumpHeader(indentLvl, label, "Sym", this, ": refs = %d, id = %d, symbol = '%s', label = '%s'\n",
             m_references, m_id, m_symbol.c_str(), m_label.c_str());
}

// ---------------------------------------------------------------------------------------------
// SymBuf

SymBuf::SymBuf(unsigned int capacity, bool exactCase)
    : m_entries(0),
      m_capacity(0),
      m_byId(nullptr),
      m_bySymbol(nullptr),
      m_symbolCmpRtn(exactCase ? Sym::compareSymsBySymbol : Sym::compareSymsBySymbolNc),
      m_sorted(true),
      m_indexed(false),
      m_indexMask(0),
      m_idIndex(nullptr),
      m_symbolIndex(nullptr) {
  allocArrays(capacity);
}

SymBuf::~SymBuf() {
  clear();
  mem::freeBlock(m_byId);  // m_bySymbol shares the block
  mem::freeBlock(m_idIndex);
}

// The arrays carry the buffer's own attributes, which are the same wherever the buffer lives.
void* SymBuf::allocMem(size_t nBytes) {
  return mem::allocBlock(nBytes != 0 ? nBytes : 1, k_allocContext);
}

void SymBuf::allocArrays(unsigned int capacity) {
  Sym** block = static_cast<Sym**>(allocMem(2 * sizeof(Sym*) * size_t{capacity}));
  m_byId = block;
  m_bySymbol = block + capacity;
  m_capacity = capacity;
}

void SymBuf::add(const Sym* sym) {
  if (m_entries == m_capacity) expandContents(m_capacity != 0 ? 2 * m_capacity : 1);
  sym->addReference();
  Sym* entry = const_cast<Sym*>(sym);
  m_byId[m_entries] = entry;
  m_bySymbol[m_entries] = entry;
  ++m_entries;
  invalidate();
}

void SymBuf::setExactCase(bool exactCase) {
  const CmpRtn rtn = exactCase ? Sym::compareSymsBySymbol : Sym::compareSymsBySymbolNc;
  if (rtn == m_symbolCmpRtn) return;
  m_symbolCmpRtn = rtn;
  invalidate();
}

void SymBuf::sort() {
  if (m_sorted) return;
  if (m_entries > 0) {
    qsort(m_byId, m_entries, sizeof(Sym*), Sym::compareSymsById);
    qsort(m_bySymbol, m_entries, sizeof(Sym*), m_symbolCmpRtn);
  }
  m_sorted = true;
}

void SymBuf::clear() {
  for (unsigned int i = 0; i < m_entries; ++i) {
    RefCnt_release(m_byId[i]);
  }
  m_entries = 0;
  m_sorted = true;
  m_indexed = false;
}

void SymBuf::expandContents(unsigned int newCapacity) {
  Sym** const old = m_byId;
  allocArrays(std::max(newCapacity, m_entries));
  std::copy(old, old + m_entries, m_byId);
  std::copy(old, old + m_entries, m_bySymbol);
  mem::freeBlock(old);
  invalidate();
}

void SymBuf::rebuild(unsigned int capacity) {
  clear();
  Sym** const old = m_byId;
  allocArrays(capacity);
  mem::freeBlock(old);
}

void SymBuf::invalidate() {
  m_sorted = false;
  m_indexed = false;
}

uint32_t SymBuf::symbolHash(const char* symbol) const {
  const bool fold = !exactCase();
  uint64_t h = 0x9E3779B97F4A7C15ull;
  size_t len = strlen(symbol);
  const uint64_t total = len;
  unsigned char chunk[8];
  while (len > 0) {
    const size_t n = len < 8 ? len : 8;
    memset(chunk, 0, sizeof chunk);
    if (fold) {
      // The same folding as strcasecmp, so that symbols it calls equal hash alike.
      for (size_t i = 0; i < n; ++i)
        chunk[i] = static_cast<unsigned char>(tolower(static_cast<unsigned char>(symbol[i])));
    } else {
      memcpy(chunk, symbol, n);
    }
    uint64_t word;
    memcpy(&word, chunk, sizeof word);
    h = (h ^ word) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
    symbol += n;
    len -= n;
  }
  h = (h ^ total) * 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 29;
  return static_cast<uint32_t>(h);
}

namespace {

uint32_t idHash(int id) { return static_cast<uint32_t>(id) * 0x9E3779B1u; }

}  // namespace

void SymBuf::index() {
  if (m_indexed) return;
  uint32_t size = 8;
  while (size < 2ull * m_entries) size *= 2;
  if (m_idIndex == nullptr || size != m_indexMask + 1) {
    void* block = allocMem(size * (sizeof(IdSlot) + sizeof(SymbolSlot)));
    mem::freeBlock(m_idIndex);
    m_idIndex = static_cast<IdSlot*>(block);
    m_symbolIndex = reinterpret_cast<SymbolSlot*>(m_idIndex + size);
    m_indexMask = size - 1;
  }
  std::fill(m_idIndex, m_idIndex + size, IdSlot{nullptr, 0});
  std::fill(m_symbolIndex, m_symbolIndex + size, SymbolSlot{nullptr, 0});
  // Filled in sorted order, so that of several equal keys the first in order is found.
  for (unsigned int i = 0; i < m_entries; ++i) {
    const Sym* sym = m_byId[i];
    uint32_t slot = idHash(sym->id()) & m_indexMask;
    while (m_idIndex[slot].sym != nullptr) slot = (slot + 1) & m_indexMask;
    m_idIndex[slot] = IdSlot{sym, sym->id()};
  }
  for (unsigned int i = 0; i < m_entries; ++i) {
    const Sym* sym = m_bySymbol[i];
    const uint32_t hash = symbolHash(sym->symbol());
    uint32_t slot = hash & m_indexMask;
    while (m_symbolIndex[slot].sym != nullptr) slot = (slot + 1) & m_indexMask;
    m_symbolIndex[slot] = SymbolSlot{sym, hash};
  }
  m_indexed = true;
}

const Sym* SymBuf::findId(int id) const {
  for (uint32_t slot = idHash(id) & m_indexMask;; slot = (slot + 1) & m_indexMask) {
    const IdSlot& entry = m_idIndex[slot];
    if (entry.sym == nullptr) return nullptr;
    if (entry.id == id) return entry.sym;
  }
}

const Sym* SymBuf::findSymbol(const char* symbol) const {
  const uint32_t hash = symbolHash(symbol);
  const bool exact = exactCase();
  for (uint32_t slot = hash & m_indexMask;; slot = (slot + 1) & m_indexMask) {
    const SymbolSlot& entry = m_symbolIndex[slot];
    if (entry.sym == nullptr) return nullptr;
    if (entry.hash == hash && (exact ? strcmp(symbol, entry.sym->symbol())
                                     : strcasecmp(symbol, entry.sym->symbol())) == 0) {
      return entry.sym;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// SymTbl

SymTbl::SymTbl() : SymTbl(true, DEFAULT_CAPACITY) {}

SymTbl::SymTbl(mem::regionName_t region) : SymTbl(true, DEFAULT_CAPACITY, region) {}

SymTbl::SymTbl(bool exactCase, unsigned int capacity)
    : m_autoSort(false),
      m_exactCase(exactCase),
      m_buf(new SymBuf(capacity, exactCase)),
      m_strings(nullptr),
      m_entries(0),
      m_byId(nullptr) {
  updateCache();
}

SymTbl::SymTbl(bool exactCase, mem::regionName_t region)
    : SymTbl(exactCase, DEFAULT_CAPACITY, region) {}

// The process heap is the only region of this program: the buffer, the entries and the copied
// strings all live there.
SymTbl::SymTbl(bool exactCase, unsigned int capacity, mem::regionName_t /*region*/)
    : SymTbl(exactCase, capacity) {}

SymTbl::~SymTbl() {
  delete m_buf;
  delete m_strings;
}

void SymTbl::updateCache() {
  m_entries = m_buf->entries();
  m_byId = m_buf->byId();
}

const SymBuf& SymTbl::prepared() const {
  m_buf->sort();
  m_buf->index();
  return *m_buf;
}

void SymTbl::add(const Sym* sym) {
  m_buf->add(sym);
  if (m_autoSort) m_buf->sort();
  updateCache();
}

Sym* SymTbl::newSym(int id, const char* symbol, const char* label, bool copyStrings) {
  if (copyStrings) {
    if (m_strings == nullptr) m_strings = new StrVec(capacity());
    if (symbol != nullptr) symbol = m_strings->append(symbol);
    if (label != nullptr) label = m_strings->append(label);
  }
  return new Sym(id, symbol, label, 0);
}

void SymTbl::add(int id, const char* symbol, const char* label, bool copyStrings) {
  add(newSym(id, symbol, label, copyStrings));
}

void SymTbl::add(const SymRec* recs, unsigned int nRecs, bool copyStrings) {
  for (unsigned int i = 0; i < nRecs; ++i) {
    add(recs[i].id, recs[i].symbol, recs[i].label, copyStrings);
  }
}

const Sym* SymTbl::lookup(const char* symbol) const {
  if (m_entries == 0 || symbol == nullptr) return nullptr;
  return prepared().findSymbol(symbol);
}

const Sym* SymTbl::lookup(int id) const {
  if (m_entries == 0) return nullptr;
  return prepared().findId(id);
}

int SymTbl::symbolToId(const char* symbol) const {
  const Sym* sym = lookup(symbol);
  return sym != nullptr ? sym->id() : NPOS;
}

const char* SymTbl::symbolToLabel(const char* symbol) const {
  const Sym* sym = lookup(symbol);
  return sym != nullptr ? sym->label() : nullptr;
}

const char* SymTbl::idToLabel(int id) const {
  const Sym* sym = lookup(id);
  return sym != nullptr ? sym->label() : nullptr;
}

const char* SymTbl::idToSymbol(int id) const {
  const Sym* sym = lookup(id);
  return sym != nullptr ? sym->symbol() : nullptr;
}

int SymTbl::maxId() const {
  if (m_entries == 0) return -1;
  return prepared().byId()[m_entries - 1]->id();
}

void SymTbl::setExactCase(bool exactCase) {
  if (exactCase == m_exactCase) return;
  m_exactCase = exactCase;
  m_buf->setExactCase(exactCase);
  if (m_autoSort && m_entries > 0) m_buf->sort();
}

void SymTbl::setAutoSort(bool autoSort) {
  m_autoSort = autoSort;
  if (autoSort) m_buf->sort();
}

void SymTbl::clearStrings() {
  if (m_strings != nullptr) m_strings->clear();
}

void SymTbl::clear() {
  m_buf->clear();
  clearStrings();
  updateCache();
}

void SymTbl::setCapacity(unsigned int capacity) {
  if (m_buf->capacity() >= capacity) {
    clear();
    return;
  }
  m_buf->rebuild(capacity);
  clearStrings();
  updateCache();
}

void SymTbl::expand(unsigned int newCapacity) {
  if (m_entries == 0) {
    setCapacity(newCapacity);
    return;
  }
  m_buf->expandContents(newCapacity);
  if (m_autoSort) m_buf->sort();
  updateCache();
}

namespace {

bool isNameChar(char c) { return isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

}  // namespace

std::string SymTbl::substituteVars(const char* str) const {
  std::string text = str != nullptr ? str : "";
  unsigned int replacements = 0;
  size_t pos = 0;
  while (replacements < MAX_SUBST_COUNT) {
    const size_t dollar = text.find('$', pos);
    if (dollar == std::string::npos) break;
    pos = dollar + 1;

    size_t nameBegin = dollar + 1;
    size_t nameEnd;
    size_t refEnd;
    const char open = nameBegin < text.size() ? text[nameBegin] : '\0';
    if (open == '(' || open == '{') {
      ++nameBegin;
      nameEnd = text.find(open == '(' ? ')' : '}', nameBegin);
      if (nameEnd == std::string::npos) continue;
      refEnd = nameEnd + 1;
    } else {
      nameEnd = nameBegin;
      while (nameEnd < text.size() && isNameChar(text[nameEnd])) ++nameEnd;
      refEnd = nameEnd;
    }
    // A "$" without a name is plain text, whatever the table holds.
    if (nameEnd == nameBegin) continue;

    const Sym* sym = lookup(text.substr(nameBegin, nameEnd - nameBegin).c_str());
    if (sym == nullptr) continue;
    const size_t labelLen = strlen(sym->label());
    if (text.size() - (refEnd - dollar) + labelLen > MAX_SUBST_LEN) continue;
    text.replace(dollar, refEnd - dollar, sym->label(), labelLen);
    ++replacements;
  }
  return text;
}

void SymTbl::dumpObj(int indentLvl, const char* label) const {
  const SymBuf& buf = prepared();
  dumpHeader(indentLvl, label, "SymTbl", this, ", entries = %d, capacity = %d contents:\n",
             static_cast<int>(buf.entries()), static_cast<int>(buf.capacity()));
  char entryLabel[32];
  for (unsigned int i = 0; i < buf.entries(); ++i) {
    snprintf(entryLabel, sizeof entryLabel, "%zd. ", static_cast<ssize_t>(i));
    buf.byId()[i]->dumpObj(indentLvl + 2, entryLabel);
  }
}

}  // namespace rc
