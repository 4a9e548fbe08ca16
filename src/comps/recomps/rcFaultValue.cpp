#include "comps/recomps/rcFaultValue.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcUtils.h"

namespace rc::fault {

namespace {

// Looks a symbol up in a table whose entries begin..end-1 are real values.
int idOf(std::string_view symbol, const char* const* symbols, int begin, int end, int noVal,
         int badVal) {
  if (symbol.empty()) return noVal;
  for (int v = begin; v < end; ++v) {
    if (symbol == symbols[v]) return v;
  }
  return badVal;
}

const char* const kDataTypeSymbols[] = {"none",    "bool",   "float",
                                        "integer", "string", "autoCounter"};
const char* const kDataTypeLabels[] = {"None",    "Bool",   "Float",
                                       "Integer", "String", "Auto-counter"};
const char* const kKeywdSymbols[] = {"none",     "type",   "val",  "counter",
                                     "interval", "repeat", "limit"};
const char* const kKeywdLabels[] = {"None",     "Type",   "Val",  "Counter",
                                    "Interval", "Repeat", "Limit"};

// The table text of val: bad for -1, the entry for 0..end-1, unknown otherwise.
const char* tableText(int val, const char* const* texts, int end, const char* bad,
                      const char* unknown) {
  if (val == -1) return bad;
  return val >= 0 && val < end ? texts[val] : unknown;
}

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

// Float to integer, truncated toward zero and held within the target's range (NaN reads as 0).
template <typename Int>
Int truncated(float f) {
  if (std::isnan(f)) return 0;
  constexpr float kMax = static_cast<float>(std::numeric_limits<Int>::max());  // 2^31 or 2^63
  if (f >= kMax) return std::numeric_limits<Int>::max();
  if (f < -kMax) return std::numeric_limits<Int>::min();
  return static_cast<Int>(f);
}

int64_t wrappingAdd(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

int64_t wrappingNeg(int64_t a) { return static_cast<int64_t>(0 - static_cast<uint64_t>(a)); }

void wrappingIncr(int& counter) { counter = static_cast<int>(static_cast<unsigned>(counter) + 1u); }

// The whole text (leading blanks and a sign allowed) is a decimal integer that fits 64 bits.
bool wholeInteger(const char* text, int64_t* val) {
  char* end = nullptr;
  errno = 0;
  const long long v = strtoll(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE) return false;
  *val = v;
  return true;
}

// The whole text is a finite decimal floating-point number. Hexadecimal numbers and the words
// inf and nan, which strtof would also take, are text to a tester.
bool wholeDecimalFloat(const char* text, float* val) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (isalpha(static_cast<unsigned char>(*p)) && *p != 'e' && *p != 'E') return false;
  }
  char* end = nullptr;
  const float v = strtof(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v)) return false;
  *val = v;
  return true;
}

// The text without a leading quote and, when it ends in the same quote, without its last
// character.
std::string_view withoutQuotes(std::string_view text) {
  if (text.empty() || (text.front() != '\'' && text.front() != '"')) return text;
  const char quote = text.front();
  text.remove_prefix(1);
  if (!text.empty() && text.back() == quote) text.remove_suffix(1);
  return text;
}

void unimplemented(const char* what) {
  rc::Assert_throwAssert("false", what, false, __FILE__, __LINE__);
}

}  // namespace

// --- DataType, Keywd

const char* DataType::symbol(int val) {
  return tableText(val, kDataTypeSymbols, END_VAL, "badDataType", "unknown");
}

const char* DataType::label(int val) {
  return tableText(val, kDataTypeLabels, END_VAL, "Bad DataType", "Unknown");
}

int DataType::id(const char* symbol) {
  return idOf(orEmpty(symbol), kDataTypeSymbols, BEGIN_VAL, END_VAL, NO_VAL, BAD_VAL);
}

const char* Keywd::symbol(int val) {
  return tableText(val, kKeywdSymbols, END_VAL, "badKeyword", "unknown");
}

const char* Keywd::label(int val) {
  return tableText(val, kKeywdLabels, END_VAL, "Bad Keywd", "Unknown");
}

int Keywd::id(const char* symbol) { return id(std::string_view(orEmpty(symbol))); }

int Keywd::id(std::string_view symbol) {
  return idOf(symbol, kKeywdSymbols, BEGIN_VAL, END_VAL, NO_VAL, BAD_VAL);
}

// --- ValueText

void ValueText::assign(std::string_view text) {
  if (text == view()) return;
  TextBlock* block = text.empty() ? nullptr : TextBlock::make<mt_rc_fault_value>(text);
  clear();
  m_block = block;
}

void ValueText::clear() {
  mem::freeBlock(m_block);
  m_block = nullptr;
}

// --- Value

Value::Value(int dataType, mem::regionName_t region)
    : m_memRegion(static_cast<uint8_t>(region)), m_dataType(DataType::NO_VAL) {
  m_vals.longVal = 0;
  if (dataType != DataType::NO_VAL) setDataType(dataType);
}

Value::Value(const Value& other, mem::regionName_t region)
    : m_memRegion(static_cast<uint8_t>(region)), m_dataType(DataType::NO_VAL) {
  m_vals.longVal = 0;
  Value::assignFrom(other);
}

Value& Value::operator=(const Value& other) {
  assignFrom(other);
  return *this;
}

Value::~Value() {
  delete compound();
  rc::poison(m_vals.compound);
}

void Value::assignFrom(const Value& other) {
  if (this == &other) return;
  Value* part = other.compound() != nullptr ? other.compound()->copy(memRegion()) : nullptr;
  clear();
  m_dataType = other.m_dataType;
  m_strVal = other.m_strVal;
  m_vals = other.m_vals;
  if (part != nullptr) m_vals.compound = part;
}

Value* Value::copy(mem::regionName_t region) const { return new Value(*this, region); }

void Value::clear() {
  // An auto-counter keeps its tail in the scalar slot: it has no plain value to drop.
  RC_FAULT_ASSERT(
      m_dataType == DataType::DT_AUTO_COUNTER || dataType() != DataType::DT_AUTO_COUNTER,
      "dataType () != rc::fault::DataType::DT_AUTO_COUNTER");
  Value* part = compound();
  m_dataType = DataType::NO_VAL;
  m_strVal.clear();
  m_vals.longVal = 0;
  delete part;
}

void Value::setDataType(int dataType) {
  RC_FAULT_ASSERT(dataType >= DataType::NO_VAL && dataType < DataType::END_VAL,
                  "dataType != rc::fault::DataType::BAD_VAL");
  clear();
  if (dataType == DataType::DT_AUTO_COUNTER) m_vals.compound = new AutoCounter(memRegion());
  m_dataType = static_cast<int8_t>(dataType);
}

void Value::setBoolVal(bool val) {
  clear();
  m_dataType = DataType::DT_BOOL;
  m_vals.boolVal = val;
}

void Value::setLongVal(int64_t val) {
  clear();
  m_dataType = DataType::DT_INT;
  m_vals.longVal = val;
}

void Value::setFltVal(float val) {
  clear();
  m_dataType = DataType::DT_FLT;
  m_vals.fltVal = val;
}

void Value::setStrVal(const char* text, bool stripQuotes) {
  std::string_view view(orEmpty(text));
  if (stripQuotes) view = withoutQuotes(view);
  // The text may point into this value's own cache.
  ValueText copy;
  copy.assign(view);
  clear();
  m_dataType = DataType::DT_STR;
  m_strVal.swap(copy);
}

void Value::setStringVal(const String& text, bool stripQuotes) {
  setStrVal(text.c_str(), stripQuotes);
}

void Value::setVal(const char* text) {
  RC_FAULT_ASSERT(!compound(), "!m_value");
  text = orEmpty(text);
  int64_t intVal = 0;
  float fltVal = 0;
  int boolVal = -1;
  if (*text == '\0') {
    setStrVal(text);
  } else if (wholeInteger(text, &intVal)) {
    setLongVal(intVal);
  } else if (wholeDecimalFloat(text, &fltVal)) {
    setFltVal(fltVal);
  } else if ((boolVal = Utils::strToBool(text)) >= 0) {
    setBoolVal(boolVal == 1);
  } else {
    setStrVal(text, true);
  }
}

Value::FieldRef Value::parseField(const char* field) {
  field = orEmpty(field);
  const char* dot = strchr(field, '.');
  const std::string_view head = dot != nullptr ? std::string_view(field, dot - field) : field;
  const int keywd = *field == '\0' ? Keywd::K_VAL : Keywd::id(field);
  if (keywd == Keywd::K_VAL) return {FieldRef::F_VAL, keywd, ""};
  if (keywd == Keywd::K_TYPE) return {FieldRef::F_TYPE, keywd, ""};
  const int headKeywd = Keywd::id(head);
  if (Keywd::isCompoundValueField(headKeywd)) {
    return {FieldRef::F_SUB, headKeywd, dot != nullptr ? dot + 1 : ""};
  }
  return {FieldRef::F_NONE, Keywd::BAD_VAL, ""};
}

void Value::setVal(const char* field, const char* text) {
  const FieldRef ref = parseField(field);
  switch (ref.kind) {
    case FieldRef::F_VAL: setVal(text); break;
    case FieldRef::F_TYPE: {
      const int dataType = DataType::id(text);
      if (DataType::isRealType(dataType)) setDataType(dataType);
      break;
    }
    case FieldRef::F_SUB:
      if (compound() == nullptr) setDataType(DataType::DT_AUTO_COUNTER);
      setSubField(ref.keywd, ref.rest, text);
      break;
    case FieldRef::F_NONE: break;
  }
}

bool Value::boolVal() const {
  switch (m_dataType) {
    case DataType::DT_BOOL: return m_vals.boolVal;
    case DataType::DT_INT: return m_vals.longVal != 0;
    case DataType::DT_FLT: return m_vals.fltVal != 0;
    case DataType::DT_STR: return !m_strVal.empty();
    default: return false;
  }
}

int64_t Value::longVal() const {
  switch (m_dataType) {
    case DataType::DT_BOOL: return m_vals.boolVal ? 1 : 0;
    case DataType::DT_INT: return m_vals.longVal;
    case DataType::DT_FLT: return truncated<int64_t>(m_vals.fltVal);
    default: return 0;
  }
}

int Value::intVal() const {
  if (m_dataType == DataType::DT_FLT) return truncated<int>(m_vals.fltVal);
  return static_cast<int>(static_cast<uint32_t>(longVal()));
}

float Value::fltVal() const {
  switch (m_dataType) {
    case DataType::DT_BOOL: return m_vals.boolVal ? 1.0f : 0.0f;
    case DataType::DT_INT: return static_cast<float>(m_vals.longVal);
    case DataType::DT_FLT: return m_vals.fltVal;
    default: return 0.0f;
  }
}

const char* Value::strVal() const {
  char text[64];
  switch (m_dataType) {
    case DataType::DT_STR: return m_strVal.c_str();
    case DataType::DT_BOOL: m_strVal.assign(m_vals.boolVal ? "yes" : "no"); break;
    case DataType::DT_INT:
      m_strVal.assign(
          Utils::formatInto(text, sizeof text, "%lld", static_cast<long long>(m_vals.longVal)));
      break;
    case DataType::DT_FLT:
      m_strVal.assign(
          Utils::formatInto(text, sizeof text, "%g", static_cast<double>(m_vals.fltVal)));
      break;
    default: m_strVal.clear(); break;
  }
  return m_strVal.c_str();
}

bool Value::boolField(const char* field) const {
  const FieldRef ref = parseField(field);
  switch (ref.kind) {
    case FieldRef::F_VAL: return boolVal();
    case FieldRef::F_TYPE: return DataType::isRealType(dataType());
    case FieldRef::F_SUB:
      return compound() != nullptr && compound()->boolSubField(ref.keywd, ref.rest);
    default: return false;
  }
}

int Value::intField(const char* field) const {
  const FieldRef ref = parseField(field);
  switch (ref.kind) {
    case FieldRef::F_VAL: return intVal();
    case FieldRef::F_TYPE: return dataType();
    case FieldRef::F_SUB:
      return compound() != nullptr ? compound()->intSubField(ref.keywd, ref.rest) : 0;
    default: return 0;
  }
}

int64_t Value::longField(const char* field) const {
  const FieldRef ref = parseField(field);
  switch (ref.kind) {
    case FieldRef::F_VAL: return longVal();
    case FieldRef::F_TYPE: return dataType();
    case FieldRef::F_SUB:
      return compound() != nullptr ? compound()->longSubField(ref.keywd, ref.rest) : 0;
    default: return 0;
  }
}

float Value::fltField(const char* field) const {
  const FieldRef ref = parseField(field);
  switch (ref.kind) {
    case FieldRef::F_VAL: return fltVal();
    case FieldRef::F_TYPE: return static_cast<float>(dataType());
    case FieldRef::F_SUB:
      return compound() != nullptr ? compound()->fltSubField(ref.keywd, ref.rest) : 0.0f;
    default: return 0.0f;
  }
}

const char* Value::strField(const char* field) const {
  const FieldRef ref = parseField(field);
  switch (ref.kind) {
    case FieldRef::F_VAL: return strVal();
    case FieldRef::F_TYPE: return DataType::symbol(dataType());
    case FieldRef::F_SUB:
      return compound() != nullptr ? compound()->strSubField(ref.keywd, ref.rest) : "";
    default: return "";
  }
}

void Value::assertNumber() const {
  RC_FAULT_ASSERT(
      (m_dataType == DataType::DT_FLT) || (m_dataType == DataType::DT_INT),
      "(m_dataType == rc::fault::DataType::DT_FLT) || (m_dataType == rc::fault::DataType::DT_INT)");
}

void Value::addToNumber(int64_t intAmount, float fltAmount, bool amountIsFloat) {
  assertNumber();
  if (m_dataType == DataType::DT_INT) {
    m_vals.longVal =
        wrappingAdd(m_vals.longVal, amountIsFloat ? truncated<int64_t>(fltAmount) : intAmount);
  } else if (m_dataType == DataType::DT_FLT) {
    m_vals.fltVal += amountIsFloat ? fltAmount : static_cast<float>(intAmount);
  }
}

template <typename T>
T Value::stepBy(T (Value::*read)() const, int64_t intAmount, float fltAmount, bool amountIsFloat) {
  const T before = (this->*read)();
  addToNumber(intAmount, fltAmount, amountIsFloat);
  return before;
}

int Value::incrInt(int amount) { return stepBy(&Value::intVal, amount, 0, false); }
int Value::decrInt(int amount) { return stepBy(&Value::intVal, wrappingNeg(amount), 0, false); }
int64_t Value::incrLong(int64_t amount) { return stepBy(&Value::longVal, amount, 0, false); }
int64_t Value::decrLong(int64_t amount) {
  return stepBy(&Value::longVal, wrappingNeg(amount), 0, false);
}
float Value::incrFlt(float amount) { return stepBy(&Value::fltVal, 0, amount, true); }
float Value::decrFlt(float amount) { return stepBy(&Value::fltVal, 0, -amount, true); }

bool Value::isOn(int numInsertions) {
  if (compound() != nullptr) return compound()->isOn(numInsertions);
  unimplemented("unimplemented rc::fault::Value::isOn");
  return false;
}

void Value::setSubField(int keywd, const char* field, const char* text) {
  if (compound() != nullptr) return compound()->setSubField(keywd, field, text);
  unimplemented("unimplemented rc::fault::Value::setSubField");
}

bool Value::boolSubField(int, const char*) const {
  unimplemented("unimplemented rc::fault::Value::boolSubField");
  return false;
}

float Value::fltSubField(int, const char*) const {
  unimplemented("unimplemented rc::fault::Value::fltSubField");
  return 0.0f;
}

int Value::intSubField(int, const char*) const {
  unimplemented("unimplemented rc::fault::Value::intSubField");
  return 0;
}

int64_t Value::longSubField(int, const char*) const {
  unimplemented("unimplemented rc::fault::Value::longSubField");
  return 0;
}

const char* Value::strSubField(int, const char*) const {
  unimplemented("unimplemented rc::fault::Value::strSubField");
  return "";
}

String Value::stringSubField(int, const char*) const {
  unimplemented("unimplemented rc::fault::Value::stringSubField");
  return String();
}

// --- Value: binary form, display, dump

size_t Value::binarySize() const {
  return 12 + m_strVal.size() + 7 + (compound() != nullptr ? compound()->binarySize() : 0);
}

void Value::savePlainOn(ByteStrm& s) const {
  s << static_cast<int>(m_dataType);
  s.writeStr(m_strVal.c_str(), m_strVal.size());
  switch (m_dataType) {
    case DataType::DT_FLT: s << m_vals.fltVal; break;
    case DataType::DT_INT: s << static_cast<long long>(m_vals.longVal); break;
    case DataType::DT_BOOL: s << (m_vals.boolVal ? 1 : 0); break;
    default: break;
  }
}

void Value::saveOn(ByteStrm& s) const {
  savePlainOn(s);
  if (compound() != nullptr) compound()->saveOn(s);
}

void Value::restorePlainFrom(ByteStrm& s) {
  clear();
  int dataType = 0;
  s >> dataType;
  if (dataType < DataType::NO_VAL || dataType >= DataType::END_VAL) {
    ByteStrm::readFailed("recomps/fault::Value::restoreFrom");
  }
  uint32_t textLen = 0;
  s >> textLen;
  ValueText text;
  text.assign(std::string_view(s.readStr(textLen), textLen));
  switch (dataType) {
    case DataType::DT_FLT: s >> m_vals.fltVal; break;
    case DataType::DT_INT: {
      long long v = 0;
      s >> v;
      m_vals.longVal = v;
      break;
    }
    case DataType::DT_BOOL: {
      int v = 0;
      s >> v;
      m_vals.boolVal = v != 0;
      break;
    }
    default: break;
  }
  m_dataType = static_cast<int8_t>(dataType);
  m_strVal.swap(text);
}

void Value::restoreFrom(ByteStrm& s) {
  try {
    restorePlainFrom(s);
    if (m_dataType == DataType::DT_AUTO_COUNTER) {
      m_vals.compound = new AutoCounter(memRegion());
      m_vals.compound->restoreFrom(s);
    }
  } catch (...) {
    clear();
    throw;
  }
}

void Value::restorePlainOnly(ByteStrm& s) {
  restorePlainFrom(s);
  if (m_dataType == DataType::DT_AUTO_COUNTER) {
    clear();
    ByteStrm::readFailed("recomps/fault::AutoCounter::restoreFrom");
  }
}

void Value::displayContents(const char* ruleName, const char* attrName, bool verbose) const {
  if (compound() != nullptr) return compound()->displayContents(ruleName, attrName, verbose);
  const bool isStr = m_dataType == DataType::DT_STR;
  if (verbose) {
    printf("%s.%s.%s = %s\n", ruleName, attrName, "type", DataType::symbol(m_dataType));
    if (isStr) {
      printf("%s.%s.%s = \"%s\"\n", ruleName, attrName, "val", strVal());
    } else {
      printf("%s.%s.%s = %s\n", ruleName, attrName, "val", strVal());
    }
  } else if (isStr) {
    printf("%s.%s = \"%s\"\n", ruleName, attrName, strVal());
  } else {
    printf("%s.%s = %s\n", ruleName, attrName, strVal());
  }
}

void Value::dumpObj(int indentLvl, const char* label) const {
  const int type = dataType();
  if (compound() != nullptr) {
    rc::dumpHeader(indentLvl, label, "Value", this,
                   ": mem = %d, type = %s (%d), compound value = \n", m_memRegion,
                   DataType::symbol(type), type);
    compound()->dumpObj(indentLvl + 1, nullptr);
  } else {
    rc::dumpHeader(indentLvl, label, "Value", this, ": mem = %d, type = %s (%d), val = '%s'\n",
                   m_memRegion, DataType::symbol(type), type, strVal());
  }
}

// --- AutoCounter

namespace {

// fn(value) for a repeat or limit; an untouched one (null) is read as a fresh integer 0, which has
// not made its text.
template <typename Fn>
auto withSub(const Value* sub, Fn fn) {
  if (sub != nullptr) return fn(*sub);
  Value zero;
  zero.setIntVal(0);
  return fn(zero);
}

}  // namespace

struct AutoCounter::Tail : mem::newDelete<mt_rc_fault_value> {
  Tail() = default;
  Tail(const Tail& other, mem::regionName_t region) : repeatCtr(other.repeatCtr) {
    std::unique_ptr<Value> r(other.repeat != nullptr ? other.repeat->copy(region) : nullptr);
    limit = other.limit != nullptr ? other.limit->copy(region) : nullptr;
    repeat = r.release();
  }
  Tail(const Tail&) = delete;
  Tail& operator=(const Tail&) = delete;
  ~Tail() {
    delete repeat;
    delete limit;
    rc::poison(repeat);
    rc::poison(limit);
  }

  int repeatCtr = 0;
  Value* repeat = nullptr;  // null: the untouched 0
  Value* limit = nullptr;   // null: the untouched 0
};

// The tail bytes hold the counters on the usual ABIs; elsewhere a counter is merely larger.
static_assert(sizeof(void*) != 8 || sizeof(AutoCounter) <= 64 ||
                  !__has_cpp_attribute(no_unique_address),
              "an auto-counter has outgrown its heap size class");

AutoCounter::AutoCounter(mem::regionName_t region)
    : Value(DataType::NO_VAL, region),
      m_evalState(INTERVAL),
      m_intervalCtr(0),
      m_interval(DataType::NO_VAL, region) {
  m_interval.setIntVal(1);
}

AutoCounter::AutoCounter(const AutoCounter& other, mem::regionName_t region)
    : Value(DataType::NO_VAL, region),
      m_evalState(other.m_evalState),
      m_intervalCtr(other.m_intervalCtr),
      m_interval(other.m_interval, region) {
  if (other.tail() != nullptr) setTail(new Tail(*other.tail(), region));
}

AutoCounter& AutoCounter::operator=(const AutoCounter& other) {
  assignFrom(other);
  return *this;
}

AutoCounter::~AutoCounter() {
  delete tail();
  // The base destructor poisons the slot.
}

AutoCounter::Tail& AutoCounter::ownTail() {
  if (tail() == nullptr) setTail(new Tail);
  return *tail();
}

const Value* AutoCounter::repeatSub() const { return tail() != nullptr ? tail()->repeat : nullptr; }

const Value* AutoCounter::limitSub() const { return tail() != nullptr ? tail()->limit : nullptr; }

const Value& AutoCounter::repeat() const {
  const Value* sub = repeatSub();
  return sub != nullptr ? *sub : zero();
}

const Value& AutoCounter::limit() const {
  const Value* sub = limitSub();
  return sub != nullptr ? *sub : zero();
}

int AutoCounter::repeatCtr() const { return tail() != nullptr ? tail()->repeatCtr : 0; }

void AutoCounter::setTail(Tail* fresh) {
  delete tail();
  m_vals.counterTail = fresh;
}

const Value& AutoCounter::zero() {
  static const Value* const s_zero = [] {
    auto* v = new Value();
    v->setIntVal(0);
    // Its text is made now, so that reading it later writes nothing.
    v->strVal();
    return v;
  }();
  return *s_zero;
}

void AutoCounter::assignFrom(const Value& other) {
  const AutoCounter* src = dynamic_cast<const AutoCounter*>(&other);
  RC_FAULT_ASSERT(src != nullptr, "other.dataType () == rc::fault::DataType::DT_AUTO_COUNTER");
  if (src == nullptr || src == this) return;
  std::unique_ptr<Tail> fresh(src->tail() != nullptr ? new Tail(*src->tail(), memRegion())
                                                     : nullptr);
  m_interval = src->m_interval;
  m_intervalCtr = src->m_intervalCtr;
  setTail(fresh.release());
  m_evalState = src->m_evalState;
}

Value* AutoCounter::copy(mem::regionName_t region) const { return new AutoCounter(*this, region); }

bool AutoCounter::isOn(int numInsertions) {
  const int maxInsertions = limit().intVal();
  if (maxInsertions != 0 && numInsertions >= maxInsertions) return false;
  if (m_evalState == INTERVAL) {
    wrappingIncr(m_intervalCtr);
    if (m_intervalCtr < m_interval.intVal()) return false;
    m_intervalCtr = 0;
    if (repeat().intVal() > 0) m_evalState = REPEAT;
    return true;
  }
  RC_FAULT_ASSERT(m_evalState == REPEAT, "m_evalState == REPEAT");
  int& repeatCtr = ownTail().repeatCtr;
  wrappingIncr(repeatCtr);
  const int repeat = this->repeat().intVal();
  if (repeatCtr > repeat) {
    // The repeat count was lowered below what this run already fired: the run is over, and the
    // next evaluation starts a new interval instead of never firing again.
    repeatCtr = 0;
    m_evalState = INTERVAL;
    return false;
  }
  if (repeatCtr == repeat) {
    repeatCtr = 0;
    m_evalState = INTERVAL;
  }
  return true;
}

void AutoCounter::setDataType(int) {
  unimplemented("unimplemented rc::fault::AutoCounter::setDataType");
}

const Value* AutoCounter::subValue(int keywd) const {
  switch (keywd) {
    case Keywd::K_INTERVAL: return &m_interval;
    case Keywd::K_REPEAT: return &repeat();
    case Keywd::K_LIMIT: return &limit();
    default: return nullptr;
  }
}

Value* AutoCounter::subValueForWrite(int keywd) {
  if (keywd != Keywd::K_REPEAT && keywd != Keywd::K_LIMIT) {
    return keywd == Keywd::K_INTERVAL ? &m_interval : nullptr;
  }
  Value** slot = keywd == Keywd::K_REPEAT ? &ownTail().repeat : &ownTail().limit;
  if (*slot == nullptr) {
    auto sub = std::make_unique<Value>(DataType::NO_VAL, memRegion());
    sub->setIntVal(0);
    *slot = sub.release();
  }
  return *slot;
}

void AutoCounter::setSubField(int keywd, const char* field, const char* text) {
  if (subValue(keywd) == nullptr) return;
  // The sub-values are plain numbers: a field or a type that would nest a counter is ignored.
  const FieldRef ref = parseField(field);
  if (ref.kind == FieldRef::F_SUB) return;
  if (ref.kind == FieldRef::F_TYPE && DataType::isCompoundType(DataType::id(text))) return;
  subValueForWrite(keywd)->setVal(field, text);
}

bool AutoCounter::boolSubField(int keywd, const char* field) const {
  const Value* sub = subValue(keywd);
  return sub != nullptr && sub->boolField(field);
}

float AutoCounter::fltSubField(int keywd, const char* field) const {
  const Value* sub = subValue(keywd);
  return sub != nullptr ? sub->fltField(field) : 0.0f;
}

int AutoCounter::intSubField(int keywd, const char* field) const {
  const Value* sub = subValue(keywd);
  return sub != nullptr ? sub->intField(field) : 0;
}

int64_t AutoCounter::longSubField(int keywd, const char* field) const {
  const Value* sub = subValue(keywd);
  return sub != nullptr ? sub->longField(field) : 0;
}

const char* AutoCounter::strSubField(int keywd, const char* field) const {
  const Value* sub = subValue(keywd);
  return sub != nullptr ? sub->strField(field) : "";
}

String AutoCounter::stringSubField(int keywd, const char* field) const {
  return String(strSubField(keywd, field));
}

size_t AutoCounter::binarySize() const {
  return m_interval.binarySize() + subBinarySize(repeatSub()) + subBinarySize(limitSub()) + 12;
}

void AutoCounter::saveSub(const Value* sub, ByteStrm& s) {
  withSub(sub, [&](const Value& v) { v.saveOn(s); });
}

size_t AutoCounter::subBinarySize(const Value* sub) {
  return withSub(sub, [](const Value& v) { return v.binarySize(); });
}

void AutoCounter::restoreSub(Value*& sub, ByteStrm& s) {
  Value read(DataType::NO_VAL, memRegion());
  read.restorePlainOnly(s);
  const bool untouched =
      read.m_dataType == DataType::DT_INT && read.m_vals.longVal == 0 && read.m_strVal.empty();
  if (untouched) {
    delete sub;
    sub = nullptr;
  } else {
    if (sub == nullptr) sub = new Value(DataType::NO_VAL, memRegion());
    *sub = read;
  }
}

void AutoCounter::saveOn(ByteStrm& s) const {
  m_interval.saveOn(s);
  s << m_intervalCtr;
  saveSub(repeatSub(), s);
  s << repeatCtr();
  saveSub(limitSub(), s);
  s << static_cast<int>(m_evalState);
}

void AutoCounter::restoreFrom(ByteStrm& s) {
  m_interval.restorePlainOnly(s);
  s >> m_intervalCtr;
  // The tail is read aside and kept only when it holds something.
  auto fresh = std::make_unique<Tail>();
  restoreSub(fresh->repeat, s);
  s >> fresh->repeatCtr;
  restoreSub(fresh->limit, s);
  setTail(fresh->repeat != nullptr || fresh->limit != nullptr || fresh->repeatCtr != 0
              ? fresh.release()
              : nullptr);
  int state = INTERVAL;
  s >> state;
  if (state != INTERVAL && state != REPEAT) {
    m_evalState = INTERVAL;
    ByteStrm::readFailed("recomps/fault::AutoCounter::restoreFrom");
  }
  m_evalState = static_cast<uint8_t>(state);
}

void AutoCounter::displayContents(const char* ruleName, const char* attrName, bool verbose) const {
  if (verbose) printf("%s.%s.%s = %s\n", ruleName, attrName, "type", "autoCounter");
  const String name(attrName);
  m_interval.displayContents(ruleName, (name + ".interval").c_str(), verbose);
  if (verbose) printf("%s.%s.interval.ctr = %d\n", ruleName, attrName, m_intervalCtr);
  withSub(repeatSub(), [&](const Value& v) {
    v.displayContents(ruleName, (name + ".repeat").c_str(), verbose);
  });
  if (verbose) printf("%s.%s.repeat.ctr = %d\n", ruleName, attrName, repeatCtr());
  withSub(limitSub(),
          [&](const Value& v) { v.displayContents(ruleName, (name + ".limit").c_str(), verbose); });
  if (verbose) {
    printf("%s.%s.evalState = %s\n", ruleName, attrName,
           m_evalState == REPEAT ? "repeat" : "interval");
  }
}

void AutoCounter::dumpObj(int indentLvl, const char* label) const {
  rc::dumpHeader(indentLvl, label, "AutoCounter", this,
                 ", intvlCtr = %d, repeatCtr = %d, state = %d\n", m_intervalCtr, repeatCtr(),
                 m_evalState);
  m_interval.dumpObj(indentLvl + 1, "interval: ");
  withSub(repeatSub(), [&](const Value& v) { v.dumpObj(indentLvl + 1, "repeat: "); });
  withSub(limitSub(), [&](const Value& v) { v.dumpObj(indentLvl + 1, "limit: "); });
}

}  // namespace rc::fault
