// Fault rules: a rule set rc::fault::Rules of named rules rc::fault::Rule, each a set
// rc::fault::Attrs of named attributes rc::fault::Attr holding one rc::fault::Value.
//
// A rule created by name has the attributes "on" (bool true), "numOns" (integer 0, the number of
// evaluations that fired) and "numInsertions" (integer 0, the number of faults the program says
// it inserted). Its first auto-counter attribute in name order decides on which evaluations the
// rule fires (Rule::isOn); the choice survives copies and the binary form, which do not record
// it. Sets are ordered by name (byte-wise) and own their members; copies and
// assignments are deep, counters included. Names containing "." address a field of an attribute
// ("c.interval").
//
// Objects live in heap blocks of their own types (mt_rc_fault_attr, mt_rc_fault_rule ...); the
// sets keep their arrays of members under mt_rc_fault_attrs and mt_rc_fault_rules. Misuse by
// code fails an internal assertion; restoreFrom refuses data that runs short or is malformed (a
// duplicate name) with the stream's read error (RC_SC_READ_FAILED). Not thread-safe: the rules
// belong to the thread that owns the fault controls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memStlAlloc.h"
#include "comps/memcomps/base/memString.h"
#include "comps/recomps/rcFaultValue.h"

namespace rc {
class Mutex;
}

namespace rc::fault {

class Attr : public mem::newDelete<mt_rc_fault_attr> {
 public:
  Attr();
  explicit Attr(std::string_view name, int dataType = DataType::NO_VAL);
  Attr(const Attr& other);
  Attr& operator=(const Attr& other);
  ~Attr();

  const char* name() const { return m_name.c_str(); }
  const String& nameStr() const { return m_name; }
  Value& value() { return m_value; }
  const Value& value() const { return m_value; }
  int dataType() const { return m_value.dataType(); }
  void setDataType(int dataType) { m_value.setDataType(dataType); }
  // Value::setVal(field, text).
  void setValue(const char* field, const char* text) { m_value.setVal(field, text); }

  void setBoolVal(bool val) { m_value.setBoolVal(val); }
  void setIntVal(int val) { m_value.setIntVal(val); }
  void setLongVal(int64_t val) { m_value.setLongVal(val); }
  void setFltVal(float val) { m_value.setFltVal(val); }
  void setStrVal(const char* text, bool stripQuotes = false) {
    m_value.setStrVal(text, stripQuotes);
  }
  void setStringVal(const String& text, bool stripQuotes = false) {
    m_value.setStringVal(text, stripQuotes);
  }
  bool boolVal() const { return m_value.boolVal(); }
  int intVal() const { return m_value.intVal(); }
  int64_t longVal() const { return m_value.longVal(); }
  float fltVal() const { return m_value.fltVal(); }
  const char* strVal() const { return m_value.strVal(); }
  String stringVal() const { return m_value.stringVal(); }
  bool boolField(const char* field) const { return m_value.boolField(field); }
  int intField(const char* field) const { return m_value.intField(field); }
  int64_t longField(const char* field) const { return m_value.longField(field); }
  float fltField(const char* field) const { return m_value.fltField(field); }
  const char* strField(const char* field) const { return m_value.strField(field); }
  String stringField(const char* field) const { return m_value.stringField(field); }
  // Each returns the value before the change.
  int incrInt(int amount) { return m_value.incrInt(amount); }
  int decrInt(int amount) { return m_value.decrInt(amount); }
  int64_t incrLong(int64_t amount) { return m_value.incrLong(amount); }
  int64_t decrLong(int64_t amount) { return m_value.decrLong(amount); }
  float incrFlt(float amount) { return m_value.incrFlt(amount); }
  float decrFlt(float amount) { return m_value.decrFlt(amount); }
  // One evaluation of an auto-counter value.
  bool isOn(int numInsertions) { return m_value.isOn(numInsertions); }

  void saveOn(ByteStrm& s) const;
  void restoreFrom(ByteStrm& s);
  size_t binarySize() const;
  void displayContents(const char* ruleName, bool verbose) const {
    m_value.displayContents(ruleName, name(), verbose);
  }
  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }
  void clear();

 private:
  String m_name;
  Value m_value;
};

// The ordered set of owned, uniquely named objects behind Attrs and Rules. Copies are deep.
//
// The members are kept in one flat array of pointers rather than a tree: a rule set read from a
// large rules file holds hundreds of thousands of rules, and a tree node per member cost more
// than the member itself. The array is two runs, each in name order: the front run and a short
// run of recent insertions behind it, merged into the front run when it grows past the square
// root of the size (and before any walk in order), so that names arriving in any order cost no
// more than a few moves each. Names arriving in order are appended to the front run.
template <typename T, memType_t SetType>
class NamedSet {
 public:
  using Set = std::vector<T*, mem::stlAlloc<T*, SetType>>;
  using const_iterator = typename Set::const_iterator;

  NamedSet() = default;
  NamedSet(const NamedSet& other) { *this = other; }
  NamedSet& operator=(const NamedSet& other);
  ~NamedSet() { clear(); }

  T* lookup(std::string_view name) const;
  // Creates one of that name when asked and there is none.
  T* lookup(std::string_view name, bool allocOnDemand) { return findOrAdd(name, allocOnDemand); }
  // Takes ownership; a duplicate name fails the assertion "result.second".
  void insert(T* obj);
  // In name order.
  const_iterator begin() const { return ordered().begin(); }
  const_iterator end() const { return ordered().end(); }
  int entries() const { return static_cast<int>(m_set.size()); }
  void clear();
  // Exchanges the contents with other's, without copying a member.
  void swap(NamedSet& other) {
    m_set.swap(other.m_set);
    std::swap(m_frontLen, other.m_frontLen);
  }

 protected:
  // The object of that name; with add, one is created when there is none (*added says so).
  T* findOrAdd(std::string_view name, bool add, bool* added = nullptr);
  // Takes ownership of obj unless one of that name is there already (then false).
  bool insertNew(T* obj);
  // Deletes the member of that name, if any.
  void remove(std::string_view name);
  // The members, merged into name order.
  const Set& ordered() const;
  // Replaces the contents by the count read from s and that many objects made by readOne(s).
  // Data that runs short or names an object twice is the stream's read error (naming routine),
  // and leaves the set empty.
  template <typename ReadOne>
  void restoreEntries(ByteStrm& s, const char* routine, ReadOne readOne);
  // "<label><kind> [this], set [set], entries = n, contents:", then each object one level deeper
  // with the label "<i>. ".
  void dumpEntries(int indentLvl, const char* label, const char* kind) const;

  // Where name is or would go: the index, and whether it is there.
  std::pair<size_t, bool> position(std::string_view name) const;
  // Puts obj at index pos (as position() gave it) and keeps the runs short.
  void insertAt(size_t pos, T* obj);

  // Merging reorders the pointers only: walks and lookups stay valid.
  mutable Set m_set;
  mutable size_t m_frontLen = 0;  // the length of the front run
};

class Attrs : public NamedSet<Attr, mt_rc_fault_attrs> {
 public:
  // The attribute of that name, created when missing (*added says so).
  Attr* addDefault(std::string_view name, bool* added) { return findOrAdd(name, true, added); }
  // The first attribute in name order whose value is an auto-counter; null when none is.
  Attr* findAutoCtrAttr() const;

  void saveOn(ByteStrm& s) const;
  // Replaces the contents.
  void restoreFrom(ByteStrm& s);
  size_t binarySize() const;
  void displayContents(const char* ruleName, bool verbose) const;
  void dumpObj(int indentLvl, const char* label) const { dumpEntries(indentLvl, label, "Attrs"); }
  void dump() const { dumpObj(0, nullptr); }
};

class Rule : public mem::newDelete<mt_rc_fault_rule> {
 public:
  // No name and no attributes.
  Rule();
  // The three default attributes.
  explicit Rule(std::string_view name);
  // A deep copy; the references are found again by name.
  Rule(const Rule& other);
  Rule& operator=(const Rule& other);
  ~Rule();

  const char* name() const { return m_name.c_str(); }
  const String& nameStr() const { return m_name; }
  // The attributes, the default ones included.
  Attrs& attrs() {
    materialize();
    return m_attrs;
  }
  const Attrs& attrs() const {
    materialize();
    return m_attrs;
  }

  // The attribute of the whole name, else, for a name with ".", the attribute of the part before
  // the first "." with *field set to the rest; null when there is none. *field is "" unless
  // set.
  Attr* lookup(const char* name, const char** field) const;
  // Splits name at its first "." into attribute and field, creates the attribute if missing and
  // sets its value from the text (Value::setVal(field, text)).
  void setAttr(const char* name, const char* text);

  // Writers use the part of name before its first "."; the attribute is created if missing and
  // its plain value replaced (a string verbatim).
  void setBoolVal(const char* name, bool val);
  void setIntVal(const char* name, int val);
  void setLongVal(const char* name, int64_t val);
  void setFltVal(const char* name, float val);
  void setStrVal(const char* name, const char* text);
  void setStringVal(const char* name, const String& text);
  // Readers: the attribute's value (or field, see lookup); dflt when there is no attribute.
  bool boolVal(const char* name, bool dflt) const;
  int intVal(const char* name, int dflt) const;
  int64_t longVal(const char* name, int64_t dflt) const;
  float fltVal(const char* name, float dflt) const;
  const char* strVal(const char* name, const char* dflt) const;
  String stringVal(const char* name, const String& dflt) const;
  // Create the attribute if missing; it must hold a number (assertion). Each returns the value
  // before the change.
  int incrInt(const char* name, int amount);
  int decrInt(const char* name, int amount);
  int64_t incrLong(const char* name, int64_t amount);
  int64_t decrLong(const char* name, int64_t amount);
  float incrFlt(const char* name, float amount);
  float decrFlt(const char* name, float amount);

  // Counts one inserted fault in "numInsertions".
  void incrNumInsertions();
  // Whether the rule fires: "on" must read true; with updateCounters the auto-counter (if any)
  // is evaluated against "numInsertions" and a firing is counted in "numOns". A counter that a
  // tester set to something other than a number restarts from its value read as an integer.
  bool isOn(bool updateCounters);
  // The attribute that decides the firing pattern; null when the rule has none.
  Attr* autoCtrAttr();

  void saveOn(ByteStrm& s) const;
  // Replaces name and attributes; a rule read without "on", "numOns" or "numInsertions" gets
  // the default attribute.
  void restoreFrom(ByteStrm& s);
  size_t binarySize() const;
  void displayContents(bool verbose) const { attrs().displayContents(name(), verbose); }
  void dumpObj(int indentLvl, const char* label) const;
  void dump() const { dumpObj(0, nullptr); }
  // No name, no attributes.
  void clear();
  // Rules are not locked: null.
  Mutex* mutex() const { return nullptr; }

 private:
  friend class Rules;
  friend class RulesFile;

  // Creates the default attributes that are missing and finds the references again.
  void addDefaultAttrs() const;
  // A rule made by name gets its default attributes only when something first looks at its
  // attributes or counts with them: a large rules file mostly sets one attribute of each of many
  // rules, and three default attributes apiece would be most of its size. Until then m_onAttr
  // holds a mark, and the defaults read as they will be made (on, no counts).
  bool defaultsPending() const;
  void materialize() const;
  void findRefs();
  Attr* attrForWrite(const char* name);
  // read(attribute, field) of the attribute name addresses (see lookup); dflt without one.
  template <typename T, typename Read>
  T readAttr(const char* name, T dflt, Read read) const;
  static void bumpCounter(Attr* counter);

  // Mutable for the default attributes made on a first look.
  String m_name;
  mutable Attrs m_attrs;
  mutable Attr* m_onAttr;
  mutable Attr* m_numOnsAttr;
  mutable Attr* m_numInsAttr;
  mutable Attr* m_autoCtrAttr;
};

class Rules : public mem::newDelete<mt_rc_fault_rules>, public NamedSet<Rule, mt_rc_fault_rules> {
 public:
  Rule* lookupByKey(const char* key) const { return key != nullptr ? lookup(key) : nullptr; }
  // Some rule is on (Rule::isOn(false)); no counter moves.
  bool isAnyOn() const;
  // Each rule of src replaces the one of the same name (addNew) or removes it (!addNew); then
  // "numOns" and "numInsertions" of every rule restart at 0.
  void mergeFrom(const Rules& src, bool addNew);

  void saveOn(ByteStrm& s) const;
  void restoreFrom(ByteStrm& s);
  size_t binarySize() const;
  void displayContents(bool verbose) const;
  void dumpObj(int indentLvl, const char* label) const { dumpEntries(indentLvl, label, "Rules"); }
  void dump() const { dumpObj(0, nullptr); }
};

}  // namespace rc::fault
