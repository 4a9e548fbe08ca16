#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comps/memcomps/base/memHeap.h"
#include "comps/recomps/rcStrVec.h"
#include "comps/recomps/rcSymTbl.h"
#include "qvTestUtil.h"

namespace {

using rc::Sym;
using rc::SymTbl;

std::string symbolFor(int i) { return "SYM_" + std::to_string(i); }

}  // namespace

TEST(SymTbl, CaseRulesAndAbsentEntries) {
  for (const bool exact : {true, false}) {
    SymTbl tbl(exact);
    EXPECT_EQ(tbl.maxId(), -1);
    EXPECT_EQ(tbl.symbolToId("Home"), SymTbl::NPOS);
    EXPECT_EQ(tbl.lookup(3), nullptr);
    tbl.add(7, "Home", "/home/u", false);
    tbl.add(-3, "path", "/bin", false);
    tbl.add(12, "Shell", nullptr, false);
    struct Case {
      const char* symbol;
      int exactId;
      int blindId;
    } cases[] = {
        {"Home", 7, 7},
        {"HOME", SymTbl::NPOS, 7},
        {"home", SymTbl::NPOS, 7},
        {"PATH", SymTbl::NPOS, -3},
        {"Hom", SymTbl::NPOS, SymTbl::NPOS},
        {"", SymTbl::NPOS, SymTbl::NPOS},
        {nullptr, SymTbl::NPOS, SymTbl::NPOS},
    };
    for (const Case& c : cases) {
      EXPECT_EQ(tbl.symbolToId(c.symbol), exact ? c.exactId : c.blindId)
          << (c.symbol != nullptr ? c.symbol : "(null)") << " exact " << exact;
    }
    EXPECT_EQ(SymTbl::NPOS, -2147483647 - 1);
    EXPECT_STREQ(tbl.idToLabel(7), "/home/u");
    EXPECT_STREQ(tbl.idToSymbol(-3), "path");
    EXPECT_STREQ(tbl.idToLabel(12), "");
    EXPECT_EQ(tbl.idToLabel(8), nullptr);
    EXPECT_EQ(tbl.idToSymbol(8), nullptr);
    EXPECT_EQ(tbl.symbolToLabel("nope"), nullptr);
    EXPECT_EQ(tbl.maxId(), 12);
  }

  // Switching the case rule re-sorts with the other comparison.
  SymTbl tbl(true);
  tbl.setAutoSort(true);
  for (const char* s : {"b", "C", "a", "D"}) tbl.add(0, s, s, false);
  EXPECT_EQ(tbl.lookup("c"), nullptr);
  tbl.setExactCase(false);
  ASSERT_NE(tbl.lookup("c"), nullptr);
  EXPECT_STREQ(tbl.lookup("c")->symbol(), "C");
  EXPECT_STREQ(tbl.symbolToLabel("d"), "D");
  tbl.setExactCase(true);
  EXPECT_EQ(tbl.lookup("d"), nullptr);
}

TEST(SymTbl, GrowsPastItsCapacity) {
  for (const bool autoSort : {false, true}) {
    SymTbl tbl(true, 64);
    tbl.setAutoSort(autoSort);
    // Ids run against the symbol order so that both arrays need their own sort.
    for (int i = 0; i < 65; ++i) {
      tbl.add(1000 - i, symbolFor(i).c_str(), nullptr, true);
      // Every add must reach the next lookup, sorted or not.
      ASSERT_EQ(tbl.symbolToId(symbolFor(i).c_str()), 1000 - i);
    }
    EXPECT_EQ(tbl.capacity(), 128u);
    EXPECT_EQ(tbl.entries(), 65u);
    for (int i = 0; i < 65; ++i) {
      EXPECT_EQ(tbl.symbolToId(symbolFor(i).c_str()), 1000 - i) << i;
      EXPECT_EQ(tbl.idToSymbol(1000 - i), symbolFor(i)) << i;
    }
    EXPECT_EQ(tbl.maxId(), 1000);

    // expand keeps the entries; clear keeps the capacity.
    tbl.expand(300);
    EXPECT_EQ(tbl.capacity(), 300u);
    EXPECT_EQ(tbl.symbolToId("SYM_64"), 936);
    tbl.expand(10);  // never below the entries held
    EXPECT_GE(tbl.capacity(), 65u);
    EXPECT_EQ(tbl.symbolToId("SYM_3"), 997);
    tbl.clear();
    EXPECT_EQ(tbl.entries(), 0u);
    EXPECT_GE(tbl.capacity(), 65u);
    EXPECT_EQ(tbl.symbolToId("SYM_3"), SymTbl::NPOS);
  }

  // A table built with no room still grows.
  SymTbl empty(false, 0);
  empty.add(1, "a", "A", false);
  empty.add(2, "b", "B", false);
  EXPECT_STREQ(empty.symbolToLabel("B"), "B");
  empty.setCapacity(16);
  EXPECT_EQ(empty.entries(), 0u);
  EXPECT_EQ(empty.capacity(), 16u);
  empty.setCapacity(4);  // large enough already: only cleared
  EXPECT_EQ(empty.capacity(), 16u);
}

TEST(SymTbl, StaticRecordsAndCopiedStrings) {
  const rc::SymRec recs[] = {{1, "ONE", "first"}, {2, "TWO", "second"}, {3, nullptr, nullptr}};
  SymTbl tbl;
  tbl.add(recs, 3, false);
  EXPECT_EQ(tbl.symbolToId("TWO"), 2);
  EXPECT_STREQ(tbl.idToSymbol(3), "");

  // The caller's buffers may change or go after the add.
  char symbol[] = "TMP";
  char label[] = "value";
  tbl.add(9, symbol, label, true);
  symbol[0] = 'X';
  label[0] = 'X';
  EXPECT_STREQ(tbl.symbolToLabel("TMP"), "value");
  tbl.add(10, symbol, label, false);
  symbol[0] = 'Y';
  EXPECT_STREQ(tbl.idToSymbol(10), "XMP");

  Sym fromRec(recs[1]);
  EXPECT_EQ(fromRec.id(), 2);
  EXPECT_EQ(fromRec.references(), 0);
  Sym blank;
  EXPECT_EQ(blank.id(), -1);
  EXPECT_STREQ(blank.symbol(), "");
  blank.setLabel(nullptr);
  EXPECT_STREQ(blank.label(), "");
}

TEST(SymTbl, EntriesAreSharedByReference) {
  Sym* shared = new Sym(5, "S", "shared", 0);
  {
    SymTbl first;
    first.add(shared);
    {
      SymTbl second;
      second.add(shared);
      EXPECT_EQ(shared->references(), 2);
    }
    EXPECT_EQ(shared->references(), 1);
    EXPECT_STREQ(first.symbolToLabel("S"), "shared");
  }  // the last table frees it; the sanitizer build checks there is no leak or double free

  Sym owned(6, "O", "mine", 1);
  {
    SymTbl tbl;
    tbl.add(&owned);
    tbl.add(&owned);
    EXPECT_EQ(owned.references(), 3);
  }
  EXPECT_EQ(owned.references(), 1);

  struct Case {
    Sym a;
    Sym b;
    int byId;
    int bySymbol;
    int bySymbolNc;
  } cases[] = {
      {Sym(1, "abc", ""), Sym(2, "ABD", ""), -1, 1, -1},
      {Sym(3, "Abc", ""), Sym(3, "abc", ""), 0, -1, 0},
      {Sym(-1, "b", ""), Sym(-2, "a", ""), 1, 1, 1},
  };
  for (const Case& c : cases) {
    const Sym* pa = &c.a;
    const Sym* pb = &c.b;
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    EXPECT_EQ(sign(Sym::compareSymsById(&pa, &pb)), c.byId) << c.a.symbol();
    EXPECT_EQ(sign(Sym::compareSymsBySymbol(&pa, &pb)), c.bySymbol) << c.a.symbol();
    EXPECT_EQ(sign(Sym::compareSymsBySymbolNc(&pa, &pb)), c.bySymbolNc) << c.a.symbol();
    EXPECT_EQ(c.a.compareById(c.a), 0);
  }
}

TEST(SymTbl, SubstitutesReferences) {
  SymTbl tbl;
  tbl.add(1, "HOME", "/home/u", false);
  tbl.add(2, "X", "in $HOME", false);
  tbl.add(3, "Y", "$HOME", false);
  tbl.add(4, "A_1", "v", false);
  tbl.add(5, "", "EMPTY", false);
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"go $X", "go in /home/u"},
      {"$Y", "$HOME"},
      {"${HOME}x", "/home/ux"},
      {"$(HOME)/bin", "/home/u/bin"},
      {"$(NOPE)", "$(NOPE)"},
      {"$(HOME", "$(HOME"},
      {"${HOME)", "${HOME)"},
      {"cost $", "cost $"},
      {"$ $() ${}", "$ $() ${}"},
      {"$HOMEx $A_1.$A_1", "$HOMEx v.v"},
      {"$$HOME", "$/home/u"},
      {"no refs", "no refs"},
      {"", ""},
      {nullptr, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tbl.substituteVars(c.in), c.out) << (c.in != nullptr ? c.in : "(null)");
  }

  SymTbl blind(false);
  blind.add(1, "Home", "/h", false);
  EXPECT_EQ(blind.substituteVars("$HOME ${home}"), "/h /h");
}

TEST(SymTbl, SelfReferenceIsBounded) {
  // Each replacement leaves a fresh reference one character further on.
  SymTbl grows;
  grows.add(1, "X", "a$X", false);
  const std::string a = grows.substituteVars("<$X>");
  EXPECT_EQ(a, "<" + std::string(SymTbl::MAX_SUBST_COUNT, 'a') + "$X>");

  // Two references per label: the count still ends it.
  SymTbl doubles;
  doubles.add(1, "X", "$X$X", false);
  std::string expected;
  for (int i = 0; i <= SymTbl::MAX_SUBST_COUNT; ++i) expected += "$X";
  EXPECT_EQ(doubles.substituteVars("$X"), expected);
  doubles.clear();
  doubles.add(1, "X", "b$X$X", false);
  const std::string b = doubles.substituteVars("$X");
  EXPECT_LE(b.size(), static_cast<size_t>(SymTbl::MAX_SUBST_LEN));
  EXPECT_EQ(b.substr(0, 4), "bbbb");

  // A long label reaches the length limit before the count.
  SymTbl big;
  big.add(1, "X", (std::string(1000, 'z') + "$X").c_str(), false);
  const std::string c = big.substituteVars("$X");
  EXPECT_LE(c.size(), static_cast<size_t>(SymTbl::MAX_SUBST_LEN));
  EXPECT_GT(c.size(), static_cast<size_t>(SymTbl::MAX_SUBST_LEN) - 1002);
  EXPECT_EQ(c.substr(c.size() - 2), "$X");
}

TEST(SymTbl, DumpListsEntriesInIdOrder) {
  const qvtest::ProcResult res = qvtest::runInChild([] {
    SymTbl tbl(true, 4);
    tbl.add(2, "B", "bee", false);
    tbl.add(1, "A", "ay", false);
    tbl.dumpObj(1, "tbl: ");
  });
  const std::string& out = res.out;
  EXPECT_NE(out.find("  tbl: SymTbl [0x"), std::string::npos) << out;
  EXPECT_NE(out.find("], entries = 2, capacity = 4 contents:\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("0x0x"), std::string::npos) << out;
  const size_t first = out.find("      0. Sym [0x");
  const size_t second = out.find("      1. Sym [0x");
  ASSERT_NE(first, std::string::npos) << out;
  ASSERT_NE(second, std::string::npos) << out;
  EXPECT_NE(out.find("refs = 1, id = 1, symbol = 'A', label = 'ay'", first), std::string::npos);
  EXPECT_LT(out.find("id = 1,"), out.find("id = 2,"));
}

TEST(SymTbl, LivesOnTheTypedHeap) {
  SymTbl* tbl = new SymTbl(false, 2u, mem::REGION_HEAP);
  EXPECT_TRUE(mem::validateBlock(tbl, mt_sym_tbl));
  EXPECT_FALSE(tbl->exactCase());
  EXPECT_EQ(tbl->capacity(), 2u);
  EXPECT_TRUE(mem::validateBlock(tbl->buf(), mt_sym_buf));
  EXPECT_TRUE(mem::validateBlock(tbl->buf()->byId(), mt_sym_buf));
  EXPECT_EQ(tbl->strings(), nullptr);  // made on the first copy

  // Copied strings go into the table's vector and stay where they are while it grows.
  const std::string longLabel(100, 'L');
  tbl->add(1, "one", longLabel.c_str(), true);
  const rc::StrVec* strings = tbl->strings();
  ASSERT_NE(strings, nullptr);
  EXPECT_TRUE(mem::validateBlock(strings, mt_strvec));
  const char* firstCopy = (*strings)[0];
  for (int i = 2; i < 40; ++i) tbl->add(i, symbolFor(i).c_str(), "x", true);
  EXPECT_EQ((*strings)[0], firstCopy);
  EXPECT_STREQ(firstCopy, "one");
  EXPECT_EQ(strings->entries(), 78u);
  EXPECT_TRUE(mem::validateBlock(tbl->buf()->byId(), mt_sym_buf));  // regrown arrays too

  const Sym* one = tbl->lookup("ONE");
  ASSERT_NE(one, nullptr);
  EXPECT_TRUE(mem::validateBlock(one, mt_sym));
  EXPECT_TRUE(mem::validateBlock(one->label(), mt_rc_string));  // too long for the string itself
  EXPECT_EQ(one->label(), longLabel);
  delete tbl;

  // The region forms keep the other constructors' defaults.
  SymTbl byRegion(mem::REGION_HEAP);
  EXPECT_TRUE(byRegion.exactCase());
  EXPECT_EQ(byRegion.capacity(), static_cast<unsigned int>(SymTbl::DEFAULT_CAPACITY));
  SymTbl blind(false, mem::REGION_HEAP);
  EXPECT_FALSE(blind.exactCase());
  EXPECT_EQ(blind.capacity(), static_cast<unsigned int>(SymTbl::DEFAULT_CAPACITY));
  // A buffer on the stack still tags its arrays with its own type.
  rc::SymBuf onStack(4, true);
  EXPECT_TRUE(mem::validateBlock(onStack.byId(), mt_sym_buf));
}
