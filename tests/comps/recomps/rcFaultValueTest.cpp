#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcFaultValue.h"
#include "qvTestUtil.h"

namespace {

using qvtest::failedAssertion;
using rc::fault::AutoCounter;
using rc::fault::DataType;
using rc::fault::Keywd;
using rc::fault::Value;

// The firing pattern of n evaluations ("." silent, "X" fired).
std::string pattern(Value& v, int n, int numInsertions = 0) {
  std::string out;
  for (int i = 0; i < n; ++i) out += v.isOn(numInsertions) ? 'X' : '.';
  return out;
}

Value counter(const char* interval, const char* repeat = "0", const char* limit = "0") {
  Value v;
  v.setVal("interval", interval);
  v.setVal("repeat", repeat);
  v.setVal("limit", limit);
  return v;
}

TEST(FaultDataType, SymbolsLabelsAndIds) {
  struct Row {
    int val;
    const char* symbol;
    const char* label;
  } rows[] = {{-1, "badDataType", "Bad DataType"},
              {0, "none", "None"},
              {1, "bool", "Bool"},
              {2, "float", "Float"},
              {3, "integer", "Integer"},
              {4, "string", "String"},
              {5, "autoCounter", "Auto-counter"},
              {6, "unknown", "Unknown"},
              {-2, "unknown", "Unknown"}};
  for (const Row& r : rows) {
    EXPECT_STREQ(DataType::symbol(r.val), r.symbol) << r.val;
    EXPECT_STREQ(DataType::label(r.val), r.label) << r.val;
  }
  EXPECT_EQ(DataType::id(nullptr), DataType::NO_VAL);
  EXPECT_EQ(DataType::id(""), DataType::NO_VAL);
  EXPECT_EQ(DataType::id("integer"), DataType::DT_INT);
  EXPECT_EQ(DataType::id("autoCounter"), DataType::DT_AUTO_COUNTER);
  EXPECT_EQ(DataType::id("Integer"), DataType::BAD_VAL);
  EXPECT_EQ(DataType::id("none"), DataType::BAD_VAL);
  EXPECT_TRUE(DataType::isCompoundType(DataType::DT_AUTO_COUNTER));
  EXPECT_FALSE(DataType::isCompoundType(DataType::DT_INT));

  EXPECT_STREQ(Keywd::symbol(Keywd::BAD_VAL), "badKeyword");
  EXPECT_STREQ(Keywd::label(Keywd::K_INTERVAL), "Interval");
  EXPECT_STREQ(Keywd::symbol(7), "unknown");
  EXPECT_EQ(Keywd::id("limit"), Keywd::K_LIMIT);
  EXPECT_EQ(Keywd::id("counter"), Keywd::K_COUNTER);
  EXPECT_EQ(Keywd::id("Limit"), Keywd::BAD_VAL);
  EXPECT_EQ(Keywd::id(static_cast<const char*>(nullptr)), Keywd::NO_VAL);
  EXPECT_TRUE(Keywd::isDataType(Keywd::K_COUNTER));
  EXPECT_TRUE(Keywd::isSimpleValueField(Keywd::K_VAL));
  EXPECT_FALSE(Keywd::isCompoundValueField(Keywd::K_COUNTER));
  EXPECT_TRUE(Keywd::isAutoCounterField(Keywd::K_REPEAT));
}

TEST(FaultValue, TextIsTypedAsATesterWritesIt) {
  struct Row {
    const char* text;
    int type;
    const char* asText;
  } rows[] = {
      {"5", DataType::DT_INT, "5"},
      {"-7", DataType::DT_INT, "-7"},
      {"  12", DataType::DT_INT, "12"},
      {"1", DataType::DT_INT, "1"},
      {"9223372036854775807", DataType::DT_INT, "9223372036854775807"},
      {"2.5", DataType::DT_FLT, "2.5"},
      {"1e3", DataType::DT_FLT, "1000"},
      {"-.5", DataType::DT_FLT, "-0.5"},
      // Too big for 64 bits: kept as the nearest float.
      {"99999999999999999999", DataType::DT_FLT, "1e+20"},
      {"yes", DataType::DT_BOOL, "yes"},
      {"OFF", DataType::DT_BOOL, "no"},
      {"t", DataType::DT_BOOL, "yes"},
      {"'yes'", DataType::DT_STR, "yes"},
      {"'5'", DataType::DT_STR, "5"},
      {"\"two words\"", DataType::DT_STR, "two words"},
      {"'half", DataType::DT_STR, "half"},
      {"'", DataType::DT_STR, ""},
      {"", DataType::DT_STR, ""},
      {"abc", DataType::DT_STR, "abc"},
      // Numbers a float cannot hold, and words strtof would take, stay text.
      {"1e999", DataType::DT_STR, "1e999"},
      {"inf", DataType::DT_STR, "inf"},
      {"nan", DataType::DT_STR, "nan"},
      {"0x10", DataType::DT_STR, "0x10"},
  };
  for (const Row& r : rows) {
    Value v;
    v.setVal(r.text);
    EXPECT_EQ(v.dataType(), r.type) << r.text;
    EXPECT_STREQ(v.strVal(), r.asText) << r.text;
  }
}

TEST(FaultValue, ReadersConvertBetweenTypes) {
  Value b, i, f, s, none;
  b.setBoolVal(true);
  i.setLongVal(0x100000007LL);
  f.setFltVal(-2.75f);
  s.setStrVal("no");
  struct Row {
    const Value* v;
    bool asBool;
    int asInt;
    long long asLong;
    float asFlt;
    const char* asText;
  } rows[] = {
      {&b, true, 1, 1, 1.0f, "yes"},
      {&i, true, 7, 0x100000007LL, 4294967303.0f, "4294967303"},
      {&f, true, -2, -2, -2.75f, "-2.75"},
      {&s, true, 0, 0, 0.0f, "no"},
      {&none, false, 0, 0, 0.0f, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.asText);
    EXPECT_EQ(r.v->boolVal(), r.asBool);
    EXPECT_EQ(r.v->intVal(), r.asInt);
    EXPECT_EQ(r.v->longVal(), r.asLong);
    EXPECT_FLOAT_EQ(r.v->fltVal(), r.asFlt);
    EXPECT_STREQ(r.v->strVal(), r.asText);
    EXPECT_EQ(r.v->stringVal(), r.asText);
  }
  Value empty;
  empty.setStrVal("");
  EXPECT_FALSE(empty.boolVal());

  // Floats beyond an integer's range read as its limit, never as undefined garbage.
  Value big;
  big.setFltVal(1e30f);
  EXPECT_EQ(big.intVal(), 2147483647);
  EXPECT_EQ(big.longVal(), INT64_MAX);
  big.setFltVal(-1e30f);
  EXPECT_EQ(big.intVal(), INT32_MIN);

  Value ac(DataType::DT_AUTO_COUNTER);
  EXPECT_FALSE(ac.boolVal());
  EXPECT_EQ(ac.intVal(), 0);
  EXPECT_STREQ(ac.strVal(), "");
}

TEST(FaultValue, FieldsAddressTypeAndAutoCounterParts) {
  Value v;
  v.setVal("type", "integer");
  EXPECT_EQ(v.dataType(), DataType::DT_INT);
  v.setVal("val", "42");
  EXPECT_EQ(v.intField(""), 42);
  EXPECT_EQ(v.intField("val"), 42);
  EXPECT_EQ(v.intField("type"), DataType::DT_INT);
  EXPECT_STREQ(v.strField("type"), "integer");
  EXPECT_TRUE(v.boolField("type"));
  EXPECT_EQ(v.intField("bogus"), 0);
  EXPECT_EQ(v.intField("interval"), 0);

  // A declared type clears the value; an unknown type name or field changes nothing.
  v.setVal("type", "string");
  EXPECT_EQ(v.dataType(), DataType::DT_STR);
  EXPECT_STREQ(v.strVal(), "");
  v.setVal("", "kept");
  v.setVal("type", "number");
  v.setVal("bogus", "1");
  v.setVal("counter", "1");
  EXPECT_STREQ(v.strVal(), "kept");

  // An auto-counter field turns the value into an auto-counter with its defaults.
  v.setVal("repeat", "2");
  ASSERT_EQ(v.dataType(), DataType::DT_AUTO_COUNTER);
  EXPECT_EQ(v.intField("interval"), 1);
  EXPECT_EQ(v.intField("repeat"), 2);
  EXPECT_EQ(v.intField("limit.val"), 0);
  EXPECT_STREQ(v.strField("interval.type"), "integer");
  EXPECT_EQ(v.intField("type"), DataType::DT_AUTO_COUNTER);
  v.setVal("limit.type", "float");
  EXPECT_STREQ(v.strField("limit.type"), "float");
  v.setVal("interval.val", "4");
  EXPECT_EQ(v.longField("interval"), 4);
  EXPECT_FLOAT_EQ(v.fltField("interval"), 4.0f);
  EXPECT_EQ(v.stringField("interval"), "4");

  // Sub-values stay plain numbers: a field or type that would nest a counter is ignored.
  v.setVal("interval.repeat", "9");
  v.setVal("interval.type", "autoCounter");
  EXPECT_EQ(v.intField("interval"), 4);
  EXPECT_EQ(v.compound()->intSubField(Keywd::K_INTERVAL, "type"), DataType::DT_INT);

  // A plain value cannot overwrite an auto-counter through setVal.
  EXPECT_EQ(failedAssertion([&] { v.setVal("7"); }, true), "!m_value");
  // The typed setters replace it.
  v.setIntVal(7);
  EXPECT_EQ(v.dataType(), DataType::DT_INT);
  EXPECT_EQ(v.compound(), nullptr);
}

TEST(FaultValue, PlainValuesRefuseCompoundOperations) {
  Value v;
  v.setIntVal(1);
  EXPECT_EQ(failedAssertion([&] { v.isOn(0); }, true),
            "false: unimplemented rc::fault::Value::isOn");
  EXPECT_EQ(failedAssertion([&] { v.intSubField(Keywd::K_INTERVAL, ""); }, true),
            "false: unimplemented rc::fault::Value::intSubField");
  AutoCounter ac;
  EXPECT_EQ(failedAssertion([&] { ac.setDataType(DataType::DT_INT); }, true),
            "false: unimplemented rc::fault::AutoCounter::setDataType");
  // A plain setter on the counter itself is refused and leaves its repeat and limit alone.
  ac.setSubField(Keywd::K_REPEAT, "", "2");
  EXPECT_EQ(failedAssertion([&] { ac.setIntVal(4); }, true),
            "dataType () != rc::fault::DataType::DT_AUTO_COUNTER");
  EXPECT_EQ(ac.repeat().intVal(), 2);
  EXPECT_EQ(failedAssertion([&] { v.setDataType(DataType::BAD_VAL); }, true),
            "dataType != rc::fault::DataType::BAD_VAL");
}

TEST(FaultValue, IncrementsReturnThePriorValueAndNeedANumber) {
  Value i;
  i.setIntVal(5);
  EXPECT_EQ(i.incrInt(2), 5);
  EXPECT_EQ(i.decrLong(10), 7);
  EXPECT_EQ(i.incrFlt(2.9f), -3);  // the float amount is truncated toward zero
  EXPECT_EQ(i.longVal(), -1);
  EXPECT_EQ(i.dataType(), DataType::DT_INT);
  EXPECT_FLOAT_EQ(i.decrFlt(-1.5f), -1.0f);
  EXPECT_EQ(i.intVal(), 0);

  Value f;
  f.setFltVal(1.5f);
  EXPECT_FLOAT_EQ(f.incrFlt(0.25f), 1.5f);
  EXPECT_EQ(f.incrInt(1), 1);
  EXPECT_FLOAT_EQ(f.fltVal(), 2.75f);

  // The largest integer wraps around instead of overflowing.
  Value top;
  top.setLongVal(INT64_MAX);
  top.incrLong(1);
  EXPECT_EQ(top.longVal(), INT64_MIN);

  const std::string cond =
      "(m_dataType == rc::fault::DataType::DT_FLT) || (m_dataType == rc::fault::DataType::DT_INT)";
  for (int type : {DataType::NO_VAL, DataType::DT_BOOL, DataType::DT_STR}) {
    Value v(type);
    EXPECT_EQ(failedAssertion([&] { v.incrInt(1); }, true), cond) << type;
  }
}

TEST(FaultAutoCounter, FiringPatterns) {
  struct Row {
    const char* interval;
    const char* repeat;
    const char* limit;
    int numInsertions;
    const char* expected;
  } rows[] = {
      {"3", "0", "0", 0, "..X..X..X.."},
      {"2", "2", "0", 0, ".XXX.XXX.XX"},
      {"1", "0", "0", 0, "XXXXX"},
      {"1", "1", "0", 0, "XXXXX"},
      {"4", "1", "0", 0, "...XX...XX"},
      // Limit reached: nothing fires and the counters stay.
      {"1", "0", "2", 2, "....."},
      {"1", "0", "2", 1, "XXXXX"},
      // Interval 0 (or any text that reads as 0) fires every time.
      {"0", "0", "0", 0, "XXX"},
      {"often", "0", "0", 0, "XXX"},
  };
  for (const Row& r : rows) {
    Value v = counter(r.interval, r.repeat, r.limit);
    EXPECT_EQ(pattern(v, static_cast<int>(strlen(r.expected)), r.numInsertions), r.expected)
        << r.interval << "/" << r.repeat << "/" << r.limit;
  }

  Value limited = counter("1", "0", "2");
  pattern(limited, 3, 2);
  const auto* ac = static_cast<const AutoCounter*>(limited.compound());
  EXPECT_EQ(ac->intervalCtr(), 0);
  EXPECT_EQ(ac->evalState(), AutoCounter::INTERVAL);
}

TEST(FaultAutoCounter, LoweredRepeatEndsTheRunInsteadOfStalling) {
  Value v = counter("1", "3");
  EXPECT_EQ(pattern(v, 3), "XXX");  // in the repeat run, two fired of three
  v.setVal("repeat", "0");
  // The run is over: one silent evaluation, then the plain interval pattern again.
  EXPECT_EQ(pattern(v, 4), ".XXX");
}

TEST(FaultValue, CopiesAreDeepAndKeepCounters) {
  Value v = counter("3", "1");
  EXPECT_EQ(pattern(v, 3), "..X");  // now in the repeat run
  Value copy(v);
  Value assigned;
  assigned.setStrVal("old");
  assigned = v;
  ASSERT_NE(copy.compound(), v.compound());
  EXPECT_EQ(pattern(copy, 8), pattern(assigned, 8));
  Value again(v);
  EXPECT_EQ(pattern(v, 8), pattern(again, 8));
  v.setVal("interval", "9");
  EXPECT_EQ(copy.intField("interval"), 3);
  // A copy of the copy after evaluations carries the moved counters.
  std::unique_ptr<Value> clone(copy.copy(mem::REGION_HEAP));
  EXPECT_EQ(pattern(*clone, 6), pattern(copy, 6));
}

TEST(FaultValue, DisplayAtExit) {
  Value ac(DataType::DT_AUTO_COUNTER);
  EXPECT_EQ(qvtest::printedInChild([&] { ac.displayContents("x", "c", true); }),
            "x.c.type = autoCounter\n"
            "x.c.interval.type = integer\n"
            "x.c.interval.val = 1\n"
            "x.c.interval.ctr = 0\n"
            "x.c.repeat.type = integer\n"
            "x.c.repeat.val = 0\n"
            "x.c.repeat.ctr = 0\n"
            "x.c.limit.type = integer\n"
            "x.c.limit.val = 0\n"
            "x.c.evalState = interval\n");
  Value running = counter("1", "2");
  running.isOn(0);
  running.isOn(0);
  EXPECT_EQ(qvtest::printedInChild([&] { running.displayContents("r", "a", false); }),
            "r.a.interval = 1\n"
            "r.a.repeat = 2\n"
            "r.a.limit = 0\n");
  EXPECT_NE(qvtest::printedInChild([&] {
              running.displayContents("r", "a", true);
            }).find("r.a.repeat.ctr = 1\nr.a.limit.type"),
            std::string::npos);

  Value s, f;
  s.setStrVal("two words");
  f.setFltVal(2.5f);
  EXPECT_EQ(qvtest::printedInChild([&] {
              s.displayContents("a", "b", false);
              s.displayContents("a", "b", true);
              f.displayContents("a", "f", false);
              f.displayContents("a", "f", true);
            }),
            "a.b = \"two words\"\n"
            "a.b.type = string\n"
            "a.b.val = \"two words\"\n"
            "a.f = 2.5\n"
            "a.f.type = float\n"
            "a.f.val = 2.5\n");
}

TEST(FaultValue, BinaryFormRoundTrips) {
  Value a = counter("2", "1", "9");
  a.setVal("limit.type", "float");
  pattern(a, 3);
  Value s, f, b, n;
  s.setStrVal("text");
  f.setFltVal(-0.5f);
  b.setBoolVal(true);
  for (Value* v : {&a, &s, &f, &b, &n}) {
    rc::ByteStrm strm(0);
    v->saveOn(strm);
    EXPECT_LE(strm.size(), v->binarySize());
    Value back;
    back.setStrVal("stale");
    back.restoreFrom(strm);
    EXPECT_EQ(strm.unreadBytes(), 0u);
    EXPECT_EQ(back.dataType(), v->dataType());
    EXPECT_STREQ(back.strVal(), v->strVal());
    if (v == &a) {
      EXPECT_EQ(back.strField("limit.type"), std::string("float"));
      EXPECT_EQ(pattern(back, 9), pattern(a, 9));
    }
  }

  // The layout of a bool: type, the cached text, the scalar.
  rc::ByteStrm strm(0);
  b.saveOn(strm);
  EXPECT_EQ(
      qvtest::bytesOf(strm),
      qvtest::Bytes(qvtest::ByteImage().words({1, 3}).text({'y', 'e', 's', 0}).words({1}).get()));
}

TEST(FaultValue, MalformedBinaryFormsAreReadErrors) {
  auto restore = [](const std::function<void(rc::ByteStrm&)>& write) {
    rc::ByteStrm strm(0);
    write(strm);
    Value v;
    const int code = qvtest::thrownErr([&] { v.restoreFrom(strm); }).code();
    if (code != 0) {
      EXPECT_EQ(v.dataType(), DataType::NO_VAL);
    }
    return code;
  };
  const std::string empty;
  // An unknown type.
  EXPECT_EQ(restore([&](rc::ByteStrm& s) { s << 9 << empty; }), RC_SC_READ_FAILED);
  EXPECT_EQ(restore([&](rc::ByteStrm& s) { s << -1 << empty; }), RC_SC_READ_FAILED);
  // An auto-counter whose interval is itself an auto-counter.
  EXPECT_EQ(restore([&](rc::ByteStrm& s) { s << 5 << empty << 5 << empty; }), RC_SC_READ_FAILED);
  // An auto-counter in an evaluation state that does not exist.
  EXPECT_EQ(restore([&](rc::ByteStrm& s) {
              s << 5 << empty;
              for (int i = 0; i < 3; ++i) s << 3 << empty << 1LL << 0;
              s.adjustWritePos(-4);
              s << 7;
            }),
            RC_SC_READ_FAILED);

  // Every truncation of a valid form is refused, never read past.
  Value a = counter("2", "1");
  rc::ByteStrm whole(0);
  a.saveOn(whole);
  qvtest::expectEveryCutRefused(qvtest::bytesOf(whole),
                                [](rc::ByteStrm& part) { Value().restoreFrom(part); });
}

qvtest::Bytes savedForm(const Value& v) {
  rc::ByteStrm strm(0);
  v.saveOn(strm);
  EXPECT_LE(strm.size(), v.binarySize());
  return qvtest::bytesOf(strm);
}

TEST(FaultValue, UnsetRepeatAndLimitReadAsZeroAndStayApart) {
  Value plain;
  plain.setVal("interval", "3");
  const qvtest::Bytes before = savedForm(plain);
  // Reading the unset sub-values, as text too, changes neither the value nor its binary form.
  EXPECT_EQ(plain.intField("repeat"), 0);
  EXPECT_STREQ(plain.strField("limit"), "0");
  EXPECT_EQ(static_cast<const AutoCounter*>(plain.compound())->repeat().intVal(), 0);
  EXPECT_EQ(savedForm(plain), before);
  // Unset reads exactly as explicitly set to 0.
  EXPECT_EQ(savedForm(counter("3")), before);

  // A sub-value set on a copy belongs to the copy alone, and survives the binary form.
  Value copy(plain);
  copy.setVal("repeat", "2");
  copy.setVal("limit", "4");
  EXPECT_EQ(plain.intField("repeat"), 0);
  EXPECT_EQ(pattern(plain, 6), "..X..X");
  EXPECT_EQ(pattern(copy, 6), "..XXX.");
  rc::ByteStrm strm(0);
  copy.saveOn(strm);
  Value back(plain);
  back.restoreFrom(strm);
  EXPECT_EQ(savedForm(back), savedForm(copy));
  back.assignFrom(plain);
  EXPECT_EQ(back.intField("limit"), 0);
  EXPECT_EQ(savedForm(back), savedForm(plain));
}

TEST(FaultValue, RepeatRunSurvivesCopiesAndTheBinaryForm) {
  // Mid-run counters, one whose repeat was then lowered to the untouched 0.
  for (const char* lowered : {"", "0"}) {
    Value v = counter("1", "3");
    EXPECT_EQ(pattern(v, 2), "XX");
    if (*lowered != '\0') v.setVal("repeat", lowered);
    rc::ByteStrm strm(0);
    v.saveOn(strm);
    Value back;
    back.restoreFrom(strm);
    Value copy(v);
    EXPECT_EQ(static_cast<const AutoCounter*>(back.compound())->repeatCtr(), 1) << lowered;
    EXPECT_EQ(savedForm(back), savedForm(v)) << lowered;
    const std::string expected = pattern(v, 6);
    EXPECT_EQ(pattern(back, 6), expected) << lowered;
    EXPECT_EQ(pattern(copy, 6), expected) << lowered;
  }
}

TEST(FaultValue, RestoredTextKeepsEveryByte) {
  // A peer's text with a NUL inside comes back whole; a number's text goes back as it came.
  const std::string text("a\0b", 3);
  for (int type : {DataType::DT_STR, DataType::DT_INT}) {
    rc::ByteStrm in(0);
    in << type << text;
    if (type == DataType::DT_INT) in << 7LL;
    Value v;
    v.restoreFrom(in);
    EXPECT_EQ(savedForm(v), qvtest::bytesOf(in)) << type;
  }
}

}  // namespace
