// Typed values of fault rules: the type table rc::fault::DataType, the field keywords
// rc::fault::Keywd, the value rc::fault::Value and its one compound kind, the auto-counter
// rc::fault::AutoCounter, which decides on which evaluations a rule fires.
//
// A Value holds a bool, a 64-bit integer, a 32-bit float or a string, or, for the type
// DT_AUTO_COUNTER, an owned AutoCounter (compound()). Readers convert between the scalar types on
// the fly (a string reads as 0, an integer as its "%lld" text, and so on); the text form of a
// non-string is cached in m_strVal when asked for (and only then: a value holds no text
// storage until it has text). Values are set from text the way a tester
// writes them in a rules file: setVal(text) types the text, setVal(field, text) addresses the
// declared type ("type") or a sub-value of an auto-counter ("interval", "repeat", "limit").
//
// Values and auto-counters live in heap blocks of type mt_rc_fault_value. Misuse by code (a plain
// value set on an auto-counter, an increment of a non-number, a compound operation on a plain
// value) fails an internal assertion; nothing here reports an rc::Err except restoreFrom, which
// refuses a malformed binary form with the stream's read error (RC_SC_READ_FAILED). Not
// thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "comps/memcomps/base/memNewDelete.h"
#include "comps/memcomps/base/memString.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFaultCompact.h"

// Asserts a condition of the fault classes; text is what the failure reports.
#define RC_FAULT_ASSERT(cond, text) \
  ((cond) ? (void)0 : rc::Assert_throwAssert((text), nullptr, false, __FILE__, __LINE__))

namespace rc {
class ByteStrm;
}

namespace rc::fault {

// The type of an attribute value. A table: not instantiable.
class DataType {
 public:
  enum Val {
    BAD_VAL = -1,
    NO_VAL = 0,
    DT_BOOL = 1,
    DT_FLT = 2,
    DT_INT = 3,
    DT_STR = 4,
    DT_AUTO_COUNTER = 5,
    BEGIN_VAL = 1,
    END_VAL = 6,
    NUM_VALS = 5
  };

  // "bool", "float" ...; "unknown" for a value outside the table.
  static const char* symbol(int val);
  static const char* label(int val);
  // NO_VAL for null or empty text, the value whose symbol is exactly the text, else BAD_VAL.
  static int id(const char* symbol);
  static bool isRealType(int val) { return val >= BEGIN_VAL && val < END_VAL; }
  static bool isCompoundType(int val) { return val == DT_AUTO_COUNTER; }

 private:
  DataType() = delete;
  DataType(const DataType&) = delete;
  DataType& operator=(const DataType&) = delete;
};

// The field keywords that may follow an attribute name. A table: not instantiable.
class Keywd {
 public:
  enum Val {
    BAD_VAL = -1,
    NO_VAL = 0,
    K_TYPE = 1,
    K_VAL = 2,
    K_COUNTER = 3,
    K_INTERVAL = 4,
    K_REPEAT = 5,
    K_LIMIT = 6,
    BEGIN_VAL = 1,
    END_VAL = 7,
    NUM_VALS = 6
  };

  static const char* symbol(int val);
  static const char* label(int val);
  // NO_VAL for null or empty text, the keyword whose symbol is exactly the text, else BAD_VAL.
  static int id(const char* symbol);
  static int id(std::string_view symbol);
  static bool isKeyword(int val) { return val >= BEGIN_VAL && val < END_VAL; }
  static bool isSimpleValueField(int val) { return val == K_TYPE || val == K_VAL; }
  static bool isCompoundValueField(int val) { return val >= K_INTERVAL && val <= K_LIMIT; }
  static bool isAutoCounterField(int val) { return isCompoundValueField(val); }
  static bool isDataType(int val) { return val == K_COUNTER; }

 private:
  Keywd() = delete;
  Keywd(const Keywd&) = delete;
  Keywd& operator=(const Keywd&) = delete;
};

// The text a Value holds: one heap block of type mt_rc_fault_value with the length, the bytes and
// a NUL, or nothing at all while the text is empty. A rule set read from a large rules file holds
// several values per rule, most of them numbers whose text is never asked for: a pointer costs
// them far less than a string object each.
class ValueText {
 public:
  ValueText() = default;
  ValueText(const ValueText& other) { assign(other.view()); }
  ValueText& operator=(const ValueText& other) {
    if (this != &other) assign(other.view());
    return *this;
  }
  ~ValueText() { clear(); }

  const char* c_str() const { return m_block != nullptr ? m_block->bytes : ""; }
  size_t size() const { return m_block != nullptr ? m_block->len : 0; }
  bool empty() const { return m_block == nullptr; }
  std::string_view view() const { return std::string_view(c_str(), size()); }
  // text may point into this text.
  void assign(std::string_view text);
  void clear();
  void swap(ValueText& other) { std::swap(m_block, other.m_block); }

 private:
  TextBlock* m_block = nullptr;
};

class Value : public mem::newDelete<mt_rc_fault_value> {
 public:
  explicit Value(int dataType = DataType::NO_VAL, mem::regionName_t region = mem::REGION_HEAP);
  // A deep copy: a compound part is copied with its counters and state.
  Value(const Value& other, mem::regionName_t region = mem::REGION_HEAP);
  Value& operator=(const Value& other);
  virtual ~Value();

  virtual void assignFrom(const Value& other);
  // A deep copy of the same dynamic type, owned by the caller.
  virtual Value* copy(mem::regionName_t region) const;
  // Clears the value first. Data that runs short or is malformed (an unknown type, a compound
  // where only a plain value may stand) raises the stream's read error.
  virtual void restoreFrom(ByteStrm& s);
  // One evaluation of the compound part (see AutoCounter::isOn).
  virtual bool isOn(int numInsertions);
  // Clears the value and gives it the type; an auto-counter starts at interval 1, repeat 0,
  // limit 0.
  virtual void setDataType(int dataType);
  // Sets a sub-value of the compound part; only compound values implement it.
  virtual void setSubField(int keywd, const char* field, const char* text);
  // An upper bound of what saveOn writes.
  virtual size_t binarySize() const;
  virtual void dumpObj(int indentLvl, const char* label) const;
  virtual void saveOn(ByteStrm& s) const;
  // The lines printed at exit for attribute attrName of rule ruleName (printf).
  virtual void displayContents(const char* ruleName, const char* attrName, bool verbose) const;
  virtual int dataType() const { return m_dataType; }
  // Readers of a sub-value of the compound part; only compound values implement them.
  virtual bool boolSubField(int keywd, const char* field) const;
  virtual float fltSubField(int keywd, const char* field) const;
  virtual int intSubField(int keywd, const char* field) const;
  virtual int64_t longSubField(int keywd, const char* field) const;
  virtual const char* strSubField(int keywd, const char* field) const;
  virtual String stringSubField(int keywd, const char* field) const;

  mem::regionName_t memRegion() const { return static_cast<mem::regionName_t>(m_memRegion); }
  // The compound part; null unless the type is DT_AUTO_COUNTER.
  Value* compound() const {
    return m_dataType == DataType::DT_AUTO_COUNTER ? m_vals.compound : nullptr;
  }

  // Each setter drops what the value held (a compound part included) and stores the new value
  // with its type. stripQuotes drops a leading quote and a matching last character.
  void setBoolVal(bool val);
  void setIntVal(int val) { setLongVal(val); }
  void setLongVal(int64_t val);
  void setFltVal(float val);
  void setStrVal(const char* text, bool stripQuotes = false);
  void setStringVal(const String& text, bool stripQuotes = false);
  // Types the text as a rules file does: empty text an empty string, a whole decimal integer a
  // 64-bit integer, a whole decimal floating-point number a float, a boolean word a bool, anything
  // else a string without its quotes. On an auto-counter: assertion "!m_value".
  void setVal(const char* text);
  // "" or "val": setVal(text); "type": setDataType when the text names a type; "interval",
  // "repeat", "limit" (optionally followed by "." and a field): that sub-value of the
  // auto-counter the value becomes if it is not one yet. Any other field is ignored.
  void setVal(const char* field, const char* text);
  // Whether setVal(field, text) sets the plain value ("" or "val").
  static bool selectsPlainValue(const char* field) {
    return parseField(field).kind == FieldRef::F_VAL;
  }

  // Readers convert a value of another type (see the header paragraph).
  bool boolVal() const;
  int intVal() const;
  int64_t longVal() const;
  float fltVal() const;
  const char* strVal() const;
  String stringVal() const { return String(strVal()); }

  // "" or "val": the value; "type": the type number (bool: whether it is a real type, text: the
  // symbol); "interval", "repeat", "limit" [. field]: the auto-counter's sub-value; anything
  // else false, 0, 0.0 or "".
  bool boolField(const char* field) const;
  int intField(const char* field) const;
  int64_t longField(const char* field) const;
  float fltField(const char* field) const;
  const char* strField(const char* field) const;
  String stringField(const char* field) const { return String(strField(field)); }

  // Increments apply to DT_INT and DT_FLT values only (assertion otherwise) and return the value
  // before the change. A float amount added to an integer is truncated toward zero; an integer
  // wraps around rather than overflowing.
  int incrInt(int amount);
  int decrInt(int amount);
  int64_t incrLong(int64_t amount);
  int64_t decrLong(int64_t amount);
  float incrFlt(float amount);
  float decrFlt(float amount);

  // No type, no text, scalar 0, no compound part.
  void clear();
  void dump() const { dumpObj(0, nullptr); }

 protected:
  // An auto-counter restores its sub-values as plain values.
  friend class AutoCounter;

  // What a field text addresses.
  struct FieldRef {
    enum Kind { F_VAL, F_TYPE, F_SUB, F_NONE } kind;
    int keywd;         // for F_SUB: K_INTERVAL, K_REPEAT or K_LIMIT
    const char* rest;  // for F_SUB: the text after the keyword's ".", or ""
  };
  static FieldRef parseField(const char* field);
  // The plain part of saveOn / restoreFrom / binarySize, without the compound part.
  void savePlainOn(ByteStrm& s) const;
  void restorePlainFrom(ByteStrm& s);
  // Restores a value that must be plain (no compound part), as the sub-values of an
  // auto-counter are.
  void restorePlainOnly(ByteStrm& s);

  void assertNumber() const;
  void addToNumber(int64_t intAmount, float fltAmount, bool amountIsFloat);
  // addToNumber, returning the value before as read returns it.
  template <typename T>
  T stepBy(T (Value::*read)() const, int64_t intAmount, float fltAmount, bool amountIsFloat);

  // The string, or the text form of another type once asked for (or as restored).
  mutable ValueText m_strVal;
  union {
    bool boolVal;
    float fltVal;
    int64_t longVal;
    Value* compound;    // DT_AUTO_COUNTER: the owned compound part (or null)
    void* counterTail;  // an AutoCounter itself: its repeat and limit (see AutoCounter)
  } m_vals;
  // Last and narrow: an auto-counter keeps its own small fields in the bytes behind them.
  uint8_t m_memRegion;  // a mem::regionName_t
  int8_t m_dataType;    // a DataType::Val
};

// The compound value of type DT_AUTO_COUNTER: with interval I and repeat R, one evaluation in
// I + R fires after I - 1 silent ones, followed by R more that fire; once limit (when non-zero)
// faults have been inserted, nothing fires any more.
class AutoCounter : public Value {
 public:
  enum EvalState { INTERVAL = 0, REPEAT = 1 };

  explicit AutoCounter(mem::regionName_t region = mem::REGION_HEAP);
  AutoCounter(const AutoCounter& other, mem::regionName_t region = mem::REGION_HEAP);
  AutoCounter& operator=(const AutoCounter& other);
  ~AutoCounter() override;

  void assignFrom(const Value& other) override;
  Value* copy(mem::regionName_t region) const override;
  void restoreFrom(ByteStrm& s) override;
  // One evaluation: moves the counters and answers whether this one fires.
  bool isOn(int numInsertions) override;
  // Not implemented: assertion.
  void setDataType(int dataType) override;
  // Sets interval, repeat or limit from the field ("", "val" or "type") and text. A field that
  // would make the sub-value compound is ignored.
  void setSubField(int keywd, const char* field, const char* text) override;
  size_t binarySize() const override;
  void dumpObj(int indentLvl, const char* label) const override;
  void saveOn(ByteStrm& s) const override;
  void displayContents(const char* ruleName, const char* attrName, bool verbose) const override;
  int dataType() const override { return DataType::DT_AUTO_COUNTER; }
  bool boolSubField(int keywd, const char* field) const override;
  float fltSubField(int keywd, const char* field) const override;
  int intSubField(int keywd, const char* field) const override;
  int64_t longSubField(int keywd, const char* field) const override;
  const char* strSubField(int keywd, const char* field) const override;
  String stringSubField(int keywd, const char* field) const override;

  const Value& interval() const { return m_interval; }
  const Value& repeat() const;
  const Value& limit() const;
  int intervalCtr() const { return m_intervalCtr; }
  int repeatCtr() const;
  int evalState() const { return m_evalState; }

 private:
  // The sub-value a keyword names, for reading; null for any other keyword.
  const Value* subValue(int keywd) const;
  // The sub-value a keyword names, made if it was still the untouched 0; null for any other
  // keyword.
  Value* subValueForWrite(int keywd);
  // The shared, never written integer 0 that an untouched repeat or limit reads as.
  static const Value& zero();
  // The repeat and limit as kept: null while untouched.
  const Value* repeatSub() const;
  const Value* limitSub() const;
  // Writes and sizes a repeat or limit as a value of its own would be (null: the untouched 0).
  static void saveSub(const Value* sub, ByteStrm& s);
  static size_t subBinarySize(const Value* sub);
  // Restores a repeat or limit, keeping no value for the untouched 0.
  void restoreSub(Value*& sub, ByteStrm& s);

  // The repeat and limit with the repeat run's counter; a counter that never set either and never
  // ran a repeat has none.
  struct Tail;
  Tail* tail() const { return static_cast<Tail*>(m_vals.counterTail); }
  // The tail, made when missing.
  Tail& ownTail();
  // Replaces the tail (null: none).
  void setTail(Tail* fresh);

  // Most counters only ever set the interval: repeat and limit live in a tail block made when
  // first set (a missing one reads as the integer 0), whose address takes the base value's slot
  // that an auto-counter has no use for. The counter and the state fill the unused tail bytes of
  // the base value; the object keeps within one size class less of the heap, which matters for a
  // rule set read from a large rules file.
  uint8_t m_evalState;  // an EvalState
  int m_intervalCtr;
  [[no_unique_address]] Value m_interval;
};

}  // namespace rc::fault
