#include "comps/recomps/rcFaultRule.h"

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

template <typename T, memType_t SetType>
NamedSet<T, SetType>& NamedSet<T, SetType>::operator=(const NamedSet& other) {
  if (this == &other) return *this;
  clear();
  // The source is in order: each copy goes at the end without a search.
  for (const T* obj : other.m_set) {
    auto copy = std::make_unique<T>(*obj);
    m_set.insert(m_set.end(), copy.get());
    copy.release();
  }
  return *this;
}

template <typename T, memType_t SetType>
T* NamedSet<T, SetType>::lookup(std::string_view name) const {
  const auto it = m_set.find(name);
  return it != m_set.end() ? *it : nullptr;
}

template <typename T, memType_t SetType>
T* NamedSet<T, SetType>::findOrAdd(std::string_view name, bool add, bool* added) {
  const auto it = m_set.lower_bound(name);
  const bool found = it != m_set.end() && !(name < (*it)->nameStr());
  if (added != nullptr) *added = !found && add;
  if (found) return *it;
  if (!add) return nullptr;
  auto obj = std::make_unique<T>(name);
  m_set.insert(it, obj.get());
  return obj.release();
}

template <typename T, memType_t SetType>
void NamedSet<T, SetType>::insert(T* obj) {
  const bool inserted = m_set.insert(obj).second;
  RC_FAULT_ASSERT(inserted, "result.second");
}

template <typename T, memType_t SetType>
void NamedSet<T, SetType>::clear() {
  for (T* obj : m_set) delete obj;
  m_set.clear();
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
      if (!m_set.insert(obj.get()).second) ByteStrm::readFailed(routine);
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
  for (const T* obj : m_set) {
    char entryLabel[16];
    snprintf(entryLabel, sizeof entryLabel, "%d. ", ++index);
    obj->dumpObj(indentLvl + 1, entryLabel);
  }
}

template class NamedSet<Attr, mt_rc_fault_attrs>;
template class NamedSet<Rule, mt_rc_fault_rules>;

// --- Attrs

Attr* Attrs::findAutoCtrAttr() const {
  for (Attr* attr : m_set) {
    if (attr->dataType() == DataType::DT_AUTO_COUNTER) return attr;
  }
  return nullptr;
}

void Attrs::saveOn(ByteStrm& s) const {
  s << static_cast<unsigned>(m_set.size());
  for (const Attr* attr : m_set) attr->saveOn(s);
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
  for (const Attr* attr : m_set) size += attr->binarySize();
  return size;
}

void Attrs::displayContents(const char* ruleName, bool verbose) const {
  for (const Attr* attr : m_set) attr->displayContents(ruleName, verbose);
}

// --- Rule

Rule::Rule()
    : m_onAttr(nullptr), m_numOnsAttr(nullptr), m_numInsAttr(nullptr), m_autoCtrAttr(nullptr) {}

Rule::Rule(std::string_view name) : Rule() {
  m_name = name;
  addDefaultAttrs();
}

Rule::Rule(const Rule& other) : Rule() { *this = other; }

Rule& Rule::operator=(const Rule& other) {
  if (this == &other) return *this;
  m_name = other.m_name;
  m_attrs = other.m_attrs;
  findRefs();
  return *this;
}

Rule::~Rule() { m_onAttr = m_numOnsAttr = m_numInsAttr = m_autoCtrAttr = rc::invalidAddr<Attr>(); }

void Rule::findRefs() {
  m_onAttr = m_attrs.lookup(kOn);
  m_numOnsAttr = m_attrs.lookup(kNumOns);
  m_numInsAttr = m_attrs.lookup(kNumInsertions);
  m_autoCtrAttr = m_attrs.findAutoCtrAttr();
}

void Rule::addDefaultAttrs() {
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
  headOf(name, &field);
  Attr* attr = attrForWrite(name);
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
  RC_FAULT_ASSERT(m_numInsAttr, "m_numInsAttr");
  if (m_numInsAttr != nullptr) bumpCounter(m_numInsAttr);
}

bool Rule::isOn(bool updateCounters) {
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

size_t Rule::binarySize() const { return m_name.size() + 7 + m_attrs.binarySize(); }

void Rule::clear() {
  m_name.clear();
  m_attrs.clear();
  m_onAttr = m_numOnsAttr = m_numInsAttr = m_autoCtrAttr = nullptr;
}

void Rule::dumpObj(int indentLvl, const char* label) const {
  rc::dumpHeader(indentLvl, label, "Rule", this, ": name = '%s', attrs:\n", name());
  m_attrs.dumpObj(indentLvl + 1, nullptr);
}

// --- Rules

bool Rules::isAnyOn() const {
  for (Rule* rule : m_set) {
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
  for (const Rule* rule : src.m_set) {
    auto copy = std::make_unique<Rule>(*rule);
    const auto it = m_set.find(std::string_view(rule->nameStr()));
    if (it != m_set.end()) {
      delete *it;
      m_set.erase(it);
    }
    if (addNew) insert(copy.release());
  }
  for (Rule* rule : m_set) {
    rule->setIntVal(kNumOns, 0);
    rule->setIntVal(kNumInsertions, 0);
  }
}

void Rules::saveOn(ByteStrm& s) const {
  s << static_cast<unsigned>(m_set.size());
  for (const Rule* rule : m_set) {
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
  for (const Rule* rule : m_set) size += rule->nameStr().size() + 7 + rule->binarySize();
  return size;
}

void Rules::displayContents(bool verbose) const {
  for (const Rule* rule : m_set) rule->displayContents(verbose);
}

}  // namespace rc::fault
