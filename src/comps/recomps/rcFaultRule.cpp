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
  s << nameStr();
  m_value.saveOn(s);
}

void Attr::restoreFrom(ByteStrm& s) {
  clear();
  String name;
  s >> name;
  m_name.assign(name);
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
  const It it = std::lower_bound(
      first, last, name, [](const auto* obj, std::string_view n) { return obj->nameView() < n; });
  return {it, it != last && (*it)->nameView() == name};
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
    m_set.insert(m_set.size(), copy.get());
    copy.release();
  }
  m_set.setFrontLen(m_set.size());
  return *this;
}

template <typename T, memType_t SetType>
const typename NamedSet<T, SetType>::Set& NamedSet<T, SetType>::ordered() const {
  if (m_set.frontLen() != m_set.size()) {
    const auto byName = [](const T* a, const T* b) { return a->nameView() < b->nameView(); };
    std::inplace_merge(m_set.begin(), m_set.begin() + m_set.frontLen(), m_set.end(), byName);
    m_set.setFrontLen(m_set.size());
  }
  return m_set;
}

template <typename T, memType_t SetType>
std::pair<size_t, bool> NamedSet<T, SetType>::position(std::string_view name) const {
  const size_t frontLen = m_set.frontLen();
  if (frontLen == m_set.size() && frontLen != 0) {
    // Names that arrive in order, as in a generated rules file, need no search.
    const std::string_view last(m_set.back()->nameView());
    if (last < name) return {m_set.size(), false};
    if (last == name) return {m_set.size() - 1, true};
  }
  const auto front = findIn(m_set.begin(), m_set.begin() + frontLen, name);
  if (front.second || frontLen == m_set.size()) {
    return {static_cast<size_t>(front.first - m_set.begin()), front.second};
  }
  const auto recent = findIn(m_set.begin() + frontLen, m_set.end(), name);
  return {static_cast<size_t>(recent.first - m_set.begin()), recent.second};
}

template <typename T, memType_t SetType>
void NamedSet<T, SetType>::insertAt(size_t pos, T* obj) {
  const size_t frontLen = m_set.frontLen();
  if (frontLen == m_set.size() && frontLen - pos <= kShortMove) {
    // After every member, or a few pointers to move: the front run takes it at once.
    m_set.insert(pos, obj);
    m_set.setFrontLen(frontLen + 1);
    return;
  }
  if (pos < frontLen) {
    // position() points into the front run only for a name that is there or while the recent run
    // is empty; a new name belongs in the recent run.
    pos = static_cast<size_t>(findIn(m_set.begin() + frontLen, m_set.end(), obj->nameView()).first -
                              m_set.begin());
  }
  m_set.insert(pos, obj);
  if (recentRunTooLong(m_set.size() - frontLen, m_set.size())) ordered();
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
  const auto [pos, found] = position(obj->nameView());
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
  const size_t frontLen = m_set.frontLen();
  m_set.erase(pos);
  if (pos < frontLen) m_set.setFrontLen(frontLen - 1);
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

Rule::Refs* Rule::pendingMark() {
  static Refs s_mark;
  return &s_mark;
}

Rule::Rule() : m_refs(nullptr) {}

Rule::Rule(std::string_view name) : m_name(name), m_refs(pendingMark()) {}

Rule::Rule(const Rule& other) : Rule() { *this = other; }

Rule& Rule::operator=(const Rule& other) {
  if (this == &other) return *this;
  m_name = other.m_name;
  m_attrs = other.m_attrs;
  if (other.defaultsPending()) {
    dropRefs();
    m_refs = pendingMark();
  } else {
    findRefs();
  }
  return *this;
}

Rule::~Rule() {
  dropRefs();
  rc::poison(m_refs);
}

Rule::Refs& Rule::ownRefs() const {
  if (m_refs == nullptr || m_refs == pendingMark()) m_refs = new Refs;
  return *m_refs;
}

void Rule::dropRefs() const {
  if (m_refs != pendingMark()) delete m_refs;
  m_refs = nullptr;
}

void Rule::findRefs() {
  Refs& refs = ownRefs();
  refs.on = m_attrs.lookup(kOn);
  refs.numOns = m_attrs.lookup(kNumOns);
  refs.numIns = m_attrs.lookup(kNumInsertions);
  refs.autoCtr = m_attrs.findAutoCtrAttr();
}

bool Rule::defaultsPending() const { return m_refs == pendingMark(); }

void Rule::materialize() const {
  if (!defaultsPending()) return;
  m_refs = nullptr;
  addDefaultAttrs();
}

void Rule::addDefaultAttrs() const {
  Refs& refs = ownRefs();
  bool added = false;
  refs.on = m_attrs.addDefault(kOn, &added);
  if (added) refs.on->setBoolVal(true);
  refs.numOns = m_attrs.addDefault(kNumOns, &added);
  if (added) refs.numOns->setIntVal(0);
  refs.numIns = m_attrs.addDefault(kNumInsertions, &added);
  if (added) refs.numIns->setIntVal(0);
  refs.autoCtr = m_attrs.findAutoCtrAttr();
}

Attr* Rule::autoCtrAttr() {
  // Pending defaults keep no references: the rule's few attributes are looked at.
  if (m_refs == nullptr || defaultsPending()) return m_attrs.findAutoCtrAttr();
  // The attribute may since have been given a plain value through a writer; the next counter
  // then takes over.
  Attr*& autoCtr = m_refs->autoCtr;
  if (autoCtr == nullptr || autoCtr->dataType() != DataType::DT_AUTO_COUNTER) {
    autoCtr = m_attrs.findAutoCtrAttr();
  }
  return autoCtr;
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
    const Refs& refs = ownRefs();
    if (refs.on == nullptr || refs.numOns == nullptr || refs.numIns == nullptr) {
      Attr* autoCtr = refs.autoCtr;
      findRefs();
      if (autoCtr != nullptr) m_refs->autoCtr = autoCtr;
    }
  }
  return attr;
}

void Rule::setAttr(const char* name, const char* text) {
  const char* field = "";
  const std::string_view head = headOf(name, &field);
  // Any attribute but a default one is set without making the defaults, nor references to
  // them: the counter is found when the defaults are made.
  if (defaultsPending() && !isDefaultName(head)) {
    m_attrs.lookup(head, true)->setValue(field, text);
    return;
  }
  Attr* attr = attrForWrite(name);
  attr->setValue(field, text);
  // Only this attribute changed, so only it can take over or give up the counting: no walk over
  // every attribute.
  Attr*& autoCtr = ownRefs().autoCtr;
  if (autoCtr != nullptr && autoCtr->dataType() != DataType::DT_AUTO_COUNTER) {
    autoCtr = m_attrs.findAutoCtrAttr();
  } else if (attr->dataType() == DataType::DT_AUTO_COUNTER &&
             (autoCtr == nullptr || attr->nameView() < autoCtr->nameView())) {
    autoCtr = attr;
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
  Attr* numIns = m_refs != nullptr ? m_refs->numIns : nullptr;
  RC_FAULT_ASSERT(numIns, "m_numInsAttr");
  if (numIns != nullptr) bumpCounter(numIns);
}

bool Rule::isOn(bool updateCounters) {
  if (!updateCounters && defaultsPending()) return true;
  materialize();
  static const Refs kNone;
  const Refs& refs = m_refs != nullptr ? *m_refs : kNone;
  RC_FAULT_ASSERT(refs.on, "m_onAttr");
  if (refs.on == nullptr || !refs.on->boolVal()) return false;
  if (!updateCounters) return true;
  if (Attr* autoCtr = autoCtrAttr()) {
    RC_FAULT_ASSERT(refs.numIns, "m_numInsAttr");
    if (refs.numIns == nullptr || !autoCtr->isOn(refs.numIns->intVal())) return false;
  }
  RC_FAULT_ASSERT(refs.numOns, "m_numOnsAttr");
  if (refs.numOns != nullptr) bumpCounter(refs.numOns);
  return true;
}

void Rule::saveOn(ByteStrm& s) const {
  materialize();
  s << nameStr();
  m_attrs.saveOn(s);
}

void Rule::restoreFrom(ByteStrm& s) {
  clear();
  try {
    String name;
    s >> name;
    m_name.assign(name);
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
  dropRefs();
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
    remove(rule->nameView());
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
  for (const Rule* rule : ordered()) size += rule->nameView().size() + 7 + rule->binarySize();
  return size;
}

void Rules::displayContents(bool verbose) const {
  for (const Rule* rule : ordered()) rule->displayContents(verbose);
}

}  // namespace rc::fault
