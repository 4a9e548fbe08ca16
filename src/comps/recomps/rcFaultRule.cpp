#include "comps/recomps/rcFaultRule.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"

namespace rc::fault {

namespace {

const char* const kOn = "on";
const char* const kNumOns = "numOns";
const char* const kNumInsertions = "numInsertions";

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

bool isDefaultName(std::string_view name) {
  return name == kOn || name == kNumOns || name == kNumInsertions;
}

// The mark of a rule whose default attributes are still to be made; never read.
Attr* pendingMark() {
  static Attr s_mark;
  return &s_mark;
}

// The part of name before its first "." and the rest after it ("" without a ".").
std::string_view headOf(const char* name, const char** rest) {
  name = orEmpty(name);
  const char* dot = strchr(name, '.');
  *rest = dot != nullptr ? dot + 1 : "";
  return dot != nullptr ? std::string_view(name, dot - name) : std::string_view(name);
}

}  // namespace

// --- Attr

Attr::Attr() = default;

Attr::Attr(std::string_view name, int dataType) : m_name(name), m_value(dataType) {}

Attr::Attr(const Attr& other) : m_name(other.m_name), m_value(other.m_value) {}

Attr& Attr::operator=(const Attr& other) {
  if (this != &other) {
    m_name = other.m_name;
    m_value = other.m_value;
  }
  return *this;
}

Attr::~Attr() = default;

void Attr::clear() {
  m_name.clear();
  m_value.clear();
}

void Attr::saveOn(ByteStrm& s) const {
  s << m_name;
  m_value.saveOn(s);
}

void Attr::restoreFrom(ByteStrm& s) {
  clear();
  s >> m_name;
  m_value.restoreFrom(s);
}

size_t Attr::binarySize() const { return m_name.size() + 7 + m_value.binarySize(); }

void Attr::dumpObj(int indentLvl, const char* label) const {
  rc::dumpHeader(indentLvl, label, "Attr", this, ": name = '%s', val:\n", name());
  m_value.dumpObj(indentLvl + 1, nullptr);
}

// --- NamedSet

namespace {

// Where name is or would go within one run of members in name order.
template <typename It>
std::pair<It, bool> findIn(It first, It last, std::string_view name) {
  const It it = std::lower_bound(first, last, name, [](const auto* obj, std::string_view n) {
    return std::string_view(obj->nameStr()) < n;
  });
  return {it, it != last && std::string_view((*it)->nameStr()) == name};
}

// The recent run is merged once it is longer than the square root of the size (at least 16), so
// n insertions in any order cost O(n sqrt n) moves rather than O(n^2).
// Members a front-run insertion may move.
constexpr size_t kShortMove = 64;

bool recentRunTooLong(size_t recentLen, size_t size) {
  return recentLen > 16 && recentLen * recentLen > size;
}

}  // namespace

template <typename T, memType_t SetType>
NamedSet<T, SetType>& NamedSet<T, SetType>::operator=(const NamedSet& other) {
  if (this == &other) return *this;
  clear();
  const Set& src = other.ordered();
  m_set.reserve(src.size());
  for (const T* obj : src) {
    auto copy = std::make_unique<T>(*obj);
    m_set.push_back(copy.get());
    copy.release();
  }
  m_frontLen = m_set.size();
  return *this;
}

template <typename T, memType_t SetType>
const typename NamedSet<T, SetType>::Set& NamedSet<T, SetType>::ordered() const {
  if (m_frontLen != m_set.size()) {
    const auto byName = [](const T* a, const T* b) { return a->nameStr() < b->nameStr(); };
    std::inplace_merge(m_set.begin(), m_set.begin() + m_frontLen, m_set.end(), byName);
    m_frontLen = m_set.size();
  }
  return m_set;
}

template <typename T, memType_t SetType>
std::pair<size_t, bool> NamedSet<T, SetType>::position(std::string_view name) const {
  if (m_frontLen == m_set.size() && m_frontLen != 0) {
    // Names that arrive in order, as in a generated rules file, need no search.
    const std::string_view last(m_set.back()->nameStr());
    if (last < name) return {m_set.size(), false};
    if (last == name) return {m_set.size() - 1, true};
  }
  const auto front = findIn(m_set.begin(), m_set.begin() + m_frontLen, name);
  if (front.second || m_frontLen == m_set.size()) {
    return {static_cast<size_t>(front.first - m_set.begin()), front.second};
  }
  const auto recent = findIn(m_set.begin() + m_frontLen, m_set.end(), name);
  return {static_cast<size_t>(recent.first - m_set.begin()), recent.second};
}

template <typename T, memType_t SetType>
void NamedSet<T, SetType>::insertAt(size_t pos, T* obj) {
  if (pos == m_set.size() && m_frontLen == m_set.size()) {
    // After every member: the front run simply grows.
    m_set.push_back(obj);
    ++m_frontLen;
    return;
  }
  if (m_frontLen == m_set.size() && m_frontLen - pos <= kShortMove) {
    // A few pointers to move: the front run takes it at once.
    m_set.insert(m_set.begin() + static_cast<std::ptrdiff_t>(pos), obj);
    ++m_frontLen;
    return;
  }
  if (pos < m_frontLen) {
    // position() points into the front run only for a name that is there or while the recent run
    // is empty; a new name belongs in the recent run.
    pos = static_cast<size_t>(
        findIn(m_set.begin() + m_frontLen, m_set.end(), obj->nameStr()).first - m_set.begin());
  }
  m_set.insert(m_set.begin() + static_cast<std::ptrdiff_t>(pos), obj);
  if (recentRunTooLong(m_set.size() - m_frontLen, m_set.size())) ordered();
}

template <typename T, memType_t SetType>
T* NamedSet<T, SetType>::lookup(std::string_view name) const {
  const auto [pos, found] = position(name);
  return found ? m_set[pos] : nullptr;
}

template <typename T, memType_t SetType>
T* NamedSet<T, SetType>::findOrAdd(std::string_view name, bool add, bool* added) {
  const auto [pos, found] = position(name);
  if (added != nullptr) *added = !found && add;
  if (found) return m_set[pos];
  if (!add) return nullptr;
  auto obj = std::make_unique<T>(name);
  insertAt(pos, obj.get());
  return obj.release();
}

template <typename T, memType_t SetType>
bool NamedSet<T, SetType>::insertNew(T* obj) {
  const auto [pos, found] = position(obj->nameStr());
  if (found) return false;
  insertAt(pos, obj);
  return true;
}

template <typename T, memType_t SetType>
void NamedSet<T, SetType>::insert(T* obj) {
  const bool inserted = insertNew(obj);
  RC_FAULT_ASSERT(inserted, "result.second");
}

template <typename T, memType_t SetType>
void NamedSet<T, SetType>::remove(std::string_view name) {
  const auto [pos, found] = position(name);
  if (!found) return;
  delete m_set[pos];
  m_set.erase(m_set.begin() + static_cast<std::ptrdiff_t>(pos));
  if (pos < m_frontLen) --m_frontLen;
}

template <typename T, memType_t SetType>
void NamedSet<T, SetType>::clear() {
  for (T* obj : m_set) delete obj;
  m_set.clear();
  m_frontLen = 0;
}

template <typename T, memType_t SetType>
template <typename ReadOne>
void NamedSet<T, SetType>::restoreEntries(ByteStrm& s, const char* routine, ReadOne readOne) {
  clear();
  try {
    unsigned count = 0;
    s >> count;
    for (unsigned i = 0; i < count; ++i) {
      std::unique_ptr<T> obj = readOne(s);
      if (!insertNew(obj.get())) ByteStrm::readFailed(routine);
      obj.release();
    }
  } catch (...) {
    clear();
    throw;
  }
}

template <typename T, memType_t SetType>
void NamedSet<T, SetType>::dumpEntries(int indentLvl, const char* label, const char* kind) const {
  rc::dumpHeader(indentLvl, label, kind, this, ", set [%s], entries = %d, contents:\n",
                 rc::DumpAddr(&m_set).str(), entries());
  int index = 0;
  for (const T* obj : ordered()) {
    char entryLabel[16];
    snprintf(entryLabel, sizeof entryLabel, "%d. ", ++index);
    obj->dumpObj(indentLvl + 1, entryLabel);
  }
}

template class NamedSet<Attr, mt_rc_fault_attrs>;
template class NamedSet<Rule, mt_rc_fault_rules>;

// --- Attrs

Attr* Attrs::findAutoCtrAttr() const {
  for (Attr* attr : ordered()) {
    if (attr->dataType() == DataType::DT_AUTO_COUNTER) return attr;
  }
  return nullptr;
}

void Attrs::saveOn(ByteStrm& s) const {
  s << static_cast<unsigned>(m_set.size());
  for (const Attr* attr : ordered()) attr->saveOn(s);
}

void Attrs::restoreFrom(ByteStrm& s) {
  restoreEntries(s, "recomps/fault::Attrs::restoreFrom", [](ByteStrm& strm) {
    auto attr = std::make_unique<Attr>();
    attr->restoreFrom(strm);
    return attr;
  });
}

size_t Attrs::binarySize() const {
  size_t size = 4;
  for (const Attr* attr : ordered()) size += attr->binarySize();
  return size;
}

void Attrs::displayContents(const char* ruleName, bool verbose) const {
  for (const Attr* attr : ordered()) attr->displayContents(ruleName, verbose);
}

// --- Rule

Rule::Rule()
    : m_onAttr(nullptr), m_numOnsAttr(nullptr), m_numInsAttr(nullptr), m_autoCtrAttr(nullptr) {}

Rule::Rule(std::string_view name) : Rule() {
  m_name = name;
  m_onAttr = pendingMark();
}

Rule::Rule(const Rule& other) : Rule() { *this = other; }

Rule& Rule::operator=(const Rule& other) {
  if (this == &other) return *this;
  m_name = other.m_name;
  m_attrs = other.m_attrs;
  findRefs();
  if (other.defaultsPending()) m_onAttr = pendingMark();
  return *this;
}

Rule::~Rule() { m_onAttr = m_numOnsAttr = m_numInsAttr = m_autoCtrAttr = rc::invalidAddr<Attr>(); }

void Rule::findRefs() {
  m_onAttr = m_attrs.lookup(kOn);
  m_numOnsAttr = m_attrs.lookup(kNumOns);
  m_numInsAttr = m_attrs.lookup(kNumInsertions);
  m_autoCtrAttr = m_attrs.findAutoCtrAttr();
}

bool Rule::defaultsPending() const { return m_onAttr == pendingMark(); }

void Rule::materialize() const {
  if (!defaultsPending()) return;
  m_onAttr = nullptr;
  addDefaultAttrs();
}

void Rule::addDefaultAttrs() const {
  bool added = false;
  m_onAttr = m_attrs.addDefault(kOn, &added);
  if (added) m_onAttr->setBoolVal(true);
  m_numOnsAttr = m_attrs.addDefault(kNumOns, &added);
  if (added) m_numOnsAttr->setIntVal(0);
  m_numInsAttr = m_attrs.addDefault(kNumInsertions, &added);
  if (added) m_numInsAttr->setIntVal(0);
  m_autoCtrAttr = m_attrs.findAutoCtrAttr();
}

Attr* Rule::autoCtrAttr() {
  // The attribute may since have been given a plain value through a writer; the next counter
  // then takes over.
  if (m_autoCtrAttr == nullptr || m_autoCtrAttr->dataType() != DataType::DT_AUTO_COUNTER) {
    m_autoCtrAttr = m_attrs.findAutoCtrAttr();
  }
  return m_autoCtrAttr;
}

Attr* Rule::lookup(const char* name, const char** field) const {
  *field = "";
  materialize();
  name = orEmpty(name);
  if (Attr* attr = m_attrs.lookup(name)) return attr;
  const char* rest = "";
  const std::string_view head = headOf(name, &rest);
  if (head.size() == strlen(name)) return nullptr;
  Attr* attr = m_attrs.lookup(head);
  if (attr != nullptr) *field = rest;
  return attr;
}

Attr* Rule::attrForWrite(const char* name) {
  materialize();
  const char* field = "";
  const std::string_view head = headOf(name, &field);
  Attr* attr = m_attrs.lookup(head);
  if (attr == nullptr) {
    attr = m_attrs.lookup(head, true);
    // A rule built without its default attributes may just have got one.
    if (m_onAttr == nullptr || m_numOnsAttr == nullptr || m_numInsAttr == nullptr) {
      Attr* autoCtr = m_autoCtrAttr;
      findRefs();
      if (autoCtr != nullptr) m_autoCtrAttr = autoCtr;
    }
  }
  return attr;
}

void Rule::setAttr(const char* name, const char* text) {
  const char* field = "";
  const std::string_view head = headOf(name, &field);
  // Any attribute but a default one is set without making the defaults.
  Attr* attr =
      defaultsPending() && !isDefaultName(head) ? m_attrs.lookup(head, true) : attrForWrite(name);
  attr->setValue(field, text);
  // Only this attribute changed, so only it can take over or give up the counting: no walk over
  // every attribute per line of a rules file.
  if (m_autoCtrAttr != nullptr && m_autoCtrAttr->dataType() != DataType::DT_AUTO_COUNTER) {
    m_autoCtrAttr = m_attrs.findAutoCtrAttr();
  } else if (attr->dataType() == DataType::DT_AUTO_COUNTER &&
             (m_autoCtrAttr == nullptr || attr->nameStr() < m_autoCtrAttr->nameStr())) {
    m_autoCtrAttr = attr;
  }
}

void Rule::setBoolVal(const char* name, bool val) { attrForWrite(name)->setBoolVal(val); }
void Rule::setIntVal(const char* name, int val) { attrForWrite(name)->setIntVal(val); }
void Rule::setLongVal(const char* name, int64_t val) { attrForWrite(name)->setLongVal(val); }
void Rule::setFltVal(const char* name, float val) { attrForWrite(name)->setFltVal(val); }
void Rule::setStrVal(const char* name, const char* text) { attrForWrite(name)->setStrVal(text); }
void Rule::setStringVal(const char* name, const String& text) {
  attrForWrite(name)->setStringVal(text);
}

template <typename T, typename Read>
T Rule::readAttr(const char* name, T dflt, Read read) const {
  const char* field = "";
  const Attr* attr = lookup(name, &field);
  return attr != nullptr ? read(*attr, field) : dflt;
}

bool Rule::boolVal(const char* name, bool dflt) const {
  return readAttr(name, dflt, [](const Attr& a, const char* f) { return a.boolField(f); });
}

int Rule::intVal(const char* name, int dflt) const {
  return readAttr(name, dflt, [](const Attr& a, const char* f) { return a.intField(f); });
}

int64_t Rule::longVal(const char* name, int64_t dflt) const {
  return readAttr(name, dflt, [](const Attr& a, const char* f) { return a.longField(f); });
}

float Rule::fltVal(const char* name, float dflt) const {
  return readAttr(name, dflt, [](const Attr& a, const char* f) { return a.fltField(f); });
}

const char* Rule::strVal(const char* name, const char* dflt) const {
  return readAttr(name, dflt, [](const Attr& a, const char* f) { return a.strField(f); });
}

String Rule::stringVal(const char* name, const String& dflt) const {
  return readAttr(name, dflt, [](const Attr& a, const char* f) { return a.stringField(f); });
}

int Rule::incrInt(const char* name, int amount) { return attrForWrite(name)->incrInt(amount); }
int Rule::decrInt(const char* name, int amount) { return attrForWrite(name)->decrInt(amount); }
int64_t Rule::incrLong(const char* name, int64_t amount) {
  return attrForWrite(name)->incrLong(amount);
}
int64_t Rule::decrLong(const char* name, int64_t amount) {
  return attrForWrite(name)->decrLong(amount);
}
float Rule::incrFlt(const char* name, float amount) { return attrForWrite(name)->incrFlt(amount); }
float Rule::decrFlt(const char* name, float amount) { return attrForWrite(name)->decrFlt(amount); }

void Rule::bumpCounter(Attr* counter) {
  // A rules file may have given the counter any value; counting must not stop the program.
  const int type = counter->dataType();
  if (type != DataType::DT_INT && type != DataType::DT_FLT) counter->setLongVal(counter->longVal());
  counter->incrLong(1);
}

void Rule::incrNumInsertions() {
  materialize();
  RC_FAULT_ASSERT(m_numInsAttr, "m_numInsAttr");
  if (m_numInsAttr != nullptr) bumpCounter(m_numInsAttr);
}

bool Rule::isOn(bool updateCounters) {
  if (!updateCounters && defaultsPending()) return true;
  materialize();
  RC_FAULT_ASSERT(m_onAttr, "m_onAttr");
  if (m_onAttr == nullptr || !m_onAttr->boolVal()) return false;
  if (!updateCounters) return true;
  if (Attr* autoCtr = autoCtrAttr()) {
    RC_FAULT_ASSERT(m_numInsAttr, "m_numInsAttr");
    if (m_numInsAttr == nullptr || !autoCtr->isOn(m_numInsAttr->intVal())) return false;
  }
  RC_FAULT_ASSERT(m_numOnsAttr, "m_numOnsAttr");
  if (m_numOnsAttr != nullptr) bumpCounter(m_numOnsAttr);
  return true;
}

void Rule::saveOn(ByteStrm& s) const {
  materialize();
  s << m_name;
  m_attrs.saveOn(s);
}

void Rule::restoreFrom(ByteStrm& s) {
  clear();
  try {
    s >> m_name;
    m_attrs.restoreFrom(s);
  } catch (...) {
    clear();
    throw;
  }
  addDefaultAttrs();
}

size_t Rule::binarySize() const { return m_name.size() + 7 + attrs().binarySize(); }

void Rule::clear() {
  m_name.clear();
  m_attrs.clear();
  m_onAttr = m_numOnsAttr = m_numInsAttr = m_autoCtrAttr = nullptr;
}

void Rule::dumpObj(int indentLvl, const char* label) const {
  rc::dumpHeader(indentLvl, label, "Rule", this, ": name = '%s', attrs:\n", name());
  attrs().dumpObj(indentLvl + 1, nullptr);
}

// --- Rules

bool Rules::isAnyOn() const {
  for (Rule* rule : ordered()) {
    if (rule->isOn(false)) return true;
  }
  return false;
}

void Rules::mergeFrom(const Rules& src, bool addNew) {
  if (&src == this) {
    const Rules copy(src);
    mergeFrom(copy, addNew);
    return;
  }
  for (const Rule* rule : src.ordered()) {
    auto copy = std::make_unique<Rule>(*rule);
    remove(rule->nameStr());
    if (addNew) insert(copy.release());
  }
  for (Rule* rule : ordered()) {
    if (rule->defaultsPending()) continue;  // its counts are 0 already
    rule->setIntVal(kNumOns, 0);
    rule->setIntVal(kNumInsertions, 0);
  }
}

void Rules::saveOn(ByteStrm& s) const {
  s << static_cast<unsigned>(m_set.size());
  for (const Rule* rule : ordered()) {
    s << rule->nameStr();
    rule->saveOn(s);
  }
}

void Rules::restoreFrom(ByteStrm& s) {
  restoreEntries(s, "recomps/fault::Rules::restoreFrom", [](ByteStrm& strm) {
    String name;
    strm >> name;
    auto rule = std::make_unique<Rule>(name);
    rule->restoreFrom(strm);
    return rule;
  });
}

size_t Rules::binarySize() const {
  size_t size = 4;
  for (const Rule* rule : ordered()) size += rule->nameStr().size() + 7 + rule->binarySize();
  return size;
}

void Rules::displayContents(bool verbose) const {
  for (const Rule* rule : ordered()) rule->displayContents(verbose);
}

}  // namespace rc::fault
