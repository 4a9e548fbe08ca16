// Fault rules from arbitrary bytes, as a tester's hand-written rules file and as the fault
// controls another process sends.
//
// As a rules file (read both from a file and from a string vector of its lines), the reader
// either succeeds or raises the one error a line can cause (a plain value given to an
// auto-counter) with its line number. Whatever it read can be evaluated, displayed, and written and
// restored into rules that answer every evaluation the same.
//
// As a binary form, a restore of fault controls either succeeds or raises the read error with no
// rules kept; what it restored writes back within its size bound and restores again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "comps/recomps/rcByteStrm.h"
#include "comps/recomps/rcErr.h"
#include "comps/recomps/rcFaultApi.h"
#include "comps/recomps/rcFaultRulesFile.h"
#include "comps/recomps/rcStrVec.h"

namespace {

void require(bool cond) {
  if (!cond) abort();
}

std::string s_path;

// Evaluates every rule, as fault points would, and checks that a binary copy answers alike.
void exercise(rc::fault::Rules& rules) {
  rc::ByteStrm strm(0);
  rules.saveOn(strm);
  require(strm.size() <= rules.binarySize());
  rc::fault::Rules back;
  back.restoreFrom(strm);
  require(strm.unreadBytes() == 0);
  require(back.entries() == rules.entries());
  auto it = back.begin();
  for (rc::fault::Rule* rule : rules) {
    rc::fault::Rule* copy = *it++;
    for (int i = 0; i < 6; ++i) {
      const bool on = rule->isOn(true);
      require(copy->isOn(true) == on);
      if (on) {
        rule->incrNumInsertions();
        copy->incrNumInsertions();
      }
    }
  }
  rules.isAnyOn();
  rules.displayContents(true);
  rules.displayContents(false);
}

void readAsText(const uint8_t* data, size_t size) {
  rc::StrVec lines;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == '\n') {
      lines.append(reinterpret_cast<const char*>(data) + start, static_cast<unsigned>(i - start));
      start = i + 1;
    }
  }
  rc::fault::RulesFile fromLines;
  fromLines.setLines(&lines);
  try {
    fromLines.read();
  } catch (const rc::Err& err) {
    require(err.code() == RC_SC_BAD_VALUE && err.lineNo() > 0);
  }
  exercise(fromLines.rules());

  FILE* f = fopen(s_path.c_str(), "wb");
  require(f != nullptr && fwrite(data, 1, size, f) == size && fclose(f) == 0);
  rc::fault::RulesFile fromFile;
  fromFile.open(s_path.c_str());
  try {
    fromFile.read();
  } catch (const rc::Err& err) {
    require(err.code() == RC_SC_BAD_VALUE && err.lineNo() > 0);
  }
  fromFile.close();
  exercise(fromFile.rules());
}

void restoreAsControls(const uint8_t* data, size_t size) {
  rc::ByteStrm in(size);
  in.writeBytes(data, size);
  rc::fault::Ctrls ctrls(RC_B_YES);
  try {
    ctrls.restoreFrom(in);
  } catch (const rc::Err& err) {
    require(err.code() == RC_SC_READ_FAILED);
    require(ctrls.rules() == nullptr);
    return;
  }
  rc::ByteStrm out(0);
  ctrls.saveOn(out);
  require(out.size() <= ctrls.binarySize());
  rc::fault::Ctrls back(RC_B_NO);
  back.restoreFrom(out);
  require(back.on() == ctrls.on());
  if (ctrls.rules() != nullptr) exercise(*ctrls.rules());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The displays and dumps are exercised, not read.
  require(freopen("/dev/null", "w", stdout) != nullptr);
  char path[] = "/tmp/qvFaultRulesFuzz-XXXXXX";
  const int fd = mkstemp(path);
  require(fd >= 0);
  close(fd);
  s_path = path;
  atexit([] { unlink(s_path.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  readAsText(data, size);
  restoreAsControls(data, size);
  return 0;
}
