#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "comps/recomps/rcDump.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcStrVec.h"
#include "comps/recomps/rcSymTbl.h"
#include "comps/recomps/rcTimeval.h"
#include "comps/recomps/rcVarArgs.h"

namespace {

std::vector<std::string> s_lines;
void collect(const char* line) { s_lines.emplace_back(line); }

// The lines fn dumps, taken from the dump sink.
std::vector<std::string> dumped(const std::function<void()>& fn) {
  s_lines.clear();
  const rc::DumpSinkRtn prev = rc::setDumpSink(&collect);
  fn();
  rc::setDumpSink(prev);
  return s_lines;
}

}  // namespace

TEST(Dump, EveryClassOpensWithOneHeaderShape) {
  const rc::Err err(RC_ERROR, RC_SC_OPEN_FAILED, "recomps/File::open2");
  rc::StrVec vec;
  vec.append("a");
  const rc::VarArgs args = rc::VarArgs() << "x";
  const rc::Timeval tv(1, 2);
  rc::SymTbl tbl;
  const struct {
    const char* name;
    const void* obj;
    std::function<void()> dump;
  } cases[] = {
      {"Err", &err, [&] { err.dumpObj(1, "e: "); }},
      {"StrVec", &vec, [&] { vec.dumpObj(1, "e: "); }},
      {"VarArgs", &args, [&] { args.dumpObj(1, "e: "); }},
      {"Timeval", &tv, [&] { tv.dumpObj(1, "e: "); }},
      {"SymTbl", &tbl, [&] { tbl.dumpObj(1, "e: "); }},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> lines = dumped(c.dump);
    ASSERT_FALSE(lines.empty()) << c.name;
    const std::string addr = rc::DumpAddr(c.obj).str();
    const std::string head = std::string("  e: ") + c.name + " [" + addr + "]";
    EXPECT_EQ(lines[0].substr(0, head.size()), head) << lines[0];
    // The address is lower-case hexadecimal with its 0x prefix.
    EXPECT_TRUE(addr.size() > 2 && addr.compare(0, 2, "0x") == 0 &&
                addr.find_first_not_of("0123456789abcdef", 2) == std::string::npos)
        << addr;
  }
}

TEST(Dump, PoisonedPointersHoldTheInvalidAddress) {
  int* field = nullptr;
  rc::poison(field);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(field), static_cast<uintptr_t>(-3));
  EXPECT_EQ(rc::invalidAddr<char>(), reinterpret_cast<char*>(field));
}
