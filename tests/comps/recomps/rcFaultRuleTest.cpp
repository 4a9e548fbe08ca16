#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcFaultRule.h"
#include "qvTestUtil.h"

namespace {

using qvtest::failedAssertion;
using rc::fault::Attr;
using rc::fault::DataType;
using rc::fault::Rule;
using rc::fault::Rules;

// n evaluations of a rule ("X" fired, "." silent), inserting a fault at each firing when asked.
std::string pattern(Rule& rule, int n, bool insert = false) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    const bool on = rule.isOn(true);
    if (on && insert) rule.incrNumInsertions();
    out += on ? 'X' : '.';
  }
  return out;
}

// Applies "attr[.field] = text" settings to the named rules, creating them.
void set(Rules& rules, const char* rule, std::vector<std::pair<const char*, const char*>> lines) {
  Rule* r = rules.lookup(rule, true);
  for (const auto& [name, text] : lines) r->setAttr(name, text);
}

std::string display(const Rules& rules, bool verbose) {
  return qvtest::printedInChild([&] { rules.displayContents(verbose); });
}

TEST(FaultRule, NewRuleHasItsDefaultAttributesInNameOrder) {
  Rules rules;
  Rule* x = rules.lookup("x", true);
  EXPECT_EQ(rules.lookup("x", true), x);
  EXPECT_EQ(rules.lookupByKey("x"), x);
  EXPECT_EQ(rules.lookupByKey("X"), nullptr);
  EXPECT_EQ(rules.lookup("y"), nullptr);
  x->setAttr("c", "abc");
  x->setAttr("B", "1");
  std::vector<std::string> names;
  for (const Attr* attr : x->attrs()) names.push_back(attr->name());
  EXPECT_EQ(names, (std::vector<std::string>{"B", "c", "numInsertions", "numOns", "on"}));
  EXPECT_EQ(display(rules, false),
            "x.B = 1\nx.c = \"abc\"\nx.numInsertions = 0\nx.numOns = 0\nx.on = yes\n");
}

TEST(FaultRule, OnSwitchAndCounting) {
  struct Row {
    const char* on;
    bool expected;
  } rows[] = {{"yes", true},  {"no", false},  {"0", false},
              {"5", true},    {"'no'", true},  // a non-empty string
              {"0.0", false}, {"", false}};
  for (const Row& r : rows) {
    Rule rule("x");
    rule.setAttr("on", r.on);
    EXPECT_EQ(rule.isOn(false), r.expected) << r.on;
    EXPECT_EQ(rule.intVal("numOns", -1), 0) << r.on;
    EXPECT_EQ(rule.isOn(true), r.expected) << r.on;
    EXPECT_EQ(rule.intVal("numOns", -1), r.expected ? 1 : 0) << r.on;
  }

  Rules rules;
  set(rules, "x", {{"c.interval", "2"}});
  set(rules, "y", {{"on", "no"}});
  EXPECT_TRUE(rules.isAnyOn());
  EXPECT_TRUE(rules.isAnyOn());
  Rule* x = rules.lookup("x");
  // isAnyOn moved no counter: the second evaluation is still the first to fire.
  EXPECT_EQ(pattern(*x, 4), ".X.X");
  EXPECT_EQ(x->intVal("numOns", -1), 2);
  EXPECT_EQ(x->intVal("missing", -1), -1);
  EXPECT_EQ(x->intVal("c.interval", -1), 2);
  EXPECT_EQ(x->intVal("c.type", -1), DataType::DT_AUTO_COUNTER);
  EXPECT_EQ(x->intVal("missing.interval", -1), -1);
  EXPECT_STREQ(x->strVal("on", "?"), "yes");
  EXPECT_EQ(x->stringVal("gone", "dflt"), "dflt");
  set(rules, "x", {{"on", "off"}});
  EXPECT_FALSE(rules.isAnyOn());
}

TEST(FaultRule, AutoCounterLimitComparesInsertedFaults) {
  Rule rule("x");
  rule.setAttr("c.interval", "2");
  rule.setAttr("c.limit", "2");
  // Nothing inserted: the limit never bites.
  EXPECT_EQ(pattern(rule, 8), ".X.X.X.X");
  Rule limited("y");
  limited.setAttr("c.interval", "2");
  limited.setAttr("c.limit", "2");
  EXPECT_EQ(pattern(limited, 8, true), ".X.X....");
  EXPECT_EQ(limited.intVal("numInsertions", -1), 2);
  EXPECT_EQ(limited.intVal("numOns", -1), 2);
}

TEST(FaultRule, WritersAndIncrements) {
  Rule rule("x");
  rule.setIntVal("n.ignoredField", 4);
  EXPECT_EQ(rule.intVal("n", 0), 4);
  EXPECT_EQ(rule.attrs().lookup("n.ignoredField"), nullptr);
  rule.setStrVal("s", "'quoted'");
  EXPECT_STREQ(rule.strVal("s", ""), "'quoted'");
  rule.setFltVal("f", 1.5f);
  rule.setBoolVal("b", true);
  rule.setLongVal("l", int64_t{1} << 40);
  rule.setStringVal("t", String("text"));
  EXPECT_EQ(rule.incrInt("n", 3), 4);
  EXPECT_EQ(rule.decrInt("n", 10), 7);
  EXPECT_EQ(rule.incrLong("l", 1), int64_t{1} << 40);
  EXPECT_EQ(rule.decrLong("l", 2), (int64_t{1} << 40) + 1);
  EXPECT_FLOAT_EQ(rule.incrFlt("f", 1.0f), 1.5f);
  EXPECT_FLOAT_EQ(rule.decrFlt("f", 0.5f), 2.5f);
  EXPECT_FLOAT_EQ(rule.fltVal("f", 0), 2.0f);
  EXPECT_TRUE(rule.boolVal("b", false));
  EXPECT_EQ(rule.longVal("n", 0), -3);
  EXPECT_EQ(rule.stringVal("t", ""), "text");
  EXPECT_EQ(rule.mutex(), nullptr);

  // A new attribute has no type: incrementing it is a misuse.
  EXPECT_EQ(failedAssertion([&] { rule.incrInt("fresh", 1); }, true),
            "(m_dataType == rc::fault::DataType::DT_FLT) || (m_dataType == "
            "rc::fault::DataType::DT_INT)");
  Rule bare;
  EXPECT_EQ(failedAssertion([&] { bare.isOn(true); }, true), "m_onAttr");
  EXPECT_EQ(failedAssertion([&] { bare.incrNumInsertions(); }, true), "m_numInsAttr");
}

TEST(FaultRule, CountersAndCountersGivenOddValuesKeepCounting) {
  // A tester may write anything into the counters or turn the auto-counter back into a plain
  // value; evaluating the rule must go on.
  Rule rule("x");
  rule.setAttr("numOns", "lots");
  rule.setAttr("numInsertions", "many");
  rule.setAttr("c.interval", "2");
  rule.setAttr("c.type", "integer");
  EXPECT_EQ(pattern(rule, 3, true), "XXX");
  EXPECT_EQ(rule.intVal("numOns", -1), 3);
  EXPECT_EQ(rule.intVal("numInsertions", -1), 3);
  EXPECT_EQ(rule.autoCtrAttr(), nullptr);

  // The first auto-counter in name order decides, whatever the order of the settings, as in a
  // copy; when it stops being one, the next counter takes over.
  Rule two("y");
  two.setAttr("z.interval", "2");
  two.setAttr("a.interval", "3");
  EXPECT_STREQ(two.autoCtrAttr()->name(), "a");
  EXPECT_EQ(pattern(two, 4), "..X.");
  EXPECT_STREQ(Rule(two).autoCtrAttr()->name(), "a");
  two.setAttr("a.type", "bool");
  EXPECT_STREQ(two.autoCtrAttr()->name(), "z");
  EXPECT_EQ(pattern(two, 3), ".X.");
  two.setIntVal("z", 1);
  EXPECT_EQ(two.autoCtrAttr(), nullptr);
  EXPECT_EQ(pattern(two, 2), "XX");
}

TEST(FaultRules, MergeReplacesOrRemovesAndRestartsCounters) {
  for (bool addNew : {true, false}) {
    SCOPED_TRACE(addNew);
    Rules mine;
    set(mine, "a", {{"v", "1"}});
    set(mine, "b", {{"v", "2"}, {"extra", "x"}});
    mine.lookup("a")->isOn(true);
    mine.lookup("b")->isOn(true);
    mine.lookup("b")->incrNumInsertions();
    Rules theirs;
    set(theirs, "b", {{"v", "3"}});
    set(theirs, "c", {{"v", "4"}});
    theirs.lookup("b")->isOn(true);
    mine.mergeFrom(theirs, addNew);
    if (addNew) {
      EXPECT_EQ(display(mine, false),
                "a.numInsertions = 0\na.numOns = 0\na.on = yes\na.v = 1\n"
                "b.numInsertions = 0\nb.numOns = 0\nb.on = yes\nb.v = 3\n"
                "c.numInsertions = 0\nc.numOns = 0\nc.on = yes\nc.v = 4\n");
    } else {
      EXPECT_EQ(display(mine, false), "a.numInsertions = 0\na.numOns = 0\na.on = yes\na.v = 1\n");
    }
    // The source is left alone.
    EXPECT_EQ(theirs.lookup("b")->intVal("numOns", -1), 1);
  }

  // Merging a set into itself restarts the counters and keeps every rule.
  Rules self;
  set(self, "a", {{"v", "1"}});
  self.lookup("a")->isOn(true);
  self.mergeFrom(self, true);
  EXPECT_EQ(self.entries(), 1);
  EXPECT_EQ(self.lookup("a")->intVal("numOns", -1), 0);
}

TEST(FaultRules, CopiesAreDeep) {
  Rules rules;
  set(rules, "x", {{"c.interval", "3"}, {"c.repeat", "1"}});
  Rule* x = rules.lookup("x");
  EXPECT_EQ(pattern(*x, 2), "..");
  Rules copy(rules);
  Rules assigned;
  set(assigned, "old", {});
  assigned = rules;
  EXPECT_EQ(assigned.lookup("old"), nullptr);
  ASSERT_NE(copy.lookup("x"), x);
  EXPECT_EQ(pattern(*copy.lookup("x"), 8), pattern(*x, 8));
  EXPECT_EQ(pattern(*assigned.lookup("x"), 8), "XX..XX..");
  x->setAttr("c.interval", "1");
  EXPECT_EQ(copy.lookup("x")->intVal("c.interval", 0), 3);
}

TEST(FaultRules, BinaryRoundTripAnswersLikeTheOriginal) {
  Rules rules;
  set(rules, "alpha", {{"c.interval", "3"}, {"c.repeat", "2"}, {"c.limit", "4"}, {"s", "'x y'"}});
  set(rules, "beta", {{"on", "no"}, {"f", "2.5"}});
  set(rules, "gamma", {{"b.interval", "2"}, {"d", "yes"}});
  // Move the counters before saving.
  pattern(*rules.lookup("alpha"), 4, true);
  pattern(*rules.lookup("gamma"), 3);

  rc::ByteStrm strm(0);
  rules.saveOn(strm);
  EXPECT_LE(strm.size(), rules.binarySize());
  Rules back;
  set(back, "stale", {});
  back.restoreFrom(strm);
  EXPECT_EQ(strm.unreadBytes(), 0u);
  EXPECT_EQ(display(back, true), display(rules, true));
  for (const char* name : {"alpha", "beta", "gamma"}) {
    EXPECT_EQ(pattern(*back.lookup(name), 12, true), pattern(*rules.lookup(name), 12, true))
        << name;
  }
  EXPECT_EQ(display(back, true), display(rules, true));
}

TEST(FaultRules, MalformedBinaryFormsAreReadErrors) {
  Rules rules;
  set(rules, "a", {{"c.interval", "2"}});
  set(rules, "b", {{"v", "1"}});
  rc::ByteStrm whole(0);
  rules.saveOn(whole);
  // Every truncation is refused and leaves the set empty.
  qvtest::expectEveryCutRefused(qvtest::bytesOf(whole), [](rc::ByteStrm& part) {
    Rules back;
    set(back, "stale", {});
    const rc::Err err = qvtest::thrownErr([&] { back.restoreFrom(part); });
    EXPECT_EQ(back.entries(), 0);
    throw err;
  });

  // A rule named twice, an attribute named twice.
  auto restoreError = [](const std::function<void(rc::ByteStrm&)>& write) {
    rc::ByteStrm strm(0);
    write(strm);
    Rules back;
    return qvtest::thrownErr([&] { back.restoreFrom(strm); }).code();
  };
  const Rule a("a");
  const std::string name("a");
  EXPECT_EQ(restoreError([&](rc::ByteStrm& s) {
              s << 2u;
              for (int i = 0; i < 2; ++i) {
                s << name;
                a.saveOn(s);
              }
            }),
            RC_SC_READ_FAILED);
  EXPECT_EQ(restoreError([&](rc::ByteStrm& s) {
              s << 1u << name << name << 2u;
              Attr attr("x");
              attr.saveOn(s);
              attr.saveOn(s);
            }),
            RC_SC_READ_FAILED);

  // A rule written without its default attributes gets them back.
  rc::ByteStrm bare(0);
  bare << 1u << name << name << 0u;
  Rules back;
  back.restoreFrom(bare);
  ASSERT_NE(back.lookup("a"), nullptr);
  EXPECT_TRUE(back.lookup("a")->isOn(true));
  EXPECT_EQ(back.lookup("a")->intVal("numOns", -1), 1);
}

TEST(FaultRules, DumpLines) {
  Rules rules;
  set(rules, "x", {{"v", "5"}});
  const std::string out = qvtest::printedInChild([&] { rules.dump(); });
  EXPECT_NE(out.find("], entries = 1, contents:\n  1. Rule ["), std::string::npos) << out;
  EXPECT_NE(out.find("]: name = 'x', attrs:\n"), std::string::npos) << out;
  EXPECT_NE(out.find("], entries = 4, contents:\n      1. Attr ["), std::string::npos) << out;
  EXPECT_NE(out.find("]: mem = 0, type = integer (3), val = '5'\n"), std::string::npos) << out;
}

// Walks the set in order, checking that every member is found by its name.
std::vector<std::string> orderedNames(const Rules& rules) {
  std::vector<std::string> names;
  for (const Rule* rule : rules) {
    EXPECT_EQ(rules.lookup(rule->name()), rule) << rule->name();
    names.push_back(rule->name());
  }
  return names;
}

TEST(FaultRule, NamesArrivingInAnyOrderAreFoundOnceAndWalkedInOrder) {
  // Enough names that recent insertions are merged several times over.
  constexpr int kCount = 3000;
  const std::vector<std::pair<const char*, std::function<int(int)>>> orders = {
      {"ascending", [](int i) { return i; }},
      {"descending", [](int i) { return kCount - 1 - i; }},
      {"scattered", [](int i) { return static_cast<int>((i * 1237LL) % kCount); }},
  };
  auto nameOf = [](int i) {
    char name[16];
    snprintf(name, sizeof name, "r%05d", i);
    return std::string(name);
  };
  std::vector<std::string> all;
  for (int i = 0; i < kCount; ++i) all.push_back(nameOf(i));

  for (const auto& [order, at] : orders) {
    Rules rules;
    std::vector<Rule*> made(kCount);
    for (int i = 0; i < kCount; ++i) {
      made[at(i)] = rules.lookup(nameOf(at(i)), true);
      // Both the newest name and one from long before are found between insertions.
      ASSERT_EQ(rules.lookup(nameOf(at(i))), made[at(i)]) << order;
      ASSERT_EQ(rules.lookup(nameOf(at(i / 2))), made[at(i / 2)]) << order;
    }
    // A second pass in another order creates nothing.
    for (int i = kCount - 1; i >= 0; --i) ASSERT_EQ(rules.lookup(nameOf(i), true), made[i]);
    EXPECT_EQ(rules.entries(), kCount) << order;
    EXPECT_EQ(orderedNames(rules), all) << order;

    // Removing every third rule, in the same order, leaves the others found and in order.
    Rules gone;
    std::vector<std::string> kept;
    for (int i = 0; i < kCount; ++i) {
      if (at(i) % 3 == 0) gone.lookup(nameOf(at(i)), true);
      if (i % 3 != 0) kept.push_back(nameOf(i));
    }
    rules.mergeFrom(gone, false);
    EXPECT_EQ(orderedNames(rules), kept) << order;
    EXPECT_EQ(orderedNames(Rules(rules)), kept) << order;
  }
}

TEST(FaultRule, DefaultAttributesMadeLateReadAsMadeAtOnce) {
  // A rule whose defaults are made on a first look answers every question as one that has had
  // them from the start.
  auto make = [](bool early) {
    Rule r("x");
    if (early) r.attrs();
    r.setAttr("c.interval", "2");
    return r;
  };
  auto saved = [](const Rule& r) {
    rc::ByteStrm strm(0);
    r.saveOn(strm);
    const qvtest::Bytes bytes = qvtest::bytesOf(strm);
    return std::string(bytes.begin(), bytes.end()) + std::to_string(r.binarySize());
  };
  const std::vector<std::pair<const char*, std::function<std::string(Rule&)>>> views = {
      {"binary form", [&](Rule& r) { return saved(r); }},
      {"binary form of a copy", [&](Rule& r) { return saved(Rule(r)); }},
      {"on without counting", [](Rule& r) { return std::to_string(r.isOn(false)); }},
      {"pattern and counts",
       [](Rule& r) {
         return pattern(r, 4, true) + r.strVal("numOns", "") + r.strVal("numInsertions", "");
       }},
      {"switched off",
       [](Rule& r) {
         r.setAttr("on", "no");
         return std::to_string(r.isOn(false)) + pattern(r, 2);
       }},
      {"display",
       [](Rule& r) {
         Rules rules;
         rules.insert(new Rule(r));
         return display(rules, true);
       }},
  };
  for (const auto& [what, view] : views) {
    Rule late = make(false);
    Rule early = make(true);
    EXPECT_EQ(view(late), view(early)) << what;
  }
}

TEST(FaultRule, NamesOfAnyLengthSurviveCopiesRenamesAndTheBinaryForm) {
  // Lengths on both sides of what a rule or an attribute keeps in place.
  for (const size_t len : {size_t{0}, size_t{1}, size_t{13}, size_t{14}, size_t{15}, size_t{21},
                           size_t{22}, size_t{23}, size_t{64}}) {
    const std::string name(len, 'n');
    const std::string attrName = "a" + std::string(len, 'm');
    Rules rules;
    set(rules, name.c_str(), {{attrName.c_str(), "7"}});
    set(rules, "z", {});
    const Rule* rule = rules.lookup(name);
    ASSERT_NE(rule, nullptr) << len;
    EXPECT_EQ(rule->name(), name);
    EXPECT_EQ(rule->nameStr(), name.c_str());
    EXPECT_EQ(rule->intVal(attrName.c_str(), 0), 7) << len;
    EXPECT_EQ(rule->attrs().lookup(attrName)->nameStr(), attrName.c_str());

    rc::ByteStrm strm(0);
    rules.saveOn(strm);
    Rules back;
    back.restoreFrom(strm);
    EXPECT_EQ(orderedNames(back), orderedNames(rules)) << len;
    EXPECT_EQ(back.lookup(name)->intVal(attrName.c_str(), 0), 7) << len;

    // Renaming through assignment and restoring goes both ways between short and long names.
    Rule renamed(std::string(40 - len % 40, 'o'));
    renamed = *rule;
    EXPECT_EQ(renamed.name(), name);
    rc::ByteStrm other(0);
    Rule("x").saveOn(other);
    renamed.restoreFrom(other);
    EXPECT_STREQ(renamed.name(), "x");
    EXPECT_EQ(renamed.attrs().lookup(attrName), nullptr);
  }
}

TEST(FaultRules, SetsShrinkToNoneAndGrowAgain) {
  Rules rules;
  Rules one;
  set(one, "b", {});
  for (int round = 0; round < 2; ++round) {
    rules.mergeFrom(one, true);
    EXPECT_EQ(orderedNames(rules), (std::vector<std::string>{"b"}));
    for (const char* name : {"d", "a", "c"}) set(rules, name, {});
    EXPECT_EQ(orderedNames(rules), (std::vector<std::string>{"a", "b", "c", "d"}));
    Rules some;
    for (const char* name : {"a", "c", "d"}) set(some, name, {});
    rules.mergeFrom(some, false);
    EXPECT_EQ(orderedNames(rules), (std::vector<std::string>{"b"}));
    rules.mergeFrom(one, false);
    EXPECT_EQ(rules.entries(), 0);
    EXPECT_EQ(rules.lookup("b"), nullptr);
  }
  set(rules, "x", {});
  rules.swap(one);
  EXPECT_EQ(orderedNames(rules), (std::vector<std::string>{"b"}));
  EXPECT_EQ(orderedNames(one), (std::vector<std::string>{"x"}));
}

}  // namespace
